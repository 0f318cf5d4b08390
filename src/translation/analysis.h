// One analysis of a page for every client (the command line, the language server and the
// playground): the translation, the located error that stopped it or the warnings, and -Werror.
#pragma once

#include <memory>
#include <string>
#include <string_view>
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

// How a page is translated: the same for the page written and for every other translation of
// it (the write's second try, PHP's questions, --explain, the language server's commands).
struct TAnalysisOptions {
  bool Escape = false;      // --escape: every value printed escaped for its place
  bool Provenance = false;  // record where every byte of the page came from
};

// Translates AScript and ATemplate, locates an error that stops the translation, or checks the
// page for AWarnings; with AWarnings.AsErrors every warning becomes an error.
// With ASink the page goes into it as it is made (see Compile); with AOptions.Escape every value
// is printed escaped for its place, and a place that cannot be made safe is an error.
TAnalysis AnalysePage(std::string AScriptName, TInputText AScript, std::string ATemplateName,
                      TInputText ATemplate, const TWarningSet& AWarnings,
                      const TAnalysisOptions& AOptions = {}, TPageSink* ASink = nullptr);
// The same for inputs held in strings.
TAnalysis AnalysePage(std::string AScriptName, std::string AScript, std::string ATemplateName,
                      std::string ATemplate, const TWarningSet& AWarnings,
                      const TAnalysisOptions& AOptions = {});

// What the console says of APage, the line after its diagnostics: the error's line ("Error(2):need
// <<"), "Error:warnings are errors (-Werror)", nothing for a page --escape refused, or "Compile
// sucessful." for a page that may be written. Every line but the error's starts with APrefix
// (the page's name, among several).
std::string ResultLine(const TAnalysis& APage, std::string_view APrefix = {});

// The page of APage (a translation that succeeded) made again from the same inputs with the
// options it was made with: listed in pieces, as a page that went into a sink is not, and with
// its provenance when AProvenance. No side path can lose --escape this way.
TCompileResult TranslateAgain(const TCompileResult& APage, bool AProvenance = false);

}  // namespace zoqc
