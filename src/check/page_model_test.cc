// Tests of what the checks read: statement lines and markers.
#include "src/check/page_model.h"

#include <gtest/gtest.h>

#define CRLF "\r\n"
#define LF "\n"

namespace zoqc {
namespace {

TEST(ReadStatementLines, ReadsLinesAsTheScanDoes) {
  const auto lines = ReadStatementLines("<<a<<1" LF "<<*r<<x" LF "<<*r" CRLF "<<<v<<$v" CRLF
                                        " <<b<<2" LF "<<+r" LF "<<c<<x\r<<d<<y" LF "<<<");
  ASSERT_EQ(5u, lines.size());  // not the first line, "<<*r<<x", the indented line or "<<d"
  EXPECT_EQ('*', lines[0].Kind);
  EXPECT_EQ('<', lines[1].Kind);
  EXPECT_EQ("r", lines[1].Block);
  EXPECT_EQ("$v", lines[1].Expr);
  EXPECT_EQ('+', lines[2].Kind);
  EXPECT_EQ("x", lines[3].Expr);  // the expression ends at a lone CR
  EXPECT_EQ('=', lines[4].Kind);  // "<<<" as the last bytes is a template statement
  EXPECT_FALSE(lines[4].Separated);
}

TEST(ReadMarkers, ExactAndNearForms) {
  const auto markers = ReadMarkers(
      "<!--BEGIN a--><!-- end a --><!--Begin B--><!--END c-- >"
      "<!-- END of nav --><!--BEGIN -->");
  ASSERT_EQ(4u, markers.size());
  EXPECT_TRUE(markers[0].Exact && markers[0].IsBegin);
  EXPECT_FALSE(markers[1].Exact || markers[1].IsBegin);
  EXPECT_EQ("a", markers[1].Name);
  EXPECT_FALSE(markers[2].Exact);  // the keyword in other letter case
  EXPECT_TRUE(markers[3].Exact);   // the empty name
  EXPECT_EQ("", markers[3].Name);
}

}  // namespace
}  // namespace zoqc

#undef CRLF
#undef LF
