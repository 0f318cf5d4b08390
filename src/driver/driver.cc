// The run of one command line: options, banner, usage, and every page named in order.
#include "src/driver/driver.h"

#include <algorithm>
#include <csignal>
#include <iterator>
#include <string>
#include <vector>

#include "src/check/render.h"
#include "src/driver/command_line.h"
#include "src/driver/options.h"
#include "src/driver/page.h"

namespace zoqc {

namespace {

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
#ifdef SIGXFSZ  // POSIX only
  // Past a file size limit a write is to fail with an error, not to end the process.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
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
  std::vector<TDiagnostic> diagnostics;  // of every page, for one JSON array
  for (const std::string& page : options.Pages) {
    TPageResult result = TranslatePage(PageJobOf(page), options);
    AOut << result.Out;
    AErr << result.Err;
    exit_code = std::max(exit_code, result.ExitCode);
    if (options.Json)
      std::move(result.Diagnostics.begin(), result.Diagnostics.end(),
                std::back_inserter(diagnostics));
  }
  if (options.Json) AErr << RenderJson(diagnostics);
  return Finish(AOut, AErr, exit_code);
}

}  // namespace zoqc
