// Variable substitution: one left-to-right pass over the template.
#include "src/template/variables.h"

#include <vector>

#include "src/text/text.h"

namespace zoqc {

TPlaceholderIndex::TPlaceholderIndex(const THashTable* ATable) {
  if (!ATable) return;
  ATable->GetKeys(Keys);
  for (const std::string& key : Keys) ByName.emplace(key, ATable->Lookup(key));  // first wins
}

const std::string* TPlaceholderIndex::Match(std::string_view AText, std::size_t AIdx,
                                            std::size_t& ALength) const {
  std::size_t end = AIdx + 1;  // past "{"
  while (end < AText.size() && IsNameChar(AText[end])) ++end;
  if (end >= AText.size() || AText[end] != '}') return nullptr;
  const auto it = ByName.find(AText.substr(AIdx + 1, end - AIdx - 1));
  if (it == ByName.end()) return nullptr;
  ALength = end + 1 - AIdx;
  return it->second;
}

void AppendSubstituted(std::string& AOut, std::string_view AText, const TPlaceholderIndex& ANames,
                       std::string_view APrefix, std::string_view ASuffix) {
  if (ANames.Empty()) {
    AOut.append(AText);
    return;
  }
  std::size_t done = 0;  // AText before this index is in AOut
  for (std::size_t idx = AText.find('{'); idx != std::string_view::npos;
       idx = AText.find('{', idx)) {
    std::size_t length = 0;
    const std::string* expr = ANames.Match(AText, idx, length);
    if (!expr) {
      ++idx;
      continue;
    }
    AOut.append(AText.substr(done, idx - done));
    AOut.append(APrefix).append(*expr).append(ASuffix);
    idx += length;
    done = idx;
  }
  AOut.append(AText.substr(done));
}

void SubstituteVariables(const TRunState& Run, std::string& APage) {
  APage.reserve(APage.size() + Run.TemplateStr.size());
  AppendSubstituted(APage, Run.TemplateStr, TPlaceholderIndex(&Run.VarList), "<?php echo ", ";?>");
}

}  // namespace zoqc
