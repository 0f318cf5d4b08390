// Watch mode: translate a page again whenever its script or template changes.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <tuple>

#include "src/driver/options.h"
#include "src/driver/site.h"
#include "src/platform/folder_watch.h"

namespace zoqc {

// How long a page with a missing half waits for it (a script saved a moment before its
// template, or a page being deleted) before the missing half counts.
inline constexpr std::chrono::milliseconds kSettleTime{300};
// How often a -r folder that is gone is looked for.
inline constexpr std::chrono::milliseconds kLookAgainTime{200};

// A site being watched: its pages and folders always as -r would list them now, each page
// translated again after a change to its script or template, with one line for each.
class TSiteWatch {
 public:
  TSiteWatch(const TOptions& AOptions, std::ostream& AOut, std::ostream& AErr,
             TFileSystem& AFiles = SystemFiles(), const TRunParts& AParts = {});

  // Starts watching the pages and folders of AList, which were translated as AFirst says,
  // with AWatcher (none: the system's best). False, with the reason in AError, when the system
  // cannot watch.
  [[nodiscard]] bool Start(TSiteList AList, const TSiteTotals& AFirst, std::string& AError,
                           std::unique_ptr<TFolderWatcher> AWatcher = {});
  // Waits up to ATimeoutMs (forever when negative, but never past a page's time to settle)
  // for changes, and translates the pages they touch. False, with the reason in AError, when
  // watching has stopped working.
  [[nodiscard]] bool Step(int ATimeoutMs, std::string& AError);

 private:
  using TClock = std::chrono::steady_clock;
  // A page: the folder of its script as listed, its script's name, its output.
  using TPageKey = std::tuple<std::string, std::string, std::string>;

  static TPageKey KeyOf(const TSitePage& APage);
  void Relist(std::set<TPageKey>& ATouched);
  void WatchFolder(const std::string& ADir, TFolderId AId);
  bool Affected(const std::vector<TWatchEvent>& AEvents, std::set<TPageKey>& ATouched);
  void Settle(const std::set<TPageKey>& AKeys);
  void Translate(const TPageKey& AKey);
  void Gone(const TPageKey& AKey);
  void SyncOutput(bool AAll);

  const TOptions& Options;
  TOptions Rebuild;  // the same, without the success line
  std::ostream& Out;
  std::ostream& Err;
  TFileSystem& Files;
  TRunParts Parts;
  std::unique_ptr<TFolderWatcher> Watcher;
  std::map<TPageKey, TSitePage> Pages;             // every page watched
  std::map<std::string, TSiteFolder> Folders;      // the -r folders, whose pages come and go
  std::map<std::string, TFolderId> Watched;        // the folders given to the watcher
  std::set<std::string> NamedDirs;                 // the folders of the pages named
  std::set<std::string> Replaced;                  // folders found replaced while listing
  std::set<std::string> Written;                   // the pages written under -o
  std::map<TPageKey, TClock::time_point> Waiting;  // pages with a missing half, until when
  std::set<std::string> MissingRoots;              // -r folders that are gone
  std::set<std::string> Errors;                    // the listing's error lines last time
  std::set<std::string> Copied;                    // files of the site changed (not pages)
  bool Changed = false;                            // a page translated or gone since
};

// Translates the pages of AList again after every change, as TSiteWatch does, until the
// process is ended by a signal; INT, TERM and the like keep their action (the default, or the
// handler that removes temporary files and raises the signal again), so nothing here has to
// be told to stop. Returns only when watching fails (exit code 217).
int WatchSite(const TOptions& AOptions, const TRunParts& AParts, TSiteList AList,
              const TSiteTotals& AFirst, std::ostream& AOut, std::ostream& AErr);

}  // namespace zoqc
