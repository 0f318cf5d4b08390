// The run of one command line: start-up, loading, translation, writing and the reports.
#include "src/driver/driver.h"

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <utility>

#include "src/driver/command_line.h"
#include "src/driver/options.h"
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
int Translate(std::ostream& AOut, const std::string& AScriptFileName,
              const std::string& ATemplateFileName, const std::string& APhpFileName, bool AQuiet) {
  TFileFailure failure;
  std::string script;
  std::string templ;
  if (!LoadFile(AScriptFileName, script, failure)) return ReportFailure(AOut, failure);
  if (!LoadFile(ATemplateFileName, templ, failure)) return ReportFailure(AOut, failure);
  TCompileResult result = Compile(script, std::move(templ));
  if (result.ExitCode != kExitSuccess) {
    AOut << result.Message << '\n';
    return result.ExitCode;
  }
  std::string().swap(script);  // give the memory back before the output is written
  if (!WriteOutputFile(APhpFileName, result.Output, failure)) return ReportFailure(AOut, failure);
  if (!AQuiet) AOut << "Compile sucessful.\n";
  return kExitSuccess;
}

// One page: names, existence test, then the translation. Yields the page's exit code.
int TranslatePage(std::ostream& AOut, const std::string& AArgument, bool AQuiet) {
  std::string ScriptFileName;
  std::string TemplateFileName;
  std::string PhpFileName;
  GetScriptAndTemplateFileName(AArgument, ScriptFileName, TemplateFileName, PhpFileName);
  if (!ScriptAndTemplateFileFound(ScriptFileName, TemplateFileName)) {
    ErrorFileNotFound(AOut, ScriptFileName, TemplateFileName);
    return kExitError;
  }
  try {
    return Translate(AOut, ScriptFileName, TemplateFileName, PhpFileName, AQuiet);
  } catch (const std::bad_alloc&) {
    return ReportFailure(AOut, {"EOutOfMemory", "Out of memory", "Translate"});
  }
}

// What the whole run yields once its messages are out: a console that took them, or a
// failure said on standard error.
int Finish(std::ostream& AOut, std::ostream& AErr, int AExitCode) {
  AOut.flush();
  if (AOut) return AExitCode;
  AErr << "zoqc: cannot write to standard output" << std::endl;
  return std::max(AExitCode, kExitFileFailure);
}

}  // namespace

int RunCommandLine(int argc, const char* const* argv, std::ostream& AOut, std::ostream& AErr) {
  // Past a file size limit a write is to fail with an error, not to end the process.
  std::signal(SIGXFSZ, SIG_IGN);
  TOptions options;
  std::string error;
  if (!ParseOptions(argc, argv, options, error)) {
    AErr << "zoqc: " << error << "\nTry 'zoqc --help' for more information.\n";
    return kExitUsage;
  }
  if (options.Help) {
    PrintHelp(AOut);
    return Finish(AOut, AErr, kExitSuccess);
  }
  if (options.ShowVersion) {
    AOut << "zoqc " << Version << '\n';
    return Finish(AOut, AErr, kExitSuccess);
  }
  if (!options.Quiet) PrintBanner(AOut);
  if (options.Pages.empty()) {
    Usage(AOut);
    return Finish(AOut, AErr, kExitSuccess);
  }
  // Every page named is translated; the worst outcome decides the exit code.
  int exit_code = kExitSuccess;
  for (const std::string& page : options.Pages)
    exit_code = std::max(exit_code, TranslatePage(AOut, page, options.Quiet));
  return Finish(AOut, AErr, exit_code);
}

}  // namespace zoqc
