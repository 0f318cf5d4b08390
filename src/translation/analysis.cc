// One analysis of a page: compile, locate or check, promote.
#include "src/translation/analysis.h"

#include <algorithm>

#include "src/check/check.h"

namespace zoqc {

TAnalysis AnalysePage(std::string AScriptName, TInputText AScript, std::string ATemplateName,
                      TInputText ATemplate, const TWarningSet& AWarnings,
                      const TAnalysisOptions& AOptions, TPageSink* ASink) {
  const bool escape = AOptions.Escape;
  TAnalysis a;
  a.Result = Compile(std::move(AScript), std::move(ATemplate),
                     {.Provenance = AOptions.Provenance, .Escape = escape}, ASink);
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
  const TLeftovers& leftovers = a.Result.Leftovers;
  CheckPage(model, leftovers, *a.Script, *a.Template, EscapeWarnings(AWarnings, escape),
            a.Diagnostics);
  if (escape)  // places it cannot make safe
    CheckEscapes(model, leftovers, *a.Template, a.Diagnostics);
  a.Refused = std::any_of(a.Diagnostics.begin(), a.Diagnostics.end(),
                          [](const TDiagnostic& d) { return d.Severity == TSeverity::Error; });
  for (TDiagnostic& d : a.Diagnostics) {
    if (d.Severity == TSeverity::Error)
      a.Promoted = a.Promoted || AWarnings.AsErrors;
    else if (d.Severity == TSeverity::Warning && AWarnings.IsError(d.Warning))
      d.Severity = TSeverity::Error, d.Promoted = a.Promoted = true;
  }
  return a;
}

TAnalysis AnalysePage(std::string AScriptName, std::string AScript, std::string ATemplateName,
                      std::string ATemplate, const TWarningSet& AWarnings,
                      const TAnalysisOptions& AOptions) {
  const auto script = std::make_shared<const std::string>(std::move(AScript));
  const auto templ = std::make_shared<const std::string>(std::move(ATemplate));
  return AnalysePage(std::move(AScriptName), {*script, script}, std::move(ATemplateName),
                     {*templ, templ}, AWarnings, AOptions);
}

std::string ResultLine(const TAnalysis& APage, std::string_view APrefix) {
  if (!APage.Result.Ok()) return std::string(ErrorLine(APage.Result.Error)) + '\n';
  if (APage.Promoted) return std::string(APrefix) + "Error:warnings are errors (-Werror)\n";
  if (APage.Failed()) return "";
  return std::string(APrefix) + "Compile sucessful.\n";
}

TCompileResult TranslateAgain(const TCompileResult& APage, bool AProvenance) {
  TCompileOptions options = APage.Options;
  options.Provenance = options.Provenance || AProvenance;
  const TPageModel& model = *APage.Model;
  return Compile(TInputText{model.Script.Text, APage.Storage},
                 TInputText{model.Template, APage.Storage}, options);
}

}  // namespace zoqc
