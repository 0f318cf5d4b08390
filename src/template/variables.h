// Variable substitution: "{name}" placeholders become the PHP bound to name.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "src/model/provenance.h"
#include "src/tables/VarHashtable.h"
#include "src/template/escaping.h"
#include "src/text/large_blocks.h"
#include "src/text/pieces.h"

namespace zoqc {

// The names bound for a scope, for matching placeholders "{" K "}" (K a run of name characters,
// possibly empty) up to ASCII case: K selects the first key, in the listing order of a THashTable
// that holds the bindings, that equals K without regard to case, and yields that key's text,
// APrefix + value + ASuffix, built once here; or, made with AViewed, the value itself (a view
// like the keys), which the caller writes between Prefix() and Suffix(). Open addressing on
// hashes of the case-folded names: a lookup allocates nothing. Keys are viewed, never copied.
class TPlaceholderIndex {
 public:
  // The names of ATable, which must outlive the index; a null table matches nothing.
  explicit TPlaceholderIndex(const THashTable* ATable, std::string_view APrefix = "",
                             std::string_view ASuffix = "");
  // No names yet: Bind adds them. With AViewed, AValue of Bind must outlive the index too.
  TPlaceholderIndex(std::string_view APrefix, std::string_view ASuffix, bool AViewed = false);

  // Room for ACount keys whose values take AValueBytes in all (a hint: more still fit).
  void Reserve(std::size_t ACount, std::size_t AValueBytes);
  // Takes the lists of up to ACount keys from AArena, which must outlive the index: called
  // before any key is bound. What they take there, with room to align them:
  void UseArena(TArena* AArena);
  static std::size_t ArenaBytes(std::size_t ACount) {
    return ACount * sizeof(TEntry) + SlotsFor(ACount) * sizeof(std::uint32_t) + 64;
  }
  // Binds AKey, a view that must outlive the index, to AValue, as Put on a THashTable would,
  // binding after binding: a key bound again takes the new value and keeps its place; of keys
  // equal up to case, the one the table would list first is matched, decided here by
  // ListedBefore, so nothing is listed or sorted afterwards.
  void Bind(std::string_view AKey, std::string_view AValue);

  bool Empty() const { return Entries.empty(); }
  // The texts are the values alone: a placeholder prints Prefix(), its text, Suffix().
  bool Viewed() const { return ViewsValues; }
  std::string_view Prefix() const { return ViewsValues ? std::string_view(PrefixText) : ""; }
  std::string_view Suffix() const { return ViewsValues ? std::string_view(SuffixText) : ""; }
  // When AText holds a placeholder of a key at AIdx (0-based, on its "{"), yields that key's
  // text and sets ALength to the placeholder's length; otherwise yields nothing.
  // With AKey, also yields the key as listed.
  std::optional<std::string_view> Match(std::string_view AText, std::size_t AIdx,
                                        std::size_t& ALength,
                                        std::string_view* AKey = nullptr) const;
  // Match in two steps, so that a run of placeholders' slots is fetched from memory at once:
  // Look reads the name of a placeholder at AIdx (on its "{") and asks for its slot, Matched
  // then yields what Match would, from the same AText and AIdx.
  struct TLook {
    std::uint64_t Lo = 0, Hi = 0;  // the folded name, when Length is a name's
    std::uint32_t Hash = 0;
    std::uint32_t Length = 0;  // the name's, or kNoName, or kUnread (Match reads it)
  };
  static constexpr std::uint32_t kNoName = UINT32_MAX, kUnread = UINT32_MAX - 1;
  TLook Look(std::string_view AText, std::size_t AIdx) const;
  std::optional<std::string_view> Matched(const TLook& ALook, std::string_view AText,
                                          std::size_t AIdx, std::size_t& ALength,
                                          std::string_view* AKey = nullptr) const;
  // Whether the names' lists are too large for the processor's caches to keep.
  bool Large() const {
    return Entries.size() * sizeof(TEntry) + Slots.size() * sizeof(std::uint32_t) > 512 * 1024;
  }
  // The value that a placeholder of AName gets (its text without prefix and suffix); "" for
  // none.
  std::string_view ValueOf(std::string_view AName) const;
  // Calls AVisit(key) for every key that no Match has yielded yet, in listing order.
  template <typename TVisit>
  void ForEachUnused(TVisit AVisit) const {
    std::vector<std::size_t> unused;
    for (std::size_t e = 0; e < Entries.size(); ++e)
      if (!(Entries[e].Marks & kHit)) unused.push_back(e);
    if (Bindings > 0)  // a table's names come listed
      std::sort(unused.begin(), unused.end(), [&](std::size_t A, std::size_t B) {
        return ListedBefore(Entries[A].Key(), Entries[A].Added(), Entries[B].Key(),
                            Entries[B].Added());
      });
    for (const std::size_t e : unused) AVisit(Entries[e].Key());
  }
  // What a text holds before and after the value (0 when Viewed).
  std::size_t PrefixSize() const { return ViewsValues ? 0 : PrefixText.size(); }
  std::size_t SuffixSize() const { return ViewsValues ? 0 : SuffixText.size(); }

