// The checks of a page: warnings for the mistakes that translate silently, and the located form
// of the errors that stop a translation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "src/check/diagnostic.h"
#include "src/check/warnings.h"
#include "src/html/html_context.h"
#include "src/model/page_model.h"

namespace zoqc {

// True when the checks of AWarnings read the template's placeholders.
bool NeedsPlaceholders(const TWarningSet& AWarnings);

// Appends a warning for each mistake of AWarnings found in AModel, a page that translated
// without error and left ALeftovers; AScript and ATemplate are its inputs with their names.
void CheckPage(const TPageModel& AModel, const TLeftovers& ALeftovers, const TSource& AScript,
               const TSource& ATemplate, const TWarningSet& AWarnings,
               std::vector<TDiagnostic>& AOut);

// Under --escape: an error for each placeholder that the page would print where nothing can
// make a value safe (a tag or attribute name, a declaration, PHP code), or in an unquoted
// attribute value (with the quotes as fix-its), and for each placeholder of a block's later copy
// that needs another escaper than the first copy's. AModel is a page that translated without
// error and left ALeftovers.
void CheckEscapes(const TPageModel& AModel, const TLeftovers& ALeftovers, const TSource& ATemplate,
                  std::vector<TDiagnostic>& AOut);

// Error(2), (3) or (5) at AModel's last statement, where the scan stopped, saying why.
TDiagnostic LocateStatementError(const TPageModel& AModel, const TSource& AScript);

// Error(4) for ABlock: where its BEGIN marker stands, with notes on its END marker (misplaced or
// nearly right) and on the line that defines the block.
TDiagnostic LocateMarkerError(const TPageModel& AModel, const TSource& AScript,
                              const TSource& ATemplate, std::string_view ABlock);

// The first operator of a block variable's expression that binds more loosely than ".", or a
// comment, outside parentheses, brackets and string literals.
struct TLooseOperator {
  std::size_t Offset;  // in the expression
  std::size_t Length;
  bool Comment;  // "//" or "#": runs to the end of the line
};
std::optional<TLooseOperator> FindLooseOperator(std::string_view AExpr);

}  // namespace zoqc
