// The chained hash table that both tables are built on: fixed buckets, newest item first.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zoqc {

// The key hash: start at 0; for each byte (0..255), rotate left by 2 bits and XOR the byte.
// "abc" gives 2043, "name" 7233, "" 0.
std::uint32_t HashOfKey(std::string_view AKey);

// A table of Size buckets, each the head of a singly linked chain of items.
// Invariants: keys are unique under exact byte comparison; an item lives in bucket
// HashOf(Key) % Size; a new item goes to the head of its chain and never moves afterwards;
// the bucket count never changes. Listing walks the buckets in order, each chain from its head.
// Slots indexes every key's link slot, so Find costs no chain walk however long chains grow.
template <typename TValue>
class TChainTable {
 public:
  struct THashItem {
    std::unique_ptr<THashItem> Next;  // the next item of the same chain; null at its end
    std::string Key;                  // the table's own copy of the key
    TValue Value;                     // the stored value
  };
  using PHashItem = THashItem*;                    // a borrowed item; frees nothing
  using PPHashItem = std::unique_ptr<THashItem>*;  // a link slot: a bucket head or a Next

  explicit TChainTable(std::int32_t ASize)
      : Buckets(static_cast<std::size_t>(ASize)), EndSlots(Buckets.size()) {
    ResetEndSlots();
  }
  virtual ~TChainTable() { Clear(); }
  TChainTable(const TChainTable&) = delete;
  TChainTable& operator=(const TChainTable&) = delete;

  virtual std::uint32_t HashOf(std::string_view AKey) const { return HashOfKey(AKey); }

  // The slot that refers to the item holding AKey, or else the null slot at the end of the
  // chain of AKey's bucket. Never null.
  PPHashItem Find(std::string_view AKey) {
    const auto it = Slots.find(AKey);
    return it != Slots.end() ? it->second : EndSlots[BucketOf(AKey)];
  }

  // Replaces the value of an existing key in place, or adds a new item at its chain's head.
  void Put(std::string_view AKey, TValue AValue) {
    if (const PHashItem item = Find(AKey)->get()) {
      item->Value = std::move(AValue);
      return;
    }
    const std::size_t idx = BucketOf(AKey);
    auto item = std::make_unique<THashItem>();
    item->Key = std::string(AKey);
    item->Value = std::move(AValue);
    item->Next = std::move(Buckets[idx]);
    // The old head now hangs from the new item's Next; an empty chain's end moves there too.
    if (item->Next)
      Slots[item->Next->Key] = &item->Next;
    else
      EndSlots[idx] = &item->Next;
    Buckets[idx] = std::move(item);
    Slots[Buckets[idx]->Key] = &Buckets[idx];
  }

  // Removes and frees every item, one at a time (a chain left to its destructors would recurse
  // once per item); the bucket count stays.
  void Clear() {
    Slots.clear();
    for (auto& head : Buckets)
      while (head) head = std::move(head->Next);
    ResetEndSlots();
  }

  std::size_t GetBucketsSize() const { return Buckets.size(); }

 protected:
  // The item holding AKey, or null.
  const THashItem* Item(std::string_view AKey) const {
    const auto it = Slots.find(AKey);
    return it != Slots.end() ? it->second->get() : nullptr;
  }

  // Calls AVisit(item) for every item in listing order.
  template <typename TVisit>
  void ForEach(TVisit AVisit) const {
    for (const auto& head : Buckets)
      for (const THashItem* item = head.get(); item; item = item->Next.get()) AVisit(*item);
  }

 private:
  std::size_t BucketOf(std::string_view AKey) const { return HashOf(AKey) % Buckets.size(); }
  void ResetEndSlots() {
    for (std::size_t i = 0; i < Buckets.size(); ++i) EndSlots[i] = &Buckets[i];
  }

  std::vector<std::unique_ptr<THashItem>> Buckets;  // chain heads; null for an empty bucket
  std::vector<PPHashItem> EndSlots;                 // per bucket, the null slot that ends its chain
  std::unordered_map<std::string_view, PPHashItem> Slots;  // key (viewing Item.Key) -> its slot
};

}  // namespace zoqc
