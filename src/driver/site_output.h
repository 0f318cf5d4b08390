// The output folder of a whole site (-r SRC -o OUT): the files of SRC that are not pages put
// at their paths under OUT, and a record in OUT of what zoqc wrote there, so that it removes
// only what it put there.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "src/driver/options.h"
#include "src/platform/files_tree.h"

namespace zoqc {

// The record's name in the output folder.
inline constexpr std::string_view kWrittenRecord = ".zoqc-written";

// True when the glob APattern matches AText: "*" and "?" within a name, "**" across names,
// "[abc]", "[a-z]" and "[!a]" for one character.
bool GlobMatch(std::string_view APattern, std::string_view AText);

// True when the entry ARelative (its path below the -r folder, "/" between the names) is not
// copied: a hidden name (".git", ".env", ".page.swp"), an editor's copy ("page~", "#page#"), a
// script or template, or a match of one of AExclude's patterns. A pattern without a "/"
// matches a name at any depth, one with a "/" the whole path (a leading "/" is dropped); one
// ending in "/" matches folders only.
bool IsLeftOut(const std::string& ARelative, bool AIsFolder,
               const std::vector<std::string>& AExclude);

class TSiteOutput {
 public:
  explicit TSiteOutput(const TOptions& AOptions);
  TSiteOutput(const TSiteOutput&) = delete;
  TSiteOutput& operator=(const TSiteOutput&) = delete;

  // Notes the folders of AFolder (a page's output folder, about to be made) that are not
  // there yet: made by this run. May be called on several threads at once.
  void NoteFolder(const std::string& AFolder);

  // Puts every file under the -r folders in place under the output folder, copying only what
  // changed, and removes what zoqc copied there earlier whose source is gone. APageOutputs:
  // the pages' outputs, which no file replaces and which stay. A file that cannot be copied is
  // a failure report on AOut and its reason on AErr; a link that leads out of its -r folder is
  // a warning on AErr. Yields the exit code (kExitFileFailure after a failure).
  int Mirror(const std::set<std::string>& APageOutputs, std::ostream& AOut, std::ostream& AErr);
  // The same for the source paths APaths alone (changes seen under a watch). False when they
  // cannot be taken alone (a folder, or a path through a link): Mirror then.
  bool MirrorPaths(const std::set<std::string>& APaths, const std::set<std::string>& APageOutputs,
                   std::ostream& AOut, std::ostream& AErr, int& AExitCode);

  // Removes the folders zoqc made that are empty now and writes the record. ARunOver (a run
  // that does not go on watching): also the output folder and those above it when this run
  // made them and they are empty.
  void EndRun(bool ARunOver, std::ostream& AErr);

  // A line on standard output for each file copied or removed (watching, after the first run).
  bool Verbose = false;
  // The failures as JSON objects (--diagnostics-format=json), for the run's array.
  std::vector<std::string> Json;

 private:
  struct TWritten {  // an entry of the record
    TEntryKind Kind = TEntryKind::None;
    TEntryInfo Source;   // a file's source as it was copied
    TEntryInfo Copy;     // what was written
    std::string Target;  // a link's text
  };
  struct TWanted {  // what an entry of the output is to be
    TEntryKind Kind = TEntryKind::None;
    std::string Source;  // the source's path
    TEntryInfo Info;     // the source as seen
    std::string Target;  // a link's text
  };
  struct TRoot {
    std::string Dir;   // as given with -r
    std::string Real;  // with every link resolved
  };

  TOutputFolder* Folder();
  void Load();
  std::vector<TRoot> Roots();
  void Walk(const TRoot& ARoot, const std::string& ADir, const std::string& ARelative,
            std::map<std::string, TWanted>& AWanted, std::ostream& AErr);
  bool Consider(const TRoot& ARoot, const std::string& APath, const std::string& ARelative,
                TWanted& AWanted, std::ostream& AErr);
  void Apply(const std::string& ARelative, const TWanted* AWanted,
             const std::set<std::string>& APageOutputs, std::ostream& AOut, std::ostream& AErr);
  // Forgets the copy at ARelative, whose source is gone, removing it first unless AKeep (a page
  // is written there); one that cannot be removed stays recorded.
  void Drop(TOutputFolder& AFolder, const std::string& ARelative, bool AKeep, std::ostream& AOut,
            std::ostream& AErr);
  void Failure(const std::string& ARelative, const std::string& AReason, std::ostream& AOut,
               std::ostream& AErr);
  void Warn(const std::string& APath, const std::string& AText, std::ostream& AErr);
  void NoteMade(const std::vector<std::string>& AMade);
  // Records the free paths among APaths before anything is copied there, so that a run ended
  // before it records its copies leaves them zoqc's own.
  void Claim(const std::vector<std::string>& APaths, const std::set<std::string>& APageOutputs,
             std::ostream& AErr);
  void Save(std::ostream& AErr);
  std::string Saved() const;

  const TOptions& Options;
  std::unique_ptr<TOutputFolder> Out;
  bool OutExisted = false;
  TEntryInfo OutInfo;                      // the output folder, to be left out under a -r folder
  std::map<std::string, TWritten> Record;  // by path below the output folder
  std::string LoadedRecord;                // the record as read
  std::set<std::string> Warned;            // warned about already (a watch syncs again)
  std::mutex NotedLock;                    // guards the two below
  std::set<std::string> NotedBelow;        // folders made in the output folder
  // Folders made for pages by this process: removed once empty, but not recorded, so that
  // a site of pages alone gets nothing but its pages.
  std::set<std::string> RunFolders;
  std::vector<std::string> NotedAbove;  // the output folder and those above it, when made
  int ExitCode = 0;
};

}  // namespace zoqc
