// The options of the command line, read with getopt_long.
#include "src/driver/options.h"

#include <getopt.h>

#include <charconv>
#include <cstring>

#include "src/driver/command_line.h"

namespace zoqc {

namespace {

enum : int { kOptVersion = 256, kOptWatch };

constexpr const char kShortOptions[] = ":hqr:j:o:";
const option kLongOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"quiet", no_argument, nullptr, 'q'},
    {"version", no_argument, nullptr, kOptVersion},
    {"recursive", required_argument, nullptr, 'r'},
    {"jobs", required_argument, nullptr, 'j'},
    {"out-dir", required_argument, nullptr, 'o'},
    {"watch", no_argument, nullptr, kOptWatch},
    {nullptr, 0, nullptr, 0},
};

// The option as the user wrote it, for a message: "-x" or "--name".
std::string Spelled(const char* const* argv, int AIndex, int AShort) {
  if (AShort != 0) return std::string("-") + static_cast<char>(AShort);
  std::string arg = argv[AIndex];
  return arg.substr(0, arg.find('='));
}

// The value of -j: a whole number from 1 to 1024.
bool ParseJobs(const char* AText, int& AJobs) {
  const char* end = AText + std::strlen(AText);
  const auto [stop, error] = std::from_chars(AText, end, AJobs);
  return error == std::errc() && stop == end && AJobs >= 1 && AJobs <= 1024;
}

}  // namespace

bool ParseOptions(int argc, const char* const* argv, TOptions& AOptions, std::string& AError) {
  // getopt_long reorders its argument vector, so it works on a copy of the pointers.
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) args.push_back(const_cast<char*>(argv[i]));
  args.push_back(nullptr);
  opterr = 0;
  optind = 0;  // start afresh: a process may parse more than one command line (the tests do)
  for (;;) {
    const int c = getopt_long(argc, args.data(), kShortOptions, kLongOptions, nullptr);
    if (c == -1) break;
    switch (c) {
      case 'h':
        AOptions.Help = true;
        break;
      case 'q':
        AOptions.Quiet = true;
        break;
      case kOptVersion:
        AOptions.ShowVersion = true;
        break;
      case 'r':
        AOptions.Directories.emplace_back(optarg);
        break;
      case 'j':
        if (!ParseJobs(optarg, AOptions.Jobs)) {
          AError = "option '-j' needs a number from 1 to 1024, not '" + std::string(optarg) + "'";
          return false;
        }
        break;
      case 'o':
        AOptions.OutDir = optarg;
        break;
      case kOptWatch:
        AOptions.Watch = true;
        break;
      case ':':
        AError = "option '" + Spelled(args.data(), optind - 1, optopt) + "' needs a value";
        return false;
      default:
        AError = "unknown option '" + Spelled(args.data(), optind - 1, optopt) + "'";
        return false;
    }
  }
  for (int i = optind; i < argc; ++i) AOptions.Pages.emplace_back(args[static_cast<size_t>(i)]);
  return true;
}

void PrintHelp(std::ostream& AOut) {
  Usage(AOut);
  AOut << "\n"
          "Options:\n"
          "  -h, --help       print this text and exit\n"
          "  --version        print the version and exit\n"
          "  -q, --quiet      print neither the banner nor the success lines\n"
          "  -r, --recursive DIR\n"
          "                   translate every page under DIR (NAME.zoq with NAME.zot)\n"
          "  -j, --jobs N     translate N pages at once (default: one per core)\n"
          "  -o, --out-dir DIR\n"
          "                   write the pages under DIR, at their paths under the -r\n"
          "                   folder (a page named directly: DIR/NAME.php)\n"
          "  --watch          translate, then translate a page again whenever its script\n"
          "                   or template changes, until interrupted\n"
          "  --               end of the options: every later argument is a page name\n"
          "\n"
          "Every page named is translated in order; the exit code is the highest of the pages'\n"
          "codes: 0 translated, 1 an error in a script or template or a missing input,\n"
          "2 a usage error, 217 a failed file operation.\n";
}

}  // namespace zoqc
