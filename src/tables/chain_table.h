// The chained hash table that both tables are built on: fixed buckets, newest item first.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include <vector>
#include "src/text/large_blocks.h"
#include "src/text/text.h"

namespace zoqc {

// The key hash: start at 0; for each byte (0..255), rotate left by 2 bits and XOR the byte.
// "abc" gives 2043, "name" 7233, "" 0.
std::uint32_t HashOfKey(std::string_view AKey);

// The bucket count of every table the translation makes.
inline constexpr std::int32_t kTableSize = 256;

// The bucket of a key with hash AHash in a table of ABuckets buckets.
inline std::size_t BucketOfHash(std::uint32_t AHash, std::size_t ABuckets) {
  return AHash % ABuckets;
}

// The order in which a table lists its keys: ascending bucket, and within a bucket the newest key
// first. True when a table of ABuckets buckets lists AKey, first put at time AAdded, before
// AOther, first put at time AOtherAdded (distinct keys, distinct times).
inline bool ListedBefore(std::string_view AKey, std::size_t AAdded, std::string_view AOther,
                         std::size_t AOtherAdded, std::size_t ABuckets = kTableSize) {
  const std::size_t bucket = BucketOfHash(HashOfKey(AKey), ABuckets);
  const std::size_t other = BucketOfHash(HashOfKey(AOther), ABuckets);
  return bucket != other ? bucket < other : AAdded > AOtherAdded;
}

// A table of Size buckets, each the head of a singly linked chain of items.
// Invariants: keys are unique under exact byte comparison; an item lives in bucket
// HashOf(Key) % Size; a new item goes to the head of its chain and never moves afterwards;
// the bucket count never changes. Listing walks the buckets in order, each chain from its head.
// Beside the chains, an open-addressing index finds every item by its key, and each item knows
// the link slot that refers to it, so finding a key costs no chain walk however long chains
// grow. A bitmap of the non-empty buckets lets listing and releasing skip the empty ones, so a
// small table costs little whatever its bucket count. Items are not allocated one by one but
// taken from chunks, and released chunk by chunk. The heads of the first kFewHeads buckets that
// hold chains live in the table itself, beside their bucket numbers; only a table whose chains
// take more buckets allocates a head per bucket (a block's table of a few names then takes no
// 2 KiB of heads, most of them null).
template <typename TValue>
class TChainTable {
 public:
  struct THashItem;
  using PHashItem = THashItem*;    // a borrowed item; frees nothing
  using PPHashItem = THashItem**;  // a link slot: a bucket head or a Next
  struct THashItem {
    THashItem* Next = nullptr;    // the next item of the same chain; null at its end
    std::string Key;              // the table's own copy of the key
    TValue Value{};               // the stored value
    PPHashItem Link = nullptr;    // the slot that refers to this item
    std::uint32_t IndexHash = 0;  // IndexHashOf(Key)
  };

  explicit TChainTable(std::int32_t ASize)
      : BucketCount(static_cast<std::size_t>(ASize)),
        Occupied((BucketCount + 63) / 64),
        Index(16) {}
  virtual ~TChainTable() { Release(); }
  TChainTable(const TChainTable&) = delete;
  TChainTable& operator=(const TChainTable&) = delete;

  // Makes room for ACount keys in all: the index and the items' storage are then allocated once
  // instead of growing (a size hint only: more keys still fit).
  void Reserve(std::size_t ACount) {
    if (ACount * 2 > Index.size()) Rehash(std::bit_ceil(ACount * 2));
    if (ACount > Count) AddChunk(ACount - Count);
  }

  virtual std::uint32_t HashOf(std::string_view AKey) const { return HashOfKey(AKey); }

  // The slot that refers to the item holding AKey, or else the null slot at the end of the
  // chain of AKey's bucket (found by walking that chain). Never null.
  PPHashItem Find(std::string_view AKey) {
    if (const PHashItem item = Index[IndexSlot(IndexHashOf(AKey), AKey)]) return item->Link;
    PPHashItem slot = HeadSlot(BucketOf(AKey));
    while (*slot) slot = &(*slot)->Next;
    return slot;
  }

  // Replaces the value of an existing key in place, or adds a new item at its chain's head.
  void Put(std::string_view AKey, TValue AValue) {
    const std::uint32_t hash = IndexHashOf(AKey);
    const std::size_t slot = IndexSlot(hash, AKey);
    if (const PHashItem item = Index[slot]) {
      item->Value = std::move(AValue);
      return;
    }
    const std::size_t idx = BucketOf(AKey);
    const PPHashItem head = HeadSlot(idx);
    THashItem* const item = NewItem();
    item->Key = std::string(AKey);
    item->Value = std::move(AValue);
    item->IndexHash = hash;
    item->Next = *head;
    // The old head now hangs from the new item's Next.
    if (item->Next) item->Next->Link = &item->Next;
    Occupied[idx / 64] |= std::uint64_t{1} << (idx % 64);
    *head = item;
    item->Link = head;
    Index[slot] = item;
    if (++Count * 2 > Index.size()) Rehash(Index.size() * 2);
  }

  // Removes and frees every item; the bucket count stays.
  void Clear() {
    Release();
    Index.assign(16, nullptr);
    Count = 0;
  }

 protected:
  // The item holding AKey, or null.
  const THashItem* Item(std::string_view AKey) const {
    return Index[IndexSlot(IndexHashOf(AKey), AKey)];
  }

