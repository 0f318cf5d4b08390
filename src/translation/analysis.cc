// One analysis of a page: compile, locate or check, promote.
#include "src/translation/analysis.h"

#include "src/check/check.h"

namespace zoqc {

TAnalysis AnalysePage(std::string AScriptName, std::string AScript, std::string ATemplateName,
                      std::string ATemplate, const TWarningSet& AWarnings, bool APlaceholders) {
  TAnalysis a;
  a.Result = Compile(std::move(AScript), std::move(ATemplate),
                     {.Placeholders = APlaceholders || NeedsPlaceholders(AWarnings)});
  const TPageModel& model = *a.Result.Model;
  a.Script = std::make_unique<TSource>(std::move(AScriptName), model.Script.Text);
  a.Template = std::make_unique<TSource>(std::move(ATemplateName), model.Template);
  if (a.Result.Error == TCompileError::BlockOrder) {
    a.Diagnostics.push_back(LocateMarkerError(model, *a.Script, *a.Template, a.Result.FailBlock));
    return a;
  }
  if (!a.Result.Ok()) {
    a.Diagnostics.push_back(LocateStatementError(model, *a.Script));
    return a;
  }
  CheckPage(model, *a.Script, *a.Template, AWarnings, a.Diagnostics);
  if (AWarnings.AsErrors && !a.Diagnostics.empty()) {
    a.Promoted = true;
    for (TDiagnostic& d : a.Diagnostics) d.Severity = TSeverity::Error, d.Promoted = true;
  }
  return a;
}

}  // namespace zoqc
