// The line table: line starts by binary search, columns by counting characters.
#include "src/model/line_table.h"

#include <algorithm>
#include <cstring>

#include "src/text/shown.h"

namespace zoqc {

TLineTable::TLineTable(std::string_view AText) : Text(AText) {
  Starts.push_back(0);
  for (const char* at = AText.data();
       const void* lf =
           std::memchr(at, '\n', static_cast<std::size_t>(AText.data() + AText.size() - at));) {
    at = static_cast<const char*>(lf) + 1;
    Starts.push_back(static_cast<std::size_t>(at - AText.data()));
  }
}

std::int64_t TLineTable::LineOf(std::size_t AOffset) const {
  return std::upper_bound(Starts.begin(), Starts.end(), AOffset) - Starts.begin();
}

std::string_view TLineTable::LineText(std::int64_t ALine) const {
  const std::size_t start = LineStart(ALine);
  std::size_t end = ALine < LineCount() ? Starts[Index(ALine) + 1] - 1 : Text.size();
  if (end > start && Text[end - 1] == '\r' && end < Text.size()) --end;  // CR LF
  return Text.substr(start, end - start);
}

TLinePosition TLineTable::Locate(std::size_t AOffset) const {
  TLinePosition start;
  start.Line = -1;  // on no line: the count starts at the line's start
  return Locate(AOffset, start);
}

TLinePosition TLineTable::Locate(std::size_t AOffset, const TLinePosition& ANear) const {
  AOffset = std::min(AOffset, Text.size());
  const std::int64_t line = LineOf(AOffset);
  const std::size_t line_start = LineStart(line);
  TLinePosition at;
  at.Line = line;
  at.Offset = line_start;
  std::size_t from = line_start;  // the first character not yet counted
  if (ANear.Line == line && ANear.Offset <= AOffset && ANear.Offset >= line_start) {
    at = ANear;
    from = ANear.Offset;
    // ANear inside a character has counted it already: go on after it.
    for (std::size_t back = 1; back <= 3 && back <= from - line_start; ++back) {
      const std::size_t length = Utf8Length(Text, from - back);
      if (length > back) {
        from += length - back;
        break;
      }
      if (length != 0 || (static_cast<unsigned char>(Text[from - back]) & 0xC0) != 0x80) break;
    }
  }
  const std::size_t shown_end = line_start + LineText(line).size();  // no column past it
  std::int64_t units = 0, columns = 0;
  while (from < AOffset) {
    const unsigned char c = static_cast<unsigned char>(Text[from]);
    if (c >= 0x20 && c < 0x7F) {  // printable ASCII, the usual case
      ++units;
      columns += from < shown_end;
      ++from;
      continue;
    }
    const TShownChar shown = ShowChar(Text, from);
    units += static_cast<std::int64_t>(shown.Units);
    if (from < shown_end)
      columns += static_cast<std::int64_t>(shown.Tab ? TabWidth(at.DisplayColumn + columns)
                                                     : shown.Width());
    from += shown.Length;
  }
  at.Offset = AOffset;
  at.Column = static_cast<std::int64_t>(AOffset - line_start) + 1;
  at.Utf16Column += units;
  at.DisplayColumn += columns;
  return at;
}

}  // namespace zoqc
