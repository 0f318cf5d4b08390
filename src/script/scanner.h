// Script scanner: the scan loop and the routines that read a statement line apart.
// Positions are 1-based byte positions in AValue; a position past the end reads nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "src/state/run_state.h"

namespace zoqc {

// The one place where 1-based positions and 0-based indexes meet.
inline std::size_t IndexOf(std::int64_t Postion) { return static_cast<std::size_t>(Postion - 1); }
inline std::int64_t PostionOf(std::size_t AIndex) { return static_cast<std::int64_t>(AIndex) + 1; }

// The byte at the 1-based APostion (which must lie within AValue).
inline char ByteAt(std::string_view AValue, std::int64_t Postion) {
  return AValue[IndexOf(Postion)];
}

// Appends the rest of the line, through its LF (or to the end of AValue), to Run.PhpStr;
// Postion ends just past the last byte appended.
void GotoNewLine(TRunState& Run, std::string_view AValue, std::int64_t& Postion);
// Appends the same bytes as GotoNewLine; Postion does not move.
void CopyLine(TRunState& Run, std::string_view AValue, std::int64_t Postion);

// At least three bytes remain and the two at Postion are "<<".
bool IsTemplateStmt(std::string_view AValue, std::int64_t Postion);
// At least four bytes remain and the three at Postion are "<<*".
bool IsTemplateBlockStmtDef(std::string_view AValue, std::int64_t Postion);
// At least four bytes remain and the three at Postion are "<<+".
bool IsTemplateBlockStmtParse(std::string_view AValue, std::int64_t Postion);
// At least four bytes remain and the three at Postion are "<<<".
bool IsTemplateBlockStmtVar(std::string_view AValue, std::int64_t Postion);

// The run of name characters at Postion (possibly empty); Postion ends on the byte after it.
std::string ReadTemplateVar(std::string_view AValue, std::int64_t& Postion);
// The bytes from Postion up to the first CR or LF. Postion steps past a CR but stops on an LF,
// which the scan loop then copies, so LF-only lines end like CR LF ones.
std::string ReadScriptVar(std::string_view AValue, std::int64_t& Postion);
// With at least three bytes left and "<<" at Postion, steps over it and yields true.
bool SkipLittle2(std::string_view AValue, std::int64_t& Postion);
// Moves Postion to the first CR or LF at or after it, then past a CR but not past an LF.
void SkipPastLineBreak(std::string_view AValue, std::int64_t& Postion);

// Runs the scan over Run.ScriptStr from position 1: copies lines into Run.PhpStr and executes
// the statements. On a statement error writes its line into AError and yields false.
[[nodiscard]] bool ScanScript(TRunState& Run, std::string& AError);

}  // namespace zoqc
