// The options of the command line, read with getopt_long.
#include "src/driver/options.h"

#include <getopt.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>
#include <optional>
#include <string_view>

#include "src/driver/command_line.h"
#include "src/driver/serve_parts.h"
#include "src/platform/terminal.h"
#include "src/text/edit_distance.h"

namespace zoqc {

namespace {

enum : int {
  kOptVersion = 256,
  kOptCheck,
  kOptFormat,
  kOptColor,
  kOptWatch,
  kOptLint,
  kOptNoLint,
  kOptPhp,
  kOptExplain,
  kOptLsp,
  kOptEscape,
  kOptServe,
  kOptNoEscape,
  kOptNoProject,
  kOptInit
};

constexpr const char kShortOptions[] = ":hqwW:f:r:j:o:";
const option kLongOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"quiet", no_argument, nullptr, 'q'},
    {"version", no_argument, nullptr, kOptVersion},
    {"check", no_argument, nullptr, kOptCheck},
    {"diagnostics-format", required_argument, nullptr, kOptFormat},
    {"color", required_argument, nullptr, kOptColor},
    {"recursive", required_argument, nullptr, 'r'},
    {"jobs", required_argument, nullptr, 'j'},
    {"out-dir", required_argument, nullptr, 'o'},
    {"watch", no_argument, nullptr, kOptWatch},
    {"lint", no_argument, nullptr, kOptLint},
    {"no-lint", no_argument, nullptr, kOptNoLint},
    {"php", required_argument, nullptr, kOptPhp},
    {"explain", optional_argument, nullptr, kOptExplain},
    {"lsp", no_argument, nullptr, kOptLsp},
    {"escape", no_argument, nullptr, kOptEscape},
    {"serve", optional_argument, nullptr, kOptServe},
    {"no-escape", no_argument, nullptr, kOptNoEscape},
    {"no-project", no_argument, nullptr, kOptNoProject},
    {"init", optional_argument, nullptr, kOptInit},
    {nullptr, 0, nullptr, 0},
};

// The option that getopt_long just refused, as the user wrote it: "-x", or "--name" for a long
// one (whose text getopt_long has always stepped past).
std::string Spelled(const char* const* argv, int AShort) {
  if (optind > 0) {
    const std::string_view arg = argv[optind - 1];
    if (arg.starts_with("--")) {
      const std::string_view name = arg.substr(2, arg.find('=') - 2);
      if (AShort == 0) return "--" + std::string(name);
      for (const option& opt : kLongOptions)
        if (opt.name && opt.val == AShort && std::string_view(opt.name).starts_with(name))
          return "--" + std::string(name);
    }
  }
  return std::string("-") + static_cast<char>(AShort);
}

// The candidate nearest to AName within a third of its length (at least one edit), or "".
std::string Nearest(std::string_view AName, const std::vector<std::string>& ACandidates) {
  const std::size_t limit = std::max<std::size_t>(1, AName.size() / 3);
  std::string best;
  std::size_t best_distance = limit + 1;
  for (const std::string& candidate : ACandidates) {
    const std::size_t distance = EditDistance(AName, candidate, limit);
    if (distance < best_distance && candidate != AName) best = candidate, best_distance = distance;
  }
  return best;
}

}  // namespace

std::string Suggestion(std::string_view AName, const std::vector<std::string>& ACandidates) {
  const std::string near = Nearest(AName, ACandidates);
  return near.empty() ? "" : "; did you mean '" + near + "'?";
}

std::vector<std::string> WarningSpellings() {
  std::vector<std::string> names = {"all", "error"};
  for (const TWarningInfo& warning : kWarnings)
    for (const char* form : {"", "no-", "error=", "no-error="})
      names.push_back(form + std::string(warning.Name));
  return names;
}

