// The run of one command line: messages, file I/O and the exit code around Compile.
#pragma once

#include <ostream>


namespace zoqc {

// Runs zoqc with the given arguments, printing the banner, the messages and the report on AOut
// and what the options add (usage errors, console failures) on AErr; yields the exit code.
// AStandardOutput says that AOut is the process's standard output: --explain then gives it
// buffers of its own, and a terminal there shows a status line.
int RunCommandLine(int argc, const char* const* argv, std::ostream& AOut, std::ostream& AErr,
                   bool AStandardOutput = false);

}  // namespace zoqc
