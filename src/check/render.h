// Diagnostics as text for people (optionally coloured) and as JSON for editors and CI.
#pragma once

#include <string>
#include <vector>

#include "src/check/diagnostic.h"

namespace zoqc {

// "FILE:LINE:COL: error: MESSAGE [-Wname]", the source line, a caret under the span, a line
// with the fix-its on that line, then the notes the same way. A diagnostic without a line
// reads "zoqc: MESSAGE".
std::string RenderText(const std::vector<TDiagnostic>& ADiagnostics, bool AColor);

// One JSON array with an object per diagnostic, indented, or all on one line (for JSON Lines).
std::string RenderJson(const std::vector<TDiagnostic>& ADiagnostics, bool AOneLine = false);

}  // namespace zoqc
