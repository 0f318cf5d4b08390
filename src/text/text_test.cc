// Tests of the text primitives.
#include "src/text/text.h"

#include <gtest/gtest.h>

#include "src/text/large_blocks.h"

namespace zoqc {
namespace {

TEST(SameText, ComparesUpToAsciiCase) {
  EXPECT_TRUE(SameText("Row", "rOW"));
  EXPECT_FALSE(SameText("row", "rows"));
  EXPECT_FALSE(SameText("\xC3\xA9", "\xC3\x89"));  // no folding above ASCII
}

TEST(NameEnd, StopsAtTheFirstOtherByte) {
  EXPECT_EQ(4u, NameEnd("{ab1}", 1));
  EXPECT_EQ(1u, NameEnd("{}", 1));                               // an empty name
  EXPECT_EQ(3u, NameEnd("{ab", 1));                              // runs to the end of the text
  EXPECT_EQ(3u, NameEnd("{ab", 3));                              // starting at the end
  EXPECT_EQ(2u, NameEnd("xa_b", 1));                             // no underscore
  EXPECT_EQ(2u, NameEnd(std::string_view("xa\xC3\x62", 4), 1));  // no byte above 127
}

TEST(FoldedNameHash, NamesEqualUpToCaseHashAlike) {
  EXPECT_EQ(FoldedNameHash("Row1"), FoldedNameHash("rOW1"));
  EXPECT_EQ(FoldedNameHash(""), FoldedNameHash(""));
  EXPECT_NE(FoldedNameHash("row"), FoldedNameHash("rows"));
}

TEST(IsNameChar, LettersAndDigitsOnly) {
  for (const char c : std::string_view("09AZaz")) EXPECT_TRUE(IsNameChar(c)) << c;
  for (const char c : std::string_view("_-/:@[`{ \r\n\x80\xFF")) EXPECT_FALSE(IsNameChar(c)) << c;
}

// A large block is aligned to a huge page and advised whole pages, but for a last one it fills
// by half or less; a small one is left alone.
TEST(TLargeAllocator, AlignsAndAdvisesLargeBlocksOnly) {
  static std::vector<std::pair<void*, std::size_t>> advised;
  advised.clear();
  const TLargeBlockAdvice before = gLargeBlockAdvice.exchange(
      [](void* AData, std::size_t ASize) { advised.emplace_back(AData, ASize); });
  constexpr std::size_t kPage = TLargeAllocator<char>::kHugePage;
  TLargeVector<char> small(kLargeBlock - 1, 'a');
  EXPECT_TRUE(advised.empty());
  const struct {
    std::size_t Size, Advised;
  } cases[] = {
      {kLargeBlock + 1, 0},
      {kPage / 2, 0},
      {kPage / 2 + 1, kPage},
      {kPage, kPage},
      {kPage + 1, kPage},
      {kPage + kPage / 2, kPage},
      {kPage + kPage / 2 + 1, 2 * kPage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Size);
    advised.clear();
    TLargeVector<char> large(c.Size, 'b');
    EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(large.data()) % kPage);
    EXPECT_EQ('b', large.back());
    if (c.Advised == 0) {
      EXPECT_TRUE(advised.empty());
      continue;
    }
    ASSERT_EQ(1u, advised.size());
    EXPECT_EQ(static_cast<void*>(large.data()), advised[0].first);
    EXPECT_EQ(c.Advised, advised[0].second);
  }
  gLargeBlockAdvice.store(before);
}

}  // namespace
}  // namespace zoqc
