// The open buffers, the pages and their analyses.
#include "src/lsp/workspace.h"

#include "src/translation/analysis.h"

namespace zoqc::lsp {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool EndsWith(std::string_view AText, std::string_view AEnd) {
  return AText.size() >= AEnd.size() && AText.substr(AText.size() - AEnd.size()) == AEnd;
}

// Error(1) for a page with a file missing, on the file that is there.
void AddMissing(TPage& APage, TRole AMissing) {
  const TRole present = AMissing == TRole::Script ? TRole::Template : TRole::Script;
  if (!APage.Found[static_cast<int>(present)]) return;
  TDiagnostic& d = APage.Analysis.Diagnostics.emplace_back();
  d.Place.File = APage.Source(present).Name;  // the whole file
  const std::string missing = PathOfUri(APage.Uri(AMissing)).value_or(APage.Uri(AMissing));
  d.Message = AMissing == TRole::Script ? "cannot find the script '" + missing + "'"
                                        : "cannot find the template '" + missing + "'";
}

}  // namespace

std::optional<std::string> PathOfUri(std::string_view AUri) {
  constexpr std::string_view scheme = "file://";
  if (!AUri.starts_with(scheme)) return std::nullopt;
  std::string_view rest = AUri.substr(scheme.size());
  rest = rest.substr(std::min(rest.find('/'), rest.size()));  // no host, or "localhost"
  std::string path;
  for (std::size_t idx = 0; idx < rest.size(); ++idx) {
    if (rest[idx] == '%' && idx + 2 < rest.size() + 0 && HexValue(rest[idx + 1]) >= 0 &&
        HexValue(rest[idx + 2]) >= 0) {
      path += static_cast<char>(HexValue(rest[idx + 1]) * 16 + HexValue(rest[idx + 2]));
      idx += 2;
    } else {
      path += rest[idx];
    }
  }
  // No file's name holds a control byte: a NUL would cut the path short where the system reads
  // it ("/etc/passwd%00.zoq" is not "/etc/passwd").
  for (const char c : path)
    if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') return std::nullopt;
  // "/C:/dir" on Windows is "C:/dir".
  if (path.size() >= 3 && path[0] == '/' && path[2] == ':') path.erase(0, 1);
  return path;
}

std::optional<TRole> RoleOfUri(std::string_view AUri) {
  if (EndsWith(AUri, ".zoq")) return TRole::Script;
  if (EndsWith(AUri, ".zot")) return TRole::Template;
  return std::nullopt;
}

void PageUris(std::string_view AUri, std::string& AScriptUri, std::string& ATemplateUri) {
  const std::string base(AUri.substr(0, AUri.size() - 4));
  AScriptUri = base + ".zoq";
  ATemplateUri = base + ".zot";
}

TWarningSet WarningsOf(const std::vector<std::string>& ASwitches) {
  TWarningSwitches switches;
  for (std::string_view name : ASwitches) {
    if (name == "-w") {
      switches.None = true;
      continue;
    }
    if (name.starts_with("-W")) name.remove_prefix(2);
    (void)switches.Add(name);  // an unknown name is ignored
  }
  return switches.Resolve();
}

void TWorkspace::Open(const std::string& AUri, std::string AText, std::int64_t AVersion) {
  Buffers[AUri] = {std::move(AText), AVersion};
  Touch(AUri);
}

void TWorkspace::Close(const std::string& AUri) {
  Buffers.erase(AUri);
  Touch(AUri);
}

std::vector<std::string> TWorkspace::OpenUris() const {
  std::vector<std::string> uris;
  for (const auto& [uri, buffer] : Buffers) uris.push_back(uri);
  return uris;
}

std::optional<std::int64_t> TWorkspace::VersionOf(const std::string& AUri) const {
  const auto it = Buffers.find(AUri);
  if (it == Buffers.end()) return std::nullopt;
  return it->second.Version;
}

