// Tests of the list of pieces.
#include "src/text/pieces.h"

#include <gtest/gtest.h>

#include <string>

namespace zoqc {
namespace {

TEST(TPieces, JoinsMergesAndDropsEmptyPieces) {
  const std::string text = "abcdef";
  const std::string_view all(text);
  TPieces pieces;
  pieces.Append(all.substr(0, 2));
  pieces.Append(all.substr(2, 2));  // starts where the last ends: extends it
  pieces.Append("");                // dropped
  pieces.Append("-");
  pieces.Append(all.substr(4));
  EXPECT_EQ(3u, pieces.Span().size());
  EXPECT_EQ("abcd", pieces.Span()[0]);
  EXPECT_EQ("abcd-ef", pieces.Joined());
  TPieces moved = std::move(pieces);
  EXPECT_EQ("abcd-ef", moved.Joined());
  EXPECT_EQ(0u, pieces.Span().size());  // NOLINT: a moved-from list is empty
}

TEST(TPieces, GrowsPastManyPieces) {
  const std::string a = "a", b = "b";
  TPieces pieces;
  for (int i = 0; i < 100000; ++i) pieces.Append(i % 2 ? b : a);  // never contiguous
  EXPECT_EQ(100000u, pieces.Span().size());
  const std::string joined = pieces.Joined();
  EXPECT_EQ(100000u, joined.size());
  EXPECT_EQ("abab", joined.substr(0, 4));
  EXPECT_EQ("ab", joined.substr(99998));
}

}  // namespace
}  // namespace zoqc
