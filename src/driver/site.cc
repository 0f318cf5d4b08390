// Whole sites: listing the pages, translating them on threads, printing in page order.
#include "src/driver/site.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>

#include "src/check/render.h"
#include "src/driver/site_output.h"
#include "src/platform/process.h"
#include "src/text/shown.h"

namespace zoqc {

namespace {

namespace fs = std::filesystem;

// A batch of pages put in place together: at most this many pages, or this many bytes.
constexpr std::size_t kBatchPages = 128;
constexpr std::size_t kBatchBytes = std::size_t{64} << 20;
// Open files: those a thread may hold at once, and those kept for standard streams, the
// watcher and the like.
constexpr std::size_t kFilesPerThread = 6;
constexpr std::size_t kFilesKept = 16;

// A path short enough for a message: its start and its end, the middle left out (never in the
// middle of a UTF-8 character).
std::string Shortened(const std::string& APath) {
  constexpr std::size_t kKeep = 60;
  if (APath.size() <= 2 * kKeep + 3) return APath;
  const auto inside = [&](std::size_t AAt) { return (APath[AAt] & 0xC0) == 0x80; };
  std::size_t head = kKeep;
  while (head > 0 && inside(head)) --head;
  std::size_t tail = APath.size() - kKeep;
  while (tail < APath.size() && inside(tail)) ++tail;
  return APath.substr(0, head) + "..." + APath.substr(tail);
}

// Lists the pages under one -r folder as the walk reports them.
class TPageLister final : public TFolderVisitor {
 public:
  TPageLister(const std::string& ARoot, const std::string& AOutRoot, TSiteList& AList,
              bool AKeepFolders, const TListingHooks& AHooks)
      : Root(ARoot), OutRoot(AOutRoot), List(AList), KeepFolders(AKeepFolders), Hooks(AHooks) {}

  bool Enter(const std::string& ADir, TFolderId AId) override {
    if (!KeepFolders && !Hooks.Entering) return true;
    const TSiteFolder folder{ADir, OutDirOf(ADir), AId};
    if (Hooks.Entering) Hooks.Entering(folder);
    if (KeepFolders) List.Folders.push_back(folder);
    return true;
  }
  bool Entry(const std::string& ADir, const std::string& AName, bool AIsFolder) override {
    if (AName.starts_with('.')) return false;  // hidden: ".git", editor files
    if (!AIsFolder && AName.ends_with(".zoq"))
      List.Pages.push_back(
          FolderPage({ADir, OutDirOf(ADir), {}}, AName.substr(0, AName.size() - 4)));
    return true;
  }
  void Failed(const std::string& ADir, TFolderFailure AFailure,
              const std::string& AReason) override {
    List.Errors += "zoqc: cannot read folder '" + Shown(Shortened(ADir)) + "': ";
    if (AFailure == TFolderFailure::TooLong)
      List.Errors += "its path is " + std::to_string(ADir.size()) +
                     " bytes long, and the system takes at most " + std::to_string(kMaxPathLength) +
                     "; the folders below it are left out\n";
    else
      List.Errors += AReason + "\n";
  }

 private:
  // Where the pages of ADir, a folder under Root, are written.
  std::string OutDirOf(const std::string& ADir) const {
    if (OutRoot == Root) return ADir;
    std::size_t below = Root.size();
    while (below < ADir.size() && (ADir[below] == '/' || ADir[below] == '\\')) ++below;
    return below == ADir.size() ? OutRoot : Joined(OutRoot, ADir.substr(below));
  }

