// File I/O of a run on POSIX systems.
#include "src/platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/uio.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <random>
#include <vector>

namespace zoqc {

namespace {

std::string Quoted(const std::string& AFileName) { return "\"" + AFileName + "\""; }

// Fails with the reason errno gives at the call.
bool Failed(TFileFailure& AFailure, std::string_view AKind, std::string AMessage,
            std::string_view ALocation) {
  const int error = errno;
  AFailure = {std::string(AKind), std::move(AMessage), ALocation,
              error != 0 ? std::strerror(error) : ""};
  return false;
}

// Follows symbolic links from AFileName to the name of the file they end at (which need not
// exist yet). False for a loop of links.
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
  return false;
}

// Writes all pieces of AData to AFd in order, a batch of pieces per writev, retrying short
// writes.
bool WriteAll(int AFd, std::span<const std::string_view> AData) {
  std::vector<iovec> batch;
  std::size_t next = 0;  // the first piece not yet in a batch
  while (next < AData.size() || !batch.empty()) {
    while (next < AData.size() && batch.size() < IOV_MAX) {
      const std::string_view piece = AData[next++];
      if (!piece.empty()) batch.push_back({const_cast<char*>(piece.data()), piece.size()});
    }
    if (batch.empty()) break;
    ssize_t n = writev(AFd, batch.data(), static_cast<int>(batch.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    // Drop what was written: whole pieces, then the front of a partly written one.
    std::size_t done = 0;
    while (done < batch.size() && static_cast<std::size_t>(n) >= batch[done].iov_len)
      n -= static_cast<ssize_t>(batch[done++].iov_len);
    batch.erase(batch.begin(), batch.begin() + static_cast<std::ptrdiff_t>(done));
    if (!batch.empty()) {
      batch.front().iov_base = static_cast<char*>(batch.front().iov_base) + n;
      batch.front().iov_len -= static_cast<std::size_t>(n);
    }
  }
  return true;
}

// A temporary file beside the output: created exclusively, removed on destruction unless
// Commit() renamed it over the output.
class TTempFile {
 public:
  ~TTempFile() {
    if (Fd >= 0) close(Fd);
    if (!Name.empty()) unlink(Name.c_str());
  }
  bool Create(const std::string& ATarget, mode_t AMode) {
    const std::size_t slash = ATarget.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : ATarget.substr(0, slash + 1);
    std::random_device seed;
    std::mt19937 random(seed());
    for (int tries = 0; tries < 100; ++tries) {
      // A short name, so that an output name as long as the system allows still works.
      const std::string name = dir + ".zoqc-" + std::to_string(random() % 1000000);
      Fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, AMode);
      if (Fd >= 0) {
        Name = name;
        return true;
      }
      if (errno != EEXIST) return false;
    }
    return false;
  }
  int Descriptor() const { return Fd; }
  bool Close() {
    const int fd = Fd;
    Fd = -1;
    return close(fd) == 0;
  }
  bool Commit(const std::string& ATarget) {
    if (rename(Name.c_str(), ATarget.c_str()) != 0) return false;
    Name.clear();
    return true;
  }

 private:
  int Fd = -1;
  std::string Name;  // empty once committed
};

}  // namespace

bool IsFileFound(const std::string& AFileName) {
  struct stat info {};
  return stat(AFileName.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool LoadFile(const std::string& AFileName, std::string& AContent, TFileFailure& AFailure) {
  const int fd = open(AFileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return Failed(AFailure, "EFOpenError", "Unable to open file " + Quoted(AFileName), "LoadFile");
  struct stat info {};
  AContent.clear();
  if (fstat(fd, &info) == 0 && info.st_size > 0)
    AContent.reserve(static_cast<std::size_t>(info.st_size));
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return Failed(AFailure, "EReadError", "Stream read error", "LoadFile");
    }
    if (n == 0) break;
    AContent.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return true;
}

bool WriteOutputFile(const std::string& AFileName, std::span<const std::string_view> AData,
                     TFileFailure& AFailure, TFailStep AFailAt) {
  const auto create_error = [&] {
    return Failed(AFailure, "EFCreateError", "Unable to create file " + Quoted(AFileName),
                  "WriteOutputFile");
  };
  const auto write_error = [&] {
    return Failed(AFailure, "EWriteError", "Stream write error", "WriteOutputFile");
  };
  std::string target;
  if (!ResolveLinks(AFileName, target)) return create_error();
  mode_t mode = 0666;  // less the umask, for a new file
  struct stat info {};
  const bool exists = stat(target.c_str(), &info) == 0;
  if (exists) {
    // Only a regular file that could be opened for writing is replaced.
    if (!S_ISREG(info.st_mode) || access(target.c_str(), W_OK) != 0) return create_error();
    mode = info.st_mode & 07777;
  }
  TTempFile temp;
  if (AFailAt == TFailStep::Create || !temp.Create(target, mode)) return create_error();
  if (exists) {
    // The replacement keeps the old file's permission bits (and owner, where that is allowed).
    if (fchmod(temp.Descriptor(), mode) != 0) return write_error();
    [[maybe_unused]] const int owned = fchown(temp.Descriptor(), info.st_uid, info.st_gid);
  }
  if (AFailAt == TFailStep::Write || !WriteAll(temp.Descriptor(), AData)) return write_error();
  if (AFailAt == TFailStep::Flush || fsync(temp.Descriptor()) != 0) return write_error();
  if (!temp.Close() || AFailAt == TFailStep::Close) return write_error();
  if (AFailAt == TFailStep::Rename || !temp.Commit(target)) return write_error();
  return true;
}

}  // namespace zoqc
