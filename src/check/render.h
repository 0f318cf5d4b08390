// Diagnostics as text for people (optionally coloured) and as JSON for editors and CI: the one
// place where a diagnostic's offsets become lines, columns and shown source.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "src/check/diagnostic.h"

namespace zoqc {

// How many diagnostics of a page the text form shows unless told otherwise.
inline constexpr std::size_t kDefaultMaxDiagnostics = 50;

// Each diagnostic as "FILE:LINE:COL: error: MESSAGE [-Wname]" (COL counts bytes), the source
// line, a caret line under the span and a line with the fix-its on that line, placed by
// display columns; then its notes the same way, except that a note on the diagnostic's own line
// with no fix-it there shows no line again. A long line shows a window around the span, cut
// off with "..."; a fix-it that falls outside it gets a note of its own. A diagnostic without
// a span reads "zoqc: MESSAGE". Names, messages and lines show control bytes, bytes that are
// not UTF-8 and hidden characters escaped (src/text/shown.h). After AMax diagnostics (0: no
// limit) one line says how many more there are. The inputs that the places point into must be
// alive.
std::string RenderText(const std::vector<TDiagnostic>& ADiagnostics, bool AColor,
                       std::size_t AMax = kDefaultMaxDiagnostics);

// Each diagnostic as one JSON object on one line, with the fields
//   file, line, column, end_column, utf16_column, utf16_end_column, severity, warning,
//   message, notes (each: the place's fields and message), fixits (each: the place's fields
//   and text, which replaces the span).
// Lines and columns are 1-based; column and end_column count bytes, the utf16 ones UTF-16 code
// units. A place without a span (a whole file) has null for its line and columns. A file name
// that is not UTF-8 is also given as file_bytes: the name with each byte outside UTF-8 and
// each "%" written %XX. Every diagnostic is there: no limit applies. The inputs that the
// places point into must be alive.
std::vector<std::string> RenderJsonObjects(const std::vector<TDiagnostic>& ADiagnostics);

// The objects (of one page or of many) as one JSON array ended by a line end: an object per
// line, or with AOneLine the whole array on one line.
std::string JsonArray(const std::vector<std::string>& AObjects, bool AOneLine = false);

// Appends AText as a JSON string: quotes, backslashes and control bytes escaped, UTF-8 kept,
// and each byte that is not UTF-8 written as U+FFFD (file_bytes keeps a name recoverable).
void AppendJsonString(std::string& AOut, std::string_view AText);

// The diagnostics as one JSON array: JsonArray(RenderJsonObjects(ADiagnostics)).
std::string RenderJson(const std::vector<TDiagnostic>& ADiagnostics);

}  // namespace zoqc
