// Tests of the command line: the three file names, the banner, the usage text, the Error(1)
// line and the existence test.
#include "src/driver/command_line.h"

#include "tests/scratch_dir.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zoqc {
namespace {

std::vector<std::string> Lines(const std::string& AText) {
  std::vector<std::string> lines;
  std::istringstream in(AText);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(GetScriptAndTemplateFileName, DerivesTheThreeNames) {
  struct TRow {
    const char* Argument;
    const char* Script;
    const char* Template;
    const char* Php;
  };
  const TRow rows[] = {
      {"hello", "hello.zoq", "hello.zot", "hello.php"},
      {"hello.zoq", "hello.zoq", "hello.zot", "hello.php"},  // its own extension
      {"hello.txt", "hello.zoq", "hello.zot", "hello.php"},  // any other extension
      {"hello.", "hello.zoq", "hello.zot", "hello.php"},     // a bare dot is an extension
      {"Hello.ZOQ", "Hello.zoq", "Hello.zot", "Hello.php"},  // name case kept, extension lower
      {"page.old.zoq", "page.old.zoq", "page.old.zot", "page.old.php"},  // only the last dot
      {"site/hello", "site/hello.zoq", "site/hello.zot", "site/hello.php"},
      {"site.d\\hello", "site.d\\hello.zoq", "site.d\\hello.zot",
       "site.d\\hello.php"},  // a dot in the directory part is no extension
      {"C:hello", "C:hello.zoq", "C:hello.zot", "C:hello.php"},  // drive separator
      {".zoq", ".zoq", ".zot", ".php"},  // a leading dot: the file part is all extension
      {"", ".zoq", ".zot", ".php"},      // the empty text still gives three names
      {"/abs/dir/x.y/page", "/abs/dir/x.y/page.zoq", "/abs/dir/x.y/page.zot",
       "/abs/dir/x.y/page.php"},
      {"a/b\\c:d.e", "a/b\\c:d.zoq", "a/b\\c:d.zot", "a/b\\c:d.php"},      // the last separator
      {"dir/", "dir/.zoq", "dir/.zot", "dir/.php"},                        // an empty file part
      {" my page .x", " my page .zoq", " my page .zot", " my page .php"},  // no trimming
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(std::string("argument \"") + row.Argument + "\"");
    std::string script = "old", templ = "old", php = "old";
    GetScriptAndTemplateFileName(row.Argument, script, templ, php);
    EXPECT_EQ(row.Script, script);
    EXPECT_EQ(row.Template, templ);
    EXPECT_EQ(row.Php, php);
  }
}

TEST(PrintBanner, TwoLinesEndingInTheVersion) {
  std::ostringstream out;
  PrintBanner(out);
  const std::string text = out.str();
  ASSERT_FALSE(text.empty());
  EXPECT_EQ('\n', text.back());  // whole lines only
  const std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(2u, lines.size());
  EXPECT_FALSE(lines[0].empty());  // the authorship line
  EXPECT_EQ("ZOQ script language compiler verion 0.2", lines[1]);
}

TEST(Usage, TwelveLinesExactly) {
  std::ostringstream out;
  Usage(out);
  const std::vector<std::string> expected = {
      "Usage:",
      "zoqc <filename>",
      "  *.zoq is the script file",
      "  *.zot is the template file",
      "",
      "eg:",
      "zoqc hello",
      "Mean: here have a \"hello.zoq\" script file and",
      "      here hava a \"hello.zot\" template file.",
      "The compiler will get var and blocks from the template file,",
      "and read the template statement from script file,",
      "then generate the target file \"hello.php\" at the same directory.",
  };
  EXPECT_EQ('\n', out.str().back());
  EXPECT_EQ(expected, Lines(out.str()));
}

TEST(ErrorFileNotFound, NamesBothFiles) {
  std::ostringstream out;
  ErrorFileNotFound(out, "hello.zoq", "hello.zot");
  EXPECT_EQ("Error(1):hello.zoq and hello.zot file not found\n", out.str());
  std::ostringstream in_dir;
  ErrorFileNotFound(in_dir, "site/a b.zoq", "site/a b.zot");  // names printed as given
  EXPECT_EQ("Error(1):site/a b.zoq and site/a b.zot file not found\n", in_dir.str());
}

class ScriptAndTemplateFileFoundTest : public test_support::TScratchDirTest {
 protected:
  void MakeFile(const std::string& AName) { test_support::WriteFile(Dir + AName, "x"); }
};

TEST_F(ScriptAndTemplateFileFoundTest, BothMustBeEntriesThatAreNoDirectories) {
  MakeFile("a.zoq");
  MakeFile("a.zot");
  MakeFile("e.zoq");  // an empty file exists too
  std::ofstream(Dir + "e.zot").close();
  ASSERT_EQ(0, mkdir((Dir + "d.zot").c_str(), 0755));
  MakeFile("d.zoq");
  ASSERT_EQ(0, mkdir((Dir + "dd.zoq").c_str(), 0755));
  MakeFile("dd.zot");
  ASSERT_EQ(0, symlink("a.zot", (Dir + "l.zot").c_str()));
  ASSERT_EQ(0, symlink("nowhere.zot", (Dir + "dangling.zot").c_str()));

  EXPECT_TRUE(ScriptAndTemplateFileFound(Dir + "a.zoq", Dir + "a.zot"));
  EXPECT_TRUE(ScriptAndTemplateFileFound(Dir + "e.zoq", Dir + "e.zot"));
  EXPECT_FALSE(ScriptAndTemplateFileFound(Dir + "a.zoq", Dir + "missing.zot"));
  EXPECT_FALSE(ScriptAndTemplateFileFound(Dir + "missing.zoq", Dir + "a.zot"));
  EXPECT_FALSE(ScriptAndTemplateFileFound(Dir + "missing.zoq", Dir + "missing.zot"));
  EXPECT_FALSE(ScriptAndTemplateFileFound(Dir + "d.zoq", Dir + "d.zot"));    // template is a dir
  EXPECT_FALSE(ScriptAndTemplateFileFound(Dir + "dd.zoq", Dir + "dd.zot"));  // script is a dir
  EXPECT_TRUE(ScriptAndTemplateFileFound(Dir + "a.zoq", Dir + "l.zot"));     // link to a file
  EXPECT_FALSE(ScriptAndTemplateFileFound(Dir + "a.zoq", Dir + "dangling.zot"));
  EXPECT_FALSE(ScriptAndTemplateFileFound(Dir + "a.zoq", Dir));  // the directory itself
}

TEST_F(ScriptAndTemplateFileFoundTest, ASocketExistsAndIsNoDirectory) {
  MakeFile("s.zoq");
  const std::string path = Dir + "s.zot";
  test_support::MakeSocket(path);
  EXPECT_TRUE(ScriptAndTemplateFileFound(Dir + "s.zoq", path));  // opening it is a later failure
}

}  // namespace
}  // namespace zoqc
