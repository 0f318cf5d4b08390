// The options of the command line and the help text that lists them.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "src/check/render.h"
#include "src/check/warnings.h"

namespace zoqc {

struct TOptions {
  bool Help = false;         // -h, --help: the usage text and the options
  bool ShowVersion = false;  // --version
  bool Quiet = false;        // -q, --quiet: no banner, success or status lines
  bool Check = false;        // --check: translate and report, write nothing
  bool Json = false;         // --diagnostics-format=json
  bool Color = false;        // colour the diagnostics (--color, NO_COLOR, a terminal)
  std::size_t MaxDiagnostics = kDefaultMaxDiagnostics;  // -fmax-diagnostics=N; 0: no limit
  TWarningSet Warnings = DefaultWarnings();             // -Wname, -Wno-name, -Wall, -w, -Werror
  std::vector<std::string> Pages;                       // the page names, in command-line order
  std::vector<std::string> Directories;                 // -r, --recursive DIR: every page under DIR
  std::vector<std::string> Exclude;                     // -r files not copied under -o (patterns)
  int Jobs = 0;              // -j N: pages translated at once; 0: one per core
  std::string OutDir;        // -o, --out-dir DIR: where the pages are written
  bool Watch = false;        // --watch: translate again whenever an input changes
  bool Lint = false;         // --lint: PHP parses every page before it is written
  bool NoLint = false;       // --no-lint: not even under --watch
  std::string Php = "php";   // --php=PATH: the PHP that lints
  bool Explain = false;      // --explain: Pages are page locations, or standard input is mapped
  bool Lsp = false;          // --lsp: serve an editor on standard input and output
  bool Escape = false;       // --escape: every value printed escaped for its HTML context
  bool Serve = false;        // --serve: watch, and serve the pages with PHP's own server
  std::string ServeAddress;  // the [HOST:]PORT of --serve=; "": 127.0.0.1:8000
  // --serve shows a page's translation warnings over it (project key browser_warnings)
  bool BrowserWarnings = true;
  bool NoProject = false;       // --no-project: read no zoqc.toml
  bool Init = false;            // --init [DIR]: lay out a new site
  std::string SourceAsked;      // "-r" or "--recursive" given last without a folder: the project's
                                // source folder; "" when not
  // -W names taken before those of the command line (the project file's), which override them.
  std::vector<std::string> BaseWarnings;
};

// Reads the options and page names of argv (argv[0] is the program). Options and names may be
// mixed; "--" ends the options. On a usage error writes a one-line reason into AError and
// yields false.
[[nodiscard]] bool ParseOptions(int argc, const char* const* argv, TOptions& AOptions,
                                std::string& AError);

// The usage text, then the options with a line each; with AProjectFile, a last line that names
// the project file a run here reads.
void PrintHelp(std::ostream& AOut, const std::string& AProjectFile = "");

// "; did you mean 'NEAR'?" when one of ACandidates is near enough to AName, else "".
std::string Suggestion(std::string_view AName, const std::vector<std::string>& ACandidates);

// Every spelling that -W takes ("all", "bom", "no-bom", "error=bom", ...), without the "-W".
std::vector<std::string> WarningSpellings();

}  // namespace zoqc
