// Text as it is shown: decoding UTF-8 and choosing the escapes.
#include "src/text/shown.h"

#include <cstdint>
#include <cstring>

#include "src/text/text.h"

namespace zoqc {

namespace {

unsigned char At(std::string_view AText, std::size_t AAt) {
  return static_cast<unsigned char>(AText[AAt]);
}

bool IsContinuation(std::string_view AText, std::size_t AAt) {
  return AAt < AText.size() && (At(AText, AAt) & 0xC0) == 0x80;
}

// Characters that are there but not seen, or that turn the order of what follows around: the
// C1 controls, the byte-order mark, and the marks and embeddings of bidirectional text.
bool IsHidden(std::uint32_t ACode) {
  return (ACode >= 0x80 && ACode <= 0x9F) || ACode == 0xFEFF || ACode == 0x061C ||
         ACode == 0x200E || ACode == 0x200F || (ACode >= 0x202A && ACode <= 0x202E) ||
         (ACode >= 0x2066 && ACode <= 0x2069);
}

}  // namespace

std::size_t Utf8Length(std::string_view AText, std::size_t AAt) {
  const unsigned char lead = At(AText, AAt);
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // not overlong
    if (lead == 0xED) high = 0x9F;  // not a surrogate
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // not overlong
    if (lead == 0xF4) high = 0x8F;  // not past U+10FFFF
  } else {
    return 0;
  }
  if (AText.size() - AAt < length) return 0;
  const unsigned char second = At(AText, AAt + 1);
  if (second < low || second > high) return 0;
  for (std::size_t k = 2; k < length; ++k)
    if (!IsContinuation(AText, AAt + k)) return 0;
  return length;
}

std::size_t TShownChar::Width() const { return Escape[0] ? std::strlen(Escape) : 1; }

TShownChar ShowChar(std::string_view AText, std::size_t AAt) {
  TShownChar shown;
  const unsigned char c = At(AText, AAt);
  if (c >= 0x20 && c < 0x7F) return shown;
  if (c < 0x80) {
    shown.Tab = c == '\t';
    if (c == '\t' || c == '\n' || c == '\r') {
      shown.Escape[0] = '\\';
      shown.Escape[1] = c == '\t' ? 't' : c == '\n' ? 'n' : 'r';
    } else {
      shown.Escape[0] = '\\';
      shown.Escape[1] = 'x';
      WriteHex(shown.Escape + 2, c, 2, true);
    }
    return shown;
  }
  const std::size_t length = Utf8Length(AText, AAt);
  if (length == 0) {
    shown.Escape[0] = '<';
    *WriteHex(shown.Escape + 1, c, 2) = '>';
    return shown;
  }
  shown.Length = length;
  std::uint32_t code = c & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) code = code << 6 | (At(AText, AAt + k) & 0x3F);
  shown.Units = code > 0xFFFF ? 2 : 1;
  if (IsHidden(code)) {
    std::memcpy(shown.Escape, "<U+", 3);
    *WriteHex(shown.Escape + 3, code, 4) = '>';
  }
  return shown;
}

std::string Shown(std::string_view AText) {
  std::string out;
  out.reserve(AText.size());
  for (std::size_t at = 0; at < AText.size();) {
    const TShownChar c = ShowChar(AText, at);
    if (c.Escape[0])
      out += c.Escape;
    else
      out.append(AText.substr(at, c.Length));
    at += c.Length;
  }
  return out;
}

std::string ControlsEscaped(std::string_view AText) {
  std::string out;
  out.reserve(AText.size());
  for (std::size_t at = 0; at < AText.size(); ++at) {
    const unsigned char c = At(AText, at);
    if (c < 0x20 || c == 0x7F)
      out += ShowChar(AText, at).Escape;
    else
      out.push_back(static_cast<char>(c));
  }
  return out;
}

}  // namespace zoqc
