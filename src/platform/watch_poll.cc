// A folder watcher that works everywhere: it lists the watched folders at a fixed interval
// and reports the entries whose kind, size or modification time changed, appeared or went.
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "src/platform/folder_watch.h"

namespace zoqc {

namespace {

namespace fs = std::filesystem;

// What is compared of an entry between two listings.
struct TEntryState {
  bool IsDirectory = false;
  std::uintmax_t Size = 0;
  fs::file_time_type Time;
  bool operator==(const TEntryState&) const = default;
};

using TListing = std::map<std::string, TEntryState>;  // entry name -> its state

// The entries of ADir now; false when the folder cannot be listed (it went away).
bool ListFolder(const std::string& ADir, TListing& AListing) {
  std::error_code ec;
  AListing.clear();
  fs::directory_iterator it(ADir, ec);
  if (ec) return false;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) return false;
    TEntryState state;
    state.IsDirectory = it->is_directory(ec);
    if (!state.IsDirectory) state.Size = it->file_size(ec);
    state.Time = it->last_write_time(ec);
    AListing[it->path().filename().string()] = state;
  }
  return true;
}

class TPollingWatcher final : public TFolderWatcher {
 public:
  explicit TPollingWatcher(int AIntervalMs) : Interval(AIntervalMs) {}

  bool Add(const std::string& ADir, std::string& AError) override {
    TListing listing;
    if (!ListFolder(ADir, listing)) {
      AError = "cannot list folder '" + ADir + "'";
      return false;
    }
    Folders[ADir] = std::move(listing);
    return true;
  }

  void Remove(const std::string& ADir) override { Folders.erase(ADir); }

  bool Wait(int ATimeoutMs, std::vector<TWatchEvent>& AEvents, bool& ALost, std::string&) override {
    ALost = false;
    const auto deadline =
        ATimeoutMs < 0 ? std::chrono::steady_clock::time_point::max()
                       : std::chrono::steady_clock::now() + std::chrono::milliseconds(ATimeoutMs);
    for (;;) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) return true;
      std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
          std::chrono::milliseconds(Interval), deadline - now));
      const std::size_t before = AEvents.size();
      Compare(AEvents);
      if (AEvents.size() > before) return true;
    }
  }

 private:
  // Lists every folder again and appends an event per entry that differs.
  void Compare(std::vector<TWatchEvent>& AEvents) {
    for (auto it = Folders.begin(); it != Folders.end();) {
      TListing now;
      if (!ListFolder(it->first, now)) {  // gone
        AEvents.push_back({it->first, "", true});
        it = Folders.erase(it);
        continue;
      }
      const TListing& old = it->second;
      for (const auto& [name, state] : now) {
        const auto was = old.find(name);
        if (was == old.end() || !(was->second == state))
          AEvents.push_back({it->first, name, state.IsDirectory});
      }
      for (const auto& [name, state] : old)
        if (!now.contains(name)) AEvents.push_back({it->first, name, state.IsDirectory});
      it->second = std::move(now);
      ++it;
    }
  }

  int Interval;
  std::map<std::string, TListing> Folders;  // watched folder -> its last listing
};

}  // namespace

std::unique_ptr<TFolderWatcher> NewPollingWatcher(int AIntervalMs) {
  return std::make_unique<TPollingWatcher>(AIntervalMs);
}

#if !defined(__linux__)
std::unique_ptr<TFolderWatcher> NewFolderWatcher(std::string&) { return NewPollingWatcher(); }
#endif

}  // namespace zoqc
