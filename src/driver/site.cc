// Whole sites: listing the pages, translating them on threads, printing in page order.
#include "src/driver/site.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "src/check/render.h"
#include "src/driver/command_line.h"
#include "src/driver/watch.h"

namespace zoqc {

namespace {

namespace fs = std::filesystem;

std::string Joined(const std::string& ADir, const std::string& AName) {
  return (fs::path(ADir) / AName).string();
}

// The script's name without its ".zoq".
std::string LabelOf(const std::string& AScriptFileName) {
  return AScriptFileName.substr(0, AScriptFileName.size() - 4);
}

// Lists AFolder and walks its subfolders; AVisited holds the folders already entered.
void Walk(const TSiteFolder& AFolder, std::set<fs::path>& AVisited, std::vector<TSitePage>& APages,
          std::vector<TSiteFolder>& AFolders, std::string& AErrors) {
  std::error_code ec;
  const auto failed = [&] {
    AErrors += "zoqc: cannot read folder '" + AFolder.Dir + "': " + ec.message() + "\n";
  };
  // A symbolic link back up the tree leads to a folder already entered: it ends there.
  const fs::path real = fs::canonical(AFolder.Dir, ec);
  if (ec) return failed();
  if (!AVisited.insert(real).second) return;
  std::vector<fs::directory_entry> entries;
  fs::directory_iterator it(AFolder.Dir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) entries.push_back(*it);
  if (ec) return failed();
  AFolders.push_back(AFolder);
  std::sort(entries.begin(), entries.end());
  for (const fs::directory_entry& entry : entries) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with('.')) continue;  // hidden: ".git", editor files
    if (entry.is_directory(ec)) {
      Walk({Joined(AFolder.Dir, name), Joined(AFolder.OutDir, name)}, AVisited, APages, AFolders,
           AErrors);
    } else if (name.ends_with(".zoq")) {
      APages.push_back(FolderPage(AFolder, name.substr(0, name.size() - 4)));
    }
  }
}

// Redraws "[done/all] page" in place on a terminal, at most every 50 ms.
class TStatusLine {
 public:
  TStatusLine(std::ostream& AOut, bool AOn, std::size_t AAll) : Out(AOut), On(AOn), All(AAll) {}
  ~TStatusLine() { Clear(); }
  void Clear() {
    if (Shown) Out << "\r\x1b[K";
    Shown = false;
  }
  void Draw(std::size_t ADone, const std::string& ALabel) {
    const auto now = std::chrono::steady_clock::now();
    if (!On || now - Last < std::chrono::milliseconds(50)) return;
    Last = now;
    Out << "\r[" << ADone << '/' << All << "] " << ALabel << "\x1b[K" << std::flush;
    Shown = true;
  }

 private:
  std::ostream& Out;
  bool On;
  std::size_t All;
  bool Shown = false;
  std::chrono::steady_clock::time_point Last;
};

}  // namespace

TSitePage NamedPage(const std::string& AArgument, const std::string& AOutDir) {
  TSitePage page;
  page.Job = PageJobOf(AArgument);
  const fs::path script(page.Job.ScriptFileName);
  page.Dir = script.has_parent_path() ? script.parent_path().string() : ".";
  page.Label = LabelOf(page.Job.ScriptFileName);
  if (!AOutDir.empty())
    page.Job.PhpFileName = Joined(AOutDir, fs::path(page.Job.PhpFileName).filename().string());
  return page;
}

TSitePage FolderPage(const TSiteFolder& AFolder, const std::string& AName) {
  TSitePage page;
  page.Job.ScriptFileName = Joined(AFolder.Dir, AName + ".zoq");
  page.Job.TemplateFileName = Joined(AFolder.Dir, AName + ".zot");
  page.Job.PhpFileName = Joined(AFolder.OutDir, AName + ".php");
  page.Dir = AFolder.Dir;
  page.Label = LabelOf(page.Job.ScriptFileName);
  return page;
}

void ListPages(const TSiteFolder& AFolder, std::vector<TSitePage>& APages,
               std::vector<TSiteFolder>& AFolders, std::string& AErrors) {
  std::set<fs::path> visited;
  const std::size_t first = APages.size();
  Walk(AFolder, visited, APages, AFolders, AErrors);
  std::sort(APages.begin() + static_cast<std::ptrdiff_t>(first), APages.end(),
            [](const TSitePage& A, const TSitePage& B) {
              return A.Job.ScriptFileName < B.Job.ScriptFileName;
            });
}

