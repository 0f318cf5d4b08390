// Tests of whole-site runs: pages under folders, threads, the output folder.
#include "src/driver/site.h"

#include "src/driver/driver.h"
#include "tests/run_zoqc.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#define LF "\n"

namespace zoqc {
namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;
using test_support::WriteFile;

const char kGoodScript[] = "<?php" LF "<<a<<1" LF;
const char kGoodPage[] = "<?php" LF LF "\r\n?>\r\n<?php echo 1;?>" LF;

using test_support::TRun;

// Runs zoqc; Lines leave out the banner's two lines.
TRun RunAfterBanner(const std::vector<std::string>& AArgs) {
  TRun run = test_support::RunZoqc(AArgs);
  if (run.Lines.size() >= 2) run.Lines.erase(run.Lines.begin(), run.Lines.begin() + 2);
  return run;
}

class SiteTest : public test_support::TScratchDirTest {
 protected:
  // Writes NAME.zoq and, unless ATemplate is null, NAME.zot under the scratch folder.
  void Page(const std::string& AName, const char* AScript, const char* ATemplate = "{a}" LF) {
    fs::create_directories(fs::path(Dir + AName).parent_path());
    WriteFile(Dir + AName + ".zoq", AScript);
    if (ATemplate != nullptr) WriteFile(Dir + AName + ".zot", ATemplate);
  }
};

// Translated, a script error, a missing template and an output that cannot be written, many
// times over on four threads: the lines come in page order, failing pages keep their old
// output, and the worst outcome is the exit code.
TEST_F(SiteTest, MixedOutcomesInPageOrder) {
  std::vector<std::string> expected;
  for (int idx = 10; idx < 40; ++idx) {
    const std::string name = "site/p" + std::to_string(idx);
    switch (idx % 4) {
      case 0:
        Page(name, kGoodScript);
        expected.push_back(Dir + name + ": Compile sucessful.");  // several pages: named
        break;
      case 1:
        Page(name, "<?php" LF "<<a b" LF);
        WriteFile(Dir + name + ".php", "old");
        expected.push_back("Error(2):need <<");
        break;
      case 2:
        Page(name, kGoodScript, nullptr);
        WriteFile(Dir + name + ".php", "old");
        expected.push_back("Error(1):" + Dir + name + ".zoq and " + Dir + name +
                           ".zot file not found");
        break;
      case 3:
        Page(name, kGoodScript);
        fs::create_directory(Dir + name + ".php");  // not a file: cannot be replaced
        expected.push_back("An unhandled exception occurred at $");
        break;
    }
  }
  Page("site/.hidden/p", "<?php" LF "<<a b" LF);  // never looked at
  const TRun run = RunAfterBanner({"-j", "4", "-r", Dir + "site"});
  EXPECT_EQ(217, run.ExitCode);
  std::vector<std::string> heads;  // the first line of each page's message
  for (std::size_t idx = 0; idx < run.Lines.size(); ++idx) {
    const std::string& line = run.Lines[idx];
    if (line.starts_with("An unhandled")) {
      heads.push_back("An unhandled exception occurred at $");
      while (idx < run.Lines.size() && !run.Lines[idx].empty()) ++idx;  // to its empty line
    } else if (!line.ends_with(" s")) {
      heads.push_back(line);
    }
  }
  EXPECT_EQ(expected, heads);
  EXPECT_TRUE(run.Lines.back().starts_with("30 pages: 7 translated, 23 failed, 0 warnings, "))
      << run.Lines.back();
  EXPECT_EQ(kGoodPage, ReadFile(Dir + "site/p12.php"));
  EXPECT_EQ("old", ReadFile(Dir + "site/p13.php"));
  EXPECT_EQ("old", ReadFile(Dir + "site/p14.php"));
  EXPECT_FALSE(fs::exists(Dir + "site/.hidden/p.php"));
}

// -o writes each page at its place under the -r folder, and a page named directly at the top;
// nothing is written beside the sources, and a link back up the tree is not followed.
TEST_F(SiteTest, OutDirMirrorsTheTree) {
  Page("src/index", kGoodScript);
  Page("src/blog/2024/post", kGoodScript);
  Page("src/blog/about", kGoodScript);
  Page("lone/page", kGoodScript);
  fs::create_directory_symlink("..", Dir + "src/blog/up");
  const TRun run = RunAfterBanner({"-q", "-r", Dir + "src", "-o", Dir + "www", Dir + "lone/page"});
  EXPECT_EQ(0, run.ExitCode);
  EXPECT_TRUE(run.Lines.empty());  // quiet: no success lines, no summary
  std::vector<std::string> written;
  for (const auto& entry : fs::recursive_directory_iterator(Dir + "www"))
    if (entry.is_regular_file() && entry.path().filename() != ".zoqc-written")  // the copy's
      written.push_back(fs::relative(entry.path(), Dir + "www"));
  std::sort(written.begin(), written.end());
  EXPECT_EQ(
      (std::vector<std::string>{"blog/2024/post.php", "blog/about.php", "index.php", "page.php"}),
      written);
  EXPECT_EQ(kGoodPage, ReadFile(Dir + "www/blog/2024/post.php"));
  EXPECT_EQ("..", fs::read_symlink(Dir + "www/blog/up").string());  // made again, not followed
  EXPECT_FALSE(fs::exists(Dir + "src/index.php"));
  EXPECT_FALSE(fs::exists(Dir + "lone/page.php"));
}

// Two pages written to one path, or -o naming something that is not a folder: a usage error
// that names the cause, before anything is written or printed.
TEST_F(SiteTest, UsageErrorsBeforeAnythingIsWritten) {
  Page("a/x", kGoodScript);
  Page("b/x", kGoodScript);
  Page("b/y", kGoodScript);
  WriteFile(Dir + "file", "");
  const std::string out = Dir + "out";
  const std::string clash = "zoqc: the pages '" + Dir + "a/x' and '" + Dir +
                            "b/x' would both be written to '" + out + "/x.php'\n";
  const struct {
    std::vector<std::string> Args;
    std::string Err;
  } cases[] = {
      {{"-o", out, Dir + "a/x", Dir + "b/x"}, clash},
      {{"-r", Dir + "a", "-r", Dir + "b", "-o", out}, clash},
      {{"-o", Dir + "file", Dir + "b/y"},
       "zoqc: cannot write pages under '" + Dir + "file': it is a file, not a folder\n"},
      {{"-o", Dir + "file/sub", Dir + "b/y"},
       "zoqc: cannot write pages under '" + Dir +
           "file/sub': a part of that path is a file, "
           "not a folder\n"},
  };
  for (const auto& [args, err] : cases) {
    const TRun run = test_support::RunZoqc(args);
    EXPECT_EQ(2, run.ExitCode) << err;
    EXPECT_EQ("", run.Out);  // not even the banner
    EXPECT_EQ(err, run.Err);
    EXPECT_FALSE(fs::exists(out));
  }
}

// The same page or folder named twice, in any spelling, is translated once.
TEST_F(SiteTest, NamedTwiceTranslatedOnce) {
  Page("src/x", kGoodScript);
  Page("src/sub/y", kGoodScript);
  const TRun run = RunAfterBanner({"-r", Dir + "src", "-r", Dir + "src/", "-r", Dir + "./src",
                                   Dir + "src/x", Dir + "src/x.zoq", Dir + "src//x"});
  EXPECT_EQ(0, run.ExitCode);
  EXPECT_EQ(3u, run.Lines.size()) << run.Out;  // a success line for each page, and the summary
  EXPECT_TRUE(run.Lines.back().starts_with("2 pages: 2 translated, ")) << run.Out;
}

// A folder whose path would pass the system's limit is said so, and the pages above it are
// translated.
TEST_F(SiteTest, FoldersPastThePathLimitAreLeftOutWithTheReason) {
  Page("deep/top", kGoodScript);
  const std::string name(200, 'n');
  std::string dir = Dir + "deep";
  while (dir.size() + 1 + name.size() <= kMaxPathLength) {
    dir += "/" + name;
    fs::create_directory(dir);
  }
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);  // one more, past the limit
  ASSERT_GE(fd, 0);
  ASSERT_EQ(0, mkdirat(fd, name.c_str(), 0777));
  close(fd);
  const TRun run = RunAfterBanner({"--check", "-r", Dir + "deep"});
  EXPECT_EQ(1, run.ExitCode);
  EXPECT_TRUE(run.Lines[0].starts_with("1 page: 1 translated, 0 failed")) << run.Out;
  const std::string limit = " bytes long, and the system takes at most " +
                            std::to_string(kMaxPathLength) +
                            "; the folders below it are left out\n";
  EXPECT_NE(std::string::npos, run.Err.find("zoqc: cannot read folder '" + Dir + "deep/nnnn"))
      << run.Err;
  EXPECT_NE(std::string::npos, run.Err.find("nnn...nnn")) << run.Err;  // the path shortened
  EXPECT_NE(std::string::npos, run.Err.find("nnnn': its path is " +
                                            std::to_string(dir.size() + 1 + name.size()) + limit))
      << run.Err;
  EXPECT_LT(run.Err.size(), 300u);
}

