// Tests of the line table: lines, and columns in bytes, UTF-16 code units and display columns.
#include "src/model/line_table.h"

#include <gtest/gtest.h>

#include <string>

#define CRLF "\r\n"
#define LF "\n"
#define E_ACUTE "\xC3\xA9"           // U+00E9: two bytes, one UTF-16 unit
#define GRINNING "\xF0\x9F\x98\x80"  // U+1F600: four bytes, two UTF-16 units
#define BOM "\xEF\xBB\xBF"           // shown as <U+FEFF>

namespace zoqc {
namespace {

TEST(TLineTable, Lines) {
  const TLineTable table("ab" CRLF "\tcd" LF "ef" LF);
  EXPECT_EQ(4, table.LineCount());     // the text ends in LF: an empty last line
  EXPECT_EQ("ab", table.LineText(1));  // without its CR LF
  EXPECT_EQ("\tcd", table.LineText(2));
  EXPECT_EQ("", table.LineText(4));
  EXPECT_EQ(4u, table.LineStart(2));
  EXPECT_EQ(1, table.LineOf(3));  // the LF belongs to its line
  EXPECT_EQ(2, table.LineOf(4));
  EXPECT_EQ(4, table.LineOf(99));                   // past the end: the last line
  EXPECT_EQ("a\r", TLineTable("a\r").LineText(1));  // a CR not before LF is the line's own
}

// The position of each offset of one line, as {byte, UTF-16, display} columns.
TEST(TLineTable, CountsColumnsThreeWays) {
  const std::string text = "a\t" E_ACUTE "\xE9" GRINNING BOM
                           "\x1b"
                           "z" CRLF;
  const struct {
    std::size_t Offset;
    std::int64_t Column, Utf16, Display;
  } cases[] = {
      {0, 1, 1, 1},      // the line's start
      {2, 3, 3, 9},      // after a tab at column 2: blanks to column 9
      {4, 5, 4, 10},     // after "é": two bytes, one unit, one column
      {3, 4, 4, 10},     // inside "é": the character counts already
      {5, 6, 5, 14},     // after a byte that is not UTF-8: one unit, "<E9>"
      {9, 10, 7, 15},    // after U+1F600: two units
      {12, 13, 8, 23},   // after the BOM, "<U+FEFF>"
      {13, 14, 9, 27},   // after ESC, "\x1b"
      {15, 16, 11, 28},  // the LF: the CR adds a unit but no column
  };
  const TLineTable table(text);
  for (const auto& c : cases) {
    const TLinePosition at = table.Locate(c.Offset);
    EXPECT_EQ(1, at.Line) << c.Offset;
    EXPECT_EQ(c.Column, at.Column) << c.Offset;
    EXPECT_EQ(c.Utf16, at.Utf16Column) << c.Offset;
    EXPECT_EQ(c.Display, at.DisplayColumn) << c.Offset;
  }
}

// A line many strides long counts as its first piece does, piece after piece: the marks that
// save recounting land inside characters and tabs' runs and change nothing.
TEST(TLineTable, LongLinesCountAsShortOnes) {
  const std::string piece = "\t" E_ACUTE "\x80" GRINNING "ab";  // 10 bytes, 7 units, 16 columns
  std::string text;
  for (int k = 0; k < 100; ++k) text += piece;
  text += LF;
  const TLineTable table(text);
  for (std::size_t at = 0; at + 1 < text.size(); ++at) {
    const TLinePosition first = table.Locate(at % piece.size());
    const auto k = static_cast<std::int64_t>(at / piece.size());
    const TLinePosition here = table.Locate(at);
    EXPECT_EQ(first.Utf16Column + 7 * k, here.Utf16Column) << at;
    EXPECT_EQ(first.DisplayColumn + 16 * k, here.DisplayColumn) << at;
    // Back from each encoding's column: a character's first byte in UTF-8, its end in UTF-16
    // and in display columns.
    const std::size_t m = at % piece.size();
    const std::size_t first_byte = m == 2 ? 1 : m > 4 && m < 8 ? 4 : m;  // inside é or U+1F600
    const std::size_t end = m == 2 ? 3 : m > 4 && m < 8 ? 8 : m;
    const auto column = [&](std::int64_t AColumn) { return static_cast<std::size_t>(AColumn - 1); };
    EXPECT_EQ(at - m + first_byte, table.OffsetOf(0, column(here.Column), TEncoding::Utf8)) << at;
    EXPECT_EQ(at - m + end, table.OffsetOf(0, column(here.Utf16Column), TEncoding::Utf16)) << at;
    EXPECT_EQ(at - m + end, table.OffsetOfDisplayColumn(1, here.DisplayColumn)) << at;
  }
}

// Offsets from an editor's columns: clipped to the line, a stray byte one unit in both.
TEST(TLineTable, OffsetOfAColumn) {
  const TLineTable table("a\xF0" "bcdX" CRLF "e");
  EXPECT_EQ(5u, table.OffsetOf(0, 5, TEncoding::Utf16));   // "X": the stray byte counts one
  EXPECT_EQ(6, table.Locate(5).Utf16Column);              // and back again
  EXPECT_EQ(5u, table.OffsetOf(0, 5, TEncoding::Utf8));    // bytes
  EXPECT_EQ(6u, table.OffsetOf(0, 99, TEncoding::Utf16));  // past the line: before its CR LF
  EXPECT_EQ(9u, table.OffsetOf(1, 1, TEncoding::Utf8));    // the last line ends the text
  EXPECT_EQ(9u, table.OffsetOf(7, 0, TEncoding::Utf8));    // past the last line: the text's end
}

}  // namespace
}  // namespace zoqc

#undef CRLF
#undef LF
#undef E_ACUTE
#undef GRINNING
#undef BOM
