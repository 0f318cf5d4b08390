// One analysis of a page for every client (the command line, the language server and the
// playground): the translation, the located error that stopped it or the warnings, and -Werror.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "src/check/diagnostic.h"
#include "src/check/warnings.h"
#include "src/translation/compile.h"

namespace zoqc {

// A page translated and checked. Movable: the sources and the model stay where they are, so
// the diagnostics' places stay valid for as long as the analysis lives.
struct TAnalysis {
  TCompileResult Result;
  std::unique_ptr<TSource> Script;       // named as given; views Result's script
  std::unique_ptr<TSource> Template;     // named as given; views Result's template
  std::vector<TDiagnostic> Diagnostics;  // the error alone, or the warnings in reading order
  bool Promoted = false;                 // -Werror made warnings errors: no page is written
  bool Refused = false;                  // --escape found a place it cannot make safe

  // The page must not be written: an error stopped the translation, --escape refused, or -Werror.
  bool Failed() const { return !Result.Ok() || Refused || Promoted; }
};

// Translates AScript and ATemplate (with APlaceholders, the placeholders listed in the model
// whatever AWarnings need), locates an error that stops the translation, or checks the page
// for AWarnings; with AWarnings.AsErrors every warning becomes an error.
// With ASink the page goes into it as it is made (see Compile); with AEscape every value is
// printed escaped for its place, and a place that cannot be made safe is an error.
TAnalysis AnalysePage(std::string AScriptName, TInputText AScript, std::string ATemplateName,
                      TInputText ATemplate, const TWarningSet& AWarnings,
                      bool APlaceholders = false, TPageSink* ASink = nullptr,
                      bool AEscape = false);
// The same for inputs held in strings.
TAnalysis AnalysePage(std::string AScriptName, std::string AScript, std::string ATemplateName,
                      std::string ATemplate, const TWarningSet& AWarnings,
                      bool APlaceholders = false, bool AEscape = false);

}  // namespace zoqc
