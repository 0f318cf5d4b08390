// The file system's calls on POSIX systems: inputs read through a descriptor, temporary files
// made in the output's folder and renamed over it. On Linux a temporary has no name until it
// is complete (O_TMPFILE) and a whole file system is flushed in one call (syncfs); elsewhere,
// and when built with ZOQC_PORTABLE_POSIX to test that path, temporaries are named from the
// start and each is flushed by itself.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#if defined(__linux__)
#include <sys/random.h>
#include <sys/sendfile.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "src/platform/files.h"
#include "src/platform/files_tree.h"
#include "src/platform/temp_slots_posix.h"

#if defined(__linux__) && !defined(ZOQC_PORTABLE_POSIX)
#define ZOQC_LINUX_FILES 1
#endif

namespace zoqc {

namespace {

bool Failed(TSystemError& AError, int ACode) {
  AError = SystemError(ACode);
  return false;
}

TFileType TypeOf(mode_t AMode) {
  if (S_ISREG(AMode)) return TFileType::Regular;
  if (S_ISDIR(AMode)) return TFileType::Directory;
  if (S_ISFIFO(AMode)) return TFileType::Fifo;
  if (S_ISCHR(AMode)) return TFileType::CharacterDevice;
  if (S_ISBLK(AMode)) return TFileType::BlockDevice;
  if (S_ISSOCK(AMode)) return TFileType::Socket;
  return TFileType::Other;
}

// Where temporary names start: the system's random bytes. std::random_device first asks the
// processor which sources it has, and each question stops a virtual machine for tens of
// microseconds, more than the rest of a small page's translation.
std::uint64_t TempNameSeed() {
  std::uint64_t seed = 0;
#if defined(__linux__)
  if (getrandom(&seed, sizeof seed, GRND_NONBLOCK) == sizeof seed) return seed;
#endif
  std::random_device device;
  return (std::uint64_t{device()} << 32) ^ device();
}

// What tells this machine's running processes apart from any other's: its boot and its pid
// namespace (containers sharing a folder have their own), hashed. Where the system does not
// say, the host's name.
std::uint32_t MachineTag() {
  std::string what;
  char text[256] = {};
  if (const int fd = open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC); fd >= 0) {
    const ssize_t got = read(fd, text, sizeof text - 1);
    close(fd);
    if (got > 0) what.assign(text, static_cast<std::size_t>(got));
  }
  struct stat info {};
  if (stat("/proc/self/ns/pid", &info) == 0) what += std::to_string(info.st_ino);
  if (what.empty() && gethostname(text, sizeof text - 1) == 0) what = text;
  std::uint32_t hash = 2166136261u;  // FNV-1a
  for (const char c : what) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  return hash;
}
const std::uint32_t kMachineTag = MachineTag();

// A new name for a temporary file: hidden, short whatever the output's name, and naming its
// writer: ".zoqc-", the machine's tag and the pid (8 hexadecimal digits each), "-" and 8 more.
// Those follow from the seed by a 64-bit mix of a counter, so a thread never repeats one.
std::string NewTempName() {
  static thread_local std::uint64_t state = TempNameSeed();
  std::uint64_t mixed = state += 0x9e3779b97f4a7c15u;
  mixed = (mixed ^ (mixed >> 30)) * 0xbf58476d1ce4e5b9u;
  mixed = (mixed ^ (mixed >> 27)) * 0x94d049bb133111ebu;
  mixed ^= mixed >> 31;
  char name[32];
  std::snprintf(name, sizeof name, ".zoqc-%08x%08x-%08x", static_cast<unsigned>(kMachineTag),
                static_cast<unsigned>(getpid()), static_cast<unsigned>(mixed));
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

class TPosixInput : public TInputFile {
 public:
  TPosixInput(int AFd, const struct stat& AInfo) : Fd(AFd), Info(AInfo) {}
  ~TPosixInput() override { close(Fd); }
  TFileType Type() const override { return TypeOf(Info.st_mode); }
  std::uint64_t Size() const override { return static_cast<std::uint64_t>(Info.st_size); }
  bool Read(char* AData, std::size_t ASize, std::size_t& ARead, TSystemError& AError) override {
    for (;;) {
      const ssize_t n = read(Fd, AData, ASize);
      if (n >= 0) {
        ARead = static_cast<std::size_t>(n);
        return true;
      }
      if (errno != EINTR) return Failed(AError, errno);
    }
  }

 private:
  int Fd;
  struct stat Info;
};

/* A temporary file in the output's folder. Unnamed where the system allows (O_TMPFILE): it
   gets a name only once complete, just before it is renamed over the output. Otherwise it is
   created under a new name. While it has a name, the name is in a slot of TempSlots, so that a
   signal removes it; the destructor removes it unless Rename() put it in place. */
class TPosixTemp : public TTempFile {
 public:
  // ADirFd: the output's folder, open, owned from now on; ABase: the output's name in it.
  TPosixTemp(int ADirFd, std::string AFolder, std::string ABase)
      : DirFd(ADirFd), FolderPath(std::move(AFolder)), Base(std::move(ABase)) {}
  ~TPosixTemp() override {
    if (Fd >= 0) close(Fd);
    if (!TempName.empty()) unlinkat(DirFd, TempName.c_str(), 0);
    ReleaseTempSlot(Slot);
    close(DirFd);
  }

  // Whether the output exists and may be replaced, and with which owner and mode.
  bool Inspect(TSystemError& AError) {
    struct stat info {};
    if (fstatat(DirFd, Base.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return true;  // new
    // Only a regular file that could be opened for writing is replaced.
    if (!S_ISREG(info.st_mode)) {
      AError = {0, NotRegularReason(TypeOf(info.st_mode))};
      return false;
    }
    if (faccessat(DirFd, Base.c_str(), W_OK, AT_EACCESS) != 0) return Failed(AError, errno);
    Exists = true;
    Mode = info.st_mode & 07777;
    Owner = info.st_uid;
    Group = info.st_gid;
    return true;
  }

  // Opens the file, unnamed when AUnnamed and the system has such files.
  bool Open(bool AUnnamed, TSystemError& AError) {
#if defined(ZOQC_LINUX_FILES) && defined(O_TMPFILE)
    if (AUnnamed) {
      Fd = openat(DirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, Mode);
      if (Fd >= 0) return true;
      // Only a file system or system without unnamed files goes on to a named one.
      if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
        return Failed(AError, errno);
    }
#else
    (void)AUnnamed;
#endif
    Slot = ClaimTempSlot(DirFd);
    for (int tries = 0; tries < 100; ++tries) {
      const std::string name = NewTempName();
      GuardTempName(Slot, name.c_str());  // guarded before it exists: a signal can come any time
      Fd = openat(DirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, Mode);
      if (Fd >= 0) {
        TempName = name;
        return true;
      }
      if (errno != EEXIST) return Failed(AError, errno);
    }
    return Failed(AError, EEXIST);
  }

  bool Append(std::string_view AData, TSystemError& AError) override {
    while (!AData.empty()) {
      const ssize_t n = write(Fd, AData.data(), AData.size());
      if (n < 0 && errno == EINTR) continue;
      if (n == 0) errno = ENOSPC;
      if (n <= 0) return Failed(AError, errno);
      AData.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

  bool Write(std::span<const std::string_view> AData, TSystemError& AError) override {
    if (!WriteAll(Fd, AData)) return Failed(AError, errno);
    if (Exists) {
      // After the writes and after the owner: both clear the set-user-ID and set-group-ID bits
      // (a write unless privileged), which the mode then sets again. Another owner can only be
      // given with privilege.
      [[maybe_unused]] const int owned = fchown(Fd, Owner, Group);
      if (fchmod(Fd, Mode) != 0) return Failed(AError, errno);
    }
    return true;
  }

  bool Flush(TSystemError& AError) override { return fsync(Fd) == 0 || Failed(AError, errno); }

  bool Name(TSystemError& AError) override {
    if (!TempName.empty()) return true;
#if defined(ZOQC_LINUX_FILES)
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
        TempName = name;
        return true;
      }
      if (errno != EEXIST) {
        const bool cannot =
            errno == ENOENT || errno == EPERM || errno == EINVAL || errno == ENOTDIR;
        return Failed(AError, cannot ? kCannotName : errno);
      }
    }
    return Failed(AError, EEXIST);
#else
    return Failed(AError, kCannotName);  // an unnamed file cannot have come from Open
#endif
  }

  bool Close(TSystemError& AError) override {
    const int fd = Fd;
    Fd = -1;
    return close(fd) == 0 || Failed(AError, errno);
  }

  bool Rename(TSystemError& AError) override {
    if (renameat(DirFd, TempName.c_str(), DirFd, Base.c_str()) != 0) return Failed(AError, errno);
    TempName.clear();
    ReleaseTempSlot(Slot);
    Slot = -1;
    return true;
  }

  bool FlushFolder(TSystemError& AError) override {
    return fsync(DirFd) == 0 || Failed(AError, errno);
  }

  bool FlushFileSystem(TSystemError& AError) override {
#if defined(ZOQC_LINUX_FILES)
    if (syncfs(DirFd) == 0) return true;
    if (errno != EBADF) return Failed(AError, errno);
    // A folder opened for searching only: through the file itself.
    int fd = openat(DirFd, TempName.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) fd = openat(DirFd, TempName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Failed(AError, errno);
    const bool flushed = syncfs(fd) == 0;
    const int error = errno;
    close(fd);
    return flushed || Failed(AError, error);
#else
    return Failed(AError, ENOSYS);
#endif
  }

  const std::string& Folder() const override { return FolderPath; }

  std::uint64_t FileSystemId() override {
    struct stat info {};
    return fstat(DirFd, &info) == 0 ? static_cast<std::uint64_t>(info.st_dev) : 0;
  }

 private:
  int DirFd;
  std::string FolderPath;  // as it was opened
  std::string Base;        // the output's name in the folder
  bool Exists = false;     // the output exists, and has:
  mode_t Mode = 0666;      // its permission bits; for a new file 0666, less the umask
  uid_t Owner = 0;
  gid_t Group = 0;
  int Fd = -1;
  int Slot = -1;         // the slot guarding TempName; -1 for none
  std::string TempName;  // empty while unnamed, and once renamed
};

class TPosixFileSystem : public TFileSystem {
 public:
  bool OpenForReading(const std::string& AName, std::unique_ptr<TInputFile>& AFile,
                      TSystemError& AError) override {
    // Without blocking: opening a FIFO would otherwise wait for a writer.
    const int fd = open(AName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return Failed(AError, errno);
    struct stat info {};
    if (fstat(fd, &info) != 0) {
      const int error = errno;
      close(fd);
      return Failed(AError, error);
    }
    AFile = std::make_unique<TPosixInput>(fd, info);
    return true;
  }

  bool CreateTemporary(const std::string& AOutput, bool AUnnamed, std::unique_ptr<TTempFile>& ATemp,
                       TSystemError& AError) override {
    std::string target;
    if (!ResolveLinks(AOutput, target)) return Failed(AError, errno);
    // Everything is relative to the folder, so that any name that can be written can be
    // replaced, however long its path. A folder that may be searched but not read is opened
    // for searching only.
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#ifdef O_PATH
    if (dir < 0 && errno == EACCES) dir = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
#endif
    if (dir < 0) return Failed(AError, errno);
    auto temp = std::make_unique<TPosixTemp>(
        dir, folder, slash == std::string::npos ? target : target.substr(slash + 1));
    if (!temp->Inspect(AError) || !temp->Open(AUnnamed, AError)) return false;
    ATemp = std::move(temp);
    return true;
  }

  bool FlushesFileSystems() const override {
#if defined(ZOQC_LINUX_FILES)
    return true;
#else
    return false;
#endif
  }
};

TEntryInfo InfoOf(const struct stat& AInfo) {
  TEntryInfo info;
  info.Kind = S_ISREG(AInfo.st_mode)   ? TEntryKind::Regular
              : S_ISLNK(AInfo.st_mode) ? TEntryKind::Link
              : S_ISDIR(AInfo.st_mode) ? TEntryKind::Folder
                                       : TEntryKind::Other;
  info.Size = static_cast<std::uint64_t>(AInfo.st_size);
  info.Modified = std::int64_t{AInfo.st_mtim.tv_sec} * 1000000000 + AInfo.st_mtim.tv_nsec;
  info.Mode = AInfo.st_mode & 0777;
  info.Device = static_cast<std::uint64_t>(AInfo.st_dev);
  info.Inode = static_cast<std::uint64_t>(AInfo.st_ino);
  return info;
}

// Copies the rest of AFrom into ATo: within the kernel where it can (copy_file_range, which
// may share the blocks; sendfile), else through a buffer.
bool CopyData(int AFrom, int ATo) {
#if defined(__linux__)
  bool ranges = true;
  for (;;) {
    const ssize_t n = ranges ? copy_file_range(AFrom, nullptr, ATo, nullptr, 1 << 30, 0)
                             : sendfile(ATo, AFrom, nullptr, 1 << 30);
    if (n > 0) continue;
    if (n == 0) return true;
    if (errno == EINTR) continue;
    if (ranges && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                   errno == EBADF)) {
      ranges = false;  // another file system, or none that can: sendfile then
      continue;
    }
    if (errno != EINVAL && errno != ENOSYS) return false;
    break;  // no sendfile here: through a buffer
  }
#endif
  const std::unique_ptr<char[]> buffer(new char[1 << 17]);
  for (;;) {
    const ssize_t n = read(AFrom, buffer.get(), 1 << 17);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    for (ssize_t done = 0; done < n;) {
      const ssize_t m = write(ATo, buffer.get() + done, static_cast<std::size_t>(n - done));
      if (m < 0 && errno == EINTR) continue;
      if (m <= 0) {
        if (m == 0) errno = ENOSPC;
        return false;
      }
      done += m;
    }
  }
}

// The folder names of ARelative, and its last name; false for a name that is empty, "." or
// "..".
bool SplitRelative(const std::string& ARelative, std::vector<std::string>& AFolders,
                   std::string& ABase) {
  AFolders.clear();
  std::size_t from = 0;
  for (;;) {
    const std::size_t slash = ARelative.find('/', from);
    std::string name = ARelative.substr(from, slash - from);
    if (name.empty() || name == "." || name == "..") return false;
    if (slash == std::string::npos) {
      ABase = std::move(name);
      return true;
    }
    AFolders.push_back(std::move(name));
    from = slash + 1;
  }
}

/* An output folder, held open; every path below it is walked one name at a time with
   O_NOFOLLOW, so that a link in the way is never followed, whatever is done to the tree
   meanwhile. */
// Makes the file AName in the folder ADir with AMode and has AFill write it (AFill(fd): false
// on failure). Unnamed until complete where the system allows: a killed run leaves nothing.
// Closes it keeping the errno of the failing step.
template <typename TFill>
bool MakeFile(int ADir, const char* AName, mode_t AMode, TFill AFill) {
  bool unnamed = false;
#if defined(ZOQC_LINUX_FILES) && defined(O_TMPFILE)
  int to = openat(ADir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, AMode);
  unnamed = to >= 0;
  if (!unnamed) to = openat(ADir, AName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, AMode);
#else
  const int to = openat(ADir, AName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, AMode);
#endif
  if (to < 0) return false;
  bool done = AFill(to);
  if (done && unnamed) {
    char proc[64];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", to);
    done = linkat(AT_FDCWD, proc, ADir, AName, AT_SYMLINK_FOLLOW) == 0;
  }
  const int error = errno;
  close(to);
  errno = error;
  return done;
}

class TPosixOutputFolder final : public TOutputFolder {
 public:
  explicit TPosixOutputFolder(int AFd) : Root(AFd), Swept{""} { RemoveEndedTemporaries(Root); }
  ~TPosixOutputFolder() override {
    Release();
    close(Root);
  }

  void Release() override {
    if (CachedFd >= 0) close(CachedFd);
    CachedFd = -1;
  }

  TEntryInfo Inspect(const std::string& ARelative) override {
    std::string base;
    const int dir = Parent(ARelative, nullptr, base);
    if (dir < 0) return {};
    struct stat info {};
    const bool found = fstatat(dir, base.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    close(dir);
    return found ? InfoOf(info) : TEntryInfo{};
  }

  bool Copy(const std::string& ASource, const std::string& ARelative, TEntryInfo& ASourceInfo,
            TEntryInfo& AWritten, std::vector<std::string>& AMade, TSystemError& AError) override {
    const int from = open(ASource.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (from < 0) return Failed(AError, errno);
    struct stat info {};
    if (fstat(from, &info) != 0 || !S_ISREG(info.st_mode)) {
      const int error = errno;
      close(from);
      if (S_ISREG(info.st_mode)) return Failed(AError, error);
      AError = {0, NotRegularReason(TypeOf(info.st_mode))};
      return false;
    }
    ASourceInfo = InfoOf(info);
    const timespec times[2] = {info.st_atim, info.st_mtim};
    const bool done = Replace(ARelative, AMade, AWritten, AError, [&](int ADir, const char* AName) {
      return MakeFile(ADir, AName, 0600, [&](int ATo) {
        // From the start again on a try after a name that was taken.
        return lseek(from, 0, SEEK_SET) == 0 && CopyData(from, ATo) &&
               fchmod(ATo, info.st_mode & 0777) == 0 && futimens(ATo, times) == 0;
      });
    });
    close(from);
    return done;
  }

  bool Link(const std::string& ATarget, const std::string& ARelative, TEntryInfo& AWritten,
            std::vector<std::string>& AMade, TSystemError& AError) override {
    return Replace(ARelative, AMade, AWritten, AError, [&](int ADir, const char* AName) {
      return symlinkat(ATarget.c_str(), ADir, AName) == 0;
    });
  }

  bool Remove(const std::string& ARelative, const TEntryInfo& AExpected,
              TSystemError& AError) override {
    std::string base;
    const int dir = Parent(ARelative, nullptr, base);
    if (dir < 0) return Failed(AError, errno == ENOENT ? 0 : errno);
    struct stat info {};
    bool removed = false;
    int error = 0;
    if (fstatat(dir, base.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
      const TEntryInfo now = InfoOf(info);
      if (now.Kind == AExpected.Kind && now.Kind != TEntryKind::Folder &&
          now.Inode == AExpected.Inode && now.Device == AExpected.Device) {
        removed = unlinkat(dir, base.c_str(), 0) == 0;
        error = removed || errno == ENOENT ? 0 : errno;
      }
    }
    close(dir);
    return removed || Failed(AError, error);
  }

  bool RemoveEmptyFolder(const std::string& ARelative) override {
    Release();  // it may be the folder held
    std::string base;
    const int dir = Parent(ARelative, nullptr, base);
    if (dir < 0) return false;
    const bool removed = unlinkat(dir, base.c_str(), AT_REMOVEDIR) == 0;
    close(dir);
    return removed;
  }

  bool SameContent(const std::string& ASource, const std::string& ARelative) override {
    std::string base;
    const int dir = Parent(ARelative, nullptr, base);
    if (dir < 0) return false;
    const int ours = openat(dir, base.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    close(dir);
    const int theirs = open(ASource.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    bool same = ours >= 0 && theirs >= 0;
    struct stat a {
    }, b{};
    same = same && fstat(ours, &a) == 0 && fstat(theirs, &b) == 0 && S_ISREG(a.st_mode) &&
           S_ISREG(b.st_mode) && a.st_size == b.st_size;
    const std::unique_ptr<char[]> buffer(same ? new char[2 << 16] : nullptr);
    while (same) {
      const ssize_t n = read(ours, buffer.get(), 1 << 16);
      if (n <= 0) {
        same = n == 0 && read(theirs, buffer.get(), 1) == 0;
        break;
      }
      ssize_t m = 0;
      while (m < n) {
        const ssize_t k =
            read(theirs, buffer.get() + (1 << 16) + m, static_cast<std::size_t>(n - m));
        if (k <= 0) break;
        m += k;
      }
      same = m == n && std::memcmp(buffer.get(), buffer.get() + (1 << 16), n) == 0;
    }
    if (ours >= 0) close(ours);
    if (theirs >= 0) close(theirs);
    return same;
  }

  bool ReadSmallFile(const std::string& ARelative, std::string& AText) override {
    std::string base;
    const int dir = Parent(ARelative, nullptr, base);
    if (dir < 0) return false;
    const int fd = openat(dir, base.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    close(dir);
    if (fd < 0) return false;
    struct stat info {};
    bool read_all = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    AText.clear();
    char buffer[1 << 14];
    while (read_all) {
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        read_all = n == 0;
        break;
      }
      AText.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return read_all;
  }

  bool WriteSmallFile(const std::string& ARelative, std::string_view AText,
                      TSystemError& AError) override {
    std::vector<std::string> made;
    TEntryInfo written;
    return Replace(ARelative, made, written, AError, [&](int ADir, const char* AName) {
      return MakeFile(ADir, AName, 0666, [&](int ATo) {
        const std::string_view piece = AText;
        return WriteAll(ATo, std::span<const std::string_view>(&piece, 1)) && fsync(ATo) == 0;
      });
    });
  }

 private:
  // Opens the folder that holds ARelative, entering each folder on the way without following
  // links; with AMade, missing folders are made and their paths appended to it. -1 on failure,
  // with errno set.
  int Parent(const std::string& ARelative, std::vector<std::string>* AMade, std::string& ABase) {
    std::vector<std::string> folders;
    if (!SplitRelative(ARelative, folders, ABase)) {
      errno = EINVAL;
      return -1;
    }
    // The folder of the call before, when it is the same: a tree is copied folder by folder.
    const std::size_t length = ARelative.size() - ABase.size();
    if (CachedFd >= 0 && ARelative.compare(0, length, CachedPath) == 0 &&
        CachedPath.size() == length)
      return fcntl(CachedFd, F_DUPFD_CLOEXEC, 0);
    int dir = fcntl(Root, F_DUPFD_CLOEXEC, 0);
    std::string path;
    for (const std::string& name : folders) {
      if (dir < 0) return -1;
      path += path.empty() ? name : "/" + name;
      constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
      int next = openat(dir, name.c_str(), kFlags);
      if (next < 0 && errno == ENOENT && AMade) {
        if (mkdirat(dir, name.c_str(), 0777) == 0) AMade->push_back(path);
        next = openat(dir, name.c_str(), kFlags);
      }
      const int error = errno == ELOOP ? ENOTDIR : errno;  // a link in the way
      close(dir);
      errno = error;
      dir = next;
    }
    if (dir >= 0) {
      Release();
      CachedFd = fcntl(dir, F_DUPFD_CLOEXEC, 0);
      CachedPath = ARelative.substr(0, length);
    }
    return dir;
  }

  // Makes ARelative anew through AMake(folder, temporary name), which creates the temporary,
  // then renames it over ARelative.
  template <typename TMake>
  bool Replace(const std::string& ARelative, std::vector<std::string>& AMade, TEntryInfo& AWritten,
               TSystemError& AError, TMake AMake) {
    std::string base;
    const int dir = Parent(ARelative, &AMade, base);
    if (dir < 0) return Failed(AError, errno);
    if (Swept.insert(ARelative.substr(0, ARelative.size() - base.size())).second)
      RemoveEndedTemporaries(dir);
    const int slot = ClaimTempSlot(dir);
    std::string temp;
    bool made = false;
    int error = EEXIST;
    for (int tries = 0; tries < 100 && !made; ++tries) {
      temp = NewTempName();
      GuardTempName(slot, temp.c_str());
      made = AMake(dir, temp.c_str());
      error = errno;
      if (!made && error != EEXIST) {
        unlinkat(dir, temp.c_str(), 0);  // what a failure left, if anything
        break;
      }
    }
    struct stat info {};
    if (made && fstatat(dir, temp.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        renameat(dir, temp.c_str(), dir, base.c_str()) == 0) {
      AWritten = InfoOf(info);
      ReleaseTempSlot(slot);
      close(dir);
      return true;
    }
    if (made) {
      error = errno;
      unlinkat(dir, temp.c_str(), 0);
    }
    ReleaseTempSlot(slot);
    close(dir);
    return Failed(AError, error);
  }

  // Removes from the folder ADir the temporaries of runs that ended before they could: killed
  // outright between naming a copy (or the record of copies) and putting it in place.
  static void RemoveEndedTemporaries(int ADir) {
    const int fd = openat(ADir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* const listing = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!listing) {
      if (fd >= 0) close(fd);
      return;
    }
    while (const dirent* entry = readdir(listing))
      if (IsTemporaryOfEndedRun(entry->d_name)) unlinkat(ADir, entry->d_name, 0);
    closedir(listing);
  }

  int Root;
  std::set<std::string> Swept;  // the folders whose ended runs' temporaries are removed
  int CachedFd = -1;            // the last folder entered, as its path below Root was then
  std::string CachedPath;       // with its "/"; "" for Root itself
};

}  // namespace

TEntryInfo InspectEntry(const std::string& APath) {
  struct stat info {};
  return lstat(APath.c_str(), &info) == 0 ? InfoOf(info) : TEntryInfo{};
}

bool ReadLinkText(const std::string& APath, std::string& AText) {
  struct stat info {};
  if (lstat(APath.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return false;
  AText.assign(static_cast<std::size_t>(info.st_size) + 1, '\0');
  const ssize_t n = readlink(APath.c_str(), AText.data(), AText.size());
  if (n < 0 || static_cast<std::size_t>(n) >= AText.size()) return false;
  AText.resize(static_cast<std::size_t>(n));
  return true;
}

bool RealPathOf(const std::string& APath, std::string& AReal) {
  char* real = realpath(APath.c_str(), nullptr);
  if (real == nullptr) return false;
  AReal = real;
  std::free(real);
  return true;
}

bool MakesLinks() { return true; }

std::unique_ptr<TOutputFolder> OpenOutputFolder(const std::string& ARoot, TSystemError& AError) {
  const int fd = open(ARoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    Failed(AError, errno);
    return nullptr;
  }
  return std::make_unique<TPosixOutputFolder>(fd);
}

TSystemError SystemError(int ACode) { return {ACode, ACode > 0 ? std::strerror(ACode) : ""}; }

bool IsRefusal(int ACode) { return ACode == EPERM || ACode == EACCES || ACode == EROFS; }

bool IsFileFound(const std::string& AFileName) {
  struct stat info {};
  return stat(AFileName.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

TFileSystem& SystemFiles() {
  static TPosixFileSystem files;
  return files;
}

bool IsTemporaryOfEndedRun(std::string_view AName) {
  // ".zoqc-" TAG PID "-" RANDOM, 8 hexadecimal digits each, as NewTempName makes them.
  const auto hex = [&](std::size_t AAt) {
    std::uint32_t value = 0;
    for (std::size_t k = AAt; k < AAt + 8; ++k) {
      const char c = AName[k];
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
        return std::optional<std::uint32_t>();
      value = value * 16 + static_cast<std::uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    }
    return std::optional<std::uint32_t>(value);
  };
  if (AName.size() != 31 || !AName.starts_with(".zoqc-") || AName[22] != '-') return false;
  const std::optional<std::uint32_t> tag = hex(6), pid = hex(14), random = hex(23);
  if (!tag || !pid || !random || *tag != kMachineTag || *pid == 0 || *pid > 0x7fffffffu)
    return false;
  // A pid that no process has: the run ended. One that lives may be the run (or another
  // process that got its pid since): its file stays.
  return kill(static_cast<pid_t>(*pid), 0) != 0 && errno == ESRCH;
}

}  // namespace zoqc
