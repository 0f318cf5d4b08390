// One page's run: loading, translation, writing and the reports.
#include "src/driver/page.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <new>
#include <optional>
#include <sstream>
#include <utility>

#include "src/check/render.h"
#include "src/driver/command_line.h"
#include "src/driver/failure_report.h"
#include "src/driver/lint.h"
#include "src/driver/missing_input.h"
#include "src/driver/out_of_memory.h"
#include "src/platform/files.h"
#include "src/platform/memory.h"
#include "src/text/large_blocks.h"
#include "src/text/shown.h"
#include "src/translation/analysis.h"

namespace zoqc {

namespace {

using TDiagnostics = std::vector<TDiagnostic>;

// What a page's run reads: what it was asked, and what the driver set up for it.
struct TPageRun {
  const TOptions& Options;
  const TRunParts& Parts;
};

// Renders ADiags into what the page's run says on standard error: text, or JSON objects. Runs
// while the inputs that their places point into are alive.
void Report(TPageResult& AResult, const TPageRun& ARun, const TDiagnostics& ADiags) {
  for (const TDiagnostic& d : ADiags)
    (d.Promoted ? AResult.Promoted : AResult.Warnings) += !d.Warning.empty();
  if (ARun.Options.Json) {
    std::vector<std::string> objects = RenderJsonObjects(ADiags);
    std::move(objects.begin(), objects.end(), std::back_inserter(AResult.Json));
  } else {
    AResult.Err += RenderText(ADiags, ARun.Options.Color, ARun.Options.MaxDiagnostics);
  }
  if (ARun.Parts.Listener)
    AResult.Coloured += RenderText(ADiags, true, ARun.Options.MaxDiagnostics);
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
int ReportFailure(std::ostream& AOut, TPageResult& AResult, const TPageRun& ARun,
                  const std::string& AFile, const TFileFailure& AFailure) {
  const char* const verbs[] = {"open", "read", "create", "write"};  // as TFileFailureKind
  const auto kind = static_cast<std::size_t>(AFailure.Kind);
  std::string what = AFailure.Kind == TFileFailureKind::OutOfMemory
                         ? "out of memory"
                         : std::string("cannot ") + verbs[kind] + " '" + AFile + "'";
  if (!AFailure.Reason.empty()) what += ": " + AFailure.Reason;
  Report(AResult, ARun, {FileDiagnostic(AFile, std::move(what))});
  // The report names the file: its control bytes must not reach the terminal raw.
  TFileFailure shown = AFailure;
  shown.FileName = ControlsEscaped(AFailure.FileName);
  AOut << FailureReport(shown);
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

// Has PHP parse the page of APage: a page it cannot parse is an error at the place in the
// sources behind the line PHP names; a PHP that fails is an error for the page. Either has its
// line on AOut, after APrefix.
int LintPage(std::ostream& AOut, TDiagnostics& ADiags, const TPageJob& AJob, const TPageRun& ARun,
             const TAnalysis& APage, std::string_view APrefix) {
  std::optional<TDiagnostic> error;
  std::string failure;
  if (!LintDiagnostic(*ARun.Parts.Linter, APage.Result, *APage.Script, *APage.Template,
                      AJob.PhpFileName, error, failure))
    ADiags.push_back(
        FileDiagnostic(AJob.PhpFileName, failure + "; '" + AJob.PhpFileName + "' is not written"));
  else if (error)
    ADiags.push_back(std::move(*error));
  else
    return kExitSuccess;
  AOut << APrefix << "Error:PHP cannot parse the page, or did not answer (--lint)\n";
  return kExitError;  // the page is not written; an old one stays as it was
}

// Where a page is written: its file, or its staged output, or the stream it went into as it was
// made.
struct TPageOutput {
  TFileSystem& Files;
  TStagedOutput* Staged;
  TOutputStream* Stream;
};

// Puts the page in place (or stages it): from the stream when the translation streamed it there,
// otherwise, or when the system could not name the streamed temporary, from its pieces. A
// failure is reported after the warnings of ADiags, rendered then, while the inputs are alive.
int WritePage(std::ostream& AOut, TDiagnostics& ADiags, TPageResult& AResult, const TPageJob& AJob,
              const TPageRun& ARun, const TCompileResult& ACompiled, const TPageOutput& AOutput) {
  TFileFailure failure;
  bool retry = true;  // without a stream, the page is written from its pieces
  if (AOutput.Stream) {
    retry = false;
    if (AOutput.Staged ? AOutput.Stream->Stage(*AOutput.Staged, failure, retry)
                       : AOutput.Stream->Commit(failure, retry))
      return kExitSuccess;
  }
  if (retry) {
    TCompileResult listed;  // translated again into pieces, with the same options
    const TCompileResult& page = AOutput.Stream ? (listed = TranslateAgain(ACompiled)) : ACompiled;
    if (AOutput.Staged ? StageOutputFile(AJob.PhpFileName, page.Page(), *AOutput.Staged, failure,
                                         AOutput.Files)
                       : WriteOutputFile(AJob.PhpFileName, page.Page(), failure, AOutput.Files))
      return kExitSuccess;
  }
  Report(AResult, ARun, ADiags);
  ADiags.clear();
  AResult.NoSpace = AOutput.Staged && failure.NoSpace;
  return ReportFailure(AOut, AResult, ARun, AJob.PhpFileName, failure);
}

// The line said once after the warnings of a page that was written with PHP in it that PHP
// will not parse: the status line is the language's own and stays, so this one says what it
// means and how to keep the old page instead. Where a PHP is found it is asked about this page
// alone (a page without such warnings costs nothing).
std::string BrokenPageLine(const TPageJob& AJob, const TPageRun& ARun, const TDiagnostics& ADiags,
                           const TCompileResult& ACompiled) {
  const bool broken = std::any_of(ADiags.begin(), ADiags.end(), [](const TDiagnostic& d) {
    TWarning warning;
    return FindWarning(d.Warning, warning) && BreaksPage(warning);
  });
  if (!broken) return "";
  const std::string page = "zoqc: '" + ControlsEscaped(AJob.PhpFileName) + "' is written";
  TLintAnswer answer;  // from --lint, which passed it, or from one question to PHP, if found
  std::string failure;
  // The page went to its file as it was made: made again in memory for PHP's one question.
  const TCompileResult again = ARun.Parts.Linter ? TCompileResult() : TranslateAgain(ACompiled);
  const bool asked =
      ARun.Parts.Linter || TPhpLinter::CheckOnce(ARun.Options.Php, again.Page(), answer, failure);
  if (asked && answer.Clean)
    return page +
           "; PHP parses it, but the warnings above say where it does not do what the "
           "script says; -Werror keeps the old page instead\n";
  return page + ", but the warnings above break it: PHP will not parse it as it stands" +
         (asked ? " (PHP agrees: " + ControlsEscaped(answer.Message) + " on line " +
                      std::to_string(answer.Line) + ")"
                : std::string()) +
         "; --lint or -Werror keep the old page instead\n";
}

// Loads, translates, checks and writes; the names are set and both inputs exist. What the page
// has to say is rendered while its inputs are alive.
int Translate(std::ostream& AOut, TPageResult& AResult, const TPageJob& AJob, const TPageRun& ARun,
              TFileSystem& AFiles, TStagedOutput* AStaged) {
  TFileFailure failure;
  TLoadedFile script;
  TLoadedFile templ;
  if (!LoadFile(AJob.ScriptFileName, script, failure, AFiles))
    return ReportFailure(AOut, AResult, ARun, AJob.ScriptFileName, failure);
  if (!LoadFile(AJob.TemplateFileName, templ, failure, AFiles))
    return ReportFailure(AOut, AResult, ARun, AJob.TemplateFileName, failure);
  // The model and tables of a large page fault in huge pages, as its large inputs do.
  gLargeBlockAdvice.store(&AdviseHugePages, std::memory_order_relaxed);
  // The page goes into its temporary file as it is made, unless PHP is to parse it first or it
  // is not written at all; it is put in place only once checked.
  std::optional<TOutputStream> stream;
  std::optional<TStreamSink> sink;
  if (!ARun.Parts.Linter && !ARun.Options.Check)
    sink.emplace(stream.emplace(AJob.PhpFileName, AFiles));
  // The places of the diagnostics point into the analysis, which lives until the report is made.
  TAnalysis page =
      AnalysePage(AJob.ScriptFileName, {script.Text, std::move(script.Owner)},
                  AJob.TemplateFileName, {templ.Text, std::move(templ.Owner)},
                  ARun.Options.Warnings, {.Escape = ARun.Options.Escape}, sink ? &*sink : nullptr);
  TDiagnostics diags = std::move(page.Diagnostics);
  // Of several pages, the lines of zoqc's own name their page; a failure has its line too.
  const std::string prefix = ARun.Parts.NamePages ? PageLabel(AJob) + ": " : "";
  int code = kExitSuccess;
  if (page.Failed()) {
    AOut << ResultLine(page, prefix);  // the page is not written; an old one stays as it was
    code = kExitError;
  } else if (ARun.Parts.Linter) {
    code = LintPage(AOut, diags, AJob, ARun, page, prefix);
  }
  if (code == kExitSuccess && !ARun.Options.Check)
    code = WritePage(AOut, diags, AResult, AJob, ARun, page.Result,
                     {AFiles, AStaged, stream ? &*stream : nullptr});
  if (code == kExitSuccess && !ARun.Options.Check && !ARun.Options.Quiet)
    AOut << ResultLine(page, prefix);
  Report(AResult, ARun, diags);
  if (code == kExitSuccess && !ARun.Options.Check && !ARun.Options.Json)
    AResult.Err += BrokenPageLine(AJob, ARun, diags, page.Result);
  return code;
}

}  // namespace

std::string PageLabel(const TPageJob& AJob) {
  return Shown(std::string_view(AJob.ScriptFileName)
                   .substr(0, AJob.ScriptFileName.size() - std::string_view(".zoq").size()));
}

TPageJob PageJobOf(std::string_view AArgument) {
  TPageJob job;
  GetScriptAndTemplateFileName(AArgument, job.ScriptFileName, job.TemplateFileName,
                               job.PhpFileName);
  job.Argument = AArgument;
  return job;
}

TPageResult TranslatePage(const TPageJob& AJob, const TOptions& AOptions, TFileSystem& AFiles,
                          TStagedOutput* AStaged, const TRunParts& AParts) {
  const TPageRun run{AOptions, AParts};
  TPageResult result;
  std::ostringstream out;
  try {  // rendering what the page says may run out of memory too
    if (!ScriptAndTemplateFileFound(AJob.ScriptFileName, AJob.TemplateFileName)) {
      ErrorFileNotFound(out, ControlsEscaped(AJob.ScriptFileName),
                        ControlsEscaped(AJob.TemplateFileName));
      TDiagnostics missing;
      std::error_code ec;
      if (!AJob.Argument.empty() && std::filesystem::is_directory(AJob.Argument, ec)) {
        // "zoqc site": the user meant the pages in the folder.
        missing.push_back(FileDiagnostic(
            AJob.Argument, "'" + AJob.Argument +
                               "' is a folder; to translate the pages under it, use -r " +
                               AJob.Argument));
      } else {
        ReportMissing(missing, AJob.ScriptFileName, "script");
        ReportMissing(missing, AJob.TemplateFileName, "template");
        if (!missing.empty())  // a way forward
          for (std::string& hint : MissingInputHints(AJob.ScriptFileName, AJob.TemplateFileName))
            missing.back().Notes.push_back({missing.back().Place, std::move(hint)});
      }
      Report(result, run, missing);
      result.ExitCode = kExitError;
    } else {
      result.ExitCode = Translate(out, result, AJob, run, AFiles, AStaged);
    }
  } catch (const std::bad_alloc&) {
    result = TPageResult();
    RenewOutOfMemoryReserve();
    result.ExitCode = ReportFailure(out, result, run, AJob.PhpFileName,
                                    {TFileFailureKind::OutOfMemory, AJob.PhpFileName, ""});
  }
  result.Out = out.str();
  return result;
}

void ReportCommitFailure(TPageResult& AResult, const TPageJob& AJob, const TFileFailure& AFailure,
                         const TOptions& AOptions, const TRunParts& AParts) {
  std::ostringstream out;  // the failure report instead of the success line
  AResult.ExitCode = ReportFailure(out, AResult, {AOptions, AParts}, AJob.PhpFileName, AFailure);
  AResult.Out = out.str();
}

}  // namespace zoqc
