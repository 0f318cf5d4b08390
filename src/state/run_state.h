// The state of one translation (the texts, the tables and the block list) and the failure helper
// that the script and template phases share.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "src/tables/VarHashtable.h"
#include "src/tables/varhashtable2.h"

namespace zoqc {

// Everything one run reads and writes. Views into its texts stay valid as long as the state
// lives where it was made, so a page in pieces keeps its run state with it. BlockVarList only
// borrows the tables it maps to; BlockTables owns them, so every table outlives the lookups made
// through BlockVarList.
struct TRunState {
  std::string_view ScriptStr;  // the script; never changed
  std::string TemplateStr;     // the template as loaded; never changed
  // The template as block expansion leaves it, in pieces: stretches of TemplateStr and the
  // echoes that replace the blocks (held in BlockEchoes). Variable substitution reads it.
  std::vector<std::string_view> TemplatePieces;
  std::vector<std::string> BlockEchoes;  // the echo texts that TemplatePieces views
  std::string PhpStr;                    // the PHP produced so far; the first half of the output
  std::string Current_BlockName;         // the block opened by the latest "<<*"; empty before one
  THashTable VarList{256};               // template variable name -> PHP expression
  THashTable2 BlockVarList{256};         // block name -> that block's variables (borrowed)
  std::vector<std::string> BlockList;    // block names, in definition order
  std::vector<std::unique_ptr<THashTable>> BlockTables;  // owns what BlockVarList points to
  std::int64_t FailPos = 0;  // after a statement error: where its line starts in ScriptStr
  std::string FailBlock;     // after a marker error: the block whose markers are wrong
};

// Fails with AError set to its message line; the caller stops at once.
[[nodiscard]] inline bool Fail(std::string& AError, std::string_view ALine) {
  AError = ALine;
  return false;
}

}  // namespace zoqc
