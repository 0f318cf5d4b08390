// The translation's tables: the bindings of the page model's statements, as the page uses them.
#pragma once

#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "src/model/page_model.h"
#include "src/tables/VarHashtable.h"
#include "src/tables/varhashtable2.h"
#include "src/template/variables.h"

namespace zoqc {

// Built by replaying the binding statements in script order: a rebinding replaces the value, and
// "<<<" lines bind into the table of the latest "<<*" line's name as it is spelled there.
struct TPageTables {
  // From a scan that succeeded; with AExpressions, also the expression offsets for provenance.
  // With AViewed, Vars views the expressions instead of building its texts.
  TPageTables(const TScriptModel& AScript, bool AExpressions, bool AViewed = false);

  // Template variable name -> "<?php echo " PHP expression ";?>", viewing the script's names.
  TPlaceholderIndex Vars;
  THashTable2 BlockVarList{kTableSize};  // block name -> that block's variables (borrowed)
  std::vector<std::unique_ptr<THashTable>> BlockTables;  // owns what BlockVarList points to
  TExpressionOffsets VarExprs;                           // with AExpressions: of Vars' names
  std::unordered_map<std::string_view, TExpressionOffsets> BlockExprs;  // by block name
};

}  // namespace zoqc
