// Watch mode: which page a change belongs to, and translating it again.
#include "src/driver/watch.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <utility>

#include "src/check/render.h"
#include "src/platform/files.h"
#include "src/platform/watch.h"
#include "src/text/shown.h"

namespace zoqc {

namespace {

namespace fs = std::filesystem;

using TPageKey = std::pair<std::string, std::string>;  // folder as watched, script file name

TPageKey KeyOf(const TSitePage& APage) {
  return {APage.Dir, fs::path(APage.Job.ScriptFileName).filename().string()};
}

class TWatch {
 public:
  TWatch(const TOptions& AOptions, std::ostream& AOut, std::ostream& AErr)
      : Options(AOptions), Out(AOut), Err(AErr) {
    Rebuild.Quiet = true;  // the line per rebuild says it
  }

  int Run(std::vector<TSitePage> APages, std::vector<TSiteFolder> AFolders) {
    std::string error;
    Watcher = NewFolderWatcher(error);
    if (!Watcher) {
      Err << "zoqc: " << Shown(error) << std::endl;
      return kExitFileFailure;
    }
    Take(std::move(APages), std::move(AFolders));
    if (!Options.Quiet)
      Out << "watching " << Pages.size() << " pages in " << Watched.size()
          << " folders; Ctrl-C ends\n";
    Out.flush();
    for (;;) {
      std::vector<TWatchEvent> events;
      bool lost = false;
      if (!Watcher->Wait(-1, events, lost, error)) {
        Err << "zoqc: " << Shown(error) << std::endl;
        return kExitFileFailure;
      }
      if (lost) {
        // Changes went missing: everything is listed and translated again.
        std::vector<TSitePage> pages;
        std::vector<TSiteFolder> folders;
        std::string errors;
        CollectPages(Options, pages, folders, errors);
        Err << errors;
        Pages.clear();
        Take(std::move(pages), std::move(folders));
        std::set<TPageKey> all;
        for (const auto& entry : Pages) all.insert(entry.first);
        Translate(all);
      } else {
        Translate(Affected(events));
      }
      Out.flush();
      Err.flush();
    }
  }

 private:
  // Starts watching the folders of the pages and the folders whose pages come and go.
  void Take(std::vector<TSitePage> APages, std::vector<TSiteFolder> AFolders) {
    for (TSiteFolder& folder : AFolders) {
      AddWatch(folder.Dir);
      Whole[folder.Dir] = std::move(folder);
    }
    for (TSitePage& page : APages) {
      AddWatch(page.Dir);
      Pages[KeyOf(page)] = std::move(page);
    }
  }

  void AddWatch(const std::string& ADir) {
    std::string error;
    if (!Watched.insert(ADir).second) return;
    if (!Watcher->Add(ADir, error)) Err << "zoqc: " << Shown(error) << '\n';
  }

  // The pages that the changes touch; pages added under a folder are taken in, pages whose
  // script went away are let go.
  std::set<TPageKey> Affected(const std::vector<TWatchEvent>& AEvents) {
    std::set<TPageKey> touched;
    for (const TWatchEvent& event : AEvents) {
      if (event.Name.starts_with('.')) continue;  // hidden, and our own temporary files
      const auto folder = Whole.find(event.Dir);
      if (event.IsDirectory) {
        if (folder != Whole.end()) FolderChanged(folder->second, event.Name, touched);
        continue;
      }
      const bool script = event.Name.ends_with(".zoq");
      if (!script && !event.Name.ends_with(".zot")) continue;
      const std::string name = event.Name.substr(0, event.Name.size() - 4);
      const TPageKey key{event.Dir, name + ".zoq"};
      if (Pages.contains(key)) {
        touched.insert(key);
      } else if (folder != Whole.end() && IsFileFound(Joined(event.Dir, key.second))) {
        TSitePage page = FolderPage(folder->second, name);
        Pages[key] = std::move(page);
        touched.insert(key);
      }
    }
    return touched;
  }

  // A subfolder ANAME of AParent appeared (its pages are taken in) or went away (they are
  // let go).
  void FolderChanged(const TSiteFolder& AParent, const std::string& AName,
                     std::set<TPageKey>& ATouched) {
    const std::string dir = Joined(AParent.Dir, AName);
    std::error_code ec;
    if (fs::is_directory(dir, ec)) {
      if (Whole.contains(dir)) return;
      // Watched before it is listed: a file made in between is then either listed or seen.
      AddWatch(dir);
      std::vector<TSitePage> pages;
      std::vector<TSiteFolder> folders;
      std::string errors;
      ListPages({dir, Joined(AParent.OutDir, AName)}, pages, folders, errors);
      Err << errors;
      for (const TSitePage& page : pages) ATouched.insert(KeyOf(page));
      Take(std::move(pages), std::move(folders));
      return;
    }
    const auto inside = [&](const std::string& ADir) {
      return ADir == dir || ADir.starts_with(dir + "/");
    };
    std::erase_if(Whole, [&](const auto& entry) { return inside(entry.first); });
    std::erase_if(Watched, inside);  // the system has dropped their watches
    for (auto it = Pages.begin(); it != Pages.end();) {
      if (!inside(it->first.first)) {
        ++it;
        continue;
      }
      if (!Options.Quiet) Out << it->second.Label << ": gone, no longer watched\n";
      ATouched.erase(it->first);
      it = Pages.erase(it);
    }
  }

  // Translates the pages of AKeys again, in order, with one line for each.
  void Translate(const std::set<TPageKey>& AKeys) {
    for (const TPageKey& key : AKeys) {
      const auto found = Pages.find(key);
      if (found == Pages.end()) continue;
      const TSitePage& page = found->second;
      if (Whole.contains(page.Dir) && !IsFileFound(page.Job.ScriptFileName)) {
        if (!Options.Quiet) Out << page.Label << ": gone, no longer watched\n";
        Pages.erase(found);
        continue;
      }
      const auto start = std::chrono::steady_clock::now();
      const TPageResult result = TranslateSitePage(page, Rebuild);
      const std::chrono::duration<double, std::milli> took =
          std::chrono::steady_clock::now() - start;
      Out << result.Out;
      Err << (Options.Json ? JsonArray(result.Json) : result.Err);
      if (result.ExitCode == kExitSuccess && Options.Quiet) continue;
      char line[64];
      std::snprintf(line, sizeof line, " in %.1f ms\n", took.count());
      Out << page.Label << (result.ExitCode == kExitSuccess ? ": translated" : ": failed") << line;
    }
  }

  static std::string Joined(const std::string& ADir, const std::string& AName) {
    return (fs::path(ADir) / AName).string();
  }

  const TOptions& Options;
  TOptions Rebuild = Options;  // the same, without the success line
  std::ostream& Out;
  std::ostream& Err;
  std::unique_ptr<TFolderWatcher> Watcher;
  std::map<TPageKey, TSitePage> Pages;       // every page watched
  std::map<std::string, TSiteFolder> Whole;  // folders whose pages come and go
  std::set<std::string> Watched;             // folders given to the watcher
};

}  // namespace

int WatchSite(const TOptions& AOptions, std::vector<TSitePage> APages,
              std::vector<TSiteFolder> AFolders, std::ostream& AOut, std::ostream& AErr) {
  TWatch watch(AOptions, AOut, AErr);
  return watch.Run(std::move(APages), std::move(AFolders));
}

}  // namespace zoqc
