// Tests of the output folder of a whole site: the other files copied beside the pages, what
// is left out, what is removed, and what is never touched.
#include "src/driver/site_output.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/run_zoqc.h"

#define LF "\n"

namespace zoqc {
namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;
using test_support::WriteFile;

TEST(GlobTest, Patterns) {
  const struct {
    const char* Pattern;
    const char* Text;
    bool Matches;
  } cases[] = {
      {"*.md", "README.md", true},
      {"*.md", "a/README.md", false},
      {"**/*.md", "a/b/README.md", true},
      {"drafts/*", "drafts/x", true},
      {"drafts/*", "drafts/x/y", false},
      {"drafts/**", "drafts/x/y", true},
      {"?.txt", "a.txt", true},
      {"?.txt", "ab.txt", false},
      {"[abc]x", "bx", true},
      {"[!abc]x", "bx", false},
      {"[a-c]x", "cx", true},
      {"[a-c]x", "dx", false},
      {"*", "", true},
      {"a*b*c", "aXbYc", true},
      {"a*b*c", "aXbY", false},
      {"[", "[", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.Matches, GlobMatch(c.Pattern, c.Text)) << c.Pattern << " " << c.Text;
}

TEST(LeftOutTest, NamesAndPatterns) {
  const std::vector<std::string> exclude = {"*.md", "drafts/", "/lib/secret.php", "cache*/"};
  const struct {
    const char* Path;
    bool Folder;
    bool LeftOut;
  } cases[] = {
      {".git", true, true},
      {".env", false, true},
      {"a/.page.zot.swp", false, true},
      {"style.css~", false, true},
      {"#page.zot#", false, true},
      {"index.zoq", false, true},
      {"a/index.zot", false, true},
      {"site.css", false, false},
      {"a/b/NOTES.md", false, true},
      {"drafts", true, true},
      {"drafts", false, false},
      {"lib/secret.php", false, true},
      {"x/lib/secret.php", false, false},
      {"cache1", true, true},
      {"#", false, false},
      {"a.zoq", true, false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.LeftOut, IsLeftOut(c.Path, c.Folder, exclude)) << c.Path;
}

class SiteOutputTest : public test_support::TScratchDirTest {
 protected:
  void File(const std::string& AName, const std::string& AText, mode_t AMode = 0644) {
    fs::create_directories(fs::path(Dir + AName).parent_path());
    WriteFile(Dir + AName, AText);
    chmod((Dir + AName).c_str(), AMode);
  }
  test_support::TRun Run(std::vector<std::string> AArgs = {}) {
    std::vector<std::string> args = {"-r", Dir + "src", "-o", Dir + "www"};
    args.insert(args.end(), AArgs.begin(), AArgs.end());
    return test_support::RunZoqc(args);
  }
  std::uint64_t InodeOf(const std::string& AName) {
    struct stat info {};
    return lstat((Dir + AName).c_str(), &info) == 0 ? info.st_ino : 0;
  }
  bool Exists(const std::string& AName) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(Dir + AName, ec));
  }
};

// The files of a site beside its pages, at their paths; what is not the site's is left out;
// standard output says what it said without them.
TEST_F(SiteOutputTest, CopiesTheRestOfTheSite) {
  File("src/index.zoq", "<?php" LF "<<t<<1" LF);
  File("src/index.zot", "{t}" LF);
  // Standard output as without the other files, but for the time the run took.
  const auto untimed = [](const std::string& AOut) { return AOut.substr(0, AOut.rfind(", ")); };
  const std::string before = untimed(Run().Out);
  fs::remove_all(Dir + "www");
  File("src/lib/layout.php", "<?php // layout" LF, 0750);
  File("src/css/site.css", "body{}" LF);
  File("src/.env", "SECRET=1" LF);
  File("src/.git/config", "x" LF);
  File("src/css/site.css~", "old" LF);
  File("src/css/#site.css#", "old" LF);
  File("src/index.php", "a page left by a run without -o" LF);
  fs::create_symlink("../lib/layout.php", Dir + "src/css/layout.php");
  fs::create_symlink("/etc/passwd", Dir + "src/passwd");
  fs::create_symlink(Dir + "src/css", Dir + "src/styles");  // absolute, but inside
  const test_support::TRun run = Run();
  EXPECT_EQ(0, run.ExitCode) << run.Err;
  EXPECT_EQ(before, untimed(run.Out));
  EXPECT_EQ("<?php // layout" LF, ReadFile(Dir + "www/lib/layout.php"));
  EXPECT_EQ(fs::perms(0750), fs::status(Dir + "www/lib/layout.php").permissions() & fs::perms::all);
  EXPECT_EQ("body{}" LF, ReadFile(Dir + "www/css/site.css"));
  EXPECT_EQ("../lib/layout.php", fs::read_symlink(Dir + "www/css/layout.php").string());
  EXPECT_EQ("css", fs::read_symlink(Dir + "www/styles").string());
  EXPECT_NE(std::string::npos, run.Err.find("'" + Dir +
                                            "src/passwd' is a symbolic link that "
                                            "leads out of"));
  for (const char* name :
       {".env", ".git", "css/site.css~", "css/#site.css#", "passwd", "index.zoq", "index.zot"})
    EXPECT_FALSE(Exists(std::string("www/") + name)) << name;
  EXPECT_EQ("<?php" LF LF "\r\n?>\r\n<?php echo 1;?>" LF, ReadFile(Dir + "www/index.php"));
}

// A second run copies nothing unchanged; a change of content or mode is copied; a source
// gone takes its copy along, a file of the user's stays, and so does a page.
TEST_F(SiteOutputTest, CopiesOnlyWhatChangedAndRemovesOnlyItsOwn) {
  File("src/a.css", "a" LF);
  File("src/b.js", "b" LF);
  File("src/c/d.png", "d" LF);
  File("src/e.txt", "e" LF);
  ASSERT_EQ(0, Run().ExitCode);
  File("www/user.txt", "mine" LF);
  const std::uint64_t a = InodeOf("www/a.css");
  const std::uint64_t b = InodeOf("www/b.js");
  const std::uint64_t e = InodeOf("www/e.txt");
  File("src/b.js", "B" LF);
  chmod((Dir + "src/e.txt").c_str(), 0600);
  fs::remove_all(Dir + "src/c");
  const test_support::TRun run = Run();
  EXPECT_EQ(0, run.ExitCode) << run.Err;
  EXPECT_EQ(a, InodeOf("www/a.css"));  // not copied again
  EXPECT_NE(b, InodeOf("www/b.js"));
  EXPECT_EQ("B" LF, ReadFile(Dir + "www/b.js"));
  EXPECT_NE(e, InodeOf("www/e.txt"));
  EXPECT_EQ(fs::perms(0600), fs::status(Dir + "www/e.txt").permissions() & fs::perms::all);
  EXPECT_FALSE(Exists("www/c"));  // the file, and the folder zoqc made for it
  EXPECT_EQ("mine" LF, ReadFile(Dir + "www/user.txt"));
  // A copy made into a page: the page keeps its output.
  fs::rename(Dir + "src/a.css", Dir + "src/a.php");
  ASSERT_EQ(0, Run().ExitCode);
  File("src/a.zoq", "<?php" LF);
  File("src/a.zot", "page" LF);
  fs::remove(Dir + "src/a.php");
  ASSERT_EQ(0, Run().ExitCode);
  EXPECT_NE(std::string::npos, ReadFile(Dir + "www/a.php").find("page"));
}

// A file that cannot be copied is a failure for that file, named; the others are copied. A
// file zoqc did not write is never replaced, unless it is already the same.
TEST_F(SiteOutputTest, AFileThatCannotBeCopiedFailsAlone) {
  File("src/css/a.css", "a" LF);
  File("src/js/b.js", "b" LF);
  File("src/same.txt", "same" LF);
  File("src/other.txt", "theirs" LF);
  File("www/css", "a file where a folder goes" LF);
  File("www/same.txt", "same" LF);
  File("www/other.txt", "the user's" LF);
  const test_support::TRun run = Run();
  EXPECT_EQ(217, run.ExitCode);
  EXPECT_NE(std::string::npos,
            run.Out.find("EFCreateError : Unable to create file \"" + Dir + "www/css/a.css\""));
  EXPECT_NE(std::string::npos,
            run.Out.find("EFCreateError : Unable to create file \"" + Dir + "www/other.txt\""));
  EXPECT_NE(std::string::npos, run.Err.find("cannot create '" + Dir + "www/css/a.css'"));
  EXPECT_EQ("b" LF, ReadFile(Dir + "www/js/b.js"));
  EXPECT_EQ("the user's" LF, ReadFile(Dir + "www/other.txt"));
  // Taken on as its own: removed with its source.
  fs::remove(Dir + "src/same.txt");
  (void)Run();
  EXPECT_FALSE(Exists("www/same.txt"));
  EXPECT_EQ("the user's" LF, ReadFile(Dir + "www/other.txt"));
}

// A record that names what lies outside the output folder, or a path through a link put in
// the output folder, removes nothing there.
TEST_F(SiteOutputTest, RemovalsNeverReachPastTheOutputFolder) {
  File("src/x/f.css", "f" LF);
  ASSERT_EQ(0, Run().ExitCode);
  File("outside/f.css", "keep" LF);
  File("outside/g.css", "keep" LF);
  // The folder zoqc copied into is swapped for a link to another one, and the record is
  // rewritten to name paths out of the output folder.
  fs::remove_all(Dir + "www/x");
  fs::create_symlink(Dir + "outside", Dir + "www/x");
  std::string record = ReadFile(Dir + "www/.zoqc-written");
  const std::size_t line = record.find("\tx/f.css\n");
  ASSERT_NE(std::string::npos, line);
  const std::size_t start = record.rfind('\n', line) + 1;
  const std::string entry = record.substr(start, line - start);
  record += entry + "\t../outside/g.css\n" + entry + "\t/" + Dir + "outside/g.css\n";
  WriteFile(Dir + "www/.zoqc-written", record);
  fs::remove_all(Dir + "src/x");
  (void)Run();
  EXPECT_EQ("keep" LF, ReadFile(Dir + "outside/f.css"));
  EXPECT_EQ("keep" LF, ReadFile(Dir + "outside/g.css"));
  EXPECT_TRUE(fs::is_symlink(Dir + "www/x"));
  // Nor is anything written through it.
  File("src/x/f.css", "new" LF);
  EXPECT_EQ(217, Run().ExitCode);
  EXPECT_EQ("keep" LF, ReadFile(Dir + "outside/f.css"));
}

// Names with line ends, tabs and backslashes go in and out of the record.
TEST_F(SiteOutputTest, HostileNames) {
  const std::vector<std::string> names = {"a\nb.css", "t\tab", "back\\slash", "-rf", "\\n"};
  for (const std::string& name : names) File("src/d/" + name, name);
  ASSERT_EQ(0, Run().ExitCode);
  for (const std::string& name : names) EXPECT_EQ(name, ReadFile(Dir + "www/d/" + name));
  fs::remove_all(Dir + "src/d");
  File("src/keep.txt", "k");
  ASSERT_EQ(0, Run().ExitCode);
  EXPECT_FALSE(Exists("www/d"));
}

// Patterns of the options leave more out.
TEST_F(SiteOutputTest, ExcludePatterns) {
  File("src/README.md", "r");
  File("src/drafts/a.css", "a");
  File("src/lib/secret.php", "s");
  File("src/lib/ok.php", "o");
  TOptions options;
  options.Directories = {Dir + "src"};
  options.OutDir = Dir + "www";
  options.Exclude = {"*.md", "drafts/", "/lib/secret.php"};
  TSiteOutput output(options);
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(0, output.Mirror({}, out, err));
  output.EndRun(true, err);
  EXPECT_TRUE(Exists("www/lib/ok.php"));
  for (const char* name : {"www/README.md", "www/drafts", "www/lib/secret.php"})
    EXPECT_FALSE(Exists(name)) << name;
  EXPECT_EQ("", out.str());
}

// The output folder under the -r folder is not copied into itself.
TEST_F(SiteOutputTest, OutputFolderInsideTheSource) {
  File("src/a.css", "a");
  const test_support::TRun run = test_support::RunZoqc({"-r", Dir + "src", "-o", Dir + "src/www"});
  EXPECT_EQ(0, run.ExitCode) << run.Err;
  EXPECT_EQ("a", ReadFile(Dir + "src/www/a.css"));
  ASSERT_EQ(0, test_support::RunZoqc({"-r", Dir + "src", "-o", Dir + "src/www"}).ExitCode);
  EXPECT_FALSE(Exists("src/www/www"));
}

// A run whose every page failed leaves no output folder it made; one that was there stays.
TEST_F(SiteOutputTest, NoEmptyOutputFolderAfterFailedPages) {
  File("src/blog/post.zoq", "<?php" LF "<<x" LF);
  File("src/blog/post.zot", "x" LF);
  EXPECT_EQ(1, test_support::RunZoqc({"-r", Dir + "src", "-o", Dir + "a/b/www"}).ExitCode);
  EXPECT_FALSE(Exists("a"));
  EXPECT_EQ(1, test_support::RunZoqc({"-o", Dir + "c/www", Dir + "src/blog/post"}).ExitCode);
  EXPECT_FALSE(Exists("c"));
  fs::create_directories(Dir + "www");
  EXPECT_EQ(1, Run().ExitCode);
  EXPECT_TRUE(test_support::ListDir(Dir + "www").empty());
}

}  // namespace
}  // namespace zoqc
