// A plain sequential translation, one pass per block and per rule, for checking the fast one.
#pragma once

#include <string>
#include <string_view>

#include "src/translation/compile.h"

namespace zoqc::reference {

// What a translation came to, in the form the tests compare: the exit code, the error line and
// the whole page.
struct TOutcome {
  int ExitCode = 0;
  std::string Message;  // the error line; empty on success
  std::string Output;   // the page; empty on an error
  bool operator==(const TOutcome&) const = default;
};
TOutcome OutcomeOf(const TCompileResult& AResult);

// The same translation as zoqc::Compile, done the slow and obvious way: the real script scan,
// then each block of BlockList in order on the current template text (markers found with Pos,
// the block cut with Copy, replaced in the template with StringReplace), statements rewritten
// only in the text the scan produced, and finally one left-to-right pass for the template's
// placeholders. Quadratic on purpose; for tests only.
TOutcome CompileSequential(std::string_view AScript, std::string_view ATemplate);

}  // namespace zoqc::reference
