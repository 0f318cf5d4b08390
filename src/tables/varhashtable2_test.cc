// Tests of the block table: it maps names to tables it does not own.
#include "src/tables/varhashtable2.h"

#include <gtest/gtest.h>

namespace zoqc {
namespace {

TEST(THashTable2, GetOfUnknownNameIsNull) {
  THashTable2 blocks(256);
  EXPECT_EQ(nullptr, blocks.Get("row"));
}

TEST(THashTable2, NamesDifferingInCaseAreDifferentKeys) {
  THashTable row(256), Row(256);
  THashTable2 blocks(256);
  blocks.Put("row", &row);
  blocks.Put("Row", &Row);
  EXPECT_EQ(&row, blocks.Get("row"));
  EXPECT_EQ(&Row, blocks.Get("Row"));
  EXPECT_EQ(nullptr, blocks.Get("ROW"));
}

TEST(THashTable2, PutOverwritesReferenceAndLeavesOldTable) {
  THashTable first(256), second(256);
  first.Put("x", "1");
  THashTable2 blocks(256);
  blocks.Put("row", &first);
  blocks.Put("row", &second);
  EXPECT_EQ(&second, blocks.Get("row"));
  EXPECT_EQ("1", first.Get("x"));  // the earlier table is untouched
}

TEST(THashTable2, ClearAndDestroyLeaveInnerTablesIntact) {
  THashTable inner(256);
  inner.Put("name", "$n");
  {
    THashTable2 blocks(256);
    blocks.Put("row", &inner);
    blocks.Clear();
    EXPECT_EQ(nullptr, blocks.Get("row"));
    EXPECT_EQ("$n", inner.Get("name"));
    blocks.Put("row", &inner);
  }  // destroyed while still referring to inner
  EXPECT_EQ("$n", inner.Get("name"));
  inner.Put("more", "1");  // still usable
  EXPECT_EQ("1", inner.Get("more"));
}

}  // namespace
}  // namespace zoqc
