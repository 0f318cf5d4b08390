// Walking a tree of folders on POSIX systems. Each folder is opened relative to a folder above
// it that is held open, never by its whole path: a chain of folders thousands deep costs
// the same per folder as a shallow one, and few descriptors stay open.
#include "src/platform/folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

namespace zoqc {

const std::size_t kMaxPathLength = PATH_MAX - 1;  // PATH_MAX counts the NUL

namespace {

// Every this many levels a folder is held open while the folders below it are walked; the
// others are opened from there, through fewer than this many names.
constexpr int kHoldEvery = 32;

struct TEntry {
  std::string Name;
  bool IsFolder = false;
  bool operator<(const TEntry& AOther) const { return Name < AOther.Name; }
};

// Reads the entries of the open folder AFd, and closes it. A link counts as a folder when it
// leads to one.
bool ReadEntries(int AFd, std::vector<TEntry>& AEntries, std::string& AReason) {
  DIR* dir = fdopendir(AFd);
  if (dir == nullptr) {
    AReason = std::strerror(errno);
    close(AFd);
    return false;
  }
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (entry == nullptr) break;
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    bool folder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      struct stat info {};
      folder = fstatat(dirfd(dir), name, &info, 0) == 0 && S_ISDIR(info.st_mode);
    }
    AEntries.push_back({name, folder});
  }
  const int error = errno;
  closedir(dir);
  if (error != 0) AReason = std::strerror(error);
  return error == 0;
}

class TWalk {
 public:
  TWalk(TFolderVisitor& AVisitor, std::set<TFolderId>& AEntered)
      : Visitor(AVisitor), Entered(AEntered) {}

  // Walks the open folder AFd (and closes it), whose path is Path. AHeld is the nearest
  // folder above that is held open (or AT_FDCWD), and AHeldEnd where in Path the names below
  // it begin; ADepth counts the levels below the root.
  void Walk(int AFd, int AHeld, std::size_t AHeldEnd, int ADepth) {
    struct stat info {};
    if (fstat(AFd, &info) != 0) return Fail(AFd, TFolderFailure::Unreadable, errno);
    const TFolderId id{static_cast<std::uint64_t>(info.st_dev),
                       static_cast<std::uint64_t>(info.st_ino)};
    if (!Entered.insert(id).second || !Visitor.Enter(Path, id)) {
      close(AFd);
      return;
    }
    const bool hold = ADepth % kHoldEvery == 0;
    const int held = hold ? fcntl(AFd, F_DUPFD_CLOEXEC, 0) : AHeld;
    if (held < 0) return Fail(AFd, TFolderFailure::Unreadable, errno);
    std::vector<TEntry> entries;
    std::string reason;
    if (!ReadEntries(AFd, entries, reason)) {
      Visitor.Failed(Path, TFolderFailure::Unreadable, reason);
    } else {
      std::sort(entries.begin(), entries.end());
      const std::size_t separator = Path.ends_with('/') ? 0 : 1;  // a root may end in "/"
      const std::size_t held_end = hold ? Path.size() + separator : AHeldEnd;
      for (const TEntry& entry : entries) {
        if (!Visitor.Entry(Path, entry.Name, entry.IsFolder) || !entry.IsFolder) continue;
        const std::size_t length = Path.size();
        Path.append(separator, '/').append(entry.Name);
        if (Path.size() > kMaxPathLength) {
          Visitor.Failed(Path, TFolderFailure::TooLong, "");
        } else {
          const int fd = openat(held, Path.c_str() + held_end, kOpenFolder);
          if (fd < 0)
            Visitor.Failed(Path, TFolderFailure::Unreadable, std::strerror(errno));
          else
            Walk(fd, held, held_end, ADepth + 1);
        }
        Path.resize(length);
      }
    }
    if (hold) close(held);
  }

  static constexpr int kOpenFolder = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  std::string Path;  // the folder being walked

 private:
  void Fail(int AFd, TFolderFailure AFailure, int AError) {
    Visitor.Failed(Path, AFailure, std::strerror(AError));
    close(AFd);
  }

  TFolderVisitor& Visitor;
  std::set<TFolderId>& Entered;
};

}  // namespace

void WalkFolders(const std::string& ARoot, TFolderVisitor& AVisitor,
                 std::set<TFolderId>& AEntered) {
  TWalk walk(AVisitor, AEntered);
  walk.Path = ARoot;
  if (ARoot.size() > kMaxPathLength) return AVisitor.Failed(ARoot, TFolderFailure::TooLong, "");
  const int fd = open(ARoot.c_str(), TWalk::kOpenFolder);
  if (fd < 0) return AVisitor.Failed(ARoot, TFolderFailure::Unreadable, std::strerror(errno));
  walk.Walk(fd, AT_FDCWD, 0, 0);
}

}  // namespace zoqc
