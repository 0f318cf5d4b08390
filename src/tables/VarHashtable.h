// THashTable: variable name -> PHP expression text, with a fixed listing order.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "src/tables/chain_table.h"

namespace zoqc {

class THashTable : public TChainTable<std::string> {
 public:
  using TChainTable::TChainTable;

  // A copy of the text stored under AKey; "" for a key that is not there.
  std::string Get(std::string_view AKey) const;
  // The stored text itself, or null for a key that is not there.
  const std::string* Lookup(std::string_view AKey) const;
  // Appends every key to AResult, in ascending bucket order and newest first within a bucket.
  void GetKeys(std::vector<std::string>& AResult) const;
  // Calls AVisit(key, value) for every item, in the order of GetKeys, copying nothing.
  template <typename TVisit>
  void ForEachPair(TVisit AVisit) const {
    ForEach([&](const THashItem& AItem) { AVisit(AItem.Key, AItem.Value); });
  }
};

}  // namespace zoqc
