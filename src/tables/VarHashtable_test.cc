// Tests of the value table: the key hash, buckets, listing order and ownership of values.
#include "src/tables/VarHashtable.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace zoqc {
namespace {

std::vector<std::string> Keys(const THashTable& ATable) {
  std::vector<std::string> keys;
  ATable.GetKeys(keys);
  return keys;
}

TEST(HashOfKey, WorkedValues) {
  const struct {
    std::string Key;
    std::uint32_t Hash;
  } cases[] = {
      {"", 0},
      {"abc", 2043},  // 0x61, then 0x1E6, then 0x7FB: bucket 251
      {"name", 7233},
      {"Name", 5185},
      {"title", 26837},
      {"Ae", 353},
      {std::string(17, 'a'), 2863311563u},  // the rotation wraps around 32 bits
      {"\xFF", 255},                        // no sign extension
  };
  for (const auto& c : cases) EXPECT_EQ(c.Hash, HashOfKey(c.Key)) << c.Key;
  EXPECT_EQ(251u, HashOfKey("abc") % 256);
  EXPECT_EQ(203u, HashOfKey(std::string(17, 'a')) % 256);
}

TEST(THashTable, PutReplacesAndKeepsPlace) {
  THashTable table(256);
  table.Put("a", "1");
  table.Put("title", "$t");
  table.Put("a", "2");  // replaces the value, keeps one item
  EXPECT_EQ("2", table.Get("a"));
  EXPECT_EQ((std::vector<std::string>{"a", "title"}), Keys(table));
}

TEST(THashTable, GetKeysOrder) {
  THashTable table(256);
  table.Put("title", "t");  // bucket 213
  table.Put("name", "n");   // bucket 65
  table.Put("Name", "N");   // bucket 65 too, newer: listed first
  table.Put("a", "1");      // bucket 97
  table.Put("Ae", "2");     // bucket 97 too
  table.Put("", "e");       // bucket 0
  EXPECT_EQ((std::vector<std::string>{"", "Name", "name", "Ae", "a", "title"}), Keys(table));
  // ListedBefore, which orders keys without a table, agrees.
  std::vector<std::pair<std::string, std::size_t>> put{{"title", 0}, {"name", 1}, {"Name", 2},
                                                       {"a", 3},     {"Ae", 4},   {"", 5}};
  std::sort(put.begin(), put.end(), [](const auto& x, const auto& y) {
    return ListedBefore(x.first, x.second, y.first, y.second);
  });
  std::vector<std::string> ordered;
  for (const auto& [key, added] : put) ordered.push_back(key);
  EXPECT_EQ(Keys(table), ordered);
  std::vector<std::string> list{"kept"};  // GetKeys appends to what the list holds
  table.GetKeys(list);
  EXPECT_EQ(7u, list.size());
  EXPECT_EQ("kept", list.front());
}

TEST(THashTable, KeysAreExactBytes) {
  THashTable table(256);
  table.Put("name", "lower");
  table.Put("Name", "upper");
  EXPECT_EQ("lower", table.Get("name"));
  EXPECT_EQ("upper", table.Get("Name"));
  EXPECT_EQ("", table.Get("NAME"));  // a missing key reads as empty text...
  EXPECT_EQ(nullptr, table.Lookup("NAME"));
  EXPECT_EQ(2u, Keys(table).size());  // ...and adds nothing
}

TEST(THashTable, FindReturnsLinkSlots) {
  THashTable table(1);  // one bucket: every key in one chain
  EXPECT_EQ(nullptr, *table.Find("x"));
  table.Put("x", "1");
  table.Put("y", "2");
  table.Put("z", "3");
  for (const char* key : {"x", "y", "z"}) EXPECT_EQ(key, (*table.Find(key))->Key);
  // A missing key gives the null slot that ends the chain: the oldest item's Next.
  THashTable::PPHashItem end = table.Find("w");
  EXPECT_EQ(nullptr, *end);
  EXPECT_EQ(end, &(*table.Find("x"))->Next);
}

// Heads move from the table itself to one per bucket when chains take more than a few buckets:
// the listing order and the link slots stay right across the move.
TEST(THashTable, OrderAndLinksAcrossTheMoveOfHeads) {
  THashTable table(256);
  std::vector<std::pair<std::string, std::size_t>> put;
  for (std::size_t i = 0; i < 40; ++i) {
    put.emplace_back("k" + std::to_string(i % 20) + (i < 20 ? "" : "x"), i);
    table.Put(put.back().first, std::to_string(i));
    for (const auto& [key, added] : put) ASSERT_EQ(key, (*table.Find(key))->Key) << i;
  }
  std::sort(put.begin(), put.end(), [](const auto& x, const auto& y) {
    return ListedBefore(x.first, x.second, y.first, y.second);
  });
  std::vector<std::string> ordered;
  for (const auto& [key, added] : put) ordered.push_back(key);
  EXPECT_EQ(ordered, Keys(table));
  table.Clear();  // back to few heads
  table.Put("b", "1");
  table.Put("a", "2");
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), Keys(table));
}

TEST(THashTable, ClearEmptiesAndTableCanBeRefilled) {
  THashTable table(256);
  table.Put("a", "1");
  table.Put("b", "2");
  table.Clear();
  EXPECT_TRUE(Keys(table).empty());
  EXPECT_EQ("", table.Get("a"));
  table.Put("a", "3");
  EXPECT_EQ("3", table.Get("a"));
  EXPECT_EQ(std::vector<std::string>{"a"}, Keys(table));
}

TEST(THashTable, LongChainsAreFreedWithoutRecursion) {
  THashTable table(1);
  for (int i = 0; i < 200000; ++i) table.Put(std::to_string(i), "v");
  EXPECT_EQ("v", table.Get("199999"));
  table.Clear();  // a recursive release of 200000 items would overflow the stack
  EXPECT_TRUE(Keys(table).empty());
}

// Reserving changes where items live, never what the table lists or finds.
TEST(THashTable, ReserveKeepsOrderAndTakesMoreKeys) {
  THashTable plain(256), reserved(256);
  plain.Put("first", "0");
  reserved.Put("first", "0");
  reserved.Reserve(3);  // fewer than will come
  for (THashTable* table : {&plain, &reserved})
    for (int i = 0; i < 5000; ++i) table->Put("k" + std::to_string(i), std::to_string(i));
  EXPECT_EQ(Keys(plain), Keys(reserved));
  EXPECT_EQ("4999", reserved.Get("k4999"));
  EXPECT_EQ("0", reserved.Get("first"));
  reserved.Clear();
  reserved.Reserve(0);
  EXPECT_TRUE(Keys(reserved).empty());
}

TEST(THashTable, ValuesReadBackByteForByte) {
  THashTable table(256);
  const std::string value("a\0b\r\n\xFF", 6);
  table.Put("k", value);
  EXPECT_EQ(value, table.Get("k"));
}

}  // namespace
}  // namespace zoqc
