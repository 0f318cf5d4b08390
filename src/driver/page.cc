// One page's run: loading, translation, writing and the reports.
#include "src/driver/page.h"

#include <filesystem>
#include <iterator>
#include <new>
#include <sstream>
#include <utility>

#include "src/check/check.h"
#include "src/check/page_origin.h"
#include "src/check/render.h"
#include "src/driver/command_line.h"
#include "src/driver/failure_report.h"
#include "src/driver/lint.h"
#include "src/driver/out_of_memory.h"
#include "src/platform/files.h"
#include "src/translation/compile.h"

namespace zoqc {

namespace {

// What a page's run has found to say on standard error.
using TDiagnostics = std::vector<TDiagnostic>;

// A failure that concerns a whole file: "zoqc: MESSAGE".
void AddFileDiagnostic(TDiagnostics& ADiags, const std::string& AFile, std::string AMessage) {
  TDiagnostic& d = ADiags.emplace_back();
  d.Place.File = AFile;
  d.Message = std::move(AMessage);
}

// The failure report: where it happened, kind and message, the call stack, an empty line.
// On standard error the same failure with the system's reason.
int ReportFailure(std::ostream& AOut, TDiagnostics& ADiags, const std::string& AFile,
                  const TFileFailure& AFailure) {
  std::string what = AFailure.Kind == kOutOfMemoryKind  ? "out of memory"
                     : AFailure.Kind == "EFOpenError"   ? "cannot open '" + AFile + "'"
                     : AFailure.Kind == "EReadError"    ? "cannot read '" + AFile + "'"
                     : AFailure.Kind == "EFCreateError" ? "cannot create '" + AFile + "'"
                                                        : "cannot write '" + AFile + "'";
  if (!AFailure.Reason.empty()) what += ": " + AFailure.Reason;
  AddFileDiagnostic(ADiags, AFile, std::move(what));
  AOut << FailureReport(AFailure.Kind, AFailure.Message, AFailure.Location);
  return kExitFileFailure;
}

// Error(1) on standard error: which input is missing, or is a directory.
void ReportMissing(TDiagnostics& ADiags, const std::string& AFile, std::string_view AWhat) {
  if (IsFileFound(AFile)) return;
  std::error_code ec;
  const bool directory = std::filesystem::is_directory(AFile, ec);
  AddFileDiagnostic(ADiags, AFile,
                    directory ? "the " + std::string(AWhat) + " '" + AFile + "' is a directory"
                              : "cannot find the " + std::string(AWhat) + " '" + AFile + "'");
}

// Has PHP parse the page of AResult: a page it cannot parse is an error at the place in the
// sources behind the line PHP names; a PHP that fails is an error for the page.
int LintPage(TDiagnostics& ADiags, const TPageJob& AJob, const TOptions& AOptions,
             const TCompileResult& AResult, const TSource& AScript, const TSource& ATemplate) {
  TLintAnswer answer;
  std::string failure;
  if (!AOptions.Linter->Check(AResult.Page(), answer, failure)) {
    AddFileDiagnostic(ADiags, AJob.PhpFileName,
                      failure + "; '" + AJob.PhpFileName + "' is not written");
    return kExitError;
  }
  if (answer.Clean) return kExitSuccess;
  // Translated again with the page's provenance, which only a page in error needs.
  const TPageModel& model = *AResult.Model;
  const TCompileResult traced =
      Compile(std::string(model.Script.Text), std::string(model.Template), {.Provenance = true});
  // Where several bindings share the line, each expression alone, as the page uses it.
  const auto parses = [&](const TStatement& AStatement) {
    const std::string_view expr = AStatement.Expr.Of(model.Script.Text);
    const bool echo = AStatement.Kind == TStatementKind::TemplateVar;
    const std::string_view pieces[] = {echo ? "<?php echo " : "<?php $_=\"\".", expr,
                                       echo ? ";?>" : ".\"\";"};
    TLintAnswer alone;
    std::string ignored;
    return !AOptions.Linter->Check(pieces, alone, ignored) || alone.Clean;
  };
  ADiags.push_back(PhpParseError(*traced.Model, *traced.Origins, AScript, ATemplate,
                                 AJob.PhpFileName, answer.Line, answer.Message, parses));
  return kExitError;  // the page is not written; an old one stays as it was
}

// Loads, translates, checks and writes; the names are set and both inputs exist.
int Translate(std::ostream& AOut, TDiagnostics& ADiags, const TPageJob& AJob,
              const TOptions& AOptions) {
  TFileFailure failure;
  std::string script;
  std::string templ;
  if (!LoadFile(AJob.ScriptFileName, script, failure))
    return ReportFailure(AOut, ADiags, AJob.ScriptFileName, failure);
  if (!LoadFile(AJob.TemplateFileName, templ, failure))
    return ReportFailure(AOut, ADiags, AJob.TemplateFileName, failure);
  TCompileResult result = Compile(std::move(script), std::move(templ),
                                  {.Placeholders = NeedsPlaceholders(AOptions.Warnings)});
  const TPageModel& model = *result.Model;
  const TSource source(AJob.ScriptFileName, model.Script.Text);
  const TSource template_source(AJob.TemplateFileName, model.Template);
  if (!result.Ok()) {  // the error alone: what follows it may be its echo
    AOut << ErrorLine(result.Error) << '\n';
    if (result.Error == TCompileError::BlockOrder)
      ADiags.push_back(LocateMarkerError(model, source, template_source, result.FailBlock));
    else
      ADiags.push_back(LocateStatementError(model, source));
    return result.ExitCode();
  }
  TDiagnostics warnings;
  CheckPage(model, source, template_source, AOptions.Warnings, warnings);
  std::move(warnings.begin(), warnings.end(), std::back_inserter(ADiags));
  if (AOptions.Warnings.AsErrors && !ADiags.empty()) {
    for (TDiagnostic& d : ADiags) d.Severity = TSeverity::Error, d.Promoted = true;
    return kExitError;  // the page is not written; an old one stays as it was
  }
  if (AOptions.Linter) {
    const int lint = LintPage(ADiags, AJob, AOptions, result, source, template_source);
    if (lint != kExitSuccess) return lint;
  }
  if (AOptions.Check) return kExitSuccess;
  if (!WriteOutputFile(AJob.PhpFileName, result.Page(), failure))
    return ReportFailure(AOut, ADiags, AJob.PhpFileName, failure);
  if (!AOptions.Quiet) AOut << "Compile sucessful.\n";
  return kExitSuccess;
}

}  // namespace

TPageJob PageJobOf(std::string_view AArgument) {
  TPageJob job;
  GetScriptAndTemplateFileName(AArgument, job.ScriptFileName, job.TemplateFileName,
                               job.PhpFileName);
  return job;
}

TPageResult TranslatePage(const TPageJob& AJob, const TOptions& AOptions) {
  TPageResult result;
  std::ostringstream out;
  TDiagnostics& diags = result.Diagnostics;
  if (!ScriptAndTemplateFileFound(AJob.ScriptFileName, AJob.TemplateFileName)) {
    ErrorFileNotFound(out, AJob.ScriptFileName, AJob.TemplateFileName);
    ReportMissing(diags, AJob.ScriptFileName, "script");
    ReportMissing(diags, AJob.TemplateFileName, "template");
    result.ExitCode = kExitError;
  } else {
    try {
      result.ExitCode = Translate(out, diags, AJob, AOptions);
    } catch (const std::bad_alloc&) {
      diags.clear();
      RenewOutOfMemoryReserve();
      result.ExitCode = ReportFailure(out, diags, AJob.PhpFileName,
                                      {std::string(kOutOfMemoryKind),
                                       std::string(kOutOfMemoryMessage), kOutOfMemoryLocation, ""});
    }
  }
  result.Out = out.str();
  for (const TDiagnostic& d : diags) result.Warnings += !d.Warning.empty();
  if (!AOptions.Json) result.Err = RenderText(diags, AOptions.Color);
  return result;
}

}  // namespace zoqc
