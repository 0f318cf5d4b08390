// The language server's channel is the process's standard input and output, in binary; the
// files it reads are loaded as the translation loads them, and the pages are linted as --lint
// lints them, by a php started when the client first asks for it.
#include "src/driver/language_server.h"

#include <cerrno>
#include <csignal>
#include <filesystem>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "src/driver/lint.h"
#include "src/driver/out_of_memory.h"
#include "src/driver/project.h"
#include "src/lsp/server.h"
#include "src/platform/files.h"

namespace zoqc {

namespace {

class TStandardChannel : public lsp::TChannel {
 public:
  std::size_t Read(char* AData, std::size_t ASize) override {
    for (;;) {
#ifdef _WIN32
      const int got = _read(0, AData, static_cast<unsigned>(ASize));
#else
      const ssize_t got = read(STDIN_FILENO, AData, ASize);
#endif
      if (got >= 0) return static_cast<std::size_t>(got);
      if (errno != EINTR) return 0;
    }
  }
  bool Write(std::string_view AData) override {
    while (!AData.empty()) {
#ifdef _WIN32
      const int put = _write(1, AData.data(), static_cast<unsigned>(AData.size()));
#else
      const ssize_t put = write(STDOUT_FILENO, AData.data(), AData.size());
#endif
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;  // the client has gone away
      AData.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
  }
};

// The server's PHP check: one php, started on the first page and again after a failure. A PHP
// that cannot be run is a warning on the script, which says how to mend it.
class TServerLinter {
 public:
  explicit TServerLinter(std::string APhp) : Php(std::move(APhp)) {}

  std::optional<TDiagnostic> operator()(const TCompileResult& AResult, const TSource& AScript,
                                        const TSource& ATemplate, const std::string& APageName) {
    std::string failure;
    if (!Linter) Linter = TPhpLinter::Open(Php, failure);
    std::optional<TDiagnostic> error;
    if (Linter && LintDiagnostic(*Linter, AResult, AScript, ATemplate, APageName, error, failure))
      return error;
    Linter.reset();  // a new one for the next page
    TDiagnostic d;
    d.Severity = TSeverity::Warning;
    d.Place.File = AScript.Name;  // the whole file
    d.Message = "PHP cannot check the page (the lint setting): " + failure +
                "; install php-cli, or start zoqc --lsp with --php=PATH";
    return d;
  }

 private:
  std::string Php;
  std::shared_ptr<TPhpLinter> Linter;  // shared: the server keeps copies of this object
};

}  // namespace

void ApplyProjectSettings(const std::string& AScriptPath, lsp::TSettings& ASettings,
                          std::string& AError) {
  const std::string folder = std::filesystem::path(AScriptPath).parent_path().string();
  const std::string file = FindProjectFile(folder.empty() ? "." : folder);
  TProject project;
  if (file.empty() || !LoadProject(file, project, AError)) return;
  // The warnings as the command line would take them: the file's own, on the defaults.
  TOptions options;
  ApplyProject(project, options);
  TWarningSwitches switches;
  for (const std::string& name : options.BaseWarnings) (void)switches.Add(name);
  if (!options.BaseWarnings.empty()) ASettings.Warnings = switches.Resolve();
  if (project.Escape) ASettings.Escape = *project.Escape;
  if (project.Lint) ASettings.Lint = *project.Lint;
}

int ServeLanguageClient(const std::string& APhp, bool AProjects) {
#ifdef _WIN32
  _setmode(0, _O_BINARY);
  _setmode(1, _O_BINARY);
#else
  std::signal(SIGPIPE, SIG_IGN);  // a client that goes away is a failed write, not a signal
#endif
  // Out of memory, the server answers the request that needed it with an error and goes on;
  // should even that fail, the failure report must not land in the protocol's stream.
  ReportOutOfMemoryOnStandardError();
  TStandardChannel channel;
  return lsp::RunServer(
      channel,
      [](const std::string& APath, std::string& AText) {
        TFileFailure failure;
        return LoadFile(APath, AText, failure);
      },
      TServerLinter(APhp), AProjects ? lsp::TProjectSettings(ApplyProjectSettings) : nullptr);
}

}  // namespace zoqc
