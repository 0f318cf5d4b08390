// zoqc: translates a ZOQ script and its template into one PHP page.
#include <iostream>
#include <string>
#include <vector>

#include "src/driver/driver.h"
#include "src/driver/out_of_memory.h"
#include "src/platform/process.h"

int main(int argc, char** argv) {
  zoqc::PrepareForOutOfMemory();  // before anything allocates
  const zoqc::TConsole console;
  const std::vector<std::string> args = zoqc::CommandLineArguments(argc, argv);
  std::vector<const char*> arg_ptrs;
  for (const std::string& arg : args) arg_ptrs.push_back(arg.c_str());
  return zoqc::RunCommandLine(static_cast<int>(arg_ptrs.size()), arg_ptrs.data(), std::cout,
                              std::cerr, true);
}
