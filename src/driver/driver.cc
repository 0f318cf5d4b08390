// The run of one command line: options, banner, usage, and every page named in order.
#include "src/driver/driver.h"

#include <algorithm>
#include <iostream>
#include <string>

#include "src/driver/command_line.h"
#include "src/driver/language_server.h"
#include "src/driver/options.h"
#include "src/driver/out_of_memory.h"
#include "src/driver/page.h"
#include "src/driver/site.h"
#include "src/platform/files.h"
#include "src/platform/terminal.h"

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
  // Signals and running out of memory end the run cleanly: no temporary file left behind, the
  // failure report printed.
  InstallInterruptCleanup();
  PrepareForOutOfMemory();
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
  if (options.Lsp) return ServeLanguageClient();  // standard output carries only the protocol
  if (!options.Quiet) PrintBanner(AOut);
  AOut.flush();  // the banner is out even if the process is stopped later
  if (options.Pages.empty() && options.Directories.empty()) {
    Usage(AOut);
    return Finish(AOut, AErr, kExitSuccess);
  }
  // Every page named and every page under a -r folder; the worst outcome decides the exit
  // code. The status line is for a person watching a terminal.
  const bool status = !options.Quiet && &AOut == &std::cout && IsStandardOutputTerminal();
  return Finish(AOut, AErr, RunSite(options, AOut, AErr, status));
}

}  // namespace zoqc
