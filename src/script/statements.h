// Statement handlers: the meaning of "<<name<<", "<<*name", "<<<name<<" and "<<+name" lines.
// Each is called with Postion on the statement's first "<", records the statement in
// Scan.Model.Statements and leaves Postion for the scan loop. A handler that fails sets
// Scan.Error; its statement is then the last one recorded.
#pragma once

#include <cstdint>
#include <string_view>

#include "src/script/scanner.h"

namespace zoqc {

// "<<name<<expression": binds name to the expression. Copies nothing; Postion ends past the CR that
// ends the expression, or on its LF. Error(2) without the "<<".
void ProcessTemplateStmt(TScan& Scan, std::string_view AValue, std::int64_t& Postion);
// "<<*name": copies the whole line, then makes name the current block, unless "<<" follows the
// name (Postion then ends just past that "<<").
void ProcessTemplateBlockDef(TScan& Scan, std::string_view AValue, std::int64_t& Postion);
// "<<+name": copies the whole line and binds nothing.
void ProcessTemplateBlockParse(TScan& Scan, std::string_view AValue, std::int64_t& Postion);
// "<<<name<<expression": binds name in the current block. Error(5) without the "<<", then
// Error(3) when no block is current.
void ProcessTemplateBlockVar(TScan& Scan, std::string_view AValue, std::int64_t& Postion);
// A line that is no statement: records it when blanks and then "<<" open it, since such a line
// looks like a statement but stays plain PHP. Postion does not move.
void NotePhpLine(TScan& Scan, std::string_view AValue, std::int64_t Postion);

}  // namespace zoqc