  // Calls AVisit(item) for every item in listing order.
  template <typename TVisit>
  void ForEach(TVisit AVisit) const {
    ForEachBucket([&](std::size_t AIdx) {
      for (const THashItem* item = Head(AIdx); item; item = item->Next) AVisit(*item);
    });
  }

 private:
  std::size_t BucketOf(std::string_view AKey) const {
    return BucketOfHash(HashOf(AKey), BucketCount);
  }
  // The head of bucket AIdx; null for an empty bucket.
  PHashItem Head(std::size_t AIdx) const {
    if (!Buckets.empty()) return Buckets[AIdx];
    for (std::size_t i = 0; i < FewUsed; ++i)
      if (FewBuckets[i] == AIdx) return FewHeads[i];
    return nullptr;
  }
  // The slot of bucket AIdx's head, made when the bucket has none yet. A slot stays put until
  // the heads move to one per bucket, which sets the Link of every head item anew.
  PPHashItem HeadSlot(std::size_t AIdx) {
    if (!Buckets.empty()) return &Buckets[AIdx];
    for (std::size_t i = 0; i < FewUsed; ++i)
      if (FewBuckets[i] == AIdx) return &FewHeads[i];
    if (FewUsed < kFewHeads) {
      FewBuckets[FewUsed] = AIdx;
      FewHeads[FewUsed] = nullptr;
      return &FewHeads[FewUsed++];
    }
    Buckets.assign(BucketCount, nullptr);
    for (std::size_t i = 0; i < FewUsed; ++i) {
      PHashItem& head = Buckets[FewBuckets[i]];
      head = FewHeads[i];
      if (head) head->Link = &head;
    }
    FewUsed = 0;
    return &Buckets[AIdx];
  }
  // Calls AVisit(index) for every non-empty bucket, in ascending order.
  template <typename TVisit>
  void ForEachBucket(TVisit AVisit) const {
    for (std::size_t word = 0; word < Occupied.size(); ++word)
      for (std::uint64_t bits = Occupied[word]; bits != 0; bits &= bits - 1)
        AVisit(word * 64 + static_cast<std::size_t>(std::countr_zero(bits)));
  }
  // Frees every item and empties every bucket.
  void Release() {
    std::vector<PHashItem>().swap(Buckets);
    FewUsed = 0;
    std::fill(Occupied.begin(), Occupied.end(), 0);
    for (TChunk& chunk : Chunks) {
      std::destroy_n(chunk.Items, chunk.Used);
      TLargeAllocator<THashItem>().deallocate(chunk.Items, chunk.Size);
    }
    Chunks.clear();
  }

  // Items live in chunks that never move, each twice the last (at most kMaxChunk items, unless
  // Reserve asked for more); constructed one at a time as keys come.
  static constexpr std::size_t kFirstChunk = 4, kMaxChunk = 4096;
  struct TChunk {
    THashItem* Items;
    std::size_t Size, Used;
  };
  void AddChunk(std::size_t ASize) {
    Chunks.push_back({TLargeAllocator<THashItem>().allocate(ASize), ASize, 0});
  }
  THashItem* NewItem() {
    if (Chunks.empty() || Chunks.back().Used == Chunks.back().Size)
      AddChunk(Chunks.empty() ? kFirstChunk : std::min(Chunks.back().Size * 2, kMaxChunk));
    TChunk& chunk = Chunks.back();
    return std::construct_at(chunk.Items + chunk.Used++);
  }

  // FNV-1a over the key's bytes: spreads keys over the index far better than HashOf.
  static std::uint32_t IndexHashOf(std::string_view AKey) {
    const std::uint64_t h = Fnv1a(AKey);
    return static_cast<std::uint32_t>(h ^ (h >> 32));
  }
  // The index slot of AKey: its item's, or the empty slot that ends its probe sequence.
  std::size_t IndexSlot(std::uint32_t AHash, std::string_view AKey) const {
    const std::size_t mask = Index.size() - 1;
    for (std::size_t slot = AHash & mask;; slot = (slot + 1) & mask) {
      const PHashItem item = Index[slot];
      if (!item || (item->IndexHash == AHash && item->Key == AKey)) return slot;
    }
  }
  void Rehash(std::size_t ASize) {
    TLargeVector<PHashItem> old(ASize, nullptr);
    old.swap(Index);
    const std::size_t mask = Index.size() - 1;
    for (const PHashItem item : old) {
      if (!item) continue;
      std::size_t slot = item->IndexHash & mask;
      while (Index[slot]) slot = (slot + 1) & mask;
      Index[slot] = item;
    }
  }

  static constexpr std::size_t kFewHeads = 16;
  std::size_t BucketCount;                          // fixed at construction
  std::array<PHashItem, kFewHeads> FewHeads{};      // while Buckets is empty: heads...
  std::array<std::size_t, kFewHeads> FewBuckets{};  // ...of these buckets
  std::size_t FewUsed = 0;                          // FewHeads in use
  std::vector<PHashItem> Buckets;       // one head per bucket, or empty; null for an empty bucket
  std::vector<std::uint64_t> Occupied;  // bit i: bucket i holds a chain
  std::vector<TChunk> Chunks;           // the items' storage
  TLargeVector<PHashItem> Index;        // open addressing by IndexHash; size a power of two
  std::size_t Count = 0;                // items; at most half of Index.size()
};

}  // namespace zoqc
