// Walking a tree of folders for whole-site runs: every folder once, its entries in byte order
// of their names, in time linear in the entries and the depth. One implementation per
// platform (folders_posix.cc, folders_windows.cc).
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

namespace zoqc {

// A folder as the system knows it: the same for every path that reaches it.
struct TFolderId {
  std::uint64_t Device = 0;  // the file system
  std::uint64_t Inode = 0;   // the folder within it
  auto operator<=>(const TFolderId&) const = default;
};

// Why a folder was not listed.
enum class TFolderFailure {
  Unreadable,  // it cannot be opened or read; the reason says why
  TooLong,     // its path is longer than kMaxPathLength, so nothing in it could be opened
};

// The longest path, in bytes, that the system takes for a file.
extern const std::size_t kMaxPathLength;

// What a walk reports. A folder's path ADir is the root as given, then a separator and the
// name of each folder below it on the way down.
class TFolderVisitor {
 public:
  virtual ~TFolderVisitor() = default;
  // A folder not entered before is about to be read. False skips it and all below it.
  virtual bool Enter(const std::string& ADir, TFolderId AId) = 0;
  // An entry of ADir other than "." and ".."; AIsFolder: a folder or a link to one. For a
  // folder, true walks it at once, before the next entry.
  virtual bool Entry(const std::string& ADir, const std::string& AName, bool AIsFolder) = 0;
  // ADir could not be listed; AReason is the system's reason, if any.
  virtual void Failed(const std::string& ADir, TFolderFailure AFailure,
                      const std::string& AReason) = 0;
};

// Walks the folder ARoot and the folders below it, depth first. A folder whose identity is
// in AEntered already (reached again through a link, or under an earlier root) is skipped;
// each folder entered is added to it.
void WalkFolders(const std::string& ARoot, TFolderVisitor& AVisitor, std::set<TFolderId>& AEntered);

}  // namespace zoqc
