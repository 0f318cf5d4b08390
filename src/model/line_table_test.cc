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

TEST(TLineTable, CountingOnFromAnEarlierOffsetChangesNothing) {
  const std::string text = "\t" E_ACUTE "x\x80\x80" GRINNING
                           "\t\xE2\x82"
                           "y" LF "\tb";
  const TLineTable table(text);
  for (std::size_t to = 0; to <= text.size(); ++to)
    for (std::size_t from = 0; from <= to; ++from) {
      const TLinePosition direct = table.Locate(to);
      const TLinePosition on = table.Locate(to, table.Locate(from));
      EXPECT_EQ(direct.Line, on.Line);
      EXPECT_EQ(direct.Utf16Column, on.Utf16Column) << from << " to " << to;
      EXPECT_EQ(direct.DisplayColumn, on.DisplayColumn) << from << " to " << to;
    }
}

}  // namespace
}  // namespace zoqc

#undef CRLF
#undef LF
#undef E_ACUTE
#undef GRINNING
#undef BOM
