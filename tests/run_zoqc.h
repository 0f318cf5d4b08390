// Test support for the driver's tests: a run of the command line in this process, with what
// it printed, and a scratch directory that is also the current directory.
#pragma once

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "src/driver/driver.h"
#include "tests/scratch_dir.h"

namespace zoqc::test_support {

struct TRun {
  int ExitCode = -1;
  std::string Out;                 // everything printed on standard output
  std::string Err;                 // everything printed on standard error
  std::vector<std::string> Lines;  // Out, split at LF
};

// Runs "zoqc" with AArgs and collects what it prints.
inline TRun RunZoqc(const std::vector<std::string>& AArgs) {
  std::vector<const char*> argv = {"zoqc"};
  for (const std::string& arg : AArgs) argv.push_back(arg.c_str());
  std::ostringstream out;
  std::ostringstream err;
  TRun run;
  run.ExitCode = RunCommandLine(static_cast<int>(argv.size()), argv.data(), out, err);
  run.Out = out.str();
  run.Err = err.str();
  std::istringstream in(run.Out);
  for (std::string line; std::getline(in, line);) run.Lines.push_back(line);
  return run;
}

// Standard output of the shell command ACommand (add 2>&1 to it for standard error too).
inline std::string Shell(const std::string& ACommand) {
  std::string text;
  FILE* pipe = popen(ACommand.c_str(), "r");
  if (!pipe) return text;
  char chunk[4096];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
    text.append(chunk, got);
  pclose(pipe);
  return text;
}

// Each test runs in a scratch directory of its own, which is also the current directory.
class TScratchCwdTest : public TScratchDirTest {
 protected:
  void SetUp() override {
    OldDir = std::filesystem::current_path();
    TScratchDirTest::SetUp();
    std::filesystem::current_path(Dir);
  }
  void TearDown() override {
    std::filesystem::current_path(OldDir);
    TScratchDirTest::TearDown();
  }

  std::filesystem::path OldDir;
};

}  // namespace zoqc::test_support
