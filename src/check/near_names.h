// Names one edit apart, found without comparing every pair: each name is filed under itself and
// under each of its one-byte deletions, so two names one edit apart share a key.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

namespace zoqc {

class TNearNames {
 public:
  // Names longer than this are filed and found only exactly (bounds the cost per name).
  static constexpr std::size_t kMaxLength = 64;

  // Files AName, which must outlive the index.
  void Add(std::string_view AName);
  // The first filed name one edit (insertion, deletion, substitution or swap of neighbours,
  // ASCII case ignored) away from AName and at least AMinLength long, or "".
  std::string_view OneEditFrom(std::string_view AName, std::size_t AMinLength = 1) const;
  // The filed name that AName is likely a slip of: one edit away, and four bytes long or more,
  // or shorter and made of the same letters as AName (a letter doubled or dropped, two
  // swapped: "qq" or "Q" for "q", "di" for "id"), so that the one-letter names of scripts and
  // styles are not taken for slips of each other; "" when none is.
  std::string_view TypoOf(std::string_view AName) const;
  // The filed name that AName most likely means: the same name as an English plural or singular
  // ("s", "es", "y" and "ies"), then one edit away, then the longest filed name that AName starts
  // with (three bytes or more); "" when none is.
  std::string_view Likely(std::string_view AName) const;

 private:
  struct TEntry {
    std::string_view Name;
    std::size_t Rank;  // its place in filing order
  };
  std::string_view Nearest(std::string_view AName, std::size_t AMinLength,
                           bool AShortSameLetters) const;
  // The filing of the name that is AFolded up to case, or null.
  const TEntry* Exact(const std::string& AFolded) const;
  std::unordered_multimap<std::string, TEntry> Keys;  // folded key -> name
  std::size_t Count = 0;                              // names filed
};

}  // namespace zoqc
