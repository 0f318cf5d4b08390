// Variable substitution: "{name}" placeholders become the PHP bound to name.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "src/state/run_state.h"
#include "src/tables/VarHashtable.h"
#include "src/text/text.h"

namespace zoqc {

// The names of one table, for matching placeholders "{" K "}" (K a run of name characters,
// possibly empty) up to ASCII case: K selects the first key of the table's listing order that
// equals K without regard to case.
class TPlaceholderIndex {
 public:
  explicit TPlaceholderIndex(const THashTable* ATable);  // a null table matches nothing

  bool Empty() const { return ByName.empty(); }
  // When AText holds a placeholder of a key at AIdx (0-based, on its "{"), yields that key's
  // expression and sets ALength to the placeholder's length; otherwise yields null.
  const std::string* Match(std::string_view AText, std::size_t AIdx, std::size_t& ALength) const;

 private:
  std::vector<std::string> Keys;  // the table's keys, which ByName views
  std::unordered_map<std::string_view, const std::string*, TSameTextHash, TSameTextEqual>
      ByName;  // key, compared up to case -> expression
};

// Appends AText to AOut with each placeholder of ANames replaced by APrefix, its expression and
// ASuffix, in one pass: inserted text is never searched again.
void AppendSubstituted(std::string& AOut, std::string_view AText, const TPlaceholderIndex& ANames,
                       std::string_view APrefix, std::string_view ASuffix);

// Appends Run.TemplateStr to APage with each placeholder of Run.VarList replaced by
// "<?php echo " expression ";?>".
void SubstituteVariables(const TRunState& Run, std::string& APage);

}  // namespace zoqc
