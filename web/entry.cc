// The playground's entry: one page's translation and checks, from the bytes a browser holds to
// one JSON answer, for the WebAssembly build (scripts/web).
#include <emscripten/emscripten.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "src/check/render.h"
#include "src/driver/failure_report.h"
#include "src/translation/analysis.h"

namespace zoqc {

namespace {

// What one translation answers: the JSON the page reads, and the page's bytes when it is made.
struct TWebAnswer {
  std::string Json;  // {"exit": code, "out": console lines after the banner, "diagnostics": ...}
  std::string Page;  // empty unless exit is 0
};

// Reads warning switches as the command line does ("-Wall -Wno-bom -Werror", "-w"): the
// defaults, or all with -Wall; then each -Wname or -Wno-name, whatever its place; none at all
// with -w. On another word yields false with the command line's reason in AError.
// "--escape" sets AEscape.
[[nodiscard]] bool ReadSwitches(std::string_view ASwitches, TWarningSet& ASet, bool& AEscape,
                                std::string& AError) {
  TWarningSwitches switches;
  while (!ASwitches.empty()) {
    const std::size_t stop = ASwitches.find(' ');
    const std::string_view word = ASwitches.substr(0, stop);
    ASwitches.remove_prefix(stop == std::string_view::npos ? ASwitches.size() : stop + 1);
    if (word.empty()) continue;
    if (word == "-w") {
      switches.None = true;
    } else if (word == "--escape") {
      AEscape = true;
    } else if (!word.starts_with("-W")) {
      AError = "unknown option '" + std::string(word) + "'";
      return false;
    } else if (!switches.Add(word.substr(2))) {
      AError = "unknown warning option '" + std::string(word) + "'";
      return false;
    }
  }
  ASet = switches.Resolve();
  return true;
}

std::string AnswerJson(int AExit, std::string_view AOut, const std::vector<TDiagnostic>& ADiags) {
  std::string json = "{\"diagnostics\":";
  AppendJsonString(json, RenderJson(ADiags));
  json += ",\"exit\":" + std::to_string(AExit) + ",\"out\":";
  AppendJsonString(json, AOut);
  return json += '}';
}

// Checks and translates as `zoqc SWITCHES NAME` does with NAME.zoq and NAME.zot holding the
// inputs, and answers what it would print and write.
TWebAnswer Translate(std::string_view AName, std::string_view AScript, std::string_view ATemplate,
                     std::string_view ASwitches) {
  const std::string name(AName);
  std::vector<TDiagnostic> diags;
  TWarningSet warnings;
  std::string error;
  bool escape = false;
  if (!ReadSwitches(ASwitches, warnings, escape, error))
    return {AnswerJson(2, "zoqc: " + error + "\n", diags), ""};
  const TAnalysis page = AnalysePage(name + ".zoq", std::string(AScript), name + ".zot",
                                     std::string(ATemplate), warnings, {.Escape = escape});
  const bool failed = page.Failed();  // the lines as on the command line
  return {AnswerJson(failed ? 1 : 0, ResultLine(page), page.Diagnostics),
          failed ? "" : page.Result.Pieces.Joined()};
}

// Running out of memory: the command line's failure report, and its reason on standard error.
std::string OutOfMemoryJson(std::string_view AName) {
  std::vector<TDiagnostic> diags(1);
  diags[0].Place.File = std::string(AName) + ".php";
  diags[0].Message = "out of memory";
  return AnswerJson(217, FailureReport(kOutOfMemoryKind, kOutOfMemoryMessage, kOutOfMemoryLocation),
                    diags);
}

// The last answer, kept for the page to read: the module runs one call at a time.
TWebAnswer LastAnswer;

}  // namespace

}  // namespace zoqc

extern "C" {

// Translates the page ANAME (NUL-ended) from its script and template bytes under the warning
// switches ASwitches (NUL-ended, separated by spaces). Yields the answer's JSON, NUL-ended;
// zoqc_page_data and zoqc_page_size give the page. Both stay valid until the next call. When
// the memory runs out, the module stops (throwing aborts it) and zoqc.js asks a fresh one for
// zoqc_out_of_memory.
EMSCRIPTEN_KEEPALIVE const char* zoqc_translate(const char* AName, const char* AScript,
                                                std::size_t AScriptSize, const char* ATemplate,
                                                std::size_t ATemplateSize, const char* ASwitches) {
  using zoqc::LastAnswer;
  LastAnswer = {};
  LastAnswer = zoqc::Translate(AName, std::string_view(AScript, AScriptSize),
                               std::string_view(ATemplate, ATemplateSize), ASwitches);
  return LastAnswer.Json.c_str();
}

// The answer of a translation whose memory ran out, for the page ANAME (NUL-ended): asked of a
// fresh module, since a module whose memory runs out stops.
EMSCRIPTEN_KEEPALIVE const char* zoqc_out_of_memory(const char* AName) {
  zoqc::LastAnswer = {zoqc::OutOfMemoryJson(AName), ""};
  return zoqc::LastAnswer.Json.c_str();
}

EMSCRIPTEN_KEEPALIVE const char* zoqc_page_data() { return zoqc::LastAnswer.Page.data(); }

EMSCRIPTEN_KEEPALIVE std::size_t zoqc_page_size() { return zoqc::LastAnswer.Page.size(); }

}  // extern "C"
