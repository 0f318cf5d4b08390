// The scan of a script: the loop that copies its PHP lines and hands each statement line to its
// handler, building the script's half of the page model.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "src/model/compile_error.h"
#include "src/model/page_model.h"

namespace zoqc {

// The lines of a script after its first, that its scan reserves its lists from.
struct TLineCount {
  std::size_t Lines = 0;
  std::size_t Openers = 0;       // lines that open with "<<": at most as many statements
  std::size_t BlockOpeners = 0;  // of them, those that open with "<<*" or "<<+"

  std::size_t Slices() const { return Lines + BlockOpeners + 1; }
  // What the scan's lists take (in a TScriptModel::Arena: with room to align them).
  std::size_t ListBytes() const {
    return Openers * sizeof(TStatement) + Slices() * sizeof(TScriptSpan) + 64;
  }
};
TLineCount CountLines(std::string_view AScript);

// Runs the scan over AModel.Text from position 1 and fills the rest of AModel. Stops at the
// first statement error, which is the last statement recorded, and yields it. AModel.Arena,
// when set, holds the lists; ALines, when given, are CountLines(AModel.Text).
[[nodiscard]] TCompileError ScanScript(TScriptModel& AModel, const TLineCount* ALines = nullptr);

// The statements that the lines of AText that open with "<<" would be in a script, each read
// alone as the scan reads a statement line (with no block current and no error raised), in
// order: for a template, whose lines were meant for its script.
std::vector<TStatement> ReadStatementLines(std::string_view AText);

}  // namespace zoqc
