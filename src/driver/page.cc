// One page's run: loading, translation, writing and the reports.
#include "src/driver/page.h"

#include <cstdint>
#include <cstdio>
#include <new>
#include <sstream>
#include <utility>

#include "src/driver/command_line.h"
#include "src/platform/files.h"
#include "src/translation/compile.h"

namespace zoqc {

namespace {

// The code location printed for a procedure: a stable number derived from its name.
std::string Location(std::string_view AProcedure) {
  std::uint64_t h = 1469598103934665603u;  // FNV-1a
  for (const char c : AProcedure) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211u;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llX", static_cast<unsigned long long>(h));
  return hex;
}

// The failure report: where it happened, kind and message, the call stack, an empty line.
int ReportFailure(std::ostream& AOut, const TFileFailure& AFailure) {
  AOut << "An unhandled exception occurred at $" << Location(AFailure.Location) << " :\n"
       << AFailure.Kind << " : " << AFailure.Message << '\n'
       << "  $" << Location(AFailure.Location) << "  " << AFailure.Location << '\n'
       << "  $" << Location("RunCommandLine") << "  RunCommandLine\n"
       << '\n';
  return kExitFileFailure;
}

// Loads, translates and writes; the names are set and both inputs exist.
int Translate(std::ostream& AOut, const TPageJob& AJob, const TOptions& AOptions) {
  TFileFailure failure;
  std::string script;
  std::string templ;
  if (!LoadFile(AJob.ScriptFileName, script, failure)) return ReportFailure(AOut, failure);
  if (!LoadFile(AJob.TemplateFileName, templ, failure)) return ReportFailure(AOut, failure);
  TCompileResult result = Compile(script, std::move(templ));
  if (result.ExitCode != kExitSuccess) {
    AOut << result.Message << '\n';
    return result.ExitCode;
  }
  std::string().swap(script);  // give the memory back before the output is written
  if (!WriteOutputFile(AJob.PhpFileName, result.Page(), failure))
    return ReportFailure(AOut, failure);
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
  if (!ScriptAndTemplateFileFound(AJob.ScriptFileName, AJob.TemplateFileName)) {
    ErrorFileNotFound(out, AJob.ScriptFileName, AJob.TemplateFileName);
    result.ExitCode = kExitError;
  } else {
    try {
      result.ExitCode = Translate(out, AJob, AOptions);
    } catch (const std::bad_alloc&) {
      result.ExitCode = ReportFailure(out, {"EOutOfMemory", "Out of memory", "Translate", ""});
    }
  }
  result.Out = out.str();
  return result;
}

}  // namespace zoqc