const std::string* TWorkspace::TextOf(const std::string& AUri) const {
  const auto it = Buffers.find(AUri);
  return it == Buffers.end() ? nullptr : &it->second.Text;
}

void TWorkspace::Replace(const std::string& AUri, std::size_t AFrom, std::size_t ATo,
                         std::string_view AText) {
  const auto it = Buffers.find(AUri);
  if (it == Buffers.end()) return;
  std::string& text = it->second.Text;
  ATo = std::min(ATo, text.size());
  AFrom = std::min(AFrom, ATo);
  text.replace(AFrom, ATo - AFrom, AText);
  Touch(AUri);
}

void TWorkspace::SetVersion(const std::string& AUri, std::int64_t AVersion) {
  const auto it = Buffers.find(AUri);
  if (it != Buffers.end()) it->second.Version = AVersion;
}

void TWorkspace::Touch(const std::string& AUri) {
  if (AUri.ends_with("/zoqc.toml")) return Pages.clear();  // the settings of a site changed
  if (!RoleOfUri(AUri)) return;
  std::string script, templ;
  PageUris(AUri, script, templ);
  Pages.erase(script);
}

const TPage* TWorkspace::PageOf(const std::string& AUri) {
  if (!RoleOfUri(AUri)) return nullptr;
  std::string script, templ;
  PageUris(AUri, script, templ);
  std::unique_ptr<TPage>& page = Pages[script];
  if (!page) page = Analyse(script, templ);
  return page.get();
}

std::unique_ptr<TPage> TWorkspace::Analyse(const std::string& AScriptUri,
                                           const std::string& ATemplateUri) {
  auto page = std::make_unique<TPage>();
  page->ScriptUri = AScriptUri;
  page->TemplateUri = ATemplateUri;
  std::string names[2], texts[2];
  for (int role = 0; role < 2; ++role) {
    const std::string& uri = page->Uri(static_cast<TRole>(role));
    names[role] = uri.substr(uri.find_last_of('/') + 1);
    if (const std::string* open = TextOf(uri)) {
      texts[role] = *open;
      page->Found[role] = true;
    } else if (const std::optional<std::string> path = PathOfUri(uri)) {
      page->Found[role] = Load(*path, texts[role]);
      if (!page->Found[role]) texts[role].clear();
    }
  }
  TSettings settings = Settings;
  std::string project_error;
  if (const std::optional<std::string> path = PathOfUri(AScriptUri); path && Project)
    Project(*path, settings, project_error);
  page->Analysis = AnalysePage(names[0], std::move(texts[0]), names[1], std::move(texts[1]),
                               settings.Warnings, {.Escape = settings.Escape});
  page->Encoding = Encoding;
  std::vector<TDiagnostic>& diagnostics = page->Analysis.Diagnostics;
  const bool complete = page->Found[0] && page->Found[1];
  if (!complete) diagnostics.clear();  // of a page that is not there
  if (!project_error.empty()) {        // on the script, which is what the file is about
    TDiagnostic& d = *diagnostics.emplace(diagnostics.begin());
    d.Place.File = names[0];
    d.Message = project_error;
  }
  if (!complete) {
    AddMissing(*page, page->Found[0] ? TRole::Template : TRole::Script);
    return page;
  }
  // PHP's parser on the translated page, as the user types.
  const TAnalysis& analysis = page->Analysis;
  if (analysis.Result.Ok() && settings.Lint && Linter)
    if (std::optional<TDiagnostic> error =
            Linter(analysis.Result, *analysis.Script, *analysis.Template,
                   names[0].substr(0, names[0].size() - 4) + ".php"))
      diagnostics.push_back(std::move(*error));
  if (settings.Warnings.AsErrors)  // the analysis promoted its own; PHP's error too
    for (TDiagnostic& d : diagnostics)
      if (d.Severity == TSeverity::Warning) d.Severity = TSeverity::Error, d.Promoted = true;
  return page;
}

}  // namespace zoqc::lsp
