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
  const char* const verbs[] = {"open", "read", "create", "write"};  // as TFileFailureKind
  const auto kind = static_cast<std::size_t>(AFailure.Kind);
  std::string what = AFailure.Kind == TFileFailureKind::OutOfMemory
                         ? "out of memory"
                         : std::string("cannot ") + verbs[kind] + " '" + AFile + "'";
  if (!AFailure.Reason.empty()) what += ": " + AFailure.Reason;
  AddFileDiagnostic(ADiags, AFile, std::move(what));
  AOut << FailureReport(AFailure);
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

// Loads, translates, checks and writes; the names are set and both inputs exist.
int Translate(std::ostream& AOut, TDiagnostics& ADiags, const TPageJob& AJob,
              const TOptions& AOptions, TFileSystem& AFiles, TStagedOutput* AStaged) {
  TFileFailure failure;
  std::string script;
  std::string templ;
  if (!LoadFile(AJob.ScriptFileName, script, failure, AFiles))
    return ReportFailure(AOut, ADiags, AJob.ScriptFileName, failure);
  if (!LoadFile(AJob.TemplateFileName, templ, failure, AFiles))
    return ReportFailure(AOut, ADiags, AJob.TemplateFileName, failure);
  // The checks read the inputs as loaded, so they run before the template moves on.
  const TSource source(AJob.ScriptFileName, script);
  TDiagnostics warnings;
  CheckPage(source, TSource(AJob.TemplateFileName, templ), AOptions.Warnings, warnings);
  TCompileResult result = Compile(script, std::move(templ));
  if (result.ExitCode != kExitSuccess) {  // the error alone: what follows it may be its echo
    AOut << result.Message << '\n';
    if (result.FailPos > 0) {
      ADiags.push_back(LocateStatementError(source, result.FailPos));
    } else if (result.Message.starts_with("Error(4)")) {
      ADiags.push_back(LocateMarkerError(source, TSource(AJob.TemplateFileName, result.Template),
                                         result.FailBlock));
    }
    return result.ExitCode;
  }
  std::move(warnings.begin(), warnings.end(), std::back_inserter(ADiags));
  if (AOptions.Warnings.AsErrors && !ADiags.empty()) {
    for (TDiagnostic& d : ADiags) d.Severity = TSeverity::Error, d.Promoted = true;
    return kExitError;  // the page is not written; an old one stays as it was
  }
  if (AOptions.Check) return kExitSuccess;
  std::string().swap(script);  // give the memory back before the output is written
  if (AStaged ? !StageOutputFile(AJob.PhpFileName, result.Page(), *AStaged, failure, AFiles)
              : !WriteOutputFile(AJob.PhpFileName, result.Page(), failure, AFiles))
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

TPageResult TranslatePage(const TPageJob& AJob, const TOptions& AOptions, TFileSystem& AFiles,
                          TStagedOutput* AStaged) {
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
      result.ExitCode = Translate(out, diags, AJob, AOptions, AFiles, AStaged);
    } catch (const std::bad_alloc&) {
      diags.clear();
      RenewOutOfMemoryReserve();
      result.ExitCode = ReportFailure(out, diags, AJob.PhpFileName,
                                      {TFileFailureKind::OutOfMemory, AJob.PhpFileName, ""});
    }
  }
  result.Out = out.str();
  for (const TDiagnostic& d : diags) result.Warnings += !d.Warning.empty();
  if (!AOptions.Json) result.Err = RenderText(diags, AOptions.Color);
  return result;
}

void ReportCommitFailure(TPageResult& AResult, const TPageJob& AJob, const TFileFailure& AFailure,
                         const TOptions& AOptions) {
  std::ostringstream out;
  AResult.ExitCode = ReportFailure(out, AResult.Diagnostics, AJob.PhpFileName, AFailure);
  AResult.Out = out.str();
  if (!AOptions.Json) AResult.Err = RenderText(AResult.Diagnostics, AOptions.Color);
}

}  // namespace zoqc
