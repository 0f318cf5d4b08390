// Positions, diagnostics and edits in the protocol's shapes.
#include "src/lsp/convert.h"

#include <algorithm>

namespace zoqc::lsp {

namespace {

// A short form of a fix-it's text for a title: its first line.
std::string FirstLine(std::string_view AText) {
  const std::size_t end = AText.find_first_of("\r\n");
  return std::string(AText.substr(0, end));
}

}  // namespace

std::string PlainText(std::string_view AMarkdown) {
  std::string text;
  bool code = false;  // inside a fenced block
  while (!AMarkdown.empty()) {
    const std::size_t stop = std::min(AMarkdown.find('\n'), AMarkdown.size());
    const std::string_view line = AMarkdown.substr(0, stop);
    AMarkdown.remove_prefix(std::min(stop + 1, AMarkdown.size()));
    if (line.starts_with("```")) {
      code = !code;
      continue;
    }
    if (!text.empty()) text += '\n';
    if (code) {
      text += "    ";
      text += line;
    } else {
      for (const char c : line) text += c == '`' ? '\'' : c;
    }
  }
  return text;
}

std::size_t IndexOf(const json& AValue) {
  if (AValue.is_number_unsigned()) return AValue.get<std::size_t>();
  if (AValue.is_number_integer())
    return static_cast<std::size_t>(std::max<std::int64_t>(0, AValue.get<std::int64_t>()));
  return 0;
}

TPosition PositionOf(const TPage& APage, TRole ARole, std::size_t AOffset) {
  const TLinePosition at = APage.LinesOf(ARole).Locate(AOffset);
  return {static_cast<std::size_t>(at.Line - 1),
          static_cast<std::size_t>(at.ColumnIn(APage.Encoding))};
}

json PositionJson(const TPage& APage, TRole ARole, std::size_t AOffset) {
  const TPosition at = PositionOf(APage, ARole, AOffset);
  return {{"line", at.Line}, {"character", at.Character}};
}

json RangeJson(const TPage& APage, TRole ARole, const TSpan& ASpan) {
  return {{"start", PositionJson(APage, ARole, ASpan.Begin)},
          {"end", PositionJson(APage, ARole, ASpan.End)}};
}

json LocationJson(const TPage& APage, const TLocation& ALocation) {
  return {{"uri", APage.Uri(ALocation.Role)},
          {"range", RangeJson(APage, ALocation.Role, ALocation.Span)}};
}

std::size_t OffsetOf(const TPage& APage, TRole ARole, const json& APosition) {
  if (!APosition.is_object()) return 0;
  return APage.LinesOf(ARole).OffsetOf(IndexOf(APosition.value("line", json())),
                                       IndexOf(APosition.value("character", json())),
                                       APage.Encoding);
}

TRole RoleOf(const TPage& APage, const TPlace& APlace) {
  return APlace.FileName() == APage.Source(TRole::Template).Name ? TRole::Template : TRole::Script;
}

TSpan SpanOf(const TPage& APage, TRole ARole, const TPlace& APlace) {
  if (!APlace.Source) return {0, 0};  // a whole file: its start
  const std::size_t size = APage.Text(ARole).size();
  const std::size_t begin = std::min(size, APlace.From);
  return {begin, std::min(size, std::max(begin, APlace.To))};
}

json DiagnosticJson(const TPage& APage, const TDiagnostic& ADiagnostic) {
  const TRole role = RoleOf(APage, ADiagnostic.Place);
  const TSpan span = ADiagnostic.Place.OnItsLine();
  json d = {{"range", RangeJson(APage, role, span)},
            {"severity", ADiagnostic.Severity == TSeverity::Error     ? 1
                         : ADiagnostic.Severity == TSeverity::Warning ? 2
                                                                      : 3},
            {"source", "zoqc"},
            {"message", ADiagnostic.Message}};
  if (!ADiagnostic.Warning.empty()) d["code"] = ADiagnostic.Warning;
  if (!ADiagnostic.Notes.empty()) {
    json related = json::array();
    for (const TNote& note : ADiagnostic.Notes) {
      const TRole at = RoleOf(APage, note.Place);
      related.push_back({{"location", LocationJson(APage, {at, note.Place.OnItsLine()})},
                         {"message", note.Message}});
    }
    d["relatedInformation"] = std::move(related);
  }
  return d;
}

json QuickFixJson(const TPage& APage, const TDiagnostic& ADiagnostic, const json& AEdit) {
  if (ADiagnostic.FixIts.empty()) return nullptr;
  std::string title;
  const TFixIt& fix = ADiagnostic.FixIts.front();
  const TRole role = RoleOf(APage, fix.Place);
  const std::string old = FirstLine(SpanOf(APage, role, fix.Place).Of(APage.Text(role)));
  if (fix.Text.empty())
    title = "Remove '" + old + "'";
  else if (old.empty())
    title = "Insert '" + FirstLine(fix.Text) + "'";
  else
    title = "Replace '" + old + "' with '" + FirstLine(fix.Text) + "'";
  return {{"title", title},
          {"kind", "quickfix"},
          {"isPreferred", true},
          {"diagnostics", json::array({DiagnosticJson(APage, ADiagnostic)})},
          {"edit", AEdit}};
}

void TEditBuilder::Add(TRole ARole, const TSpan& ASpan, const std::string& AText) {
  Edits[static_cast<int>(ARole)].push_back(
      {{"range", RangeJson(Page, ARole, ASpan)}, {"newText", AText}});
}

json TEditBuilder::Edit() const {
  json edit = json::object();
  for (const TRole role : {TRole::Script, TRole::Template}) {
    const json& edits = Edits[static_cast<int>(role)];
    if (edits.empty()) continue;
    const std::string& uri = Page.Uri(role);
    if (!DocumentChanges) {
      edit["changes"][uri] = edits;
      continue;
    }
    const std::optional<std::int64_t> version = Workspace.VersionOf(uri);
    edit["documentChanges"].push_back(
        {{"textDocument", {{"uri", uri}, {"version", version ? json(*version) : json(nullptr)}}},
         {"edits", edits}});
  }
  return edit;
}

}  // namespace zoqc::lsp
