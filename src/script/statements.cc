// Statement handlers: record bindings and blocks, copy block statement lines for rewriting.
#include "src/script/statements.h"

#include <memory>

#include "src/script/scanner.h"

namespace zoqc {

bool ProcessTemplateStmt(TRunState& Run, std::string_view AValue, std::int64_t& Postion,
                         std::string& AError) {
  Postion += 2;  // "<<"
  const std::string VarName = ReadTemplateVar(AValue, Postion);
  if (!SkipLittle2(AValue, Postion)) return Fail(AError, "Error(2):need <<");
  const std::string ScriptVarName = ReadScriptVar(AValue, Postion);
  Run.VarList.Put(VarName, ScriptVarName);
  return true;
}

void ProcessTemplateBlockDef(TRunState& Run, std::string_view AValue, std::int64_t& Postion) {
  CopyLine(Run, AValue, Postion);
  Postion += 3;  // "<<*"
  std::string VarName = ReadTemplateVar(AValue, Postion);
  if (SkipLittle2(AValue, Postion)) return;  // "<<*name<<...": no block
  SkipPastLineBreak(AValue, Postion);
  Run.Current_BlockName = VarName;
  Run.BlockList.push_back(std::move(VarName));
}

void ProcessTemplateBlockParse(TRunState& Run, std::string_view AValue, std::int64_t& Postion) {
  CopyLine(Run, AValue, Postion);
  SkipPastLineBreak(AValue, Postion);
}

bool ProcessTemplateBlockVar(TRunState& Run, std::string_view AValue, std::int64_t& Postion,
                             std::string& AError) {
  Postion += 3;  // "<<<"
  const std::string VarName = ReadTemplateVar(AValue, Postion);
  if (!SkipLittle2(AValue, Postion)) return Fail(AError, "Error(5):need <<");
  const std::string ScriptVarName = ReadScriptVar(AValue, Postion);
  if (Run.Current_BlockName.empty()) return Fail(AError, "Error(3):have not set current block");
  THashTable* Hash = Run.BlockVarList.Get(Run.Current_BlockName);
  if (!Hash) {
    Run.BlockTables.push_back(std::make_unique<THashTable>(256));
    Hash = Run.BlockTables.back().get();
    Run.BlockVarList.Put(Run.Current_BlockName, Hash);
  }
  Hash->Put(VarName, ScriptVarName);
  return true;
}

}  // namespace zoqc