 private:
  // A name of fewer than kShortName name characters is looked up by its folded bytes: letters
  // with bit 5 cleared, zero-padded to two words, so that two such names are equal up to case
  // exactly when their words are equal. Longer names (and keys that are no name) fall back to
  // a hash and a comparison of the bytes.
  static constexpr std::size_t kShortName = 16;
  struct TFolded {
    std::uint64_t Lo = 0, Hi = 0;
    bool operator==(const TFolded&) const = default;
  };
  // The words of every other key: no short name folds to them (no name byte folds to 0xFF),
  // and the empty name's are zero. An entry of such a key keeps its hash in Lo instead.
  static constexpr TFolded kNotShort{~std::uint64_t{0}, ~std::uint64_t{0}};
  // Marks of an entry: bit 31, a Match has yielded it; the rest, when Bind first bound its key
  // (for a key that another one equal up to case is listed before, the same).
  static constexpr std::uint32_t kHit = std::uint32_t{1} << 31;
  // 40 bytes: a large page's entries fill whole huge pages (two for 100,000 names, not three),
  // their marks beside them. A short name's size is that of its folded words (no name byte
  // folds to 0); another key keeps its size beside its hash.
  struct TEntry {
    TFolded Folded;  // for a short name; else kNotShort.Hi, and in Lo size << 32 | hash
    const char* TextAt = nullptr;  // prefix, value, suffix, in Texts (the value when Viewed)
    const char* KeyAt = nullptr;   // the key matched
    std::uint32_t TextSize = 0;
    mutable std::uint32_t Marks = 0;

    std::string_view Text() const { return {TextAt, TextSize}; }
    std::string_view Key() const { return {KeyAt, KeySize()}; }
    std::size_t KeySize() const {
      if (Folded.Hi == kNotShort.Hi) return static_cast<std::size_t>(Folded.Lo >> 32);
      const auto bytes = [](std::uint64_t AWord) {
        return static_cast<std::size_t>(64 - std::countl_zero(AWord) + 7) / 8;
      };
      return Folded.Hi ? 8 + bytes(Folded.Hi) : bytes(Folded.Lo);
    }
    std::uint32_t Added() const { return Marks & ~kHit; }
    void SetText(std::string_view AText) { TextAt = AText.data(), TextSize = Size32(AText); }
  };
  // The size of a key or text, which the script's 32-bit positions bound; beyond them no memory.
  static std::uint32_t Size32(std::string_view AText) {
    if (AText.size() > UINT32_MAX) throw std::bad_alloc();
    return static_cast<std::uint32_t>(AText.size());
  }
  // AName's folded words, when it is a short name; else kNotShort and false.
  static bool FoldShort(std::string_view AName, TFolded& AFolded);
  static std::uint32_t ShortHash(const TFolded& AFolded) {
    const std::uint64_t h = (AFolded.Lo ^ (AFolded.Hi * 0x9E3779B97F4A7C15u)) * 0xD6E8FEB86659FD93u;
    return static_cast<std::uint32_t>(h >> 32);
  }
  static std::uint32_t HashOf(std::string_view AName, bool AShort, const TFolded& AFolded);
  static std::uint32_t HashOf(const TEntry& AEntry) {
    return AEntry.Folded.Hi == kNotShort.Hi ? static_cast<std::uint32_t>(AEntry.Folded.Lo)
                                            : ShortHash(AEntry.Folded);
  }
  // The slot of the entry that equals AName (folded words AFolded when AShort) up to case, or
  // the empty slot that ends its probe sequence.
  std::size_t SlotOf(std::uint32_t AHash, bool AShort, const TFolded& AFolded,
                     std::string_view AName) const;
  // The entry of a name found in a placeholder.
  std::optional<std::string_view> Found(std::size_t ASlot, std::size_t AEnd, std::size_t AIdx,
                                        std::size_t& ALength, std::string_view* AKey) const;
  // A new entry in ASlot; the slots double when half of them are taken.
  void Add(std::size_t ASlot, std::uint32_t AHash, const TFolded& AFolded, std::string_view AKey,
           std::string_view AValue);
  void Grow(std::size_t ASlots);
  // The slots for ACount keys: a power of two at least twice as many, and at least 16.
  static std::size_t SlotsFor(std::size_t ACount) {
    std::size_t size = 16;
    while (size < 2 * ACount) size *= 2;
    return size;
  }
  // Prefix, AValue and suffix, stored where they stay (AValue itself when Viewed).
  std::string_view Store(std::string_view AValue);

  std::string PrefixText, SuffixText;
  bool ViewsValues = false;
  std::vector<TLargeVector<char>> Texts;  // each filled up to its capacity, never moved
  TLargeVector<TEntry> Entries;           // one per distinct key up to case
  TLargeVector<std::uint32_t> Slots;      // entry + 1; 0 for an empty slot
  std::size_t Mask = 0;                   // Slots.size() - 1, a power of two at least twice Entries
  std::unordered_map<std::string_view, std::uint32_t> Behind;
  std::uint32_t Bindings = 0;  // Bind calls so far: the time of the next
};

// For provenance: a bound name (as the table lists it) -> the script offset of the expression
// that its binding statement gives it.
using TExpressionOffsets = std::unordered_map<std::string_view, std::size_t>;

// Appends the template as block expansion left it (each placeholder replaced in one pass:
// inserted text is never searched again) (ATemplatePieces) to APage, with each
// placeholder of AVars (the template variables, with "<?php echo " and ";?>") replaced. With
// provenance, ATemplate is the template the stretches view, APieceCuts gives each echo's cut
// and AExprOf each name's expression.
// ALeft receives the template offset of every placeholder "{" name "}" (a non-empty name) that
// AVars does not bind, which the page prints as written. With AEscape, "{!name}" prints its
// expression as it is and every other placeholder its expression escaped (block echoes are
// printed as they are).
void SubstituteVariables(std::span<const std::string_view> ATemplatePieces,
                         const TPlaceholderIndex& AVars, TPageBuilder& APage,
                         std::string_view ATemplate, std::vector<std::size_t>& ALeft,
                         std::span<const std::size_t> APieceCuts = {},
                         const TExpressionOffsets* AExprOf = nullptr, TEscaping* AEscape = nullptr);

}  // namespace zoqc
