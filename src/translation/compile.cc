// The translation: the phases in their order over one run state.
#include "src/translation/compile.h"

#include <utility>

#include "src/script/scanner.h"
#include "src/state/run_state.h"
#include "src/template/blocks.h"
#include "src/template/variables.h"

namespace zoqc {

TCompileResult Compile(std::string_view AScript, std::string ATemplate) {
  TCompileResult result;
  TRunState Run;
  Run.ScriptStr = AScript;
  Run.TemplateStr = std::move(ATemplate);
  bool ok = ScanScript(Run, result.Message);
  if (ok) {
    Run.PhpStr.append("\r\n?>\r\n");  // the PHP closing tag
    ok = ExpandBlocks(Run, result.Message);
  }
  if (!ok) {
    result.ExitCode = 1;
    result.FailPos = Run.FailPos;
    result.FailBlock = std::move(Run.FailBlock);
    return result;
  }
  result.Output = std::move(Run.PhpStr);
  SubstituteVariables(Run, result.Output);
  return result;
}

}  // namespace zoqc