namespace {

// Why getopt_long refused the option it returned '?' for.
std::string RefusedOption(const char* const* argv) {
  const std::string spelled = Spelled(argv, optopt);
  if (!spelled.starts_with("--")) return "unknown option '" + spelled + "'";
  if (optopt != 0) return "option '" + spelled + "' takes no value";  // "--watch=1"
  std::vector<std::string> names;
  std::vector<std::string> starting;  // the long options it abbreviates
  for (const option& opt : kLongOptions) {
    if (!opt.name) continue;
    names.push_back(std::string("--") + opt.name);
    if (names.back().starts_with(spelled)) starting.push_back(names.back());
  }
  if (starting.size() > 1) {
    std::string all;
    for (std::size_t idx = 0; idx < starting.size(); ++idx)
      all += (idx == 0                     ? ""
              : idx + 1 == starting.size() ? " or "
                                           : ", ") +
             ("'" + starting[idx] + "'");
    return "option '" + spelled + "' is ambiguous: " + all;
  }
  return "unknown option '" + spelled + "'" + Suggestion(spelled, names);
}

// The value of -j: a whole number from 1 to 1024.
bool ParseJobs(const char* AText, int& AJobs) {
  const char* end = AText + std::strlen(AText);
  const auto [stop, error] = std::from_chars(AText, end, AJobs);
  return error == std::errc() && stop == end && AJobs >= 1 && AJobs <= 1024;
}

// The value of -fmax-diagnostics=: a whole number, 0 for no limit.
bool ParseMaxDiagnostics(std::string_view AText, std::size_t& AMax) {
  const auto [stop, error] = std::from_chars(AText.data(), AText.data() + AText.size(), AMax);
  return !AText.empty() && error == std::errc() && stop == AText.data() + AText.size();
}

}  // namespace

namespace {

// The options without a value: each sets its switch and clears its opposite.
struct TFlag {
  int Option;
  bool TOptions::*Sets;
  bool TOptions::*Clears = nullptr;
};
constexpr TFlag kFlags[] = {{'h', &TOptions::Help},
                            {'q', &TOptions::Quiet},
                            {kOptVersion, &TOptions::ShowVersion},
                            {kOptCheck, &TOptions::Check},
                            {kOptWatch, &TOptions::Watch},
                            {kOptLint, &TOptions::Lint, &TOptions::NoLint},
                            {kOptNoLint, &TOptions::NoLint, &TOptions::Lint},
                            {kOptLsp, &TOptions::Lsp},
                            {kOptEscape, &TOptions::Escape},
                            {kOptNoEscape, nullptr, &TOptions::Escape},
                            {kOptNoProject, &TOptions::NoProject}};

// What the diagnostics look like: -W, -w, -f, --diagnostics-format, --color, with the value
// AValue. False, with the reason in AError, for a value it does not take.
bool TakeDiagnosticsOption(int AOption, const char* AValue, TOptions& AOptions,
                           TWarningSwitches& AWarnings, std::optional<bool>& AColor,
                           std::string& AError) {
  const std::string_view value = AValue ? AValue : "";
  if (AOption == 'w') {
    AWarnings.None = true;
  } else if (AOption == 'W') {
    if (AWarnings.Add(value)) return true;
    std::vector<std::string> names;
    for (const std::string& name : WarningSpellings()) names.push_back("-W" + name);
    const std::string spelled = "-W" + std::string(value);
    AError = "unknown warning option '" + spelled + "'" + Suggestion(spelled, names);
    return false;
  } else if (AOption == 'f') {
    constexpr std::string_view kMax = "max-diagnostics=";
    if (!value.starts_with(kMax)) {
      AError = "unknown option '-f" + std::string(value) + "'";
      return false;
    }
    if (!ParseMaxDiagnostics(value.substr(kMax.size()), AOptions.MaxDiagnostics)) {
      AError = "-fmax-diagnostics takes a whole number (0: no limit), not '" +
               std::string(value.substr(kMax.size())) + "'";
      return false;
    }
  } else if (AOption == kOptFormat) {
    if (value != "text" && value != "json") {
      AError = "--diagnostics-format takes 'text' or 'json', not '" + std::string(value) + "'";
      return false;
    }
    AOptions.Json = value == "json";
  } else if (value == "always" || value == "never" || value == "auto") {  // --color
    AColor = value == "auto" ? std::nullopt : std::optional<bool>(value == "always");
  } else {
    AError = "--color takes 'auto', 'always' or 'never', not '" + std::string(value) + "'";
    return false;
  }
  return true;
}

// What is translated, where to and how: -r, -j, -o, --php, --explain, --serve, --init, with the
// value AValue (null for an optional value left out). False, with the reason in AError, for a
// value it does not take.
bool TakeRunOption(int AOption, const char* AValue, TOptions& AOptions, std::string& AError) {
  switch (AOption) {
    case 'r':
      AOptions.Directories.emplace_back(AValue);
      break;
    case 'j':
      if (ParseJobs(AValue, AOptions.Jobs)) break;
      AError = "option '-j' needs a number from 1 to 1024, not '" + std::string(AValue) + "'";
      return false;
    case 'o':
      AOptions.OutDir = AValue;
      break;
    case kOptPhp:
      AOptions.Php = AValue;
      break;
    case kOptExplain:  // "--explain=PAGE.php:LINE" is one of the page locations
      AOptions.Explain = true;
      if (AValue) AOptions.Pages.emplace_back(AValue);
      break;
    case kOptServe: {
      TServeAddress address;
      if (AValue && !ParseServeAddress(AValue, address, AError)) return false;
      AOptions.Serve = AOptions.Watch = true;
      if (AValue) AOptions.ServeAddress = AValue;  // else the project's address, if any
      break;
    }
    case kOptInit:  // "--init=DIR" is "--init DIR"
      AOptions.Init = true;
      if (AValue) AOptions.Pages.emplace_back(AValue);
      break;
  }
  return true;
}

}  // namespace

