// Tests of whole runs: the command line, the console lines, the exit code and the files left.
#include "src/driver/driver.h"

#include "src/driver/out_of_memory.h"
#include "tests/run_zoqc.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#define CRLF "\r\n"
#define LF "\n"

namespace zoqc {
namespace {

using test_support::ListDir;
using test_support::MakeSocket;
using test_support::ReadFile;
using test_support::WriteFile;

const char kVersionLine[] = "ZOQ script language compiler verion 0.2";

using test_support::RunZoqc;
using test_support::TRun;

// The failure report after the banner: its head line, AKindLine, location lines, an empty line.
void ExpectFailureReport(const TRun& ARun, const std::string& AKindLine) {
  EXPECT_EQ(217, ARun.ExitCode);
  ASSERT_FALSE(ARun.Out.empty());
  EXPECT_EQ('\n', ARun.Out.back());
  ASSERT_GE(ARun.Lines.size(), 6u) << ARun.Out;
  EXPECT_EQ(kVersionLine, ARun.Lines[1]);
  const std::string head = ARun.Lines[2];
  const std::string start = "An unhandled exception occurred at $";
  EXPECT_EQ(start, head.substr(0, start.size())) << head;
  ASSERT_GT(head.size(), start.size() + 2) << "no location: " << head;
  EXPECT_EQ(" :", head.substr(head.size() - 2)) << head;
  const std::string location = head.substr(start.size(), head.size() - start.size() - 2);
  EXPECT_EQ(std::string::npos, location.find_first_not_of("0123456789ABCDEFabcdef")) << head;
  EXPECT_EQ(AKindLine, ARun.Lines[3]);
  for (std::size_t idx = 4; idx + 1 < ARun.Lines.size(); ++idx)
    EXPECT_FALSE(ARun.Lines[idx].empty()) << "location line " << idx;
  EXPECT_EQ("", ARun.Lines.back());
}

class DriverTest : public test_support::TScratchCwdTest {
 protected:
  // A subdirectory of the scratch directory, with its trailing "/".
  std::string SubDir(const std::string& AName) {
    std::filesystem::create_directory(Dir + AName);
    return Dir + AName + "/";
  }
};

TEST_F(DriverTest, NoArgumentPrintsBannerAndUsage) {
  const TRun run = RunZoqc({});
  EXPECT_EQ(0, run.ExitCode);
  ASSERT_EQ(14u, run.Lines.size()) << run.Out;
  EXPECT_EQ(kVersionLine, run.Lines[1]);
  EXPECT_EQ("Usage:", run.Lines[2]);
  EXPECT_EQ("then generate the target file \"hello.php\" at the same directory.", run.Lines[13]);
  EXPECT_TRUE(ListDir(Dir).empty());  // nothing created
}

TEST_F(DriverTest, EveryPageNamedIsTranslated) {
  WriteFile("hello.zoq", "<?php" CRLF "<<a<<1" CRLF);
  WriteFile("hello.zot", "{a}" CRLF);
  WriteFile("bad.zoq", "<?php" CRLF "<<a b" CRLF);
  WriteFile("bad.zot", "");
  // "hello.zoq" and "./hello" are "hello" again: a page named twice is translated once.
  const TRun run = RunZoqc({"hello", "nothing", "bad", "hello.zoq", "./hello"});
  EXPECT_EQ(1, run.ExitCode);                                       // the worst page decides
  EXPECT_EQ((std::vector<std::string>{"hello: Compile sucessful.",  // named among several
                                      "Error(1):nothing.zoq and nothing.zot file not found",
                                      "Error(2):need <<"}),
            std::vector<std::string>(run.Lines.begin() + 2, run.Lines.end() - 1));
  EXPECT_EQ(kVersionLine, run.Lines[1]);  // one banner for all pages
  EXPECT_TRUE(run.Lines.back().starts_with("3 pages: 1 translated, 2 failed, 0 warnings, "));
  EXPECT_EQ("<?php" CRLF LF CRLF "?>" CRLF "<?php echo 1;?>" CRLF, ReadFile("hello.php"));
  EXPECT_FALSE(std::filesystem::exists("bad.php"));
}

TEST_F(DriverTest, CommandLineConventions) {
  WriteFile("-page.zoq", "<?php" CRLF);
  WriteFile("-page.zot", "");
  struct TCase {
    std::vector<std::string> Args;
    int ExitCode;
    const char* FirstLine;  // of standard output; "" for none
    const char* ErrStart;   // of standard error; "" for none
  };
  const TCase cases[] = {
      {{"--help"}, 0, "Usage:", ""},
      {{"-h", "page"}, 0, "Usage:", ""},  // help wins; nothing is translated
      {{"--version"}, 0, "zoqc 0.2", ""},
      {{"-x", "page"}, 2, "", "zoqc: unknown option '-x'\nTry 'zoqc --help'"},
      {{"--frobnicate"}, 2, "", "zoqc: unknown option '--frobnicate'\n"},
      {{"--wach", "page"}, 2, "", "zoqc: unknown option '--wach'; did you mean '--watch'?\n"},
      {{"--colour=never"}, 2, "", "zoqc: unknown option '--colour'; did you mean '--color'?\n"},
      {{"--c"}, 2, "", "zoqc: option '--c' is ambiguous: '--check' or '--color'\n"},
      {{"--watch=1"}, 2, "", "zoqc: option '--watch' takes no value\n"},
      {{"--watch"}, 2, "", "zoqc: --watch needs pages to watch: -r SRC or page names\n"},
      {{"page", "--out-dir"}, 2, "", "zoqc: option '--out-dir' needs a value\n"},
      {{"-qx"}, 2, "", "zoqc: unknown option '-x'\n"},
      {{"-q", "--", "-page"}, 0, "", ""},  // quiet: no banner, no success line
      {{"-q", "nothing"}, 1, "Error(1):nothing.zoq and nothing.zot file not found", ""},
  };
  for (const TCase& c : cases) {
    const TRun run = RunZoqc(c.Args);
    EXPECT_EQ(c.ExitCode, run.ExitCode) << c.Args[0];
    EXPECT_EQ(c.FirstLine, run.Lines.empty() ? "" : run.Lines[0]) << c.Args[0];
    EXPECT_EQ(c.ErrStart, run.Err.substr(0, std::string_view(c.ErrStart).size())) << c.Args[0];
  }
  EXPECT_TRUE(std::filesystem::exists("-page.php"));
  EXPECT_FALSE(std::filesystem::exists("page.php"));
}

TEST_F(DriverTest, MissingScriptOrTemplateNamesBothFiles) {
  struct TCase {
    const char* Name;
    bool Script;       // hello.zoq is a file
    bool Template;     // hello.zot is a file
    bool TemplateDir;  // hello.zot is a directory
    bool ScriptDir;    // hello.zoq is a directory
  };
  const TCase cases[] = {
      {"no-template", true, false, false, false},  {"no-script", false, true, false, false},
      {"neither", false, false, false, false},     {"template-is-dir", true, false, true, false},
      {"script-is-dir", false, true, false, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string d = SubDir(c.Name);
    if (c.Script) WriteFile(d + "hello.zoq", "<?php" CRLF);
    if (c.Template) WriteFile(d + "hello.zot", "x" CRLF);
    if (c.TemplateDir) std::filesystem::create_directory(d + "hello.zot");
    if (c.ScriptDir) std::filesystem::create_directory(d + "hello.zoq");
    const std::vector<std::string> before = ListDir(d);
    const TRun run = RunZoqc({d + "hello"});
    EXPECT_EQ(1, run.ExitCode);
    ASSERT_EQ(3u, run.Lines.size()) << run.Out;
    EXPECT_EQ(kVersionLine, run.Lines[1]);
    EXPECT_EQ("Error(1):" + d + "hello.zoq and " + d + "hello.zot file not found", run.Lines[2]);
    EXPECT_EQ(before, ListDir(d));  // no hello.php, no temporary file
  }
}

TEST_F(DriverTest, MissingTemplateWithRelativeNameLeavesOutputAlone) {
  WriteFile("hello.zoq", "<?php" CRLF);
  WriteFile("hello.php", "old page" CRLF);
  const TRun run = RunZoqc({"hello"});
  EXPECT_EQ(1, run.ExitCode);
  EXPECT_EQ("Error(1):hello.zoq and hello.zot file not found\n",
            run.Out.substr(run.Out.find("Error(")));
  EXPECT_EQ("old page" CRLF, ReadFile("hello.php"));
}

TEST_F(DriverTest, EmptyScriptAndTemplateGiveTheClosingTagOnly) {
  WriteFile("hello.zoq", "");
  WriteFile("hello.zot", "");
  const TRun run = RunZoqc({"hello"});
  EXPECT_EQ(0, run.ExitCode);
  ASSERT_EQ(3u, run.Lines.size()) << run.Out;
  EXPECT_EQ("Compile sucessful.", run.Lines[2]);
  EXPECT_EQ(CRLF "?>" CRLF, ReadFile("hello.php"));
  EXPECT_EQ((std::vector<std::string>{"hello.php", "hello.zoq", "hello.zot"}), ListDir(Dir));
}

TEST_F(DriverTest, LongerExistingOutputIsFullyReplaced) {
  WriteFile("hello.zoq", "");
  WriteFile("hello.zot", "");
  WriteFile("hello.php", std::string(10000, 'z'));
  EXPECT_EQ(0, RunZoqc({"hello"}).ExitCode);
  EXPECT_EQ(CRLF "?>" CRLF, ReadFile("hello.php"));
}

TEST_F(DriverTest, PlainScriptAndTemplatePassThroughByteForByte) {
  // The template's odd bytes (LF-only line ends, NUL, 0xFF, a lone CR) reach the page unchanged.
  const std::string templ = std::string("<p>a</p>" LF
                                        "b\0c\xff"
                                        "d\r" LF,
                                        15);
  ASSERT_EQ(15u, templ.size());
  WriteFile("page.zoq", "<?php" CRLF "echo 1;" CRLF);
  WriteFile("page.zot", templ);
  const TRun run = RunZoqc({"page.zoq"});  // the argument may carry the extension
  EXPECT_EQ(0, run.ExitCode);
  EXPECT_EQ("Compile sucessful.", run.Lines.back());
  EXPECT_EQ("<?php" CRLF "echo 1;" CRLF CRLF "?>" CRLF + templ, ReadFile("page.php"));
}

TEST_F(DriverTest, ArgumentWithDirectoryPartWritesIntoThatDirectory) {
  const std::string d = SubDir("site.d");
  WriteFile(d + "page.zoq", "x");
  WriteFile(d + "page.zot", "y");
  const TRun run = RunZoqc({"site.d/page.txt"});
  EXPECT_EQ(0, run.ExitCode);
  EXPECT_EQ("x" CRLF "?>" CRLF "y", ReadFile(d + "page.php"));
  EXPECT_EQ((std::vector<std::string>{"site.d"}), ListDir(Dir));
}

TEST_F(DriverTest, BlockExampleEndToEnd) {
  WriteFile("hello.zoq",
            "<?php" CRLF "<<title<<$title" CRLF "<<*row" CRLF "<<<name<<$r['name']" CRLF
            "foreach ($rows as $r) {" CRLF "<<+row" CRLF "}" CRLF);
  WriteFile("hello.zot", "<h1>{title}</h1>" CRLF "<ul>" CRLF
                         "<!--BEGIN row--><li>{name}</li><!--END row-->" CRLF "</ul>" CRLF);
  const TRun run = RunZoqc({"hello"});
  EXPECT_EQ(0, run.ExitCode);
  EXPECT_EQ("Compile sucessful.", run.Lines.back());
  EXPECT_EQ("<?php" CRLF                                                               // copied
                LF                                                                     // <<title
            "$ZOQBLOCK_row=\"\";" CRLF LF                                              // <<*row
                LF                                                                     // <<<name
            "foreach ($rows as $r) {" CRLF                                             //
            "$ZOQBLOCK_row=$ZOQBLOCK_row.\"<li>\".$r['name'].\"</li>\";" CRLF CRLF LF  // <<+row
            "}" CRLF                                                                   //
                CRLF "?>" CRLF                                // closing tag
            "<h1><?php echo $title;?></h1>" CRLF "<ul>" CRLF  //
            "<?php echo $ZOQBLOCK_row;?>" CRLF CRLF           // the block
            "</ul>" CRLF,
            ReadFile("hello.php"));
}

TEST_F(DriverTest, LfScriptRunsEndToEnd) {
  // Every statement line of an LF script is seen, as in a CR LF one.
  WriteFile("lf.zoq", "<?php" LF "<<a<<1" LF "<<b<<2" LF "echo 1;" LF);
  WriteFile("lf.zot", "{a}{b}" LF);
  const TRun run = RunZoqc({"lf"});
  EXPECT_EQ(0, run.ExitCode);
  EXPECT_EQ("Compile sucessful.", run.Lines.back());
  EXPECT_EQ("<?php" LF LF LF "echo 1;" LF CRLF "?>" CRLF "<?php echo 1;?><?php echo 2;?>" LF,
            ReadFile("lf.php"));
}

TEST_F(DriverTest, ErrorsInScriptOrTemplateLeaveOutputUnchanged) {
  struct TCase {
    const char* Script;
    const char* Template;
    const char* Line;
  };
  const TCase cases[] = {
      {"<?php" CRLF "<<title <<x" CRLF, "", "Error(2):need <<"},
      {"<?php" CRLF "<<<name<<x" CRLF, "", "Error(3):have not set current block"},
      {"<?php" CRLF "<<*row" CRLF "<<<name <<x" CRLF, "", "Error(5):need <<"},
      {"<?php" CRLF "<<*row" CRLF "<<<name<<x" CRLF, "<!--BEGIN row-->{name}",
       "Error(4):block define error BEGIN block after END block"},  // no END marker
      {"<?php" CRLF "<<*row" CRLF, "<!--END row--><!--BEGIN row-->a<!--END row-->",
       "Error(4):block define error BEGIN block after END block"},  // an END before the BEGIN
  };
  int idx = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Line);
    for (const bool existing : {true, false}) {
      const std::string d = SubDir("case" + std::to_string(idx++));
      WriteFile(d + "hello.zoq", c.Script);
      WriteFile(d + "hello.zot", c.Template);
      if (existing) WriteFile(d + "hello.php", "old page" CRLF);
      const std::vector<std::string> before = ListDir(d);
      const TRun run = RunZoqc({d + "hello"});
      EXPECT_EQ(1, run.ExitCode);
      ASSERT_EQ(3u, run.Lines.size()) << run.Out;
      EXPECT_EQ(c.Line, run.Lines[2]);
      EXPECT_EQ(before, ListDir(d));
      if (existing) {
        EXPECT_EQ("old page" CRLF, ReadFile(d + "hello.php"));
      }
    }
  }
}

TEST_F(DriverTest, UnreadableInputGivesOpenFailure) {
  struct TCase {
    const char* Name;
    bool ScriptSocket;
    bool TemplateSocket;
    const char* Failing;  // the file the report names
  };
  const TCase cases[] = {
      {"script", true, false, "hello.zoq"},
      {"template", false, true, "hello.zot"},
      {"both", true, true, "hello.zoq"},  // the script is loaded first
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string d = SubDir(c.Name);
    if (c.ScriptSocket)
      MakeSocket(d + "hello.zoq");
    else
      WriteFile(d + "hello.zoq", "<?php" CRLF);
    if (c.TemplateSocket)
      MakeSocket(d + "hello.zot");
    else
      WriteFile(d + "hello.zot", "x" CRLF);
    WriteFile(d + "hello.php", "old page" CRLF);
    const std::vector<std::string> before = ListDir(d);
    const TRun run = RunZoqc({d + "hello"});
    ExpectFailureReport(run, "EFOpenError : Unable to open file \"" + d + c.Failing + "\"");
    EXPECT_EQ("old page" CRLF, ReadFile(d + "hello.php"));
    EXPECT_EQ(before, ListDir(d));
  }
  // A relative argument: the report gives the name as derived.
  MakeSocket("rel.zoq");
  WriteFile("rel.zot", "");
  ExpectFailureReport(RunZoqc({"rel"}), "EFOpenError : Unable to open file \"rel.zoq\"");
}

TEST_F(DriverTest, OutputThatCannotBeCreated) {
  // The output name is a directory.
  WriteFile("hello.zoq", "<?php" CRLF);
  WriteFile("hello.zot", "x" CRLF);
  std::filesystem::create_directory("hello.php");
  const std::vector<std::string> before = ListDir(Dir);
  ExpectFailureReport(RunZoqc({"hello"}), "EFCreateError : Unable to create file \"hello.php\"");
  EXPECT_EQ(before, ListDir(Dir));
  EXPECT_TRUE(std::filesystem::is_empty("hello.php"));

  // The output name is a link into a directory that does not exist.
  const std::string d = SubDir("link");
  WriteFile(d + "page.zoq", "<?php" CRLF);
  WriteFile(d + "page.zot", "x" CRLF);
  ASSERT_EQ(0, symlink("missing/page.php", (d + "page.php").c_str()));
  const std::vector<std::string> linked = ListDir(d);
  ExpectFailureReport(RunZoqc({d + "page"}),
                      "EFCreateError : Unable to create file \"" + d + "page.php\"");
  EXPECT_EQ(linked, ListDir(d));
  EXPECT_TRUE(std::filesystem::is_symlink(d + "page.php"));
}

// When not even std::bad_alloc can be thrown, the prepared report ends the run all the same,
// with the exit code of every other failure report.
TEST(OutOfMemory, NoMemoryToThrowStillEnds217) {
  EXPECT_EXIT(
      {
        PrepareForOutOfMemory();
        std::terminate();
      },
      ::testing::ExitedWithCode(217), "");
}

}  // namespace
}  // namespace zoqc

#undef CRLF
#undef LF
