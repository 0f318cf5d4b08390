// The line table: line starts by binary search, columns counted from the nearest mark.
#include "src/model/line_table.h"

#include <algorithm>
#include <cstring>

#include "src/text/shown.h"

namespace zoqc {

namespace {

// Moves AAt.Offset past the character there, adding its UTF-16 units and, before AShownEnd
// (the line's end without CR LF or LF), its display columns.
template <typename TMark>
void Step(std::string_view AText, std::size_t AShownEnd, TMark& AAt) {
  const unsigned char c = static_cast<unsigned char>(AText[AAt.Offset]);
  if (c >= 0x20 && c < 0x7F) {  // printable ASCII, the usual case
    ++AAt.Units;
    AAt.Columns += AAt.Offset < AShownEnd;
    ++AAt.Offset;
    return;
  }
  const TShownChar shown = ShowChar(AText, AAt.Offset);
  AAt.Units += static_cast<std::int64_t>(shown.Units);
  if (AAt.Offset < AShownEnd)
    AAt.Columns += static_cast<std::int64_t>(shown.Tab ? TabWidth(AAt.Columns + 1) : shown.Width());
  AAt.Offset += shown.Length;
}

}  // namespace

TLineTable::TLineTable(std::string_view AText) : Text(AText) {
  Starts.push_back(0);
  for (const char* at = AText.data();
       const void* lf =
           std::memchr(at, '\n', static_cast<std::size_t>(AText.data() + AText.size() - at));) {
    at = static_cast<const char*>(lf) + 1;
    Starts.push_back(static_cast<std::size_t>(at - AText.data()));
  }
  for (std::int64_t line = 1; line <= LineCount(); ++line) {
    const std::size_t end = LineEnd(line);
    TMark at{LineStart(line), 0, 0};
    if (end - at.Offset <= kStride) continue;
    for (std::size_t next = at.Offset + kStride; at.Offset < end;) {
      Step(Text, end, at);
      if (at.Offset < next || at.Offset >= end) continue;
      Marks.push_back(at);
      next += kStride;
    }
  }
}

std::int64_t TLineTable::LineOf(std::size_t AOffset) const {
  return std::upper_bound(Starts.begin(), Starts.end(), AOffset) - Starts.begin();
}

std::size_t TLineTable::LineEnd(std::int64_t ALine) const {
  std::size_t end = ALine < LineCount() ? Starts[Index(ALine) + 1] - 1 : Text.size();
  if (end > LineStart(ALine) && Text[end - 1] == '\r' && end < Text.size()) --end;  // CR LF
  return end;
}

std::string_view TLineTable::LineText(std::int64_t ALine) const {
  const std::size_t start = LineStart(ALine);
  return Text.substr(start, LineEnd(ALine) - start);
}

TLineTable::TMark TLineTable::Count(std::int64_t ALine, std::size_t AOffset,
                                    std::int64_t TMark::*AField, std::int64_t AGoal) const {
  const std::size_t start = LineStart(ALine);
  const std::size_t end = LineEnd(ALine);
  // The marks of the line, and among them the last one before the goal.
  auto first = std::upper_bound(Marks.begin(), Marks.end(), start,
                                [](std::size_t A, const TMark& M) { return A < M.Offset; });
  auto last = std::upper_bound(first, Marks.end(), AOffset,
                               [](std::size_t A, const TMark& M) { return A < M.Offset; });
  if (AField)
    last = std::upper_bound(first, last, AGoal,
                            [&](std::int64_t A, const TMark& M) { return A < M.*AField; });
  TMark at = last == first ? TMark{start, 0, 0} : *std::prev(last);
  if (!AField)
    while (at.Offset < AOffset) Step(Text, end, at);
  else
    while (at.Offset < end && at.*AField < AGoal) Step(Text, end, at);
  return at;
}

TLinePosition TLineTable::Locate(std::size_t AOffset) const {
  AOffset = std::min(AOffset, Text.size());
  TLinePosition at;
  at.Line = LineOf(AOffset);
  const TMark counted = Count(at.Line, AOffset);
  at.Offset = AOffset;
  at.Column = static_cast<std::int64_t>(AOffset - LineStart(at.Line)) + 1;
  at.Utf16Column += counted.Units;
  at.DisplayColumn += counted.Columns;
  return at;
}

std::size_t TLineTable::OffsetOf(std::size_t ALine, std::size_t AColumn,
                                 TEncoding AEncoding) const {
  if (ALine >= Starts.size()) return Text.size();
  const std::int64_t line = static_cast<std::int64_t>(ALine) + 1;
  const std::size_t start = LineStart(line);
  const std::size_t end = LineEnd(line);
  if (AEncoding == TEncoding::Utf16)
    return std::min(end,
                    Count(line, end, &TMark::Units, static_cast<std::int64_t>(AColumn)).Offset);
  std::size_t at = start + std::min(AColumn, end - start);
  for (std::size_t back = 1; back <= 3 && back <= at - start; ++back)
    if (Utf8Length(Text, at - back) > back) return at - back;  // inside that character
  return at;
}

std::size_t TLineTable::OffsetOfDisplayColumn(std::int64_t ALine, std::int64_t AColumn) const {
  const std::size_t end = LineEnd(ALine);
  return std::min(end, Count(ALine, end, &TMark::Columns, AColumn - 1).Offset);
}

}  // namespace zoqc
