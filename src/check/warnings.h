// The warnings: their names, which are on by default, and the set a run asks for.
#pragma once

#include <bitset>
#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

namespace zoqc {

enum class TWarning : std::size_t {
  // On by default: these mistakes always break the page.
  UnknownBlock,        // "<<+rows" where no block "rows" is defined
  LooseOperator,       // a block variable whose expression binds more loosely than "."
  EmptyExpression,     // "<<title<<" with nothing after it
  MissingMarker,       // a block of the script without its exact markers (or with near misses)
  OrphanMarker,        // a marker whose block the script never defines
  NestingOrder,        // an outer block defined before the block it holds
  DifferingCopy,       // a second copy of a block that differs from the first
  MissingPhpTag,       // a script whose first line is not "<?php"
  Bom,                 // a UTF-8 byte-order mark at the start of an input
  IndentedStatement,   // "    <<title<<$t": an indented statement line stays in the PHP
  BrokenSplice,        // a block variable "1", "$n + 1" or "$x;" that breaks the splice
  RewrittenReference,  // "<<+row" inside a line of PHP code, which is rewritten all the same
  PlaceholderTypo,     // "{sumary}" where "summary" is bound (or the binding is the typo)
  TemplateVariableInBlock,  // "{title}" inside a block where "title" is bound outside it
  StatementInComment,       // a statement line inside a PHP "/* ... */" comment: still live
  AppendBeforeDefinition,   // "<<+row" above the "<<*row" that resets its buffer
  UnescapedRequest,    // "<<q<<$_GET['q']" printed without an escaper (not under --escape)
  RawPlaceholder,      // "{!name}", which prints raw only under --escape
  StatementInTemplate,        // "<<t<<$t" in the template, which prints it as text
  PhpVariablePlaceholder,     // "{$q}" where "q" is bound: printed as written
  BlockVariableOutsideBlock,  // "{title}" where only a block's "<<<title<<" binds it
  UnusedBlock,                // a block defined but never appended, and not on purpose
  // Only under -Wall: JavaScript or CSS braces can trigger these.
  UnboundPlaceholder,  // "{titel}" with no binding of that name
  UnusedBinding,       // a name bound but never placed
  DuplicateBinding,    // a name bound twice
  PreNewline,          // a placeholder that ends a line inside <pre> or <textarea>
  Count
};

inline constexpr std::size_t kWarningCount = static_cast<std::size_t>(TWarning::Count);

struct TWarningInfo {
  std::string_view Name;  // as in -Wname
  bool DefaultOn;
};

// Indexed by TWarning.
inline constexpr TWarningInfo kWarnings[kWarningCount] = {
    {"unknown-block", true},        {"loose-operator", true},       {"empty-expression", true},
    {"missing-marker", true},       {"orphan-marker", true},        {"nesting-order", true},
    {"differing-copy", true},       {"missing-php-tag", true},      {"bom", true},
    {"indented-statement", true},   {"broken-splice", true},        {"rewritten-reference", true},
    {"placeholder-typo", true},     {"template-variable-in-block", true},
    {"statement-in-comment", true}, {"append-before-definition", true},
    {"unescaped-request", true},    {"raw-placeholder", true},
    {"statement-in-template", true}, {"php-variable-placeholder", true},
    {"block-variable-outside-block", true}, {"unused-block", true},
    {"unbound-placeholder", false}, {"unused-binding", false},      {"duplicate-binding", false},
    {"pre-newline", false},
};

// The warnings a run reports, and whether they count as errors.
struct TWarningSet {
  std::bitset<kWarningCount> On;
  bool AsErrors = false;               // -Werror
  std::bitset<kWarningCount> Errors;   // -Werror=name
  std::bitset<kWarningCount> NoError;  // -Wno-error=name: not an error even under -Werror

  bool Has(TWarning AWarning) const { return On.test(static_cast<std::size_t>(AWarning)); }
  bool Any() const { return On.any(); }
  // Whether the warning named AName ("bom") is reported as an error.
  bool IsError(std::string_view AName) const;
};

// True for the warnings whose mistake leaves text in the page's PHP that PHP cannot parse: the
// page is written all the same, and the driver says so once.
inline constexpr bool BreaksPage(TWarning AWarning) {
  return AWarning == TWarning::UnknownBlock || AWarning == TWarning::IndentedStatement ||
         AWarning == TWarning::BrokenSplice || AWarning == TWarning::RewrittenReference;
}

// The warning named AName, or false when there is none.
[[nodiscard]] inline bool FindWarning(std::string_view AName, TWarning& AWarning) {
  for (std::size_t idx = 0; idx < kWarningCount; ++idx)
    if (kWarnings[idx].Name == AName) {
      AWarning = static_cast<TWarning>(idx);
      return true;
    }
  return false;
}

// AWarnings for a page translated with --escape (AEscape) or without: escaped output has no
// unescaped request data, and prints "{!name}".
inline TWarningSet EscapeWarnings(TWarningSet AWarnings, bool AEscape) {
  if (AEscape) {
    AWarnings.On.reset(static_cast<std::size_t>(TWarning::UnescapedRequest));
    AWarnings.On.reset(static_cast<std::size_t>(TWarning::RawPlaceholder));
  }
  return AWarnings;
}

inline bool TWarningSet::IsError(std::string_view AName) const {
  TWarning warning;
  if (!FindWarning(AName, warning)) return AsErrors;
  const std::size_t idx = static_cast<std::size_t>(warning);
  return Errors.test(idx) || (AsErrors && !NoError.test(idx));
}

// The default set.
inline TWarningSet DefaultWarnings() {
  TWarningSet set;
  for (std::size_t idx = 0; idx < kWarningCount; ++idx) set.On[idx] = kWarnings[idx].DefaultOn;
  return set;
}

// The warnings as -W options ask: the defaults, or all with -Wall; then each -Wname or
// -Wno-name, whatever its place; none at all with -w. As with compilers, -Wno-all and
// -Wno-error undo -Wall and -Werror, and of each pair the last one given counts; -Werror=name
// turns the warning on and makes it an error, and -Wno-error=name keeps it a warning even
// under -Werror.
struct TWarningSwitches {
  bool All = false;
  bool None = false;
  bool Errors = false;
  std::vector<std::pair<TWarning, bool>> Each;
  std::vector<std::pair<TWarning, bool>> EachError;

  // Takes what follows "-W" ("bom", "no-bom", "all", "no-error", "error=bom",
  // "no-error=bom"); false for an unknown name.
  [[nodiscard]] bool Add(std::string_view AArgument) {
    const bool on = !AArgument.starts_with("no-");
    std::string_view name = on ? AArgument : AArgument.substr(3);
    if (name == "all" || name == "error") {
      (name == "all" ? All : Errors) = on;
      return true;
    }
    const bool error = name.starts_with("error=");
    if (error) name.remove_prefix(6);
    TWarning warning;
    if (!FindWarning(name, warning)) return false;
    (error ? EachError : Each).emplace_back(warning, on);
    return true;
  }
  TWarningSet Resolve() const {
    TWarningSet set = DefaultWarnings();
    if (All) set.On.set();
    for (const auto& [warning, on] : Each) set.On[static_cast<std::size_t>(warning)] = on;
    for (const auto& [warning, on] : EachError) {
      const std::size_t idx = static_cast<std::size_t>(warning);
      set.Errors[idx] = on, set.NoError[idx] = !on;
      if (on) set.On.set(idx);
    }
    if (None) set.On.reset();
    set.AsErrors = Errors;
    return set;
  }
};

}  // namespace zoqc
