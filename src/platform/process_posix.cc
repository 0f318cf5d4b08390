// Arguments and console on POSIX systems: bytes as they are, LF line ends.
#include "src/platform/process.h"

#include <sys/resource.h>

namespace zoqc {

struct TConsole::TState {};

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

std::size_t OpenFileLimit() {
  static const std::size_t limit = [] {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0) return std::size_t{256};
    if (files.rlim_cur < files.rlim_max) {
      rlimit raised = files;
      raised.rlim_cur = files.rlim_max == RLIM_INFINITY ? 65536 : files.rlim_max;
      if (setrlimit(RLIMIT_NOFILE, &raised) == 0) files = raised;
    }
    return files.rlim_cur == RLIM_INFINITY ? std::size_t{65536}
                                           : static_cast<std::size_t>(files.rlim_cur);
  }();
  return limit;
}

TConsole::TConsole() = default;
TConsole::~TConsole() = default;

}  // namespace zoqc
