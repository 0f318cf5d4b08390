// File I/O of a run on POSIX systems: loading regular files and replacing the output atomically
// through a temporary file in the output's directory.
#include "src/platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "src/platform/temp_slots_posix.h"

namespace zoqc {

namespace {

// Fails with AWhat and AReason, or with the system's text for AError (an errno value taken
// right after the call that failed).
bool Failed(TFileFailure& AFailure, TFileFailure AWhat, int AError, std::string AReason = {}) {
  if (AReason.empty() && AError != 0) AReason = std::strerror(AError);
  AWhat.Reason = std::move(AReason);
  AFailure = std::move(AWhat);
  return false;
}

// Closes a descriptor when it goes out of scope.
struct TFd {
  int Fd = -1;
  ~TFd() {
    if (Fd >= 0) close(Fd);
  }
};

// What a mode's file type is, for the reason a non-regular input is refused.
const char* FileTypeName(mode_t AMode) {
  if (S_ISFIFO(AMode)) return "a FIFO";
  if (S_ISCHR(AMode)) return "a character device";
  if (S_ISBLK(AMode)) return "a block device";
  if (S_ISSOCK(AMode)) return "a socket";
  if (S_ISDIR(AMode)) return "a directory";
  return "not a regular file";
}

// A new name for a temporary file: hidden, and short whatever the output's name.
std::string NewTempName() {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  char name[32];
  std::snprintf(name, sizeof name, ".zoqc-%016llx", static_cast<unsigned long long>(random()));
  return name;
}

// Follows symbolic links from AFileName to the name of the file they end at (which need not
// exist yet). False with ELOOP for a loop of links.
bool ResolveLinks(const std::string& AFileName, std::string& ATarget) {
  ATarget = AFileName;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info {};
    if (lstat(ATarget.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return true;
    std::string link(static_cast<std::size_t>(info.st_size) + 1, '\0');
    const ssize_t n = readlink(ATarget.c_str(), link.data(), link.size());
    if (n < 0 || static_cast<std::size_t>(n) >= link.size()) return false;
    link.resize(static_cast<std::size_t>(n));
    const std::size_t slash = ATarget.rfind('/');
    if (link.empty() || link[0] == '/' || slash == std::string::npos)
      ATarget = link;
    else
      ATarget = ATarget.substr(0, slash + 1) + link;
  }
  errno = ELOOP;
  return false;
}

// Opens the directory a file name is in, for working relative to it; the name's last part goes
// to ABase. A directory that may be searched but not read is opened for searching only.
int OpenDirectoryOf(const std::string& AName, std::string& ABase) {
  const std::size_t slash = AName.rfind('/');
  ABase = slash == std::string::npos ? AName : AName.substr(slash + 1);
  const std::string dir = slash == std::string::npos ? "." : AName.substr(0, slash + 1);
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#ifdef O_PATH
  if (fd < 0 && errno == EACCES) fd = open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
#endif
  return fd;
}

// Writes the iovecs of ABatch to AFd whole, retrying short writes; empties ABatch.
bool WriteBatch(int AFd, std::vector<iovec>& ABatch) {
  std::size_t first = 0;  // the first iovec not yet written whole
  while (first < ABatch.size()) {
    ssize_t n = writev(AFd, ABatch.data() + first, static_cast<int>(ABatch.size() - first));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = ENOSPC;
    if (n <= 0) return false;
    // Drop what was written: whole iovecs, then the front of a partly written one.
    while (first < ABatch.size() && static_cast<std::size_t>(n) >= ABatch[first].iov_len)
      n -= static_cast<ssize_t>(ABatch[first++].iov_len);
    if (first < ABatch.size()) {
      ABatch[first].iov_base = static_cast<char*>(ABatch[first].iov_base) + n;
      ABatch[first].iov_len -= static_cast<std::size_t>(n);
    }
  }
  ABatch.clear();
  return true;
}

// Writes all pieces of AData to AFd in order. A page is mostly small pieces (a run of markup,
// an echo), so small pieces are gathered into one small buffer, written out whenever it fills,
// and large ones are written from where they lie: few writev calls, each of many bytes.
bool WriteAll(int AFd, std::span<const std::string_view> AData) {
  constexpr std::size_t kBufferSize = 64 * 1024;  // reused: its pages are touched once
  constexpr std::size_t kSmall = 4096;  // a piece smaller than this is copied into the buffer
  const std::unique_ptr<char[]> buffer(new char[kBufferSize]);
  std::size_t used = 0;         // bytes of buffer in the batch
  bool last_in_buffer = false;  // the batch's last iovec is the buffer's end
  std::vector<iovec> batch;
  batch.reserve(IOV_MAX);
  for (const std::string_view piece : AData) {
    if (piece.empty()) continue;
    if (piece.size() >= kSmall) {
      batch.push_back({const_cast<char*>(piece.data()), piece.size()});
      last_in_buffer = false;
    } else {
      if (used + piece.size() > kBufferSize) {
        if (!WriteBatch(AFd, batch)) return false;
        used = 0;
        last_in_buffer = false;
      }
      std::memcpy(buffer.get() + used, piece.data(), piece.size());
      if (last_in_buffer)
        batch.back().iov_len += piece.size();
      else
        batch.push_back({buffer.get() + used, piece.size()});
      used += piece.size();
      last_in_buffer = true;
    }
    if (batch.size() == IOV_MAX) {
      if (!WriteBatch(AFd, batch)) return false;
      used = 0;
      last_in_buffer = false;
    }
  }
  return WriteBatch(AFd, batch);
}

/* A temporary file in the output's directory. Unnamed where the system allows (O_TMPFILE): it
   gets a name only once complete, just before it is renamed over the output. Otherwise it is
   created under a new name. While it has a name, the name is in a slot of TempSlots, so that a
   signal removes it; the destructor removes it unless Commit() renamed it. */
class TTempFile {
 public:
  explicit TTempFile(int ADirFd) : DirFd(ADirFd) {}
  ~TTempFile() {
    if (Fd >= 0) close(Fd);
    if (!Name.empty()) unlinkat(DirFd, Name.c_str(), 0);
    ReleaseTempSlot(Slot);
  }
  // Opens the file, unnamed when AUnnamed and the system has such files. False with errno set.
  bool Create(mode_t AMode, bool AUnnamed) {
#ifdef O_TMPFILE
    if (AUnnamed) {
      Fd = openat(DirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, AMode);
      if (Fd >= 0) return true;
      // Only a file system or system without unnamed files goes on to a named one.
      if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
        return false;
    }
#else
    (void)AUnnamed;
#endif
    Slot = ClaimTempSlot(DirFd);
    for (int tries = 0; tries < 100; ++tries) {
      const std::string name = NewTempName();
      GuardTempName(Slot, name.c_str());  // guarded before it exists: a signal can come any time
      Fd = openat(DirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, AMode);
      if (Fd >= 0) {
        Name = name;
        return true;
      }
      if (errno != EEXIST) return false;
    }
    return false;
  }
  int Descriptor() const { return Fd; }
  // Gives an unnamed file its temporary name; a named one has it already. False with errno set;
  // ACannotLink then tells that the system cannot name unnamed files here, so that the caller
  // can start again with a named one.
  bool Link(bool& ACannotLink) {
    ACannotLink = false;
    if (!Name.empty()) return true;
    Slot = ClaimTempSlot(DirFd);
    for (int tries = 0; tries < 100; ++tries) {
      const std::string name = NewTempName();
      GuardTempName(Slot, name.c_str());
      int result = linkat(Fd, "", DirFd, name.c_str(), AT_EMPTY_PATH);  // with privilege only
      if (result != 0 && errno != EEXIST) {
        char proc[64];
        std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", Fd);
        result = linkat(AT_FDCWD, proc, DirFd, name.c_str(), AT_SYMLINK_FOLLOW);
      }
      if (result == 0) {
        Name = name;
        return true;
      }
      if (errno != EEXIST) {
        ACannotLink = errno == ENOENT || errno == EPERM || errno == EINVAL || errno == ENOTDIR;
        return false;
      }
    }
    return false;
  }
  bool Close() {
    const int fd = Fd;
    Fd = -1;
    return close(fd) == 0;
  }
  // Renames the file over ABase in the directory. False with errno set.
  bool Commit(const std::string& ABase) {
    if (renameat(DirFd, Name.c_str(), DirFd, ABase.c_str()) != 0) return false;
    Name.clear();
    return true;
  }

 private:
  int DirFd;
  int Fd = -1;
  int Slot = -1;     // the slot guarding Name; -1 for none
  std::string Name;  // empty while unnamed, and once committed
};

}  // namespace

bool IsFileFound(const std::string& AFileName) {
  struct stat info {};
  return stat(AFileName.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool LoadFile(const std::string& AFileName, std::string& AContent, TFileFailure& AFailure) {
  const auto open_error = [&](int AError, std::string AReason = {}) {
    return Failed(AFailure, OpenFailure(AFileName), AError, std::move(AReason));
  };
  // Without blocking: opening a FIFO would otherwise wait for a writer.
  TFd file{open(AFileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
  if (file.Fd < 0) return open_error(errno);
  struct stat info {};
  if (fstat(file.Fd, &info) != 0) return open_error(errno);
  if (!S_ISREG(info.st_mode))
    return open_error(0, std::string("not a regular file but ") + FileTypeName(info.st_mode));
  // One read of the size straight into the text; a file that shrank meanwhile gives less.
  const std::size_t size = static_cast<std::size_t>(info.st_size);
  AContent.clear();
  AContent.resize(size);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = read(file.Fd, AContent.data() + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Failed(AFailure, ReadFailure(), errno);
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  AContent.resize(done);
  return true;
}

bool WriteOutputFile(const std::string& AFileName, std::span<const std::string_view> AData,
                     TFileFailure& AFailure, TFailStep AFailAt) {
  const auto create_error = [&](int AError, std::string AReason = {}) {
    return Failed(AFailure, CreateFailure(AFileName), AError, std::move(AReason));
  };
  const auto write_error = [&](int AError) { return Failed(AFailure, WriteFailure(), AError); };
  std::string target;
  if (!ResolveLinks(AFileName, target)) return create_error(errno);
  // Everything below is relative to the directory, so that any name that can be written can
  // be replaced, however long its path.
  std::string base;
  TFd dir{OpenDirectoryOf(target, base)};
  if (dir.Fd < 0) return create_error(errno);
  mode_t mode = 0666;  // less the umask, for a new file
  struct stat info {};
  const bool exists = fstatat(dir.Fd, base.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
  if (exists) {
    // Only a regular file that could be opened for writing is replaced.
    if (!S_ISREG(info.st_mode))
      return create_error(0, std::string("not a regular file but ") + FileTypeName(info.st_mode));
    if (faccessat(dir.Fd, base.c_str(), W_OK, AT_EACCESS) != 0) return create_error(errno);
    mode = info.st_mode & 07777;
  }
  bool unnamed = AFailAt != TFailStep::UnnamedTemp;
  for (;;) {
    TTempFile temp(dir.Fd);
    if (AFailAt == TFailStep::Create) return create_error(0);
    if (!temp.Create(mode, unnamed)) return create_error(errno);
    if (AFailAt == TFailStep::Write) return write_error(0);
    if (!WriteAll(temp.Descriptor(), AData)) return write_error(errno);
    if (exists) {
      // After the writes and after the owner: both clear the set-user-ID and set-group-ID bits
      // (a write unless privileged), which the mode then sets again. Another owner can only be
      // given with privilege.
      [[maybe_unused]] const int owned = fchown(temp.Descriptor(), info.st_uid, info.st_gid);
      if (fchmod(temp.Descriptor(), mode) != 0) return write_error(errno);
    }
    if (AFailAt == TFailStep::Flush) return write_error(0);
    if (fsync(temp.Descriptor()) != 0) return write_error(errno);
    bool cannot_link = false;
    if (!temp.Link(cannot_link)) {
      if (!cannot_link) return write_error(errno);
      unnamed = false;  // no way to name an unnamed file here: write a named one instead
      continue;
    }
    if (!temp.Close()) return write_error(errno);
    if (AFailAt == TFailStep::Close) return write_error(0);
    if (AFailAt == TFailStep::Rename) return write_error(0);
    if (!temp.Commit(base)) {
      // Refused, as in a sticky directory for a file of another user: the page cannot be
      // replaced, and writing it in place would give up its atomic replacement.
      const int error = errno;
      if (error == EPERM || error == EACCES || error == EROFS) return create_error(error);
      return write_error(error);
    }
    break;
  }
  fsync(dir.Fd);  // the rename itself reaches the disk; fails harmlessly where not supported
  return true;
}

}  // namespace zoqc
