// THashTable2: block name -> that block's THashTable, which the block table does not own.
#pragma once

#include <string_view>

#include "src/tables/VarHashtable.h"
#include "src/tables/chain_table.h"

namespace zoqc {

// Items own their keys only: releasing an item, or replacing its value, never frees a table.
class THashTable2 : public TChainTable<THashTable*> {
 public:
  using TChainTable::TChainTable;

  // The table stored under AKey, or null.
  THashTable* Get(std::string_view AKey) const {
    const THashItem* item = Item(AKey);
    return item ? item->Value : nullptr;
  }
};

}  // namespace zoqc
