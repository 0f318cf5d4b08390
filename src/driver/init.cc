// zoqc --init: every file checked first, so that a site is laid out whole or not at all.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "src/driver/command_line.h"
#include "src/driver/failure_report.h"
#include "src/driver/lint.h"
#include "src/driver/new_site.h"
#include "src/driver/page.h"
#include "src/driver/project.h"
#include "src/platform/files.h"

namespace zoqc {

namespace fs = std::filesystem;

namespace {

// The project file as built in, without "lint = true" when there is no PHP to lint with.
std::string ProjectText(std::string_view ABytes, bool APhp) {
  std::string text(ABytes);
  constexpr std::string_view kLint = "lint = true";
  const std::size_t at = text.find(kLint);
  if (APhp || at == std::string::npos || (at != 0 && text[at - 1] != '\n')) return text;
  const std::size_t end = std::min(text.find('\n', at), text.size());
  return text.replace(at, end - at,
                      "# lint = true    # PHP parses every page: install php-cli, then set it");
}

}  // namespace

int RunInit(const TOptions& AOptions, std::ostream& AOut, std::ostream& AErr) {
  if (AOptions.Pages.size() > 1) {
    AErr << "zoqc: --init takes one folder, not " << AOptions.Pages.size()
         << "\nTry 'zoqc --help' for more information.\n";
    return kExitUsage;
  }
  const std::string dir = AOptions.Pages.empty() ? "." : AOptions.Pages[0];
  const auto path = [&](std::string_view AName) {
    return dir == "." ? std::string(AName) : (fs::path(dir) / AName).generic_string();
  };
  // Nothing is written over: not a file, not a folder, not a link, not even a broken one.
  for (const TSiteFile& file : NewSiteFiles()) {
    std::error_code ec;
    for (fs::path name = file.Name; !name.empty(); name = name.parent_path()) {
      const fs::file_status status = fs::symlink_status(path(name.generic_string()), ec);
      const bool folder = name != fs::path(file.Name) && fs::is_directory(status);
      if (fs::exists(status) && !folder) {
        AErr << "zoqc: " << path(name.generic_string())
             << " exists already; --init writes over nothing (name a new folder: zoqc --init "
                "mysite)\n";
        return kExitUsage;
      }
    }
  }
  std::string reason;
  const bool php = TPhpLinter::Open(AOptions.Php, reason) != nullptr;
  if (!AOptions.Quiet) PrintBanner(AOut);
  for (const TSiteFile& file : NewSiteFiles()) {
    const std::string name = path(file.Name);
    std::error_code ec;
    const fs::path parent = fs::path(name).parent_path();
    if (!parent.empty()) fs::create_directories(parent, ec);
    const std::string text =
        file.Name == kProjectFileName ? ProjectText(file.Bytes, php) : std::string(file.Bytes);
    TFileFailure failure;
    if (ec || !WriteOutputFile(name, text, failure)) {
      if (ec) failure = {TFileFailureKind::Create, name, ec.message()};
      AOut << FailureReport(failure);
      return kExitFileFailure;
    }
  }
  if (!AOptions.Quiet) {
    AOut << "A new site in " << dir << ": " << kProjectFileName
         << ", two pages and their layout, a stylesheet and an image under src/.\n";
    if (!php) AOut << "PHP was not found: install php-cli to serve it.\n";
    AOut << "Serve it with: " << (dir == "." ? "" : "cd " + dir + " && ") << "zoqc --serve\n";
  }
  return kExitSuccess;
}

}  // namespace zoqc
