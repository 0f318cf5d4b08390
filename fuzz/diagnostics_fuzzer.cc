// Fuzzes the checks, the error locator and both renderers, at scale: every warning on, the
// located error when the translation fails, then the text (limited and not) and the JSON,
// which is parsed back. Properties: the text is UTF-8 with no control byte but LF, it grows
// with what it shows and never with the lines' length, and the JSON holds every diagnostic
// rendered, a whole file without line and columns. Super-linear cost shows up as a slow unit
// (libFuzzer's -timeout).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "src/check/check.h"
#include "src/check/render.h"
#include "src/text/shown.h"
#include "src/translation/compile.h"

namespace {

using zoqc::TDiagnostic;

constexpr std::size_t kMaxSide = 1 << 20;    // bytes of script and of template, each at most
constexpr std::size_t kMaxJson = 5000;       // diagnostics rendered as JSON at most
constexpr std::size_t kMaxUnlimited = 1000;  // diagnostics rendered without a limit up to this

// The input's shapes, expanded: "\x01" C X stands for the byte X repeated (C + 1) * 128 times
// (a long name, a long line), "\x02" C TEXT "\x03" for TEXT repeated (C + 1) squared times
// (many markers, many placeholders, many statements); all stop at kMaxSide bytes.
std::string Expanded(std::string_view AInput) {
  std::string out;
  std::size_t at = 0;
  while (at < AInput.size() && out.size() < kMaxSide) {
    const char c = AInput[at];
    const std::size_t count =
        at + 1 < AInput.size() ? static_cast<unsigned char>(AInput[at + 1]) + 1 : 1;
    if (c == '\x01' && at + 2 < AInput.size()) {
      out.append(std::min(count * 128, kMaxSide - out.size()), AInput[at + 2]);
      at += 3;
    } else if (c == '\x02' && at + 1 < AInput.size()) {
      const std::size_t close = std::min(AInput.find('\x03', at + 2), AInput.size());
      const std::string_view piece = AInput.substr(at + 2, close - at - 2);
      for (std::size_t k = 0;
           k < count * count && !piece.empty() && out.size() + piece.size() <= kMaxSide; ++k)
        out.append(piece);
      at = close + 1;
    } else {
      out.push_back(c);
      ++at;
    }
  }
  return out;
}

[[noreturn]] void Broken(const char* AProperty, std::string_view AOutput) {
  std::fprintf(stderr, "property broken: %s\n%.*s\n", AProperty,
               static_cast<int>(std::min<std::size_t>(AOutput.size(), 2000)), AOutput.data());
  std::abort();
}

// What the text of the first ACount diagnostics may take at most: their messages and fix-it
// texts shown (an escape takes at most four bytes a byte), and for each place a header with
// the file's name, a window of at most 100 columns of at most 4 bytes, its caret line and its
// fix-it lines: 4 KB is plenty.
std::size_t TextBound(const std::vector<TDiagnostic>& ADiags, std::size_t ACount) {
  std::size_t bound = 200;
  for (std::size_t idx = 0; idx < ACount; ++idx) {
    const TDiagnostic& d = ADiags[idx];
    std::size_t places = 1 + d.Notes.size() + d.FixIts.size();
    bound += 4 * (d.Message.size() + d.Warning.size());
    for (const auto& note : d.Notes) bound += 4 * note.Message.size();
    for (const auto& fix : d.FixIts) bound += 2 * 4 * fix.Text.size();
    bound += places * 4096;
  }
  return bound;
}

// The text is UTF-8 and holds no control byte but LF.
void CheckShown(std::string_view AText) {
  for (std::size_t at = 0; at < AText.size();) {
    const unsigned char c = static_cast<unsigned char>(AText[at]);
    if ((c < 0x20 && c != '\n') || c == 0x7F) Broken("no control byte in the text", AText);
    const std::size_t length = zoqc::Utf8Length(AText, at);
    if (c >= 0x80 && length == 0) Broken("the text is UTF-8", AText);
    at += length == 0 ? 1 : length;
  }
}

void CheckJson(const std::vector<TDiagnostic>& ADiags, const std::string& AJson) {
  const nlohmann::json all = nlohmann::json::parse(AJson, nullptr, false);
  if (all.is_discarded() || !all.is_array()) Broken("the JSON parses as an array", AJson);
  if (all.size() != ADiags.size()) Broken("the JSON holds every diagnostic", AJson);
  for (std::size_t idx = 0; idx < all.size(); ++idx) {
    const nlohmann::json& one = all[idx];
    if (one["line"].is_null() != (ADiags[idx].Place.Source == nullptr))
      Broken("a whole file has no line, a span has one", one.dump());
    if (one["line"].is_null()) continue;
    if (one["utf16_column"].get<std::int64_t>() > one["column"].get<std::int64_t>() ||
        one["end_column"].get<std::int64_t>() < one["column"].get<std::int64_t>())
      Broken("columns in order", one.dump());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  std::string_view script_input;
  std::string_view template_input;
  zoqc::fuzz::SplitInput(AData, ASize, script_input, template_input);
  const std::string script = Expanded(script_input);
  const std::string templ = Expanded(template_input);
  // Names with a control byte and a byte that is not UTF-8, as a hostile folder could give.
  const zoqc::TCompileResult result = zoqc::Compile(script, templ);
  const zoqc::TPageModel& model = *result.Model;
  const zoqc::TSource script_source("p\x1b[2J\xE9.zoq", model.Script.Text);
  const zoqc::TSource template_source("p\x1b[2J\xE9.zot", model.Template);
  zoqc::TWarningSet all;
  all.On.set();
  std::vector<TDiagnostic> diags;
  if (result.Ok())
    zoqc::CheckPage(model, result.Leftovers, script_source, template_source, all, diags);
  else if (result.Error == zoqc::TCompileError::BlockOrder)
    diags.push_back(
        zoqc::LocateMarkerError(model, script_source, template_source, result.FailBlock));
  else
    diags.push_back(zoqc::LocateStatementError(model, script_source));

  const std::string text = zoqc::RenderText(diags, false);
  CheckShown(text);
  const std::size_t shown = std::min(diags.size(), zoqc::kDefaultMaxDiagnostics);
  if (text.size() > TextBound(diags, shown)) Broken("the text grows with what it shows", text);
  if (diags.size() > shown) {
    const std::size_t more = diags.size() - shown;
    const std::string last = "zoqc: " + std::to_string(more) +
                             (more == 1 ? " more diagnostic" : " more diagnostics") +
                             " not shown; -fmax-diagnostics=0 shows them all\n";
    if (!text.ends_with(last)) Broken("the text says how many more there are", text);
  }
  if (diags.size() <= kMaxUnlimited) {
    const std::string coloured = zoqc::RenderText(diags, true, 0);
    if (coloured.size() < text.size()) Broken("all diagnostics take no less than some", coloured);
  }
  // JSON costs some microseconds a diagnostic, and a page may have hundreds of thousands:
  // the first few thousand, located among all the offsets they need, suffice.
  if (diags.size() > kMaxJson) diags.resize(kMaxJson);
  CheckJson(diags, zoqc::RenderJson(diags));
  return 0;
}
