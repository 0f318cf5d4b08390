// Watch mode: which page a change belongs to, the pages and folders kept as -r lists them,
// and translating them again.
#include "src/driver/site_watch.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "src/check/render.h"
#include "src/driver/site_output.h"
#include "src/platform/files.h"
#include "src/text/shown.h"

namespace zoqc {

namespace {

namespace fs = std::filesystem;

bool IsFolder(const std::string& APath) {
  std::error_code ec;
  return fs::is_directory(APath, ec);
}

// Waits up to kSettleTime for ADir to be a folder; nothing when it is one.
void AwaitFolder(const std::string& ADir) {
  const auto until = std::chrono::steady_clock::now() + kSettleTime;
  while (!IsFolder(ADir) && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// The lines of AText.
std::set<std::string> LinesOf(const std::string& AText) {
  std::set<std::string> lines;
  std::istringstream in(AText);
  for (std::string line; std::getline(in, line);) lines.insert(line);
  return lines;
}

}  // namespace

TSiteWatch::TSiteWatch(const TOptions& AOptions, std::ostream& AOut, std::ostream& AErr,
                       TFileSystem& AFiles, const TRunParts& AParts)
    : Options(AOptions), Rebuild(AOptions), Out(AOut), Err(AErr), Files(AFiles), Parts(AParts) {
  Rebuild.Quiet = true;  // the line per rebuild says it
}

TSiteWatch::TPageKey TSiteWatch::KeyOf(const TSitePage& APage) {
  return {APage.Dir, fs::path(APage.Job.ScriptFileName).filename().string(), APage.Job.PhpFileName};
}

bool TSiteWatch::Start(TSiteList AList, const TSiteTotals& AFirst, std::string& AError,
                       std::unique_ptr<TFolderWatcher> AWatcher) {
  Watcher = AWatcher ? std::move(AWatcher) : NewFolderWatcher(AError);
  if (!Watcher) return false;
  const bool writes = !Options.Check && !Options.OutDir.empty();
  for (std::size_t idx = 0; idx < AList.Pages.size(); ++idx) {
    TSitePage& page = AList.Pages[idx];
    if (writes && idx < AFirst.Succeeded.size() && AFirst.Succeeded[idx] != 0)
      Written.insert(page.Job.PhpFileName);
    if (page.Named && NamedDirs.insert(page.Dir).second) WatchFolder(page.Dir, {});
    TPageKey key = KeyOf(page);
    Pages.emplace(std::move(key), std::move(page));
  }
  Errors = LinesOf(AList.Errors);  // said already
  // Listed again, now with every folder watched before it is read: what changed since the
  // first listing is found now, and what changes from here on is seen.
  std::set<TPageKey> touched;
  Relist(touched);
  if (!Options.Quiet)
    Out << "watching " << Pages.size() << " pages in " << Watched.size()
        << " folders; Ctrl-C ends\n";
  Settle(touched);
  SyncOutput(true);
  if (Parts.Output) Parts.Output->Verbose = true;
  Out.flush();
  Err.flush();
  return true;
}

void TSiteWatch::SyncOutput(bool AAll) {
  TSiteOutput* const output = Parts.Output;
  // Nothing to look at when nothing was written or removed since.
  if (!output || (!AAll && Copied.empty() && !Changed)) return;
  Changed = false;
  if (!Options.Directories.empty() && (AAll || !Copied.empty())) {
    std::vector<TSitePage> pages;
    for (const auto& entry : Pages) pages.push_back(entry.second);
    const std::set<std::string> outputs = PageOutputs(pages, Options.OutDir);
    int exit_code = kExitSuccess;
    if (AAll || !output->MirrorPaths(Copied, outputs, Out, Err, exit_code))
      (void)output->Mirror(outputs, Out, Err);
  }
  Copied.clear();
  output->EndRun(false, Err);
}

bool TSiteWatch::Step(int ATimeoutMs, std::string& AError) {
  // Wake for the first page whose time to settle is up, and to look for folders that are gone.
  auto wake = TClock::time_point::max();
  for (const auto& [key, until] : Waiting) wake = std::min(wake, until);
  const auto now = TClock::now();
  if (!MissingRoots.empty()) wake = std::min(wake, now + kLookAgainTime);
  int timeout = ATimeoutMs;
  if (wake != TClock::time_point::max()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
    const int ms = static_cast<int>(std::max<decltype(left)>(left, 0));
    timeout = timeout < 0 ? ms : std::min(timeout, ms);
  }
  std::vector<TWatchEvent> events;
  bool lost = false;
  if (!Watcher->Wait(timeout, events, lost, AError)) return false;
  std::set<TPageKey> touched;
  bool relist = Affected(events, touched) || lost;
  for (const std::string& root : MissingRoots) relist = relist || IsFolder(root);
  if (relist) Relist(touched);
  if (lost)  // changes went missing: every page is translated again
    for (const auto& entry : Pages) touched.insert(entry.first);
  Settle(touched);
  // The pages whose missing half did not come: a script gone for good is a page gone.
  std::vector<TPageKey> due;
  for (const auto& [key, until] : Waiting)
    if (until <= TClock::now()) due.push_back(key);
  for (const TPageKey& key : due) {
    Waiting.erase(key);
    const auto found = Pages.find(key);
    if (found == Pages.end()) continue;
    if (!found->second.Named && !IsFileFound(found->second.Job.ScriptFileName))
      Gone(key);
    else
      Translate(key);
  }
  SyncOutput(relist);
  Out.flush();
  Err.flush();
  return true;
}

void TSiteWatch::Relist(std::set<TPageKey>& ATouched) {
  TSiteList list;
  TListingHooks hooks;
  hooks.Entering = [this](const TSiteFolder& AFolder) { WatchFolder(AFolder.Dir, AFolder.Id); };
  Replaced.clear();
  // A -r folder moved away is often replaced at once (a deploy or an editor renames the new
  // tree into place): it is given a moment to come back before its pages count as gone.
  for (const std::string& root : Options.Directories)
    if (!MissingRoots.contains(root)) AwaitFolder(root);
  ListSite(Options, list, true, hooks);
  // Of two pages written to one path, the one watched already keeps it.
  std::stable_partition(list.Pages.begin(), list.Pages.end(),
                        [&](const TSitePage& APage) { return Pages.contains(KeyOf(APage)); });
  std::string clashes;
  DropDuplicates(list.Pages, clashes);
  std::set<std::string> errors = LinesOf(list.Errors + clashes);
  for (const std::string& line : errors)
    if (!Errors.contains(line)) Err << line << '\n';
  Errors = std::move(errors);

  std::map<TPageKey, TSitePage> pages;
  for (TSitePage& page : list.Pages) {
    TPageKey key = KeyOf(page);
    if (!Pages.contains(key) || Replaced.contains(page.Dir)) ATouched.insert(key);
    pages.emplace(std::move(key), std::move(page));
  }
  std::vector<TPageKey> gone;
  for (const auto& entry : Pages)
    if (!pages.contains(entry.first)) gone.push_back(entry.first);
  for (const TPageKey& key : gone) Gone(key);
  Pages = std::move(pages);

  Folders.clear();
  for (TSiteFolder& folder : list.Folders) Folders[folder.Dir] = std::move(folder);
  for (auto it = Watched.begin(); it != Watched.end();) {
    if (Folders.contains(it->first) || NamedDirs.contains(it->first)) {
      ++it;
      continue;
    }
    Watcher->Remove(it->first);  // gone, or no longer part of the site
    it = Watched.erase(it);
  }
  // A root not listed is missing even when it is there again by now (it came back while the
  // site was read): it is looked for, and read, at the next step.
  for (const std::string& root : Options.Directories) {
    if (Folders.contains(root)) {
      if (MissingRoots.erase(root) != 0 && !Options.Quiet) Out << root << ": folder back\n";
    } else if (MissingRoots.insert(root).second && !Options.Quiet) {
      Out << root << ": folder gone, waiting for it to come back\n";
    }
  }
}

void TSiteWatch::WatchFolder(const std::string& ADir, TFolderId AId) {
  const auto known = Watched.find(ADir);
  if (known != Watched.end()) {
    if (known->second == AId) return;
    // Another folder under the same name (removed or moved away, and made again): its pages
    // are read again, and the watch goes to the new one.
    if (known->second != TFolderId{}) {
      Replaced.insert(ADir);
      if (!Options.Quiet &&
          std::ranges::find(Options.Directories, ADir) != Options.Directories.end())
        Out << ADir << ": folder replaced, reading it again\n";
    }
  }
  std::string error;
  if (!Watcher->Add(ADir, error)) Err << "zoqc: " << Shown(error) << '\n';
  Watched[ADir] = AId;
}

bool TSiteWatch::Affected(const std::vector<TWatchEvent>& AEvents, std::set<TPageKey>& ATouched) {
  bool relist = false;
  for (const TWatchEvent& event : AEvents) {
    if (event.Name.empty()) {  // a watched folder itself was removed or moved away
      relist = true;
      continue;
    }
    if (event.Name.starts_with('.')) continue;  // hidden, and our own temporary files
    const bool listed = Folders.contains(event.Dir);
    if (event.IsDirectory) {
      relist = relist || listed;
      continue;
    }
    const bool script = event.Name.ends_with(".zoq");
    if (script || event.Name.ends_with(".zot")) {
      const std::string name = event.Name.substr(0, event.Name.size() - 4) + ".zoq";
      bool known = false;
      for (auto it = Pages.lower_bound({event.Dir, name, ""});
           it != Pages.end() && std::get<0>(it->first) == event.Dir &&
           std::get<1>(it->first) == name;
           ++it) {
        ATouched.insert(it->first);
        known = true;
      }
      relist = relist || (!known && script && listed);  // a new page
      continue;
    }
    // A link to a folder made or removed changes the tree as -r lists it.
    const std::string path = Joined(event.Dir, event.Name);
    relist = relist || (listed && (IsFolder(path) || Folders.contains(path)));
    // Any other file of the site is copied to the output folder, or removed from it.
    if (listed && Parts.Output) Copied.insert(path);
  }
  return relist;
}

void TSiteWatch::Settle(const std::set<TPageKey>& AKeys) {
  for (const TPageKey& key : AKeys) {
    const auto found = Pages.find(key);
    if (found == Pages.end()) continue;
    const TPageJob& job = found->second.Job;
    if (IsFileFound(job.ScriptFileName) && IsFileFound(job.TemplateFileName)) {
      Waiting.erase(key);
      Translate(key);
    } else {
      Waiting.try_emplace(key, TClock::now() + kSettleTime);  // the first change sets the time
    }
  }
}

void TSiteWatch::Translate(const TPageKey& AKey) {
  const TSitePage& page = Pages.at(AKey);
  const auto start = TClock::now();
  const TPageResult result = TranslateSitePage(page, Rebuild, Files, nullptr, Parts);
  Changed = true;
  const std::chrono::duration<double, std::milli> took = TClock::now() - start;
  if (Parts.Listener) Parts.Listener->Translated(page, result);
  Out << result.Out;
  // JSON Lines: one document on one line for each translation.
  Err << (Options.Json ? JsonArray(result.Json, true) : result.Err);
  if (result.ExitCode == kExitSuccess && !Options.Check && !Options.OutDir.empty())
    Written.insert(page.Job.PhpFileName);
  if (result.ExitCode == kExitSuccess && Options.Quiet) return;
  char line[64];
  std::snprintf(line, sizeof line, " in %.1f ms\n", took.count());
  Out << page.Label << (result.ExitCode == kExitSuccess ? ": translated" : ": failed") << line;
}

void TSiteWatch::Gone(const TPageKey& AKey) {
  const auto found = Pages.find(AKey);
  if (found == Pages.end()) return;
  const std::string& php = found->second.Job.PhpFileName;
  std::string line = found->second.Label + ": gone, no longer watched";
  // Under -o the page has no source any more: the one zoqc wrote goes too.
  if (Written.erase(php) != 0) {
    TSystemError error;
    if (Files.RemoveOutput(php, error))
      line += "; removed " + php;
    else if (error.Code != 0)
      Err << "zoqc: cannot remove '" << php << "': " << error.Reason << '\n';
  }
  if (!Options.Quiet) Out << line << '\n';
  Changed = true;
  if (Parts.Listener) Parts.Listener->Gone(found->second);
  Waiting.erase(AKey);
  Pages.erase(found);
}

int WatchSite(const TOptions& AOptions, const TRunParts& AParts, TSiteList AList,
              const TSiteTotals& AFirst, std::ostream& AOut, std::ostream& AErr) {
  TSiteWatch watch(AOptions, AOut, AErr, SystemFiles(), AParts);
  std::string error;
  // A listener is asked a few times a second whether to go on (whether PHP's server still runs).
  TPageListener* const listener = AParts.Listener;
  if ((!listener || listener->Stepped(error)) && watch.Start(std::move(AList), AFirst, error))
    while ((!listener || listener->Stepped(error)) && watch.Step(listener ? 250 : -1, error)) {
    }
  AErr << "zoqc: " << Shown(error) << std::endl;
  return kExitFileFailure;
}

}  // namespace zoqc