void CollectPages(const TOptions& AOptions, std::vector<TSitePage>& APages,
                  std::vector<TSiteFolder>& AFolders, std::string& AErrors) {
  for (const std::string& argument : AOptions.Pages)
    APages.push_back(NamedPage(argument, AOptions.OutDir));
  for (const std::string& dir : AOptions.Directories)
    ListPages({dir, AOptions.OutDir.empty() ? dir : AOptions.OutDir}, APages, AFolders, AErrors);
}

TPageResult TranslateSitePage(const TSitePage& APage, const TOptions& AOptions) {
  const TPageJob& job = APage.Job;
  if (!AOptions.OutDir.empty()) {
    // Made before the inputs are looked at, which may be changing under a watch. A folder
    // that cannot be made shows as the page's failure to create its file.
    std::error_code ec;
    fs::create_directories(fs::path(job.PhpFileName).parent_path(), ec);
  }
  return TranslatePage(job, AOptions);
}

TSiteTotals TranslatePages(const std::vector<TSitePage>& APages, const TOptions& AOptions,
                           std::ostream& AOut, std::ostream& AErr, bool AStatus) {
  const std::size_t count = APages.size();
  std::vector<TPageResult> results(count);  // guarded by mutex, like the rest below
  std::vector<char> done(count, 0);
  std::size_t printed = 0;  // the pages before it are out
  TSiteTotals totals;
  TStatusLine status(AOut, AStatus, count);
  std::vector<TDiagnostic> diagnostics;  // of every page, for one JSON array
  std::mutex mutex;
  std::atomic<std::size_t> next{0};
  // Each thread takes the next page, and whichever thread finishes the first page not yet
  // printed prints it and every finished page after it: no thread waits for another.
  const auto work = [&] {
    for (std::size_t idx; (idx = next++) < count;) {
      TPageResult result = TranslateSitePage(APages[idx], AOptions);
      const std::lock_guard<std::mutex> lock(mutex);
      results[idx] = std::move(result);
      done[idx] = 1;
      for (; printed < count && done[printed] != 0; ++printed) {
        TPageResult page = std::move(results[printed]);
        status.Clear();
        AOut << page.Out;
        AErr << page.Err;
        totals.ExitCode = std::max(totals.ExitCode, page.ExitCode);
        (page.ExitCode == kExitSuccess ? totals.Translated : totals.Failed) += 1;
        totals.Warnings += page.Warnings;
        if (AOptions.Json)
          std::move(page.Diagnostics.begin(), page.Diagnostics.end(),
                    std::back_inserter(diagnostics));
        status.Draw(printed + 1, APages[printed].Label);
      }
    }
  };
  const std::size_t jobs = AOptions.Jobs > 0 ? static_cast<std::size_t>(AOptions.Jobs)
                                             : std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::thread> threads;
  for (std::size_t idx = 1; idx < std::min(jobs, count); ++idx) {
    try {
      threads.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer threads than asked for; those that started do the work
    }
  }
  work();
  for (std::thread& thread : threads) thread.join();
  status.Clear();
  if (AOptions.Json) AErr << RenderJson(diagnostics);
  return totals;
}

int RunSite(const TOptions& AOptions, std::ostream& AOut, std::ostream& AErr, bool AStatus) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<TSitePage> pages;
  std::vector<TSiteFolder> folders;
  std::string errors;
  CollectPages(AOptions, pages, folders, errors);
  AErr << errors;
  const TSiteTotals totals = TranslatePages(pages, AOptions, AOut, AErr, AStatus);
  int exit_code = totals.ExitCode;
  if (!errors.empty()) exit_code = std::max(exit_code, kExitError);
  if ((pages.size() > 1 || !AOptions.Directories.empty()) && !AOptions.Quiet) {
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f s", took.count());
    AOut << pages.size() << (pages.size() == 1 ? " page: " : " pages: ") << totals.Translated
         << " translated, " << totals.Failed << " failed, " << totals.Warnings << " warnings, "
         << seconds << '\n';
  }
  if (!AOptions.Watch) return exit_code;
  return WatchSite(AOptions, std::move(pages), std::move(folders), AOut, AErr);
}

}  // namespace zoqc
