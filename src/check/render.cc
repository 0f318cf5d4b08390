// Diagnostics as text and as JSON.
#include "src/check/render.h"

#include <nlohmann/json.hpp>

namespace zoqc {

namespace {

constexpr const char* kReset = "\033[0m";
constexpr const char* kBold = "\033[1m";
constexpr const char* kRed = "\033[1;31m";
constexpr const char* kMagenta = "\033[1;35m";
constexpr const char* kCyan = "\033[1;36m";
constexpr const char* kGreen = "\033[1;32m";

// Spaces up to AColumn, keeping the tabs of the source line so that the caret lines up.
std::string Indent(const std::string& ASource, int AColumn) {
  std::string pad;
  for (int idx = 0; idx + 1 < AColumn; ++idx)
    pad.push_back(static_cast<std::size_t>(idx) < ASource.size() && ASource[idx] == '\t' ? '\t'
                                                                                         : ' ');
  return pad;
}

// Location, severity and message, then the source line and the caret.
void AppendOne(std::string& AOut, const TPlace& APlace, const char* ALabel, const char* AColor,
               const std::string& AMessage, bool AColored) {
  const auto paint = [&](const char* ACode, const std::string& AText) {
    return AColored ? ACode + AText + kReset : AText;
  };
  if (APlace.Line == 0) {
    AOut += paint(kBold, "zoqc:") + " " + AMessage + "\n";
    return;
  }
  AOut += paint(kBold, APlace.File + ":" + std::to_string(APlace.Line) + ":" +
                           std::to_string(APlace.Column) + ":") +
          " " + paint(AColor, std::string(ALabel) + ":") + " " + paint(kBold, AMessage) + "\n";
  AOut += APlace.SourceLine + "\n";
  const int width = std::max(1, APlace.EndColumn - APlace.Column);
  AOut += Indent(APlace.SourceLine, APlace.Column) +
          paint(kGreen, std::string(1, '^').append(static_cast<std::size_t>(width - 1), '~')) +
          "\n";
}

// The fix-its that insert or replace text on the diagnostic's own line, shown under the caret.
void AppendFixIts(std::string& AOut, const TDiagnostic& ADiag, bool AColored) {
  std::string line;
  int column = 1;
  for (const TFixIt& fix : ADiag.FixIts) {
    if (fix.Place.File != ADiag.Place.File || fix.Place.Line != ADiag.Place.Line ||
        fix.Text.empty() || fix.Text.find_first_of("\r\n") != std::string::npos ||
        fix.Place.Column < column)
      continue;
    line += Indent(ADiag.Place.SourceLine, fix.Place.Column)
                .substr(static_cast<std::size_t>(column - 1));
    line += fix.Text;
    column = fix.Place.Column + static_cast<int>(fix.Text.size());
  }
  if (!line.empty()) AOut += (AColored ? kGreen + line + kReset : line) + "\n";
}

nlohmann::json PlaceJson(const TPlace& APlace) {
  return {{"file", APlace.File},
          {"line", APlace.Line},
          {"column", APlace.Column},
          {"end_column", APlace.EndColumn}};
}

}  // namespace

std::string RenderText(const std::vector<TDiagnostic>& ADiagnostics, bool AColor) {
  std::string out;
  for (const TDiagnostic& d : ADiagnostics) {
    const bool error = d.Severity == TSeverity::Error;
    std::string message = d.Message;
    if (!d.Warning.empty())
      message += d.Promoted ? " [-Werror,-W" + d.Warning + "]" : " [-W" + d.Warning + "]";
    AppendOne(out, d.Place, error ? "error" : "warning", error ? kRed : kMagenta, message, AColor);
    if (d.Place.Line != 0) AppendFixIts(out, d, AColor);
    for (const TNote& note : d.Notes)
      AppendOne(out, note.Place, "note", kCyan, note.Message, AColor);
  }
  return out;
}

std::string RenderJson(const std::vector<TDiagnostic>& ADiagnostics, bool AOneLine) {
  nlohmann::json all = nlohmann::json::array();
  for (const TDiagnostic& d : ADiagnostics) {
    nlohmann::json one = PlaceJson(d.Place);
    one["severity"] = d.Severity == TSeverity::Error ? "error" : "warning";
    one["warning"] = d.Warning.empty() ? nlohmann::json(nullptr) : nlohmann::json(d.Warning);
    one["message"] = d.Message;
    one["notes"] = nlohmann::json::array();
    for (const TNote& note : d.Notes) {
      nlohmann::json n = PlaceJson(note.Place);
      n["message"] = note.Message;
      one["notes"].push_back(std::move(n));
    }
    one["fixits"] = nlohmann::json::array();
    for (const TFixIt& fix : d.FixIts) {
      nlohmann::json f = PlaceJson(fix.Place);
      f["text"] = fix.Text;
      one["fixits"].push_back(std::move(f));
    }
    all.push_back(std::move(one));
  }
  // Names and source bytes need not be UTF-8: invalid bytes become U+FFFD instead of throwing.
  return all.dump(AOneLine ? -1 : 2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace zoqc
