// The run of one command line: options, banner, usage, and every page named in order.
#include "src/driver/driver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <utility>

#include "src/driver/command_line.h"
#include "src/driver/explain.h"
#include "src/driver/language_server.h"
#include "src/driver/lint.h"
#include "src/driver/new_site.h"
#include "src/driver/options.h"
#include "src/driver/page.h"
#include "src/driver/project.h"
#include "src/driver/serve.h"
#include "src/driver/site.h"
#include "src/driver/site_output.h"
#include "src/driver/site_watch.h"
#include "src/platform/files.h"
#include "src/platform/terminal.h"

namespace zoqc {

namespace {

// What the whole run yields once its messages are out: a console that took them, or a
// failure said on standard error.
int ExitAfterOutput(std::ostream& AOut, std::ostream& AErr, int AExitCode) {
  AOut.flush();
  if (AOut) return AExitCode;
  AErr << "zoqc: cannot write to standard output" << std::endl;
  return std::max(AExitCode, kExitFileFailure);
}

// Says the usage error AMessage, and where to read about the options; yields the exit code.
int UsageError(std::ostream& AErr, const std::string& AMessage) {
  AErr << "zoqc: " << AMessage << "\nTry 'zoqc --help' for more information.\n";
  return kExitUsage;
}

// Two spellings of one folder.
bool SameFolder(const std::string& AOne, const std::string& AOther) {
  std::error_code ec;
  return std::filesystem::weakly_canonical(AOne, ec) ==
         std::filesystem::weakly_canonical(AOther, ec);
}

// The whole run after the banner, on the pages that PlanSite listed: their translation, a
// summary line when there are several, then watching when asked for. Yields the exit code.
int RunSite(const TOptions& AOptions, const TRunParts& AParts, TSiteList AList, std::ostream& AOut,
            std::ostream& AErr, bool AStatus) {
  AErr << AList.Errors;
  const std::vector<TSitePage>& pages = AList.Pages;
  // Under -o the rest of the site goes there first, so that the pages find what they include.
  std::unique_ptr<TSiteOutput> output;
  TRunParts parts = AParts;
  int copied = kExitSuccess;
  if (!AOptions.OutDir.empty() && !AOptions.Check) {
    output = std::make_unique<TSiteOutput>(AOptions);
    parts.Output = output.get();
    if (!AOptions.Directories.empty())
      copied = output->Mirror(PageOutputs(pages, AOptions.OutDir), AOut, AErr);
  }
  const TSiteTotals totals =
      TranslatePages(pages, AOptions, AOut, AErr, AStatus, SystemFiles(), parts);
  if (output) output->EndRun(!AOptions.Watch, AErr);
  int exit_code = std::max(totals.ExitCode, copied);
  if (!AList.Errors.empty()) exit_code = std::max(exit_code, kExitError);
  if ((pages.size() > 1 || !AOptions.Directories.empty()) && !AOptions.Quiet) {
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - AList.Start;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f s", took.count());
    AOut << pages.size() << (pages.size() == 1 ? " page: " : " pages: ") << totals.Translated
         << " translated, " << totals.Failed << " failed, " << totals.Warnings << " warnings, ";
    if (totals.Promoted > 0) AOut << totals.Promoted << " errors (-Werror), ";
    AOut << seconds << '\n';
  }
  if (!AOptions.Watch) return exit_code;
  return WatchSite(AOptions, parts, std::move(AList), totals, AOut, AErr);
}

// The project's folders where the command line names none: -r without a folder, --watch,
// --serve and --check translate the source folder's pages, written under the out folder, as
// -r SOURCE -o OUT would; --explain finds the pages written there.
void UseProjectFolders(const TProject& AProject, TOptions& AOptions) {
  if (AOptions.Explain) {
    if (AOptions.Directories.empty()) AOptions.Directories.push_back(AProject.SourceDir());
  } else if (!AOptions.SourceAsked.empty() ||
             (AOptions.Pages.empty() && AOptions.Directories.empty() &&
              (AOptions.Watch || AOptions.Check))) {
    AOptions.Directories.push_back(AProject.SourceDir());
  }
  // The out folder goes with the source folder (-r src/blog writes beside its pages).
  if (!AOptions.OutDir.empty() || AOptions.Directories.size() != 1 ||
      (!AOptions.Pages.empty() && !AOptions.Explain) ||
      !SameFolder(AOptions.Directories[0], AProject.SourceDir()))
    return;
  AOptions.OutDir = AProject.OutDir();
}

// The project file AFile's settings under the command line's options, and its folders where the
// command line names none. Yields kExitSuccess, or kExitUsage with the reason said on AErr for a
// file or an option that cannot be read.
int ReadProject(const std::string& AFile, int argc, const char* const* argv, TOptions& AOptions,
                std::ostream& AErr) {
  TProject project;
  std::string error;
  if (!LoadProject(AFile, project, error)) {
    AErr << error << "\nTry 'zoqc --no-project' to run without it.\n";
    return kExitUsage;
  }
  TOptions over;  // the file's settings, then the command line's options over them
  ApplyProject(project, over);
  if (!ParseOptions(argc, argv, over, error)) return UsageError(AErr, error);
  AOptions = std::move(over);
  UseProjectFolders(project, AOptions);
  return kExitSuccess;
}

// PHP lints when asked, and under --watch whenever it is found: a long-lived php costs nothing
// per save there. False, with the reason said on AErr, when --lint finds no PHP.
bool OpenLinter(const TOptions& AOptions, std::unique_ptr<TPhpLinter>& ALinter,
                std::ostream& AErr) {
  if (!AOptions.Lint && (!AOptions.Watch || AOptions.NoLint)) return true;
  std::string reason;
  ALinter = TPhpLinter::Open(AOptions.Php, reason);
  if (ALinter || !AOptions.Lint) return true;
#ifdef _WIN32
  // zoqc runs no helper program on Windows (docs/WINDOWS.md).
  AErr << "zoqc: --lint is not available on Windows: lint the pages with a Linux or WSL "
          "zoqc, or with 'php -l' on each page\n";
#else
  AErr << "zoqc: --lint needs PHP: " << reason
       << "\nInstall it with 'apt-get install php-cli', or name it with --php=PATH.\n";
#endif
  return false;
}

// The run of the pages the command line and the project name, after the options that end the
// run early: banner, PHP's server, linter, then the pages translated (and watched).
int RunPages(const TOptions& AOptions, const char* AProgram, std::ostream& AOut, std::ostream& AErr,
             bool AStandardOutput) {
  std::string error;
  // Every page named and every page under a -r folder, each once. Pages that would be
  // written to one path are a usage error, found before anything is written.
  const bool pages = !AOptions.Pages.empty() || !AOptions.Directories.empty();
  TSiteList list;
  if (pages && !PlanSite(AOptions, list, error)) {
    AErr << error;
    return kExitUsage;
  }
  // 300 pages say which page each "Compile sucessful." is about; a single page says it as ever.
  TRunParts parts;
  parts.NamePages = list.Pages.size() > 1 || !AOptions.Directories.empty();
  if (AOptions.Watch && !AOptions.Serve && !pages)
    return UsageError(AErr, "--watch needs pages to watch: -r SRC or page names");
  // --serve: PHP's server starts first, so that one that cannot is said before anything else.
  std::unique_ptr<TServe> serve;
  if (AOptions.Serve) {
    if (!pages || AOptions.Check)
      return UsageError(AErr, "--serve needs pages to write: -r SRC or page names, and no --check");
    serve = TServe::Start(AOptions, AProgram, AErr, error);
    if (!serve) {
      AErr << "zoqc: " << error << '\n';
      return kExitUsage;
    }
    parts.Listener = serve.get();
  }
  std::unique_ptr<TPhpLinter> linter;
  if (!OpenLinter(AOptions, linter, AErr)) return kExitUsage;
  parts.Linter = linter.get();
  if (!AOptions.Quiet) PrintBanner(AOut);
  AOut.flush();  // the banner is out even if the process is stopped later
  if (serve) {
    TServeAddress address;
    (void)ParseServeAddress(AOptions.ServeAddress, address, error);  // read once already
    if (!IsLoopbackHost(address.Host))
      AErr << "zoqc: warning: serving on " << address.Host
           << ", which other machines can reach; PHP's development server is meant for "
              "development only\n";
    AOut << "serving " << serve->DocRoot() << " on " << serve->Url()
         << " with PHP's development server; Ctrl-C ends\n";
    AOut.flush();
  }
  if (!pages) {
    Usage(AOut);
    return ExitAfterOutput(AOut, AErr, kExitSuccess);
  }
  // The worst outcome decides the exit code. The status line is for a person watching a
  // terminal.
  const bool status = !AOptions.Quiet && AStandardOutput && IsStandardOutputTerminal();
  return ExitAfterOutput(AOut, AErr, RunSite(AOptions, parts, std::move(list), AOut, AErr, status));
}

}  // namespace

int RunCommandLine(int argc, const char* const* argv, std::ostream& AOut, std::ostream& AErr,
                   bool AStandardOutput) {
  // Signals end the run cleanly: no temporary file left behind (main prepared the failure
  // report for running out of memory before anything allocated).
  InstallInterruptCleanup();
  TOptions options;
  std::string error;
  if (!ParseOptions(argc, argv, options, error)) return UsageError(AErr, error);
  if (options.Init) return ExitAfterOutput(AOut, AErr, RunInit(options, AOut, AErr));
  // The project file, found from here up, sets what the command line does not. The language
  // server finds one for each page it is asked about; a bare "zoqc" prints the usage text.
  const std::string project_file =
      argc > 1 && !options.NoProject && !options.Lsp ? FindProjectFile("") : "";
  if (options.Help) {
    PrintHelp(AOut, project_file);
    return ExitAfterOutput(AOut, AErr, kExitSuccess);
  }
  if (!project_file.empty() && !options.ShowVersion) {
    if (const int code = ReadProject(project_file, argc, argv, options, AErr)) return code;
  } else if (!options.SourceAsked.empty()) {
    return UsageError(AErr, "option '" + options.SourceAsked + "' needs a value");
  }
  if (options.ShowVersion) {
    AOut << "zoqc " << Version << '\n';
    return ExitAfterOutput(AOut, AErr, kExitSuccess);
  }
  if (options.Lsp)
    return ServeLanguageClient(options.Php,
                               !options.NoProject);  // standard output carries only the protocol
  if (options.Explain) {
    // Buffers of its own for standard input and output: what is waiting to be read shows, and
    // the output is flushed before a wait, not line by line.
    if (AStandardOutput) std::ios::sync_with_stdio(false);
    return ExitAfterOutput(AOut, AErr, RunExplain(options, std::cin, AOut, AErr));
  }
  return RunPages(options, argc > 0 ? argv[0] : "zoqc", AOut, AErr, AStandardOutput);
}

}  // namespace zoqc
