// The pages the editor works on: its open buffers, the files on disk behind the others, and the
// analysis of each page (a script NAME.zoq and its template NAME.zot in one folder), made again
// after every change to either file.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/check/diagnostic.h"
#include "src/check/warnings.h"
#include "src/model/line_table.h"
#include "src/translation/analysis.h"

namespace zoqc::lsp {

// Reads the file at APath (a local path) into AText; false when it cannot be read.
using TFileLoader = std::function<bool(const std::string& APath, std::string& AText)>;

// Which file of a page a URI names.
enum class TRole : unsigned char { Script, Template };

// The URI's local path ("file:///a%20b/p.zoq" -> "/a b/p.zoq"), or nullopt for another scheme
// and for a path that would hold a control byte (NUL, LF, ...).
std::optional<std::string> PathOfUri(std::string_view AUri);
// The role of AUri by its extension (".zoq", ".zot"), or nullopt for any other file.
std::optional<TRole> RoleOfUri(std::string_view AUri);

// One analysis of a page, with what the editor adds to its diagnostics: a project file's
// error, a missing file's, PHP's parse error.
struct TPage {
  std::string ScriptUri;
  std::string TemplateUri;
  bool Found[2] = {false, false};         // by TRole: the file was open or on disk
  TAnalysis Analysis;                     // its sources carry the file names of the places
  TEncoding Encoding = TEncoding::Utf16;  // the units of the editor's columns

  const TPageModel& Model() const { return *Analysis.Result.Model; }
  const TSource& Source(TRole ARole) const {
    return ARole == TRole::Script ? *Analysis.Script : *Analysis.Template;
  }
  std::string_view Text(TRole ARole) const { return Source(ARole).Text; }
  const std::string& Uri(TRole ARole) const {
    return ARole == TRole::Script ? ScriptUri : TemplateUri;
  }
  const TLineTable& LinesOf(TRole ARole) const { return Source(ARole).Lines(); }
};

// The settings the client gives: the warning switches as -W options ("all", "no-bom", "error"),
// and whether PHP's own parse errors are wanted.
struct TSettings {
  TWarningSet Warnings = DefaultWarnings();
  bool Lint = false;
  bool Escape = false;  // "escape": translate as --escape does
};

// The site's own settings for the page whose script is at AScriptPath (its project file,
// which the driver finds and reads), put over ASettings: they win over the client's, so that
// the editor and the build agree. A project file that cannot be read gives its located error
// in AError, and leaves ASettings as they are.
using TProjectSettings =
    std::function<void(const std::string& AScriptPath, TSettings& ASettings, std::string& AError)>;

// Resolves -W switches (with or without the "-W") as the command line does: the defaults or
// all, then each name on or off, none with "-w". Unknown names are ignored.
TWarningSet WarningsOf(const std::vector<std::string>& ASwitches);

// PHP's parse check of a page that translates, which the driver gives (it runs PHP): the error
// for a page PHP cannot parse, at its place in AScript or ATemplate, or for a PHP that cannot
// be run; none for a page PHP parses. APageName is the page's file name ("blog.php").
using TPageLinter = std::function<std::optional<TDiagnostic>(
    const TCompileResult& AResult, const TSource& AScript, const TSource& ATemplate,
    const std::string& APageName)>;

class TWorkspace {
 public:
  TWorkspace(TFileLoader ALoader, TEncoding AEncoding, TPageLinter ALinter = {},
             TProjectSettings AProject = {})
      : Load(std::move(ALoader)),
        Linter(std::move(ALinter)),
        Project(std::move(AProject)),
        Encoding(AEncoding) {}

  void SetEncoding(TEncoding AEncoding) { Encoding = AEncoding, Pages.clear(); }
  TEncoding GetEncoding() const { return Encoding; }
  void SetSettings(const TSettings& ASettings) { Settings = ASettings, Pages.clear(); }
  const TSettings& GetSettings() const { return Settings; }

  // The editor's buffers. Change applies an edit to a range of bytes (whole text: nullopt).
  void Open(const std::string& AUri, std::string AText, std::int64_t AVersion);
  void Close(const std::string& AUri);
  bool IsOpen(const std::string& AUri) const { return Buffers.count(AUri) != 0; }
  // The URIs of the open buffers.
  std::vector<std::string> OpenUris() const;
  std::optional<std::int64_t> VersionOf(const std::string& AUri) const;
  // The buffer's text; null when AUri is not open.
  const std::string* TextOf(const std::string& AUri) const;
  void Replace(const std::string& AUri, std::size_t AFrom, std::size_t ATo, std::string_view AText);
  void SetVersion(const std::string& AUri, std::int64_t AVersion);
  // Forgets the analyses of the page of AUri (a save or a change on disk); of every page when
  // AUri is a project file.
  void Touch(const std::string& AUri);

  // The page of AUri, analysed now or earlier; null for a URI that is not a script or template.
  const TPage* PageOf(const std::string& AUri);

 private:
  struct TBuffer {
    std::string Text;
    std::int64_t Version = 0;
  };
  std::unique_ptr<TPage> Analyse(const std::string& AScriptUri, const std::string& ATemplateUri);

  TFileLoader Load;
  TPageLinter Linter;        // may be empty: no PHP parse check
  TProjectSettings Project;  // may be empty: no project files
  TEncoding Encoding;
  TSettings Settings;
  std::map<std::string, TBuffer> Buffers;               // by URI
  std::map<std::string, std::unique_ptr<TPage>> Pages;  // by script URI
};

// The script's and the template's URI of the page that AUri belongs to.
void PageUris(std::string_view AUri, std::string& AScriptUri, std::string& ATemplateUri);

}  // namespace zoqc::lsp
