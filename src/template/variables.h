// Variable substitution: "{name}" placeholders become the PHP bound to name.
#pragma once

#include <cstddef>
#include <cstdint>
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

// The names of one table, for matching placeholders "{" K "}" (K a run of name characters,
// possibly empty) up to ASCII case: K selects the first key of the table's listing order that
// equals K without regard to case, and yields that key's text, APrefix + value + ASuffix, built
// once here. Open addressing on hashes of the case-folded names: a lookup allocates nothing.
class TPlaceholderIndex {
 public:
  // A null table matches nothing.
  explicit TPlaceholderIndex(const THashTable* ATable, std::string_view APrefix = "",
                             std::string_view ASuffix = "");

  bool Empty() const { return Entries.empty(); }
  // When AText holds a placeholder of a key at AIdx (0-based, on its "{"), yields that key's
  // text and sets ALength to the placeholder's length; otherwise yields null.
  // With AKey, also yields the key as listed.
  const std::string_view* Match(std::string_view AText, std::size_t AIdx, std::size_t& ALength,
                                std::string_view* AKey = nullptr) const;
  // Calls AVisit(key) for every key that no Match has yielded yet.
  template <typename TVisit>
  void ForEachUnused(TVisit AVisit) const {
    for (std::size_t e = 0; e < Entries.size(); ++e)
      if (!Hit[e]) AVisit(Entries[e].Key);
  }
  std::size_t PrefixSize() const { return Prefix; }
  std::size_t SuffixSize() const { return Suffix; }

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
  // and the empty name's are zero.
  static constexpr TFolded kNotShort{~std::uint64_t{0}, ~std::uint64_t{0}};
  struct TEntry {
    TFolded Folded;         // for a short name; kNotShort otherwise
    std::string_view Text;  // prefix, value, suffix, viewing Texts
    std::string_view Key;   // as listed first, viewing Texts
  };
  // AName's folded words, when it is a short name; else kNotShort and false.
  static bool FoldShort(std::string_view AName, TFolded& AFolded);
  static std::uint32_t ShortHash(const TFolded& AFolded) {
    const std::uint64_t h = (AFolded.Lo ^ (AFolded.Hi * 0x9E3779B97F4A7C15u)) * 0xD6E8FEB86659FD93u;
    return static_cast<std::uint32_t>(h >> 32);
  }
  // The slot of the entry that equals AName (folded words AFolded when AShort) up to case, or
  // the empty slot that ends its probe sequence.
  std::size_t SlotOf(std::uint32_t AHash, bool AShort, const TFolded& AFolded,
                     std::string_view AName) const;
  // The entry of a name found in a placeholder.
  const std::string_view* Found(std::size_t ASlot, std::size_t AEnd, std::size_t AIdx,
                                std::size_t& ALength, std::string_view* AKey) const;

  TLargeVector<char> Texts;               // every key and text, which Entries view
  TLargeVector<TEntry> Entries;           // one per distinct key up to case, first listed wins
  TLargeVector<std::uint64_t> Slots;      // hash << 32 | entry + 1; 0 for an empty slot
  mutable std::vector<std::uint8_t> Hit;  // per entry: a Match has yielded it
  std::size_t Mask = 0;                   // Slots.size() - 1, a power of two at least twice Entries
  std::size_t Prefix = 0, Suffix = 0;     // the lengths of the prefix and suffix of every text
};

// For provenance: a bound name (as the table lists it) -> the script offset of the expression
// that its binding statement gives it.
using TExpressionOffsets = std::unordered_map<std::string_view, std::size_t>;

// Appends the template as block expansion left it (each placeholder replaced in one pass:
// inserted text is never searched again) (ATemplatePieces) to APage, with each
// placeholder of AVars (built on VarList with "<?php echo " and ";?>") replaced. With
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

// True when AText holds a placeholder "{" name "}" with a non-empty name at AIdx.
bool IsPlaceholderAt(std::string_view AText, std::size_t AIdx);

}  // namespace zoqc
