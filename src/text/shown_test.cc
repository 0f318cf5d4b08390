// Tests of how text is shown: escapes for what a terminal would act on or hide.
#include "src/text/shown.h"

#include <gtest/gtest.h>

namespace zoqc {
namespace {

TEST(Shown, EscapesWhatATerminalWouldActOn) {
  EXPECT_EQ("caf\xC3\xA9 \xF0\x9F\x98\x80", Shown("caf\xC3\xA9 \xF0\x9F\x98\x80"));  // UTF-8 stays
  EXPECT_EQ("\\x1b[2J\\x1b]52;c;eA==\\x07", Shown("\x1b[2J\x1b]52;c;eA==\x07"));     // controls
  EXPECT_EQ("a\\rb\\nc\\td\\x7f", Shown("a\rb\nc\td\x7f"));                          // short forms
  EXPECT_EQ("caf<E9>", Shown("caf\xE9"));                                            // not UTF-8
  EXPECT_EQ("<C0><AF>", Shown("\xC0\xAF"));                                          // overlong "/"
  EXPECT_EQ("<ED><A0><80>", Shown("\xED\xA0\x80"));                                  // a surrogate
  EXPECT_EQ("<F4><90><80><80>", Shown("\xF4\x90\x80\x80"));  // past U+10FFFF
  EXPECT_EQ("<E2><82>x", Shown("\xE2\x82x"));                // cut short
  EXPECT_EQ("<U+FEFF>", Shown("\xEF\xBB\xBF"));              // byte-order mark
  EXPECT_EQ("<U+009B>2J", Shown("\xC2\x9B"
                                "2J"));  // C1 control CSI
  EXPECT_EQ("a<U+202E>b", Shown("a\xE2\x80\xAE"
                                "b"));  // bidi override
}

TEST(ControlsEscaped, KeepsEveryOtherByte) {
  EXPECT_EQ("caf\xE9.zoq", ControlsEscaped("caf\xE9.zoq"));
  EXPECT_EQ("a\\x1b]0;t\\x07\\nb", ControlsEscaped("a\x1b]0;t\x07\nb"));
}

}  // namespace
}  // namespace zoqc
