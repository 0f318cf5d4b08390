// Whole sites: the pages under folders and the pages named, where each is written, and their
// translation on several threads with the console output kept in page order.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "src/driver/options.h"
#include "src/driver/page.h"

namespace zoqc {

// A page of the run.
struct TSitePage {
  TPageJob Job;       // its three files; PhpFileName is under the output folder when there is one
  std::string Dir;    // the folder of its script, as listed (where its changes are seen)
  std::string Label;  // how the status line names it: the script's name without ".zoq"
};

// A folder whose every page is translated: a -r folder or one of its subfolders.
struct TSiteFolder {
  std::string Dir;     // as listed: the -r folder, then "/" and the names below it
  std::string OutDir;  // where its pages are written (Dir itself without an output folder)
};

// The page named by a command-line argument; with AOutDir it is written there.
TSitePage NamedPage(const std::string& AArgument, const std::string& AOutDir);

// The page NAME.zoq in the folder AFolder.
TSitePage FolderPage(const TSiteFolder& AFolder, const std::string& AName);

// Appends the pages under AFolder in sorted path order and the folders listed. Hidden entries
// are skipped, and a folder reached again through a symbolic link is not entered twice. A
// folder that cannot be listed appends a line to AErrors.
void ListPages(const TSiteFolder& AFolder, std::vector<TSitePage>& APages,
               std::vector<TSiteFolder>& AFolders, std::string& AErrors);

// The pages of a run, named ones first, then those under each -r folder; and the folders.
void CollectPages(const TOptions& AOptions, std::vector<TSitePage>& APages,
                  std::vector<TSiteFolder>& AFolders, std::string& AErrors);

// Creates the folder of the output, then translates the page (see TranslatePage).
TPageResult TranslateSitePage(const TSitePage& APage, const TOptions& AOptions,
                              TFileSystem& AFiles = SystemFiles(),
                              TStagedOutput* AStaged = nullptr);

// What the pages of a run came to.
struct TSiteTotals {
  int ExitCode = kExitSuccess;  // the highest of the pages' codes
  int Translated = 0;
  int Failed = 0;
  int Warnings = 0;
};

// Translates the pages on AOptions.Jobs threads (one per core when 0) and prints each page's
// messages in page order. AStatus: redraw a status line "[done/all] page" in place on AOut.
// Several pages are put in place in batches, durably (CommitOutputFiles): a page's messages
// come once its batch is in place.
TSiteTotals TranslatePages(const std::vector<TSitePage>& APages, const TOptions& AOptions,
                           std::ostream& AOut, std::ostream& AErr, bool AStatus,
                           TFileSystem& AFiles = SystemFiles());

// The whole run after the banner: the pages, a summary line when there are several, then
// watching when asked for. Yields the exit code.
int RunSite(const TOptions& AOptions, std::ostream& AOut, std::ostream& AErr, bool AStatus);

}  // namespace zoqc
