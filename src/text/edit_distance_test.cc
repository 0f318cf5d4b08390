// Tests of the edit distance behind "did you mean".
#include "src/text/edit_distance.h"

#include <gtest/gtest.h>

#include <string>

namespace zoqc {
namespace {

TEST(EditDistance, CountsEachEditOnce) {
  EXPECT_EQ(1u, EditDistance("titel", "title", 3));   // two neighbours swapped
  EXPECT_EQ(1u, EditDistance("nme", "name", 3));      // one insertion
  EXPECT_EQ(1u, EditDistance("rows", "row", 3));      // one deletion
  EXPECT_EQ(2u, EditDistance("entry", "enrty2", 3));  // a swap and an insertion
  EXPECT_EQ(3u, EditDistance("abc", "xyz", 3));       // three substitutions
  EXPECT_EQ(0u, EditDistance("Title", "title", 3));   // letter case is no edit
  EXPECT_EQ(0u, EditDistance("", "", 0));
}

TEST(EditDistance, StopsPastTheLimit) {
  EXPECT_EQ(2u, EditDistance("row", "rows1", 1));  // lengths too far apart: the limit plus one
  EXPECT_EQ(2u, EditDistance("abcd", "wxyz", 1));  // same length, every row past the limit
  EXPECT_EQ(1u, EditDistance("ab", "ba", 0));      // a swap is past a limit of 0
  const std::string longest(kMaxEditDistanceLength, 'n');
  EXPECT_EQ(0u, EditDistance(longest, longest, 3));  // the longest names still compared
  const std::string longer(kMaxEditDistanceLength + 1, 'n');
  EXPECT_EQ(4u, EditDistance(longer, longer, 3));  // longer ones never are
  const std::string huge(30000, 'n');
  EXPECT_EQ(11u, EditDistance(huge, huge + "x", 10));
}

}  // namespace
}  // namespace zoqc
