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

// Names of every length around the 16-byte compare, ending at a stop byte or at the text's end.
TEST(NameEnd, ShortNameEndAgrees) {
  for (std::size_t size = 0; size <= 40; ++size)
    for (const std::string_view after : {"}", "_x", "\xC3", ""}) {
      const std::string text = "{" + std::string(size, 'a') + std::string(after) + "tail";
      const std::string cut = text.substr(0, 1 + size + after.size());
      EXPECT_EQ(1 + size, ShortNameEnd(cut, 1)) << cut;
      EXPECT_EQ(NameEnd(text, 1), ShortNameEnd(text, 1)) << text;
    }
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

// An arena gives aligned blocks one after the other while they fit, then nothing; vectors
// made with it live there (a vector too large for what is left, and a copy, do not), and it is
// advised as a large block is: whole, but for a last huge page used by half or less.
TEST(TArena, TakesInTurnAndAdvisesAsTheInputs) {
  static std::vector<std::size_t> advised;
  advised.clear();
  const TLargeBlockAdvice before =
      gLargeBlockAdvice.exchange([](void*, std::size_t ASize) { advised.push_back(ASize); });
  constexpr std::size_t kPage = TArena::kHugePage;
  for (const std::size_t size : {kLargeBlock, kPage + kPage / 2 + 1, kPage + kPage / 2})
    const TArena made(size);
  EXPECT_EQ((std::vector<std::size_t>{2 * kPage, kPage}), advised);
  gLargeBlockAdvice.store(before);

  TArena arena(kLargeBlock);  // a whole huge page
  char* const first = static_cast<char*>(arena.Take(3, 1));
  char* const second = static_cast<char*>(arena.Take(8, 8));
  EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(first) % kPage);
  EXPECT_EQ(first + 8, second);
  EXPECT_EQ(nullptr, arena.Take(kPage - 16 + 1, 1));
  EXPECT_NE(nullptr, arena.Take(kPage - 16, 1));
  EXPECT_EQ(nullptr, arena.Take(1, 1));
  EXPECT_TRUE(arena.Holds(first + kPage - 1));
  EXPECT_FALSE(arena.Holds(first + kPage));

  TArena lists(kLargeBlock);
  TLargeVector<std::uint64_t> in{TLargeAllocator<std::uint64_t>(&lists)};
  in.assign(1000, 7);
  EXPECT_TRUE(lists.Holds(in.data()));
  const TLargeVector<std::uint64_t> copy = in;
  EXPECT_FALSE(lists.Holds(copy.data()));
  TLargeVector<std::uint64_t> out{TLargeAllocator<std::uint64_t>(&lists)};
  out.assign(kPage / 8, 9);  // more than is left: from the ordinary allocator
  EXPECT_FALSE(lists.Holds(out.data()));
  in.assign(5000, 8);  // grown: the old block stays in the arena, unused
  EXPECT_EQ(8u, in.back());
  EXPECT_EQ(7u, copy.back());
}

}  // namespace
}  // namespace zoqc