bool ParseOptions(int argc, const char* const* argv, TOptions& AOptions, std::string& AError) {
  // getopt_long reorders its argument vector, so it works on a copy of the pointers.
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) args.push_back(const_cast<char*>(argv[i]));
  args.push_back(nullptr);
  TWarningSwitches warnings;
  for (const std::string& name : AOptions.BaseWarnings)
    if (!warnings.Add(name)) {
      AError = "unknown warning '" + name + "'";
      return false;
    }
  std::optional<bool> color;  // unset: auto
  opterr = 0;
  optind = 0;  // getopt keeps its place in globals: every parse starts afresh
  for (int c; (c = getopt_long(argc, args.data(), kShortOptions, kLongOptions, nullptr)) != -1;) {
    const auto flag = std::find_if(std::begin(kFlags), std::end(kFlags),
                                   [&](const TFlag& AFlag) { return AFlag.Option == c; });
    if (flag != std::end(kFlags)) {
      if (flag->Sets) AOptions.*(flag->Sets) = true;
      if (flag->Clears) AOptions.*(flag->Clears) = false;
    } else if (c == 'w' || c == 'W' || c == 'f' || c == kOptFormat || c == kOptColor) {
      if (!TakeDiagnosticsOption(c, optarg, AOptions, warnings, color, AError)) return false;
    } else if (c == ':' && optopt == 'r') {  // "zoqc -r" at the end: the project file names it
      AOptions.SourceAsked = Spelled(args.data(), optopt);
    } else if (c == ':') {
      AError = "option '" + Spelled(args.data(), optopt) + "' needs a value";
      return false;
    } else if (c == '?') {
      AError = RefusedOption(args.data());
      return false;
    } else if (!TakeRunOption(c, optarg, AOptions, AError)) {
      return false;
    }
  }
  AOptions.Warnings = warnings.Resolve();
  // Colour by default only on a terminal, and never when NO_COLOR is set to anything.
  AOptions.Color =
      color.value_or(IsStandardErrorTerminal() && EnvironmentValue("NO_COLOR").empty());
  for (int i = optind; i < argc; ++i) AOptions.Pages.emplace_back(args[static_cast<size_t>(i)]);
  return true;
}

