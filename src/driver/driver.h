// The run of one command line: messages, file I/O and the exit code around Compile.
#pragma once

#include <ostream>

namespace zoqc {

inline constexpr int kExitSuccess = 0;        // also for the usage text
inline constexpr int kExitError = 1;          // a missing input, an error in script or template
inline constexpr int kExitUsage = 2;          // an unknown option or a missing option value
inline constexpr int kExitFileFailure = 217;  // a failed file operation, or out of memory

// Runs zoqc with the given arguments, printing the banner, the messages and the report on AOut
// and what the options add (usage errors, console failures) on AErr; yields the exit code.
int RunCommandLine(int argc, const char* const* argv, std::ostream& AOut, std::ostream& AErr);

}  // namespace zoqc