// Two pages are already several: the summary line follows them. One page named has none, but
// a -r folder always has one.
TEST_F(SiteTest, SummaryFromTwoPagesOn) {
  Page("a", kGoodScript);
  Page("b", kGoodScript);
  Page("one/c", kGoodScript);
  const TRun two = RunAfterBanner({Dir + "a", Dir + "b"});
  ASSERT_EQ(3u, two.Lines.size()) << two.Out;
  EXPECT_TRUE(two.Lines[2].starts_with("2 pages: 2 translated, 0 failed, 0 warnings, "))
      << two.Lines[2];
  EXPECT_EQ(std::vector<std::string>{"Compile sucessful."}, RunAfterBanner({Dir + "a"}).Lines);
  const TRun folder = RunAfterBanner({"-r", Dir + "one"});
  ASSERT_EQ(2u, folder.Lines.size()) << folder.Out;
  EXPECT_TRUE(folder.Lines[1].starts_with("1 page: 1 translated, ")) << folder.Lines[1];
}

TEST_F(SiteTest, FolderProblemsAndJobCounts) {
  EXPECT_EQ(1, RunAfterBanner({"-r", Dir + "nothing"}).ExitCode);  // a folder that is not there
  EXPECT_EQ(0, RunAfterBanner({"-j", "1", "-r", Dir}).ExitCode);
  EXPECT_EQ(0, RunAfterBanner({"-j", "1024", "-r", Dir}).ExitCode);  // the most there may be
  EXPECT_EQ(2, RunAfterBanner({"-j", "1025", "-r", Dir}).ExitCode);
  EXPECT_EQ(2, RunAfterBanner({"-j", "0", "-r", Dir}).ExitCode);
  EXPECT_EQ(2, RunAfterBanner({"-j", "2x", "-r", Dir}).ExitCode);
}

}  // namespace
}  // namespace zoqc

#undef LF
