// Tests of the index behind "did you mean" for names bound in a page.
#include "src/check/near_names.h"

#include <gtest/gtest.h>

namespace zoqc {
namespace {

// A name bound again, in its own case or another, changes no answer: the first filed stays the
// one suggested, however often the page repeats it.
TEST(NearNames, TheFirstFiledInAnyCaseAnswers) {
  TNearNames near;
  near.Add("Title");
  for (int i = 0; i < 1000; ++i) near.Add(i % 2 ? "title" : "TITLE");
  near.Add("rows");
  EXPECT_EQ("Title", near.TypoOf("titel"));
  EXPECT_EQ("Title", near.OneEditFrom("Titl"));
  EXPECT_EQ("Title", near.Likely("titles"));
  EXPECT_EQ("rows", near.Likely("row"));
  EXPECT_EQ("", near.TypoOf("heading"));
}

}  // namespace
}  // namespace zoqc
