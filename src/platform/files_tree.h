// Copying the files of a source tree into an output folder (the rest of a site beside its
// pages): what an entry is, and an output folder whose every call stays below it. Nothing is
// ever written, made or removed through a symbolic link met on the way down from that folder.
// One implementation per platform (files_posix.cc, files_windows.cc).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "src/platform/files_interface.h"

namespace zoqc {

enum class TEntryKind { None, Regular, Link, Folder, Other };

// What an entry is, not following a link. Two looks at one unchanged file compare equal.
struct TEntryInfo {
  TEntryKind Kind = TEntryKind::None;  // None: there is no such entry
  std::uint64_t Size = 0;
  std::int64_t Modified = 0;  // nanoseconds since the epoch
  std::uint32_t Mode = 0;     // the permission bits (0777)
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;  // 0 where the system has none
  bool operator==(const TEntryInfo&) const = default;
};

// Looks at APath itself (a link is a link); Kind None when it is not there.
TEntryInfo InspectEntry(const std::string& APath);

// The text of the symbolic link APath; false when it is not one or cannot be read.
bool ReadLinkText(const std::string& APath, std::string& AText);

// APath with every link on the way resolved, absolute; false when it leads nowhere.
bool RealPathOf(const std::string& APath, std::string& AReal);

// True where symbolic links are made again as links (not on Windows: copies there).
bool MakesLinks();

// An output folder. Entries are named by their path below it, with "/" between the names;
// a path with an empty name, "." or ".." is refused. Each folder on the way is entered without
// following a link: a link or a file in the way fails the call (ENOTDIR), whatever it leads to.
class TOutputFolder {
 public:
  virtual ~TOutputFolder() = default;
  // Looks at the entry ARelative; Kind None when it, or a folder on the way, is not there.
  virtual TEntryInfo Inspect(const std::string& ARelative) = 0;
  // Copies the regular file ASource (not followed when it is a link) to ARelative: into a
  // temporary beside it, with the source's permission bits and time, then renamed over it, so
  // that the entry is the old file or the new one at any moment. Missing folders on the way
  // are made, and appended to AMade. ASource says what the source was when it was opened,
  // AWritten what the copy is.
  [[nodiscard]] virtual bool Copy(const std::string& ASource, const std::string& ARelative,
                                  TEntryInfo& ASourceInfo, TEntryInfo& AWritten,
                                  std::vector<std::string>& AMade, TSystemError& AError) = 0;
  // Makes ARelative a symbolic link with the text ATarget, replacing what is there the same
  // way (not a folder).
  [[nodiscard]] virtual bool Link(const std::string& ATarget, const std::string& ARelative,
                                  TEntryInfo& AWritten, std::vector<std::string>& AMade,
                                  TSystemError& AError) = 0;
  // Removes the file or link ARelative, only while it is still AExpected (the same kind and
  // inode): false with code 0 when it is something else, or gone.
  [[nodiscard]] virtual bool Remove(const std::string& ARelative, const TEntryInfo& AExpected,
                                    TSystemError& AError) = 0;
  // Removes the folder ARelative when it is empty; false otherwise.
  virtual bool RemoveEmptyFolder(const std::string& ARelative) = 0;
  // True when the regular file ARelative holds exactly the bytes of the regular file ASource.
  virtual bool SameContent(const std::string& ASource, const std::string& ARelative) = 0;
  // Reads the regular file ARelative whole; false when it is not there or not one.
  virtual bool ReadSmallFile(const std::string& ARelative, std::string& AText) = 0;
  // Forgets the folder of the last call, which the next one in the same folder starts from
  // (a tree is copied folder by folder): called when a batch of calls is over, so that a
  // folder moved away meanwhile is not written into later.
  virtual void Release() = 0;
  // Replaces the file ARelative by AText as Copy does.
  [[nodiscard]] virtual bool WriteSmallFile(const std::string& ARelative, std::string_view AText,
                                            TSystemError& AError) = 0;
};

// The output folder ARoot, which must exist; null, with the reason, when it cannot be opened.
std::unique_ptr<TOutputFolder> OpenOutputFolder(const std::string& ARoot, TSystemError& AError);

}  // namespace zoqc
