// Tests of the reference's text primitives.
#include "tests/reference_text.h"

#include <gtest/gtest.h>

namespace zoqc {
namespace {

std::string Replace(std::string_view S, std::string_view Old, std::string_view New) {
  return StringReplace(S, Old, New, kReplaceAllIgnoreCase);  // both flags, as all callers pass
}

TEST(Pos, FirstExactOccurrence) {
  EXPECT_EQ(0, Pos("", "abc"));                              // an empty pattern is never found
  EXPECT_EQ(2, Pos("b", "abcb"));                            // the first of two
  EXPECT_EQ(0, Pos("abcd", "abc"));                          // longer than the text
  EXPECT_EQ(0, Pos("A", "abc"));                             // case counts
  EXPECT_EQ(0, Pos("c", ""));                                // empty text
  EXPECT_EQ(3, Pos("c\0d", std::string_view("abc\0d", 5)));  // NUL is an ordinary byte
}

TEST(Copy, ClampsIndexAndCount) {
  EXPECT_EQ("cd", Copy("abcdef", 3, 2));
  EXPECT_EQ("ab", Copy("abcdef", 0, 2));   // index 0 starts at the first byte, count kept
  EXPECT_EQ("ab", Copy("abcdef", -5, 2));  // so does a negative index
  EXPECT_EQ("bc", Copy("abc", 2, 100));    // count cut at the end
  EXPECT_EQ("", Copy("abc", 4, 1));        // past the end
  EXPECT_EQ("", Copy("abc", 1, 0));        // zero count
  EXPECT_EQ("", Copy("abc", 1, -1));       // negative count
}

TEST(AnsiUpperCase, FoldsAsciiLettersOnly) {
  EXPECT_EQ("", AnsiUpperCase(""));
  EXPECT_EQ("ABC{X_1}", AnsiUpperCase("aBc{x_1}"));
  EXPECT_EQ("\xC3\xA9\xFF", AnsiUpperCase("\xC3\xA9\xFF"));  // bytes >= 128 stay as they are
}

TEST(StringReplace, ReplaceAllIgnoreCase) {
  EXPECT_EQ("Hello X, X!", Replace("Hello {Name}, {NAME}!", "{name}", "X"));
  EXPECT_EQ("AyC", Replace("AbC", "b", "y"));            // unmatched letters keep their case
  EXPECT_EQ("ba", Replace("aaa", "aa", "b"));            // matches do not overlap
  EXPECT_EQ("{a}{a}", Replace("{a}", "{a}", "{a}{a}"));  // inserted text is not searched again
  EXPECT_EQ("abc", Replace("abc", "", "x"));             // an empty pattern changes nothing
  EXPECT_EQ("", Replace("", "a", "x"));                  // an empty text stays empty
  EXPECT_EQ("-", Replace("x-x", "x", ""));               // an empty replacement deletes
}

TEST(StringReplace, OtherFlags) {
  EXPECT_EQ("y-x", StringReplace("x-x", "x", "y", kReplaceFirstExact));
  EXPECT_EQ("X-y", StringReplace("X-x", "x", "y", kReplaceAll));  // exact case only
  EXPECT_EQ("y-x", StringReplace("X-x", "x", "y", kIgnoreCase));  // first only
}

}  // namespace
}  // namespace zoqc
