// Script scanner: the routines that read a statement line apart and copy PHP lines, for the
// scan (src/script/scan.h) that builds the script's half of the page model.
// Positions are 1-based byte positions in AValue; a position past the end reads nothing.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "src/model/compile_error.h"
#include "src/model/page_model.h"
#include "src/text/bytes.h"

namespace zoqc {

// The one place where 1-based positions and 0-based indexes meet.
inline std::size_t IndexOf(std::int64_t Postion) { return static_cast<std::size_t>(Postion - 1); }
inline std::int64_t PostionOf(std::size_t AIndex) { return static_cast<std::int64_t>(AIndex) + 1; }

// The byte at the 1-based APostion (which must lie within AValue).
inline char ByteAt(std::string_view AValue, std::int64_t Postion) {
  return AValue[IndexOf(Postion)];
}

// What the scan carries from line to line besides the model it fills.
struct TScan {
  explicit TScan(TScriptModel& AModel) : Model(AModel) {}

  TScriptModel& Model;
  std::string_view Current_BlockName;         // the block opened by the latest "<<*"; empty before
  TCompileError Error = TCompileError::None;  // set by the handler that stopped the scan
  // Past the LF of the line a handler recorded (or the script's end), which the next
  // GotoNewLine copies through without searching it again; kNowhere when not known.
  std::size_t LineDone = kNowhere;
};

// The first CR or LF at or after AFrom, or the size of AText: where a statement's line ends.
inline std::size_t LineBreakAt(std::string_view AText, std::size_t AFrom) {
  return TBytes<2>('\n', '\r').Next(AText, AFrom);
}

// Copies the rest of the line, through its LF (or to the end of AValue), into the PHP part
// (a slice of Scan.Model); Postion ends just past the last byte copied. Takes the line's end from
// Scan.LineDone when a handler found it, and clears that.
inline void GotoNewLine(TScan& Scan, std::string_view AValue, std::int64_t& Postion);
// The block references ("<<*name", "<<+name") in [AFrom, ATo) of the script, as of slice ASlice.
void AddRefs(TScriptModel& AModel, std::size_t AFrom, std::size_t ATo, std::size_t ASlice);
// Copies the same bytes as GotoNewLine; Postion does not move.
void CopyLine(TScan& Scan, std::string_view AValue, std::int64_t Postion);

// At least three bytes remain and the two at Postion are "<<".
bool IsTemplateStmt(std::string_view AValue, std::int64_t Postion);
// At least four bytes remain and the three at Postion are "<<*".
bool IsTemplateBlockStmtDef(std::string_view AValue, std::int64_t Postion);

// The bytes from Postion up to the first CR or LF. Postion steps past a CR but stops on an LF,
// which the scan loop then copies, so LF-only lines end like CR LF ones.
std::string_view ReadScriptVar(std::string_view AValue, std::int64_t& Postion);
// With at least three bytes left and "<<" at Postion, steps over it and yields true.
bool SkipLittle2(std::string_view AValue, std::int64_t& Postion);
// Moves Postion to the first CR or LF at or after it, then past a CR but not past an LF.
void SkipPastLineBreak(std::string_view AValue, std::int64_t& Postion);

// The scan loop's copy, inline: a statement line leaves its LF alone, a slice too short for
// references.
inline void GotoNewLine(TScan& Scan, std::string_view AValue, std::int64_t& Postion) {
  if (Postion > static_cast<std::int64_t>(AValue.size())) return;
  const std::size_t start = IndexOf(Postion);
  std::size_t end = Scan.LineDone;
  Scan.LineDone = kNowhere;
  if (end == kNowhere || end <= start) {
    const void* lf = std::memchr(AValue.data() + start, '\n', AValue.size() - start);
    end = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - AValue.data()) + 1
             : AValue.size();
  }
  TScriptModel& model = Scan.Model;
  const std::size_t slice = model.Slices.size();
  model.Slices.push_back({start, end});
  if (end - start >= 3) AddRefs(model, start, end, slice);  // room for an opener
  Postion = PostionOf(end);
}

}  // namespace zoqc
