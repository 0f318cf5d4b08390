// Whole sites: the pages under folders and the pages named, where each is written, and their
// translation on several threads with the console output kept in page order.
#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "src/driver/options.h"
#include "src/driver/page.h"
#include "src/platform/folders.h"

namespace zoqc {

// A page of the run.
struct TSitePage {
  TPageJob Job;        // its three files; PhpFileName is under the output folder when there is one
  std::string Dir;     // the folder of its script, as listed (where its changes are seen)
  std::string Label;   // how the status line names it: the script's name without ".zoq",
                       // shown with its control bytes escaped (src/text/shown.h)
  bool Named = false;  // named on the command line, not found under a -r folder
};

// A folder whose every page is translated: a -r folder or one of its subfolders.
struct TSiteFolder {
  std::string Dir;     // as listed: the -r folder, then "/" and the names below it
  std::string OutDir;  // where its pages are written (Dir itself without an output folder)
  TFolderId Id;        // the folder that was listed there
};

// What a listing says as it goes, folder by folder: a watch watches each folder before it is
// read, so that no file made in it meanwhile goes unseen.
struct TListingHooks {
  std::function<void(const TSiteFolder&)> Entering;  // the folder is about to be read
};

// The pages and folders of a run.
struct TSiteList {
  std::vector<TSitePage> Pages;      // named ones first, then those under each -r folder
  std::vector<TSiteFolder> Folders;  // the folders listed under -r, when asked for
  std::string Errors;                // a line for each folder that could not be read
  std::chrono::steady_clock::time_point Start = std::chrono::steady_clock::now();
};

// The page named by a command-line argument; with AOutDir it is written there.
TSitePage NamedPage(const std::string& AArgument, const std::string& AOutDir);

// The page NAME.zoq in the folder AFolder.
TSitePage FolderPage(const TSiteFolder& AFolder, const std::string& AName);

// Appends the pages named and those under each -r folder (sorted by path for each folder;
// AKeepFolders: the folders listed too). Hidden entries are skipped, and a folder reached
// again (through a link, or under an earlier -r folder) is not entered twice. A folder that
// cannot be listed appends a line to AList.Errors.
void ListSite(const TOptions& AOptions, TSiteList& AList, bool AKeepFolders,
              const TListingHooks& AHooks = {});

// ADir / AName as one path.
std::string Joined(const std::string& ADir, const std::string& AName);

// Keeps only the first of pages that are one page (the same script and output in other
// spellings). Of two other pages written to one path, keeps the first and appends a line
// naming both to AClashes.
void DropDuplicates(std::vector<TSitePage>& APages, std::string& AClashes);

// Lists the pages of a run, once each. False on a usage error, with its lines in AError: -o
// names something that is not a folder, or two pages would be written to one path. Nothing
// is written either way.
[[nodiscard]] bool PlanSite(const TOptions& AOptions, TSiteList& AList, std::string& AError);

// Creates the folder of the output, then translates the page (see TranslatePage).
TPageResult TranslateSitePage(const TSitePage& APage, const TOptions& AOptions,
                              TFileSystem& AFiles = SystemFiles(), TStagedOutput* AStaged = nullptr,
                              const TRunParts& AParts = {});

// What is told of the pages as they are translated, in page order, one at a time (--serve).
class TPageListener {
 public:
  virtual ~TPageListener() = default;
  // The page was translated (or failed to be), with AResult.Coloured filled in.
  virtual void Translated(const TSitePage& APage, const TPageResult& AResult) = 0;
  // The page is gone under a watch: its script was removed.
  virtual void Gone(const TSitePage& APage) = 0;
  // Called while watching, before each wait for changes; false, with the reason, ends the watch.
  [[nodiscard]] virtual bool Stepped(std::string& AError) = 0;
};

// What the pages of a run came to.
struct TSiteTotals {
  int ExitCode = kExitSuccess;  // the highest of the pages' codes
  int Translated = 0;
  int Failed = 0;
  int Warnings = 0;
  int Promoted = 0;             // warnings made errors by -Werror
  std::vector<char> Succeeded;  // for each page in order: 1 when it was translated
};

// Translates the pages on AOptions.Jobs threads (one per core when 0) and prints each page's
// messages in page order. AStatus: redraw a status line "[done/all] page" in place on AOut.
// With --diagnostics-format=json, one JSON array (on one line when watching).
// Several pages are put in place in batches, durably (CommitOutputFiles): a page's messages
// come once its batch is in place.
TSiteTotals TranslatePages(const std::vector<TSitePage>& APages, const TOptions& AOptions,
                           std::ostream& AOut, std::ostream& AErr, bool AStatus,
                           TFileSystem& AFiles = SystemFiles(), const TRunParts& AParts = {});

// The outputs of APages as paths below AOutDir ("/" between the names).
std::set<std::string> PageOutputs(const std::vector<TSitePage>& APages, const std::string& AOutDir);

}  // namespace zoqc
