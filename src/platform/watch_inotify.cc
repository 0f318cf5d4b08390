// The folder watcher on Linux: one inotify watch per folder.
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "src/platform/watch.h"

namespace zoqc {

namespace {

// A finished write, an entry created, removed or renamed in or out; enough for both saving in
// place and saving by renaming a new file over the old one.
constexpr std::uint32_t kEvents =
    IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB;

// A file just created with one name only: its IN_CLOSE_WRITE follows once it is written, so
// the creation itself is not reported (a symbolic or hard link gets no such event).
bool IsBeingWritten(const std::string& ADir, const char* AName) {
  struct stat info {};
  const std::string path = ADir + "/" + AName;
  return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1;
}

class TInotifyWatcher final : public TFolderWatcher {
 public:
  explicit TInotifyWatcher(int AFd) : Fd(AFd) {}
  ~TInotifyWatcher() override { close(Fd); }

  bool Add(const std::string& ADir, std::string& AError) override {
    const int wd = inotify_add_watch(Fd, ADir.c_str(), kEvents | IN_ONLYDIR);
    if (wd < 0) {
      AError = "cannot watch folder '" + ADir + "': " + std::strerror(errno);
      return false;
    }
    Folders[wd] = ADir;
    return true;
  }

  bool Wait(int ATimeoutMs, std::vector<TWatchEvent>& AEvents, bool& ALost,
            std::string& AError) override {
    ALost = false;
    pollfd ready{Fd, POLLIN, 0};
    const int n = poll(&ready, 1, ATimeoutMs);
    if (n < 0 && errno != EINTR) return Failed(AError);
    if (n <= 0) return true;
    // Everything queued now, so that the events of one save come as one batch.
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
      const ssize_t got = read(Fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 && errno == EAGAIN) return true;
      if (got <= 0) return Failed(AError);
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if (event->mask & IN_Q_OVERFLOW) ALost = true;
        const auto folder = Folders.find(event->wd);
        if (folder == Folders.end()) continue;
        if (event->mask & IN_IGNORED) {  // the folder went away
          Folders.erase(folder);
          continue;
        }
        if (event->len == 0) continue;  // about the folder itself
        if ((event->mask & IN_CREATE) && IsBeingWritten(folder->second, event->name)) continue;
        AEvents.push_back({folder->second, event->name, (event->mask & IN_ISDIR) != 0});
      }
    }
  }

 private:
  bool Failed(std::string& AError) {
    AError = std::string("watching failed: ") + std::strerror(errno);
    return false;
  }

  int Fd;
  std::map<int, std::string> Folders;  // watch descriptor -> the folder as given
};

}  // namespace

std::unique_ptr<TFolderWatcher> NewFolderWatcher(std::string& AError) {
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) {
    AError = std::string("cannot watch files: ") + std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<TInotifyWatcher>(fd);
}

}  // namespace zoqc
