// Tests of watching a site in this process, where a hook can act at a chosen moment.
#include "src/driver/site_watch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/run_zoqc.h"

#define LF "\n"

namespace zoqc {
namespace {

using test_support::WriteFile;

// The system's watcher, with a step of the test's own before each folder is watched.
class TBeforeAdd final : public TFolderWatcher {
 public:
  TBeforeAdd(std::unique_ptr<TFolderWatcher> AWatcher,
             std::function<void(const std::string&)>& AStep)
      : Watcher(std::move(AWatcher)), Step(AStep) {}
  bool Add(const std::string& ADir, std::string& AError) override {
    if (Step) Step(ADir);
    return Watcher->Add(ADir, AError);
  }
  void Remove(const std::string& ADir) override { Watcher->Remove(ADir); }
  bool Wait(int ATimeoutMs, std::vector<TWatchEvent>& AEvents, bool& ALost,
            std::string& AError) override {
    return Watcher->Wait(ATimeoutMs, AEvents, ALost, AError);
  }

 private:
  std::unique_ptr<TFolderWatcher> Watcher;
  std::function<void(const std::string&)>& Step;
};

class WatchSiteTest : public test_support::TScratchCwdTest {
 protected:
  // Translates the pages of AArgs once, as zoqc --watch does, and starts watching them.
  void Start(const std::vector<std::string>& AArgs) {
    std::vector<const char*> argv = {"zoqc", "--watch"};
    for (const std::string& arg : AArgs) argv.push_back(arg.c_str());
    std::string error;
    ASSERT_TRUE(ParseOptions(static_cast<int>(argv.size()), argv.data(), Options, error));
    TSiteList list;
    ASSERT_TRUE(PlanSite(Options, list, error)) << error;
    const TSiteTotals first = TranslatePages(list.Pages, Options, Out, Err, false);
    Watch = std::make_unique<TSiteWatch>(Options, Out, Err);
    std::unique_ptr<TFolderWatcher> watcher = NewFolderWatcher(error);
    ASSERT_TRUE(watcher) << error;
    ASSERT_TRUE(Watch->Start(std::move(list), first, error,
                             std::make_unique<TBeforeAdd>(std::move(watcher), BeforeAdd)))
        << error;
  }

  // Watches until standard output holds AText after what was seen: false as soon as the
  // watch fails or a line about the same name (the text up to ": ") says something else, and
  // after three seconds at most, several times the slowest clean wait.
  bool Sees(const std::string& AText) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    const std::string name = "\n" + AText.substr(0, AText.find(": ") + 2);
    std::string error;
    while (std::chrono::steady_clock::now() < until) {
      const std::string out = Out.str();
      const std::size_t at = out.find(AText, Seen);
      if (at != std::string::npos && (at == 0 || out[at - 1] == '\n')) {
        Seen = at + AText.size();
        return true;
      }
      const std::size_t other = out.find(name, Seen == 0 ? 0 : Seen - 1);
      if (other != std::string::npos && out.find('\n', other + 1) != std::string::npos) {
        ADD_FAILURE() << "instead of '" << AText << "': " << out.substr(other + 1);
        return false;
      }
      if (!Watch->Step(50, error)) return false;
    }
    return false;
  }

  TOptions Options;
  std::ostringstream Out;
  std::ostringstream Err;
  std::unique_ptr<TSiteWatch> Watch;
  std::function<void(const std::string&)> BeforeAdd;  // runs before a folder is watched
  std::size_t Seen = 0;                               // how much of Out Sees has looked at
};

// A folder made while watching, with a page written into it just before zoqc watches it: the
// folder is read after it is watched, so the page is seen (read first, it would be missed).
TEST_F(WatchSiteTest, PageWrittenWhileItsNewFolderIsReadIsSeen) {
  std::filesystem::create_directory("src");
  Start({"-r", "src"});
  BeforeAdd = [](const std::string& ADir) {
    if (ADir != "src/new" || std::filesystem::exists("src/new/page.zoq")) return;
    WriteFile("src/new/page.zot", "{a}" LF);
    WriteFile("src/new/page.zoq", "<?php" LF "<<a<<1" LF);
  };
  std::filesystem::create_directory("src/new");
  EXPECT_TRUE(Sees("src/new/page: translated in ")) << Out.str();
  EXPECT_TRUE(std::filesystem::exists("src/new/page.php"));
}

// With JSON diagnostics, standard error is JSON Lines: the first translation and every
// rebuild one array, each on a line of its own.
TEST_F(WatchSiteTest, JsonDiagnosticsAreOneDocumentALine) {
  std::filesystem::create_directory("src");
  WriteFile("src/a.zoq", "<?php" LF "<<+nope" LF);  // a warning
  WriteFile("src/a.zot", "" LF);
  WriteFile("src/b.zoq", "<?php" LF "<<x<<1" LF);
  WriteFile("src/b.zot", "{x}" LF);
  Start({"-r", "src", "--diagnostics-format=json"});
  WriteFile("src/a.zot", "<!--BEGIN orphan--><!--END orphan-->" LF);  // one warning more
  ASSERT_TRUE(Sees("src/a: translated in "));
  WriteFile("src/b.zoq", "<?php" LF "<<x y" LF);  // an error
  ASSERT_TRUE(Sees("src/b: failed in "));
  std::vector<std::size_t> counts;  // diagnostics in each document
  std::istringstream lines(Err.str());
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json document = nlohmann::json::parse(line, nullptr, false);
    ASSERT_TRUE(document.is_array()) << line;
    counts.push_back(document.size());
  }
  EXPECT_EQ((std::vector<std::size_t>{1, 2, 1}), counts) << Err.str();
}

// A -r folder replaced by renames, as deploy scripts do: the old tree moved away, the new one
// moved into place a moment later. The pages stay, and the new tree is watched.
TEST_F(WatchSiteTest, RootReplacedByRenameIsTakenUp) {
  for (const char* dir : {"site/sub", "site.new/sub"}) {
    std::filesystem::create_directories(dir);
    WriteFile(std::string(dir) + "/a.zoq", "<?php" LF "<<a<<1" LF);
    WriteFile(std::string(dir) + "/a.zot", "{a}" LF);
  }
  Start({"-r", "site", "-o", "www"});
  std::thread deploy([] {
    std::filesystem::rename("site", "site.old");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::filesystem::rename("site.new", "site");
  });
  EXPECT_TRUE(Sees("site: folder replaced, reading it again\n")) << Out.str();
  deploy.join();
  EXPECT_TRUE(Sees("site/sub/a: translated in ")) << Out.str();
  // Saves and new folders in the new tree are seen; nothing was removed from www.
  std::filesystem::create_directory("site/sub2");
  WriteFile("site/sub2/b.zot", "{a}" LF);
  WriteFile("site/sub2/b.zoq", "<?php" LF "<<a<<2" LF);
  EXPECT_TRUE(Sees("site/sub2/b: translated in ")) << Out.str();
  EXPECT_EQ(std::string::npos, Out.str().find("gone")) << Out.str();
  EXPECT_TRUE(std::filesystem::exists("www/sub/a.php"));
  EXPECT_TRUE(std::filesystem::exists("www/sub2/b.php"));
}

}  // namespace
}  // namespace zoqc

#undef LF
