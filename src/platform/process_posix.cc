// Arguments and console on POSIX systems: bytes as they are, LF line ends.
#include "src/platform/process.h"

namespace zoqc {

struct TConsole::TState {};

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

TConsole::TConsole() = default;
TConsole::~TConsole() = default;

}  // namespace zoqc
