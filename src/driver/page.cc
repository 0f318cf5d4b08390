// One page's run: loading, translation, writing and the reports.
#include "src/driver/page.h"

#include <filesystem>
#include <iterator>
#include <new>
#include <sstream>
#include <utility>

#include "src/check/check.h"
#include "src/check/render.h"
#include "src/driver/command_line.h"
#include "src/driver/failure_report.h"
#include "src/driver/out_of_memory.h"
#include "src/platform/files.h"
#include "src/text/shown.h"
#include "src/translation/compile.h"

namespace zoqc {

namespace {

using TDiagnostics = std::vector<TDiagnostic>;

// Renders ADiags into what the page's run says on standard error: text, or JSON objects. Runs
// while the inputs that their places point into are alive.
void Report(TPageResult& AResult, const TOptions& AOptions, const TDiagnostics& ADiags) {
  for (const TDiagnostic& d : ADiags) AResult.Warnings += !d.Warning.empty();
  if (AOptions.Json) {
    std::vector<std::string> objects = RenderJsonObjects(ADiags);
    std::move(objects.begin(), objects.end(), std::back_inserter(AResult.Json));
  } else {
    AResult.Err += RenderText(ADiags, AOptions.Color, AOptions.MaxDiagnostics);
  }
}

// A failure that concerns a whole file: "zoqc: MESSAGE".
TDiagnostic FileDiagnostic(const std::string& AFile, std::string AMessage) {
  TDiagnostic d;
  d.Place.File = AFile;
  d.Message = std::move(AMessage);
  return d;
}

// The failure report: where it happened, kind and message, the call stack, an empty line.
// On standard error the same failure with the system's reason.
int ReportFailure(std::ostream& AOut, TPageResult& AResult, const TOptions& AOptions,
                  const std::string& AFile, const TFileFailure& AFailure) {
  std::string what = AFailure.Kind == kOutOfMemoryKind  ? "out of memory"
                     : AFailure.Kind == "EFOpenError"   ? "cannot open '" + AFile + "'"
                     : AFailure.Kind == "EReadError"    ? "cannot read '" + AFile + "'"
                     : AFailure.Kind == "EFCreateError" ? "cannot create '" + AFile + "'"
                                                        : "cannot write '" + AFile + "'";
  if (!AFailure.Reason.empty()) what += ": " + AFailure.Reason;
  Report(AResult, AOptions, {FileDiagnostic(AFile, std::move(what))});
  // The message names the file: its control bytes must not reach the terminal raw.
  AOut << FailureReport(AFailure.Kind, ControlsEscaped(AFailure.Message), AFailure.Location);
  return kExitFileFailure;
}

// Error(1) on standard error: which input is missing, or is a directory.
void ReportMissing(TDiagnostics& ADiags, const std::string& AFile, std::string_view AWhat) {
  if (IsFileFound(AFile)) return;
  std::error_code ec;
  const bool directory = std::filesystem::is_directory(AFile, ec);
  ADiags.push_back(FileDiagnostic(
      AFile, directory ? "the " + std::string(AWhat) + " '" + AFile + "' is a directory"
                       : "cannot find the " + std::string(AWhat) + " '" + AFile + "'"));
}

// Loads, translates, checks and writes; the names are set and both inputs exist.
int Translate(std::ostream& AOut, TPageResult& AResult, const TPageJob& AJob,
              const TOptions& AOptions) {
  TFileFailure failure;
  std::string script;
  std::string templ;
  if (!LoadFile(AJob.ScriptFileName, script, failure))
    return ReportFailure(AOut, AResult, AOptions, AJob.ScriptFileName, failure);
  if (!LoadFile(AJob.TemplateFileName, templ, failure))
    return ReportFailure(AOut, AResult, AOptions, AJob.TemplateFileName, failure);
  // The checks read the inputs as loaded, and their warnings are rendered before the template
  // moves on; they are said only if the translation succeeds.
  const TSource source(AJob.ScriptFileName, script);
  TPageResult warned;
  bool any_warning = false;
  {
    const TSource template_source(AJob.TemplateFileName, templ);
    TDiagnostics warnings;
    CheckPage(source, template_source, AOptions.Warnings, warnings);
    any_warning = !warnings.empty();
    if (AOptions.Warnings.AsErrors)
      for (TDiagnostic& d : warnings) d.Severity = TSeverity::Error, d.Promoted = true;
    Report(warned, AOptions, warnings);
  }
  TCompileResult result = Compile(script, std::move(templ));
  if (result.ExitCode != kExitSuccess) {  // the error alone: what follows it may be its echo
    AOut << result.Message << '\n';
    if (result.FailPos > 0) {
      Report(AResult, AOptions, {LocateStatementError(source, result.FailPos)});
    } else if (result.Message.starts_with("Error(4)")) {
      const TSource template_source(AJob.TemplateFileName, result.Template);
      Report(AResult, AOptions, {LocateMarkerError(source, template_source, result.FailBlock)});
    }
    return result.ExitCode;
  }
  AResult.Warnings += warned.Warnings;
  AResult.Err += warned.Err;
  std::move(warned.Json.begin(), warned.Json.end(), std::back_inserter(AResult.Json));
  if (AOptions.Warnings.AsErrors && any_warning)
    return kExitError;  // the page is not written; an old one stays as it was
  if (AOptions.Check) return kExitSuccess;
  std::string().swap(script);  // give the memory back before the output is written
  if (!WriteOutputFile(AJob.PhpFileName, result.Page(), failure))
    return ReportFailure(AOut, AResult, AOptions, AJob.PhpFileName, failure);
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
  try {  // rendering what the page says may run out of memory too
    if (!ScriptAndTemplateFileFound(AJob.ScriptFileName, AJob.TemplateFileName)) {
      ErrorFileNotFound(out, ControlsEscaped(AJob.ScriptFileName),
                        ControlsEscaped(AJob.TemplateFileName));
      TDiagnostics missing;
      ReportMissing(missing, AJob.ScriptFileName, "script");
      ReportMissing(missing, AJob.TemplateFileName, "template");
      Report(result, AOptions, missing);
      result.ExitCode = kExitError;
    } else {
      result.ExitCode = Translate(out, result, AJob, AOptions);
    }
  } catch (const std::bad_alloc&) {
    result = TPageResult();
    RenewOutOfMemoryReserve();
    result.ExitCode = ReportFailure(out, result, AOptions, AJob.PhpFileName,
                                    {std::string(kOutOfMemoryKind),
                                     std::string(kOutOfMemoryMessage), kOutOfMemoryLocation, ""});
  }
  result.Out = out.str();
  return result;
}

}  // namespace zoqc
