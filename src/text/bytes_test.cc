// Tests of the byte searches: each kind (a byte at a time, and sixteen at once where the
// processor has them) on the same cases, against the standard library's searches.
#include "src/text/bytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zoqc {
namespace {

// Texts with the byte sought at every place around the 16- and 64-byte blocks, the bytes
// around it sought too or not, and bytes of 128 and more (signed chars).
std::vector<std::string> Texts() {
  std::vector<std::string> texts = {"", "<", "{", "ab", std::string(200, 'x')};
  for (const std::size_t size : {15, 16, 17, 31, 33, 64, 65, 66, 130})
    for (std::size_t at = 0; at < size; at += (at < 20 || at + 20 > size) ? 1 : 7) {
      std::string text(size, '\xE9');
      text[at] = '<';
      texts.push_back(text);
      if (at + 1 < size) text[at + 1] = '<';  // a pair
      texts.push_back(text);
      text[size - 1] = '{';  // and another byte sought, after it
      texts.push_back(text);
    }
  return texts;
}

template <typename TSet>
void ExpectNextAgrees(const TSet& ASet, std::string_view ABytes) {
  for (const std::string& text : Texts())
    for (std::size_t from = 0; from <= text.size(); from += from % 16 == 1 ? 14 : 1) {
      const std::size_t want = text.find_first_of(ABytes, from);
      EXPECT_EQ(want == std::string::npos ? text.size() : want, ASet.Next(text, from))
          << ABytes << " from " << from << " in " << text.size();
    }
}

template <typename TSet>
void ExpectIn16Agrees(const TSet& ASet, std::string_view ABytes) {
  for (const std::string& text : Texts())
    for (std::size_t at = 0; at + 16 <= text.size(); ++at) {
      unsigned want = 0;
      for (unsigned i = 0; i < 16; ++i)
        if (ABytes.find(text[at + i]) != std::string_view::npos) want |= 1u << i;
      EXPECT_EQ(want, ASet.In16(text.data() + at)) << ABytes << " at " << at;
    }
}

TEST(TBytes, NextAndIn16FindTheBytesSought) {
  ExpectNextAgrees(TScalarBytes<1>('<'), "<");
  ExpectNextAgrees(TScalarBytes<2>('<', '{'), "<{");
  ExpectNextAgrees(TScalarBytes<3>('\xE9', '{', '!'), "\xE9{!");
  ExpectIn16Agrees(TScalarBytes<1>('<'), "<");
  ExpectIn16Agrees(TScalarBytes<2>('<', '{'), "<{");
#ifdef ZOQC_SSE2
  ExpectNextAgrees(TSse2Bytes<1>('<'), "<");
  ExpectNextAgrees(TSse2Bytes<2>('<', '{'), "<{");
  ExpectNextAgrees(TSse2Bytes<3>('\xE9', '{', '!'), "\xE9{!");
  ExpectIn16Agrees(TSse2Bytes<1>('<'), "<");
  ExpectIn16Agrees(TSse2Bytes<2>('<', '{'), "<{");
#endif
}

TEST(FindPair, FindsThePairAtEveryPlace) {
  for (const std::string& text : Texts())
    for (std::size_t from = 0; from <= text.size(); from += from % 16 == 1 ? 14 : 1) {
      EXPECT_EQ(text.find("<<", from), FindPair(text, from, '<', '<')) << from;
      EXPECT_EQ(text.find("<<", from), FindPairWide(text, from, '<', '<')) << from;
      EXPECT_EQ(text.find("<{", from), FindPair(text, from, '<', '{')) << from;
      EXPECT_EQ(text.find("<{", from), FindPairBySecond(text, from, '<', '{')) << from;
      EXPECT_EQ(text.find("<<", from), FindPairBySecond(text, from, '<', '<')) << from;
    }
  // Past the 256 places looked at together: the pair at the edges of their stretches.
  for (const std::size_t at : {0, 254, 255, 256, 511, 1100}) {
    std::string text(1102, '<');
    for (std::size_t i = 0; i < text.size(); i += 2) text[i] = 'x';  // "<" alone everywhere
    text.replace(at, 3, "x<<");
    EXPECT_EQ(at + 1, FindPair(text, 0, '<', '<')) << at;
    EXPECT_EQ(at + 1, FindPairWide(text, 0, '<', '<')) << at;
  }
}

}  // namespace
}  // namespace zoqc