  const std::string& Root;
  const std::string& OutRoot;
  TSiteList& List;
  bool KeepFolders;
  const TListingHooks& Hooks;
};

// The same path in another spelling ("a/./x", "a//x") compares equal.
std::string Normal(const std::string& APath) { return fs::path(APath).lexically_normal().string(); }

// True when the names are one file: the same path, or two paths to the same file.
bool IsSameFile(const std::string& AName, const std::string& BName) {
  std::error_code ec;
  return Normal(AName) == Normal(BName) || (fs::equivalent(AName, BName, ec) && !ec);
}

// Where the pages are written must be a folder, or not there yet.
bool CheckOutDir(const std::string& AOutDir, std::string& AError) {
  std::error_code ec;
  const fs::file_status status = fs::status(AOutDir, ec);
  if (ec == std::errc::not_a_directory) {
    AError = "zoqc: cannot write pages under '" + AOutDir +
             "': a part of that path is a file, not a folder\n";
    return false;
  }
  if (fs::exists(status) && !fs::is_directory(status)) {
    AError = "zoqc: cannot write pages under '" + AOutDir + "': it is " +
             (fs::is_regular_file(status) ? "a file, " : "") + "not a folder\n";
    return false;
  }
  return true;
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

std::string Joined(const std::string& ADir, const std::string& AName) {
  return (fs::path(ADir) / AName).string();
}

TSitePage NamedPage(const std::string& AArgument, const std::string& AOutDir) {
  TSitePage page;
  page.Job = PageJobOf(AArgument);
  const fs::path script(page.Job.ScriptFileName);
  page.Dir = script.has_parent_path() ? script.parent_path().string() : ".";
  page.Label = PageLabel(page.Job);
  page.Named = true;
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
  page.Label = PageLabel(page.Job);
  return page;
}

void ListSite(const TOptions& AOptions, TSiteList& AList, bool AKeepFolders,
              const TListingHooks& AHooks) {
  for (const std::string& argument : AOptions.Pages)
    AList.Pages.push_back(NamedPage(argument, AOptions.OutDir));
  std::set<TFolderId> entered;
  for (const std::string& dir : AOptions.Directories) {
    const std::size_t first = AList.Pages.size();
    TPageLister lister(dir, AOptions.OutDir.empty() ? dir : AOptions.OutDir, AList, AKeepFolders,
                       AHooks);
    WalkFolders(dir, lister, entered);
    std::sort(AList.Pages.begin() + static_cast<std::ptrdiff_t>(first), AList.Pages.end(),
              [](const TSitePage& A, const TSitePage& B) {
                return A.Job.ScriptFileName < B.Job.ScriptFileName;
              });
  }
}

void DropDuplicates(std::vector<TSitePage>& APages, std::string& AClashes) {
  std::map<std::string, std::size_t> writers;  // an output, normalised -> the page writing it
  std::vector<TSitePage> kept;
  for (TSitePage& page : APages) {
    const auto [writer, fresh] = writers.try_emplace(Normal(page.Job.PhpFileName), kept.size());
    if (fresh) {
      kept.push_back(std::move(page));
      continue;
    }
    const TSitePage& first = kept[writer->second];
    if (!IsSameFile(first.Job.ScriptFileName, page.Job.ScriptFileName))
      AClashes += "zoqc: the pages '" + first.Label + "' and '" + page.Label +
                  "' would both be written to '" + page.Job.PhpFileName + "'\n";
  }
  APages = std::move(kept);
}

bool PlanSite(const TOptions& AOptions, TSiteList& AList, std::string& AError) {
  if (!AOptions.OutDir.empty() && !CheckOutDir(AOptions.OutDir, AError)) return false;
  ListSite(AOptions, AList, AOptions.Watch);
  DropDuplicates(AList.Pages, AError);
  return AError.empty();
}

TPageResult TranslateSitePage(const TSitePage& APage, const TOptions& AOptions, TFileSystem& AFiles,
                              TStagedOutput* AStaged, const TRunParts& AParts) {
  const TPageJob& job = APage.Job;
  if (!AOptions.OutDir.empty()) {
    // Made before the inputs are looked at, which may be changing under a watch. A folder
    // that cannot be made shows as the page's failure to create its file.
    TSystemError ignored;
    const std::string folder = fs::path(job.PhpFileName).parent_path().string();
    if (AParts.Output) AParts.Output->NoteFolder(folder.empty() ? "." : folder);
    AFiles.MakeFolders(folder, ignored);
  }
  return TranslatePage(job, AOptions, AFiles, AStaged, AParts);
}

namespace {

// Pages put in place together, each with its output, and what that costs.
using TBatch = std::vector<std::pair<std::size_t, TStagedOutput>>;  // page, its output

// One translation of a site's pages on threads: each thread takes the next page, and whichever
// thread finishes the first page not yet printed prints it and every finished page after it,
// in page order, so no thread waits for another. The thread that fills a batch puts it in place.
class TSiteRun {
 public:
  TSiteRun(const std::vector<TSitePage>& APages, const TOptions& AOptions, std::ostream& AOut,
           std::ostream& AErr, bool AStatus, TFileSystem& AFiles, const TRunParts& AParts)
      : Pages(APages),
        Options(AOptions),
        Out(AOut),
        Err(AErr),
        Files(AFiles),
        Parts(AParts),
        Count(APages.size()),
        Results(Count),
        Done(Count, 0),
        Status(AOut, AStatus, Count) {
    Totals.Succeeded.assign(Count, 0);
    if (AParts.Output) Json = std::move(AParts.Output->Json);  // the files that were not copied
  }

  // Translates every page on up to AJobs threads, a batch holding up to ABatchPages pages.
  TSiteTotals Run(std::size_t AJobs, std::size_t ABatchPages);

 private:
  void PrintDone(std::unique_lock<std::mutex>& ALock);
  void Commit(TBatch ABatch);
  void Work();

  const std::vector<TSitePage>& Pages;
  const TOptions& Options;
  std::ostream& Out;
  std::ostream& Err;
  TFileSystem& Files;
  const TRunParts& Parts;
  const std::size_t Count;
  const bool Batched = Count > 1;  // a single page is put in place at once
  std::mutex Mutex;                // guards the members up to Staged
  std::vector<TPageResult> Results;
  std::vector<char> Done;
  std::size_t Printed = 0;  // the pages before it are out
  std::size_t BatchPages = 1;
  // Pages written into their temporary files and not yet in place: their flushes to the disk
  // are paid once a batch.
  TBatch Staged;
  std::size_t StagedBytes = 0;
  std::mutex Printing;  // held by the thread that prints; guards the members below
  TSiteTotals Totals;
  TStatusLine Status;
  std::vector<std::string> Json;  // every page's diagnostics, for one JSON array
  std::atomic<std::size_t> Next{0};
};

// Prints every page done from the first one not yet printed on. Called with ALock holding
// Mutex; prints without it, so that a slow console never holds up the other threads, and only
// one thread prints at a time, in page order (the others leave their pages to it).
void TSiteRun::PrintDone(std::unique_lock<std::mutex>& ALock) {
  if (!Printing.try_lock()) return;  // the thread printing takes these pages too
  for (;;) {
    const std::size_t first = Printed;
    std::vector<TPageResult> ready;
    for (; Printed < Count && Done[Printed] != 0; ++Printed)
      ready.push_back(std::move(Results[Printed]));
    if (ready.empty()) break;
    ALock.unlock();
    for (std::size_t idx = first; idx < first + ready.size(); ++idx) {
      TPageResult& page = ready[idx - first];
      Status.Clear();
      Out << page.Out;
      Err << page.Err;
      Totals.ExitCode = std::max(Totals.ExitCode, page.ExitCode);
      (page.ExitCode == kExitSuccess ? Totals.Translated : Totals.Failed) += 1;
      Totals.Succeeded[idx] = page.ExitCode == kExitSuccess;
      Totals.Warnings += page.Warnings;
      Totals.Promoted += page.Promoted;
      if (Options.Json) std::move(page.Json.begin(), page.Json.end(), std::back_inserter(Json));
      if (Parts.Listener) Parts.Listener->Translated(Pages[idx], page);
      Status.Draw(idx + 1, Pages[idx].Label);
    }
    ALock.lock();
  }
  Printing.unlock();  // with Mutex held: a page done since is printed by its own thread
}

// Puts a batch in place in page order, outside the lock, then lets its pages be printed.
void TSiteRun::Commit(TBatch ABatch) {
  std::sort(ABatch.begin(), ABatch.end(),
            [](const auto& A, const auto& B) { return A.first < B.first; });
  std::vector<TStagedOutput> outputs;
  for (auto& entry : ABatch) outputs.push_back(std::move(entry.second));
  const std::vector<std::optional<TFileFailure>> failures = CommitOutputFiles(outputs);
  std::unique_lock<std::mutex> lock(Mutex);
  for (std::size_t idx = 0; idx < ABatch.size(); ++idx) {
    const std::size_t page = ABatch[idx].first;
    if (failures[idx])
      ReportCommitFailure(Results[page], Pages[page].Job, *failures[idx], Options, Parts);
    Done[page] = 1;
  }
  PrintDone(lock);
}

void TSiteRun::Work() {
  for (std::size_t idx; (idx = Next++) < Count;) {
    TStagedOutput output;
    TPageResult result =
        TranslateSitePage(Pages[idx], Options, Files, Batched ? &output : nullptr, Parts);
    if (result.NoSpace) {
      // The disk is full with pages staged: those are put in place now (the space of the
      // files they replace comes back), batches are halved from now on, and the page is
      // tried once more.
      TBatch now;
      {
        const std::lock_guard<std::mutex> lock(Mutex);
        now.swap(Staged);
        StagedBytes = 0;
        BatchPages = std::max<std::size_t>(1, BatchPages / 2);
      }
      if (!now.empty()) {
        Commit(std::move(now));
        output = TStagedOutput();
        result = TranslateSitePage(Pages[idx], Options, Files, &output, Parts);
      }
    }
    TBatch full;
    {
      std::unique_lock<std::mutex> lock(Mutex);
      Results[idx] = std::move(result);
      if (output.Temp && Results[idx].ExitCode == kExitSuccess) {
        StagedBytes += output.Bytes;
        Staged.emplace_back(idx, std::move(output));
        if (Staged.size() >= BatchPages || StagedBytes >= kBatchBytes) {
          full.swap(Staged);
          StagedBytes = 0;
        }
      } else {
        Done[idx] = 1;
      }
      PrintDone(lock);
    }
    if (!full.empty()) Commit(std::move(full));
  }
}

TSiteTotals TSiteRun::Run(std::size_t AJobs, std::size_t ABatchPages) {
  BatchPages = ABatchPages;
  std::vector<std::thread> threads;
  for (std::size_t idx = 1; idx < std::min(AJobs, Count); ++idx) {
    try {
      threads.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      break;  // fewer threads than asked for; those that started do the work
    }
  }
  Work();
  for (std::thread& thread : threads) thread.join();
  if (!Staged.empty()) Commit(std::move(Staged));
  Status.Clear();
  if (Options.Json) Err << JsonArray(Json, Options.Watch);
  return std::move(Totals);
}

}  // namespace

TSiteTotals TranslatePages(const std::vector<TSitePage>& APages, const TOptions& AOptions,
                           std::ostream& AOut, std::ostream& AErr, bool AStatus,
                           TFileSystem& AFiles, const TRunParts& AParts) {
  // Open files: each thread holds a few at once (its inputs, its temporary and its folder, a
  // php's pipes) and each staged page its folder. Threads and batches are made to fit the
  // limit, so that a low one ('ulimit -n 64') makes the run slower, never failed.
  const std::size_t budget = std::max<std::size_t>(OpenFileLimit(), 2 * kFilesKept) - kFilesKept;
  const std::size_t asked = AOptions.Jobs > 0 ? static_cast<std::size_t>(AOptions.Jobs)
                                              : std::max(1u, std::thread::hardware_concurrency());
  const std::size_t jobs = std::clamp<std::size_t>(budget / (2 * kFilesPerThread), 1, asked);
  // A batch fills while others are put in place: as many as the threads may be open at once.
  const std::size_t batch_pages = std::clamp<std::size_t>(
      (budget - std::min(budget, jobs * kFilesPerThread)) / (jobs + 1), 1, kBatchPages);
  // Temporaries an earlier run was killed before it could remove, in the folders written now.
  std::set<std::string> folders;
  if (!AOptions.Check)
    for (const TSitePage& page : APages)
      folders.insert(fs::path(page.Job.PhpFileName).parent_path().string());
  for (const std::string& folder : folders) RemoveStaleTemporaries(folder);
  TSiteRun run(APages, AOptions, AOut, AErr, AStatus, AFiles, AParts);
  return run.Run(jobs, batch_pages);
}

std::set<std::string> PageOutputs(const std::vector<TSitePage>& APages,
                                  const std::string& AOutDir) {
  std::set<std::string> outputs;
  const fs::path out = fs::path(AOutDir).lexically_normal();
  for (const TSitePage& page : APages) {
    const std::string below =
        fs::path(page.Job.PhpFileName).lexically_normal().lexically_relative(out).generic_string();
    if (!below.empty() && !below.starts_with("..")) outputs.insert(below);
  }
  return outputs;
}

}  // namespace zoqc