// The text of --help between the usage line and the list of warnings.
constexpr std::string_view kHelpText =
    "\n"
    "Options:\n"
    "  -h, --help       print this text and exit\n"
    "  --version        print the version and exit\n"
    "  -q, --quiet      print neither the banner nor the success lines\n"
    "  --check          translate and report, but write no page\n"
    "  -Wname           report the warning 'name'; -Wno-name: do not\n"
    "  -Wall            report every warning, also those that braces in JavaScript\n"
    "                   or CSS can trigger\n"
    "  -w               report no warning\n"
    "  -Werror          treat warnings as errors: the page is not written\n"
    "  -Wno-all, -Wno-error\n"
    "                   undo -Wall or -Werror given before\n"
    "  -Werror=name, -Wno-error=name\n"
    "                   report the warning 'name' as an error, or as a warning even\n"
    "                   under -Werror\n"
    "  --diagnostics-format=text|json\n"
    "                   errors and warnings on standard error as text (default) or as\n"
    "                   one JSON array\n"
    "  -fmax-diagnostics=N\n"
    "                   show at most N errors and warnings of a page as text, then how\n"
    "                   many more there are (default 50; 0: all)\n"
    "  --color=auto|always|never\n"
    "                   colour the text diagnostics (auto: when standard error is a\n"
    "                   terminal and NO_COLOR is not set)\n"
    "  -r, --recursive DIR\n"
    "                   translate every page under DIR (NAME.zoq with NAME.zot)\n"
    "  -j, --jobs N     translate N pages at once (default: one per core)\n"
    "  -o, --out-dir DIR\n"
    "                   write the pages under DIR, at their paths under the -r\n"
    "                   folder (a page named directly: DIR/NAME.php)\n"
    "  --watch          translate, then translate a page again whenever its script\n"
    "                   or template changes, until interrupted\n"
    "  --lint           have PHP parse every page before it is written; a page PHP\n"
    "                   cannot parse is an error in its sources (default under --watch\n"
    "                   when PHP is found)\n"
    "  --no-lint        do not, not even under --watch\n"
    "  --php=PATH       the PHP that --lint runs (default: php on PATH)\n"
    "  --explain[=PAGE.php:LINE]\n"
    "                   print the script and template places behind a page line (more\n"
    "                   locations may follow as arguments); without a location, copy\n"
    "                   standard input (PHP's messages) to standard output with the\n"
    "                   source place after every page line\n"
    "  --escape         print every placeholder escaped for the HTML context where it\n"
    "                   stands ({!name} prints raw)\n"
    "  --no-escape      print the placeholders as they are, whatever zoqc.toml says\n"
    "  --serve[=[HOST:]PORT]\n"
    "                   translate and watch as --watch does, and serve the pages with\n"
    "                   PHP's development server (default 127.0.0.1:8000): error pages,\n"
    "                   PHP's errors mapped to the sources, reload on every change\n"
    "  --init [DIR]     lay out a new site in DIR (default: here) that --serve serves\n"
    "                   at once; writes over nothing\n"
    "  --no-project     read no project file (zoqc.toml)\n"
    "  --lsp            serve an editor as a language server on standard input and\n"
    "                   output (Language Server Protocol); writes no page\n"
    "  --               end of the options: every later argument is a page name\n"
    "\n"
    "Every page named is translated in order; the exit code is the highest of the pages'\n"
    "codes: 0 translated, 1 an error in a script or template or a missing input,\n"
    "2 a usage error, 217 a failed file operation.\n"
    "\n"
    "Warnings (on by default unless marked -Wall):\n";

void PrintHelp(std::ostream& AOut, const std::string& AProjectFile) {
  Usage(AOut);
  AOut << kHelpText;
  for (const TWarningInfo& warning : kWarnings)
    AOut << "  -W" << warning.Name << (warning.DefaultOn ? "" : "  (-Wall)") << '\n';
  if (!AProjectFile.empty())
    AOut << "\nProject file: " << AProjectFile
         << " (the options above override it; --no-project ignores it)\n";
}

}  // namespace zoqc
