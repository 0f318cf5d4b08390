// THashTable: variable name -> PHP expression text.
#include "src/tables/VarHashtable.h"

namespace zoqc {

std::uint32_t HashOfKey(std::string_view AKey) {
  std::uint32_t h = 0;
  for (const char c : AKey) h = ((h << 2) | (h >> 30)) ^ static_cast<unsigned char>(c);
  return h;
}

std::string THashTable::Get(std::string_view AKey) const {
  const std::string* value = Lookup(AKey);
  return value ? *value : std::string();
}

const std::string* THashTable::Lookup(std::string_view AKey) const {
  const THashItem* item = Item(AKey);
  return item ? &item->Value : nullptr;
}

void THashTable::GetKeys(std::vector<std::string>& AResult) const {
  ForEach([&](const THashItem& AItem) { AResult.push_back(AItem.Key); });
}

}  // namespace zoqc
