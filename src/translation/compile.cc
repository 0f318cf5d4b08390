// The translation: the phases in their order over one run state.
#include "src/translation/compile.h"

#include <optional>
#include <utility>

#include "src/script/scanner.h"
#include "src/state/run_state.h"
#include "src/template/blocks.h"
#include "src/template/variables.h"

namespace zoqc {

namespace {

// What a translated page views: the run state and the texts of its placeholders.
struct TPageStorage {
  TRunState Run;
  std::optional<TPlaceholderIndex> Vars;
};

}  // namespace

TCompileResult Compile(std::string_view AScript, std::string ATemplate) {
  TCompileResult result;
  auto storage = std::make_shared<TPageStorage>();
  TRunState& Run = storage->Run;
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
    result.Template = std::move(Run.TemplateStr);
    return result;
  }
  Run.ScriptStr = {};  // the caller may free the script now
  result.Pieces.Append(Run.PhpStr);
  storage->Vars.emplace(&Run.VarList, "<?php echo ", ";?>");
  Run.VarList.Clear();  // the index holds every text the page needs from it
  SubstituteVariables(Run, *storage->Vars, result.Pieces);
  result.Storage = std::move(storage);
  return result;
}

}  // namespace zoqc
