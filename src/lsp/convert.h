// The protocol's JSON shapes of the server's answers: ranges, locations, diagnostics, edits.
#pragma once

#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

#include "src/lsp/queries.h"
#include "src/lsp/workspace.h"

namespace zoqc::lsp {

using nlohmann::json;

// A 0-based index from a JSON number; 0 for anything else or a negative number.
std::size_t IndexOf(const json& AValue);

// A position as the editor counts it: 0-based line, column in the page's encoding.
struct TPosition {
  std::size_t Line = 0;
  std::size_t Character = 0;
};
TPosition PositionOf(const TPage& APage, TRole ARole, std::size_t AOffset);
// {line, character} of byte AOffset in the file ARole.
json PositionJson(const TPage& APage, TRole ARole, std::size_t AOffset);
json RangeJson(const TPage& APage, TRole ARole, const TSpan& ASpan);
json LocationJson(const TPage& APage, const TLocation& ALocation);
// The byte offset of a {line, character} position in the file ARole.
std::size_t OffsetOf(const TPage& APage, TRole ARole, const json& APosition);

// The span a diagnostic's place covers in the page's file of that place (whole file: at 0).
TSpan SpanOf(const TPage& APage, TRole ARole, const TPlace& APlace);
// The role of the file a place names (by its file name).
TRole RoleOf(const TPage& APage, const TPlace& APlace);
json DiagnosticJson(const TPage& APage, const TDiagnostic& ADiagnostic);

// The Markdown of a hover as plain text, for a client that shows no Markdown: a code block's
// lines indented by four spaces, inline code in single quotes.
std::string PlainText(std::string_view AMarkdown);

// The quick fix of a diagnostic with fix-its, or null.
json QuickFixJson(const TPage& APage, const TDiagnostic& ADiagnostic, const json& AEdit);

// Collects text edits per file and makes a workspace edit of them.
class TEditBuilder {
 public:
  TEditBuilder(const TPage& APage, const TWorkspace& AWorkspace, bool ADocumentChanges)
      : Page(APage), Workspace(AWorkspace), DocumentChanges(ADocumentChanges) {}
  void Add(TRole ARole, const TSpan& ASpan, const std::string& AText);
  json Edit() const;

 private:
  const TPage& Page;
  const TWorkspace& Workspace;
  bool DocumentChanges;  // versioned edits per document, else "changes" by URI
  json Edits[2] = {json::array(), json::array()};  // by TRole
};

}  // namespace zoqc::lsp
