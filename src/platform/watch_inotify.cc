// The folder watcher on Linux: one inotify watch per folder.
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "src/platform/folder_watch.h"

namespace zoqc {

namespace {

// A finished write, an entry created, removed or renamed in or out; enough for both saving in
// place and saving by renaming a new file over the old one.
constexpr std::uint32_t kEvents = IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                                  IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

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
    const auto known = Descriptors.find(ADir);
    if (known != Descriptors.end() && known->second != wd) Remove(ADir);  // another folder then
    Folders[wd].insert(ADir);  // the same folder under another name has the same descriptor
    Descriptors[ADir] = wd;
    return true;
  }

  void Remove(const std::string& ADir) override {
    const auto found = Descriptors.find(ADir);
    if (found == Descriptors.end()) return;
    const int wd = found->second;
    Descriptors.erase(found);
    std::set<std::string>& names = Folders[wd];
    names.erase(ADir);
    if (!names.empty()) return;
    Folders.erase(wd);
    inotify_rm_watch(Fd, wd);
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
        if (event->mask & IN_IGNORED) {  // the system has dropped the watch
          for (const std::string& name : folder->second) Descriptors.erase(name);
          Folders.erase(folder);
          continue;
        }
        if (event->len == 0) {  // the folder itself
          if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF))
            for (const std::string& name : folder->second) AEvents.push_back({name, "", true});
          continue;
        }
        for (const std::string& name : folder->second) {
          if ((event->mask & IN_CREATE) && IsBeingWritten(name, event->name)) break;
          AEvents.push_back({name, event->name, (event->mask & IN_ISDIR) != 0});
        }
      }
    }
  }

 private:
  bool Failed(std::string& AError) {
    AError = std::string("watching failed: ") + std::strerror(errno);
    return false;
  }

  int Fd;
  std::map<int, std::set<std::string>> Folders;  // watch descriptor -> the names given
  std::map<std::string, int> Descriptors;        // a name given -> its watch descriptor
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
