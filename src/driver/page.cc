// One page's run: loading, translation, writing and the reports.
#include "src/driver/page.h"

#include <new>
#include <sstream>
#include <utility>

#include "src/driver/command_line.h"
#include "src/driver/failure_report.h"
#include "src/driver/out_of_memory.h"
#include "src/platform/files.h"
#include "src/translation/compile.h"

namespace zoqc {

namespace {

// The failure report on standard output, and on standard error the system's reason, if any.
int ReportFailure(std::ostream& AOut, std::ostream& AErr, const TFileFailure& AFailure) {
  AOut << FailureReport(AFailure.Kind, AFailure.Message, AFailure.Location);
  if (!AFailure.Reason.empty())
    AErr << "zoqc: " << AFailure.Message << ": " << AFailure.Reason << '\n';
  return kExitFileFailure;
}

// Loads, translates and writes; the names are set and both inputs exist.
int Translate(std::ostream& AOut, std::ostream& AErr, const TPageJob& AJob,
              const TOptions& AOptions) {
  TFileFailure failure;
  std::string script;
  std::string templ;
  if (!LoadFile(AJob.ScriptFileName, script, failure)) return ReportFailure(AOut, AErr, failure);
  if (!LoadFile(AJob.TemplateFileName, templ, failure)) return ReportFailure(AOut, AErr, failure);
  TCompileResult result = Compile(script, std::move(templ));
  if (result.ExitCode != kExitSuccess) {
    AOut << result.Message << '\n';
    return result.ExitCode;
  }
  std::string().swap(script);  // give the memory back before the output is written
  if (!WriteOutputFile(AJob.PhpFileName, result.Output, failure))
    return ReportFailure(AOut, AErr, failure);
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
  std::ostringstream err;
  if (!ScriptAndTemplateFileFound(AJob.ScriptFileName, AJob.TemplateFileName)) {
    ErrorFileNotFound(out, AJob.ScriptFileName, AJob.TemplateFileName);
    result.ExitCode = kExitError;
  } else {
    try {
      result.ExitCode = Translate(out, err, AJob, AOptions);
    } catch (const std::bad_alloc&) {
      RenewOutOfMemoryReserve();
      result.ExitCode = ReportFailure(out, err, {"EOutOfMemory", "Out of memory", "Translate", ""});
    }
  }
  result.Out = out.str();
  result.Err = err.str();
  return result;
}

}  // namespace zoqc
