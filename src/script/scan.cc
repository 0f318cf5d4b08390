// The scan loop: each pass copies the rest of the line, then looks at the next line's start.
#include "src/script/scan.h"

#include "src/script/scanner.h"
#include "src/script/statements.h"

namespace zoqc {

TCompileError ScanScript(TScriptModel& AModel) {
  const std::string_view script = AModel.Text;
  TScan Scan{AModel};
  std::int64_t I = 1;
  while (I <= static_cast<std::int64_t>(script.size())) {
    GotoNewLine(Scan, script, I);
    if (IsTemplateBlockStmtDef(script, I))  // "<<*"
      ProcessTemplateBlockDef(Scan, script, I);
    else if (IsTemplateBlockStmtParse(script, I))  // "<<+"
      ProcessTemplateBlockParse(Scan, script, I);
    else if (IsTemplateBlockStmtVar(script, I))  // "<<<"
      ProcessTemplateBlockVar(Scan, script, I);
    else if (IsTemplateStmt(script, I))  // "<<"
      ProcessTemplateStmt(Scan, script, I);
    else
      NotePhpLine(Scan, script, I);
    if (Scan.Error != TCompileError::None) return Scan.Error;
  }
  return TCompileError::None;
}

}  // namespace zoqc
