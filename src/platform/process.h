// What a run needs from the system besides files: its arguments and its console. One
// implementation per platform (process_posix.cc, process_windows.cc).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace zoqc {

// The command-line arguments as UTF-8, the program's own name first. On Windows they are read
// from the UTF-16 command line, so that names outside the ANSI code page arrive intact;
// elsewhere they are argv as given.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// How many files the process may hold open at once. The first call raises the limit as far as
// the system lets an unprivileged process (on POSIX the soft limit to the hard one).
std::size_t OpenFileLimit();

// Readies standard output and standard error for the run's messages, which are UTF-8 text with
// '\n' line ends, and puts them back as they were when it goes out of scope. On Windows every
// '\n' comes out as CR LF, and a console shows the UTF-8 text as the letters it encodes.
class TConsole {
 public:
  TConsole();
  ~TConsole();
  TConsole(const TConsole&) = delete;
  TConsole& operator=(const TConsole&) = delete;

 private:
  struct TState;
  std::unique_ptr<TState> State;  // what is to be put back; null when nothing is
};

}  // namespace zoqc
