// Statement handlers: the meaning of "<<name<<", "<<*name", "<<<name<<" and "<<+name" lines.
// Each is called with Postion on the statement's first "<" and leaves it for the scan loop.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "src/state/run_state.h"

namespace zoqc {

// "<<name<<expression": binds name in Run.VarList. Appends nothing to Run.PhpStr; Postion ends
// past the CR that ends the expression, or on its LF. Error(2) without the "<<".
[[nodiscard]] bool ProcessTemplateStmt(TRunState& Run, std::string_view AValue,
                                       std::int64_t& Postion, std::string& AError);
// "<<*name": copies the whole line to Run.PhpStr, then lists name in Run.BlockList and makes it
// the current block, unless "<<" follows the name (Postion then ends just past that "<<").
void ProcessTemplateBlockDef(TRunState& Run, std::string_view AValue, std::int64_t& Postion);
// "<<+name": copies the whole line to Run.PhpStr and records nothing.
void ProcessTemplateBlockParse(TRunState& Run, std::string_view AValue, std::int64_t& Postion);
// "<<<name<<expression": binds name in the current block's table, creating the table on first
// use. Error(5) without the "<<", then Error(3) when no block is current.
[[nodiscard]] bool ProcessTemplateBlockVar(TRunState& Run, std::string_view AValue,
                                           std::int64_t& Postion, std::string& AError);

}  // namespace zoqc
