// Notice of changes in folders: the system's notifications where it has them (inotify on
// Linux), polling elsewhere. The watch loop of the driver sees only this interface.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zoqc {

// One change seen in a watched folder.
struct TWatchEvent {
  std::string Dir;           // the folder, spelled as it was given to Add
  std::string Name;          // the entry in it that was created, written, renamed or removed;
                             // empty: the folder itself was removed or moved away
  bool IsDirectory = false;  // the entry is (or was) a folder
};

// Watches the entries of folders, each folder on its own (not its subfolders). A folder may
// be given under several names (a link, "site" and "site/"); each change is reported under
// every one of them.
class TFolderWatcher {
 public:
  virtual ~TFolderWatcher() = default;
  // Starts watching the entries of ADir. False, with the reason in AError, when it cannot.
  [[nodiscard]] virtual bool Add(const std::string& ADir, std::string& AError) = 0;
  // Stops watching under the name ADir (which is then no longer reported); nothing when it is
  // not watched.
  virtual void Remove(const std::string& ADir) = 0;
  // Waits until changes were seen or ATimeoutMs passed (forever when negative) and appends them to
  // AEvents; ALost is set when some changes were lost (look at everything again). False, with the
  // reason in AError, when watching has stopped working.
  [[nodiscard]] virtual bool Wait(int ATimeoutMs, std::vector<TWatchEvent>& AEvents, bool& ALost,
                                  std::string& AError) = 0;
};

// The best watcher the system offers; null, with the reason in AError, when none can start.
std::unique_ptr<TFolderWatcher> NewFolderWatcher(std::string& AError);

// A watcher that lists the folders every AIntervalMs and compares what it finds.
std::unique_ptr<TFolderWatcher> NewPollingWatcher(int AIntervalMs = 50);

}  // namespace zoqc
