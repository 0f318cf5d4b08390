// The deletion index of TNearNames.
#include "src/check/near_names.h"

#include <algorithm>
#include <vector>

#include "src/text/edit_distance.h"
#include "src/text/text.h"

namespace zoqc {

namespace {

// Whether two folded names hold the same set of bytes.
bool SameLetters(std::string_view A, std::string_view B) {
  const auto within = [](std::string_view AFrom, std::string_view AIn) {
    return std::all_of(AFrom.begin(), AFrom.end(),
                       [&](char c) { return AIn.find(c) != std::string_view::npos; });
  };
  return within(A, B) && within(B, A);
}

}  // namespace

void TNearNames::Add(std::string_view AName) {
  const std::string folded = UpperCased(AName);
  // A name filed before in any case answers every question first: filing it again would only
  // lengthen the lists that each question walks.
  if (Exact(folded)) return;
  const TEntry entry{AName, Count++};
  Keys.emplace(folded, entry);
  if (folded.size() > kMaxLength) return;
  for (std::size_t i = 0; i < folded.size(); ++i)
    if (i == 0 || folded[i] != folded[i - 1])  // deleting either of two equal bytes is one key
      Keys.emplace(std::string(folded).erase(i, 1), entry);
}

std::string_view TNearNames::OneEditFrom(std::string_view AName, std::size_t AMinLength) const {
  return Nearest(AName, AMinLength, false);
}

std::string_view TNearNames::TypoOf(std::string_view AName) const {
  return Nearest(AName, 4, true);
}

std::string_view TNearNames::Nearest(std::string_view AName, std::size_t AMinLength,
                                     bool AShortSameLetters) const {
  const std::string folded = UpperCased(AName);
  if (folded.size() > kMaxLength) return {};
  std::string_view best;
  std::size_t best_rank = Count;  // the earliest filed wins
  const auto consider = [&](const std::string& AKey) {
    const auto [from, to] = Keys.equal_range(AKey);
    for (auto it = from; it != to; ++it) {
      const TEntry& entry = it->second;
      if (entry.Rank >= best_rank ||
          (entry.Name.size() < AMinLength &&
           (!AShortSameLetters || !SameLetters(folded, UpperCased(entry.Name)))) ||
          EditDistance(AName, entry.Name, 1) != 1)
        continue;
      best = entry.Name, best_rank = entry.Rank;
    }
  };
  consider(folded);
  for (std::size_t i = 0; i < folded.size(); ++i)
    if (i == 0 || folded[i] != folded[i - 1]) consider(std::string(folded).erase(i, 1));
  return best;
}

const TNearNames::TEntry* TNearNames::Exact(const std::string& AFolded) const {
  const auto [from, to] = Keys.equal_range(AFolded);
  for (auto it = from; it != to; ++it)
    if (SameText(it->second.Name, AFolded)) return &it->second;
  return nullptr;
}

std::string_view TNearNames::Likely(std::string_view AName) const {
  const std::string folded = UpperCased(AName);
  // English plurals, either way: "row"/"rows", "box"/"boxes", "entry"/"entries".
  const auto ends = [&](std::string_view AEnd) {
    return folded.size() > AEnd.size() && std::string_view(folded).ends_with(AEnd);
  };
  const auto stem = [&](std::size_t ACut) { return folded.substr(0, folded.size() - ACut); };
  std::vector<std::string> forms;
  if (ends("IES")) forms.push_back(stem(3) + "Y");
  if (ends("ES")) forms.push_back(stem(2));
  if (ends("S")) forms.push_back(stem(1));
  if (ends("Y")) forms.push_back(stem(1) + "IES");
  forms.push_back(folded + "S");
  forms.push_back(folded + "ES");
  for (const std::string& form : forms)
    if (const TEntry* entry = Exact(form)) return entry->Name;
  if (const std::string_view name = OneEditFrom(AName); !name.empty()) return name;
  for (std::size_t length = std::min(folded.size(), kMaxLength + 1); length-- > 3;)
    if (const TEntry* entry = Exact(folded.substr(0, length))) return entry->Name;
  return {};
}

}  // namespace zoqc
