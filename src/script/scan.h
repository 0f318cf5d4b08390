// The scan of a script: the loop that copies its PHP lines and hands each statement line to its
// handler, building the script's half of the page model.
#pragma once

#include "src/model/compile_error.h"
#include "src/model/page_model.h"

namespace zoqc {

// Runs the scan over AModel.Text from position 1 and fills the rest of AModel. Stops at the
// first statement error, which is the last statement recorded, and yields it.
[[nodiscard]] TCompileError ScanScript(TScriptModel& AModel);

}  // namespace zoqc
