// The translation's tables, built from the page model.
#include "src/template/page_tables.h"

#include <string>

namespace zoqc {

TPageTables::TPageTables(const TScriptModel& AScript, bool AExpressions, bool AViewed)
    : Vars("<?php echo ", ";?>", AViewed) {
  const std::string_view text = AScript.Text;
  std::size_t count = 0, bytes = 0;  // the template variables' bindings, sized once
  for (const TStatement& s : AScript.Statements)
    if (s.Kind == TStatementKind::TemplateVar) ++count, bytes += s.Expr.Size();
  if (AScript.Arena) Vars.UseArena(AScript.Arena.get());
  Vars.Reserve(count, bytes);
  std::string_view current;  // the latest "<<*" line's block name
  for (const TStatement& s : AScript.Statements) {
    if (s.Kind == TStatementKind::BlockDef && !s.Separated) {
      current = s.Name.Of(text);
      continue;
    }
    const std::string_view name = s.Name.Of(text);
    if (s.Kind == TStatementKind::TemplateVar) {
      Vars.Bind(name, s.Expr.Of(text));
      if (AExpressions) VarExprs[name] = s.Expr.Begin;
    } else if (s.Kind == TStatementKind::BlockVar) {
      THashTable* table = BlockVarList.Get(current);
      if (!table) {
        table = BlockTables.emplace_back(std::make_unique<THashTable>(kTableSize)).get();
        BlockVarList.Put(current, table);
      }
      table->Put(name, std::string(s.Expr.Of(text)));
      if (AExpressions) BlockExprs[current][name] = s.Expr.Begin;
    }
  }
}

}  // namespace zoqc
