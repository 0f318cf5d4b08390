// Tests of both folder watchers against real changes in a scratch folder.
#include "src/platform/folder_watch.h"

#include "tests/scratch_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace zoqc {
namespace {

using test_support::WriteFile;

// Waits up to two seconds for an event naming AName in ADir.
bool Sees(TFolderWatcher& AWatcher, const std::string& ADir, const std::string& AName,
          bool AIsDirectory = false) {
  for (int round = 0; round < 20; ++round) {
    std::vector<TWatchEvent> events;
    bool lost = false;
    std::string error;
    if (!AWatcher.Wait(100, events, lost, error)) return false;
    for (const TWatchEvent& event : events)
      if (event.Dir == ADir && event.Name == AName && event.IsDirectory == AIsDirectory)
        return true;
  }
  return false;
}

class WatchTest : public test_support::TScratchDirTest, public ::testing::WithParamInterface<bool> {
 protected:
  std::unique_ptr<TFolderWatcher> NewWatcher() {
    std::string error;
    return GetParam() ? NewPollingWatcher(20) : NewFolderWatcher(error);
  }
};

TEST_P(WatchTest, SeesWritesRenamesAndFolders) {
  const std::string dir = Dir + "site";
  std::filesystem::create_directory(dir);
  WriteFile(dir + "/page.zot", "one");
  auto watcher = NewWatcher();
  ASSERT_NE(nullptr, watcher);
  std::string error;
  ASSERT_TRUE(watcher->Add(dir, error)) << error;
  WriteFile(dir + "/page.zot", "two, longer");  // saved in place
  EXPECT_TRUE(Sees(*watcher, dir, "page.zot"));
  WriteFile(dir + "/.page.zot.new", "three");  // saved by renaming a new file over it
  ASSERT_EQ(0, std::rename((dir + "/.page.zot.new").c_str(), (dir + "/page.zot").c_str()));
  EXPECT_TRUE(Sees(*watcher, dir, "page.zot"));
  std::filesystem::create_directory(dir + "/blog");
  EXPECT_TRUE(Sees(*watcher, dir, "blog", true));
  std::filesystem::remove(dir + "/page.zot");
  EXPECT_TRUE(Sees(*watcher, dir, "page.zot"));
  EXPECT_FALSE(watcher->Add(Dir + "nothing", error));
}

// A folder let go is no longer reported; a watched folder removed is reported itself, with no
// name, under each name it was given.
TEST_P(WatchTest, LetsGoAndSeesAFolderGo) {
  const std::string kept = Dir + "kept";
  const std::string gone = Dir + "gone";
  std::filesystem::create_directory(kept);
  std::filesystem::create_directory(gone);
  auto watcher = NewWatcher();
  std::string error;
  ASSERT_TRUE(watcher->Add(kept, error) && watcher->Add(gone, error)) << error;
  ASSERT_TRUE(watcher->Add(gone + "/", error)) << error;  // the same folder, another name
  watcher->Remove(kept);
  WriteFile(kept + "/page.zot", "unseen");
  std::filesystem::remove(gone);
  std::set<std::string> seen;  // "folder|name" of every event in 0.3 s
  for (int round = 0; round < 6; ++round) {
    std::vector<TWatchEvent> events;
    bool lost = false;
    ASSERT_TRUE(watcher->Wait(50, events, lost, error)) << error;
    for (const TWatchEvent& event : events) seen.insert(event.Dir + "|" + event.Name);
  }
  EXPECT_EQ((std::set<std::string>{gone + "|", gone + "/|"}), seen);
}

INSTANTIATE_TEST_SUITE_P(Both, WatchTest, ::testing::Bool(),
                         [](const auto& AInfo) { return AInfo.param ? "Polling" : "System"; });

}  // namespace
}  // namespace zoqc
