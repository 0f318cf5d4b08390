// Fuzzes the translation with properties: it is deterministic, it equals the sequential
// reference, and it fails only with one of the error lines of the script and the template.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "src/translation/compile.h"
#include "tests/reference.h"

namespace {

bool IsErrorLine(std::string_view ALine) {
  return ALine == "Error(2):need <<" || ALine == "Error(3):have not set current block" ||
         ALine == "Error(4):block define error BEGIN block after END block" ||
         ALine == "Error(5):need <<";
}

using zoqc::reference::TOutcome;

// Says what differs and stops, so that libFuzzer keeps the input as a reproducer.
[[noreturn]] void Broken(const char* AProperty, const TOutcome& AResult) {
  std::fprintf(stderr, "property broken: %s (exit %d, message \"%s\", %zu output bytes)\n",
               AProperty, AResult.ExitCode, AResult.Message.c_str(), AResult.Output.size());
  std::abort();
}

TOutcome Translated(std::string_view AScript, std::string_view ATemplate) {
  return zoqc::reference::OutcomeOf(zoqc::Compile(std::string(AScript), std::string(ATemplate)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  std::string_view script;
  std::string_view templ;
  zoqc::fuzz::SplitInput(AData, ASize, script, templ);
  const TOutcome result = Translated(script, templ);
  if (!(Translated(script, templ) == result)) Broken("deterministic", result);
  if (result.ExitCode == 0 ? !result.Message.empty()
                           : result.ExitCode != 1 || !IsErrorLine(result.Message))
    Broken("only Error(2) to Error(5)", result);
  if (!(zoqc::reference::CompileSequential(script, templ) == result))
    Broken("equal to the sequential reference", result);
  return 0;
}
