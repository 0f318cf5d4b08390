// Byte offsets to editor positions and back.
#include "src/lsp/position.h"

#include <algorithm>

namespace zoqc::lsp {

namespace {

// The length of the UTF-8 sequence that starts with ALead; 1 for a stray byte.
std::size_t SequenceLength(unsigned char ALead) {
  if (ALead >= 0xF0 && ALead < 0xF8) return 4;
  if (ALead >= 0xE0) return ALead < 0xF0 ? 3 : 1;
  if (ALead >= 0xC0) return 2;
  return 1;
}

}  // namespace

TLineIndex::TLineIndex(std::string_view AText, TEncoding AEncoding)
    : Text(AText), Encoding(AEncoding) {
  Starts.push_back(0);
  for (std::size_t idx = AText.find('\n'); idx != std::string_view::npos;
       idx = AText.find('\n', idx + 1))
    Starts.push_back(idx + 1);
}

std::size_t TLineIndex::LineStart(std::size_t ALine) const {
  return ALine < Starts.size() ? Starts[ALine] : Text.size();
}

std::size_t TLineIndex::LineEnd(std::size_t ALine) const {
  std::size_t end = ALine + 1 < Starts.size() ? Starts[ALine + 1] - 1 : Text.size();
  if (ALine + 1 < Starts.size() && end > Starts[ALine] && Text[end - 1] == '\r') --end;
  return end;
}

TPosition TLineIndex::PositionOf(std::size_t AOffset) const {
  AOffset = std::min(AOffset, Text.size());
  const std::size_t line =
      std::upper_bound(Starts.begin(), Starts.end(), AOffset) - Starts.begin() - 1;
  const std::size_t start = Starts[line];
  if (Encoding == TEncoding::Utf8) return {line, AOffset - start};
  std::size_t units = 0;
  for (std::size_t idx = start; idx < AOffset;) {
    const std::size_t length = SequenceLength(static_cast<unsigned char>(Text[idx]));
    units += length == 4 ? 2 : 1;  // beyond the basic plane: a surrogate pair
    idx += length;
  }
  return {line, units};
}

std::size_t TLineIndex::OffsetOf(const TPosition& APosition) const {
  if (APosition.Line >= Starts.size()) return Text.size();
  const std::size_t start = Starts[APosition.Line];
  const std::size_t end = LineEnd(APosition.Line);
  if (Encoding == TEncoding::Utf8) {
    std::size_t at = std::min(end, start + APosition.Character);
    while (at > start && (static_cast<unsigned char>(Text[at]) & 0xC0) == 0x80 && at < end) --at;
    return at;
  }
  std::size_t units = 0;
  std::size_t idx = start;
  while (idx < end && units < APosition.Character) {
    const std::size_t length = SequenceLength(static_cast<unsigned char>(Text[idx]));
    units += length == 4 ? 2 : 1;
    idx = std::min(end, idx + length);
  }
  return idx;
}

}  // namespace zoqc::lsp
