// --lint and --explain as users read them: every place in the forms the manual gives (FILE:LINE:
// COLUMN counting bytes, and UTF-16 units beside them in JSON), each right after the page
// location it explains, and PHP started once per thread that lints, not once per page.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include <nlohmann/json.hpp>

#include "src/driver/explain.h"
#include "tests/run_zoqc.h"

namespace zoqc {
namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;
using test_support::RunZoqc;
using test_support::WriteFile;

#define E_ACUTE "\xC3\xA9"  // two bytes, one UTF-16 unit

// A page whose block line (page line 8) has an "é" before the BEGIN marker in the template and
// in the binding's expression; with ABroken the binding does not parse.
void WritePage(bool ABroken) {
  WriteFile("p.zoq",
            std::string("<?php\n<<title<<$t\n$x = 1;\n<<*row\n<<<n<<\"" E_ACUTE "\" . $r") +
                (ABroken ? " +" : "") + "\nforeach ([1] as $r) {\n<<+row\n}\n");
  WriteFile("p.zot",
            "<h1>{title}</h1>\n<ul>" E_ACUTE "<!--BEGIN row--><li>{n}</li><!--END row--></ul>\n");
}

class LintPlaces : public test_support::TScratchCwdTest {
 protected:
  void SetUp() override {
    TScratchCwdTest::SetUp();
    if (std::system("php -r 'exit(0);' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no php";
  }
};

TEST_F(LintPlaces, ErrorAndNotesCountBytesAndUtf16Units) {
  WritePage(true);
  auto run = RunZoqc({"-q", "--lint", "p"});
  EXPECT_EQ(1, run.ExitCode);
  for (const char* line : {
           "p.zoq:5:7: error: PHP cannot parse the page: syntax error",  // the expression
           "p.zoq:7:1: note: page line 8: the block is appended here",
           "p.zot:2:27: note: from the template here\n"  // the placeholder of that binding
           "<ul>" E_ACUTE "<!--BEGIN row--><li>{n}</li><!--END row--></ul>\n"
           "                         ^~~\n",  // the caret under the 26th character
       })
    EXPECT_NE(std::string::npos, run.Err.find(line)) << line << "\n" << run.Err;
  EXPECT_NE(std::string::npos, run.Err.find("[p.php:8]\n")) << run.Err;

  run = RunZoqc({"-q", "--lint", "--diagnostics-format=json", "p"});
  const nlohmann::json d = nlohmann::json::parse(run.Err, nullptr, false);
  ASSERT_TRUE(d.is_array() && d.size() == 1) << run.Err;
  auto columns = [](const nlohmann::json& APlace) {
    return std::vector<int>{APlace["line"], APlace["column"], APlace["end_column"],
                            APlace["utf16_column"], APlace["utf16_end_column"]};
  };
  EXPECT_EQ((std::vector<int>{5, 7, 18, 7, 17}), columns(d[0]));  // "\"é\" . $r +"
  ASSERT_EQ(2u, d[0]["notes"].size());
  EXPECT_EQ((std::vector<int>{7, 1, 7, 1, 7}), columns(d[0]["notes"][0]));
  EXPECT_EQ((std::vector<int>{2, 27, 30, 26, 29}), columns(d[0]["notes"][1]));
}

TEST_F(LintPlaces, ExplainGivesEachPlaceAfterItsLocation) {
  WritePage(false);
  ASSERT_EQ(0, RunZoqc({"-q", "p"}).ExitCode);
  // The chain behind page lines, one FILE:LINE:COLUMN line per link.
  auto run = RunZoqc({"--explain=p.php:8", "p.php:14", "p.php:3"});  // either form
  EXPECT_EQ(0, run.ExitCode);
  EXPECT_EQ(
      "p.zoq:7:1: page line 8: the block is appended here\n"
      "p.zot:2:27: from the template here\n"  // at the placeholder of the line's one binding
      "p.zoq:5:7: 'n' is bound to \"" E_ACUTE
      "\" . $r\n"
      "p.zot:1:5: from the template here\n"
      "p.zoq:2:10: 'title' is bound to $t\n"
      "p.zoq:3:1: page line 3: copied from the script here\n",
      run.Out);

  // PHP's messages: " [PLACE]" right after each location, in each of its three forms.
  const std::string page = Dir + "p.php";
  const std::string zoq = Dir + "p.zoq";
  const struct {
    std::string In, Out;
  } lines[] = {
      {"PHP Warning:  Undefined variable $r in " + page + " on line 8",
       "PHP Warning:  Undefined variable $r in " + page + " on line 8 [" + zoq + ":5:7]"},
      {"PHP Fatal error:  Uncaught Error: x in " + page + ":3",
       "PHP Fatal error:  Uncaught Error: x in " + page + ":3 [" + zoq + ":3:1]"},
      {"#0 " + page + "(8): f()", "#0 " + page + "(8) [" + zoq + ":5:7]: f()"},
      {"#12 " + page + "(3): {closure}(1)", "#12 " + page + "(3) [" + zoq + ":3:1]: {closure}(1)"},
      {"  thrown in " + page + " on line 14",
       "  thrown in " + page + " on line 14 [" + zoq + ":2:10]"},
      // the template variable's binding, named by the message
      {"PHP Warning:  Undefined variable $t in " + page + " on line 14",
       "PHP Warning:  Undefined variable $t in " + page + " on line 14 [" + zoq + ":2:10]"},
      // not a location: a line 0, a frame without its number, no page, another file
      {"Stack trace:", "Stack trace:"},
      {"#1 {main}", "#1 {main}"},
      {"x in " + page + " on line 0", "x in " + page + " on line 0"},
      {"#0 " + page + "(): f()", "#0 " + page + "(): f()"},
      {"x in " + Dir + "none.php on line 3", "x in " + Dir + "none.php on line 3"},
  };
  std::string in, out;
  for (const auto& line : lines) in += line.In + "\n", out += line.Out + "\n";
  std::istringstream input(in);
  std::ostringstream output, errors;
  EXPECT_EQ(0, RunExplain(TOptions{}, input, output, errors));
  EXPECT_EQ(out, output.str());
}

TEST_F(LintPlaces, OnePhpPerThreadChecksEveryPage) {
  // A php that notes each start of its own.
  WriteFile("php-counted", "#!/bin/sh\necho started >>starts\nexec php \"$@\"\n");
  fs::permissions("php-counted", fs::perms::owner_all);
  const std::vector<std::string> pages = {"a", "b", "c", "d", "e"};
  for (const std::string& name : pages) {
    WriteFile(name + ".zoq", "<?php\n<<t<<1\n");
    WriteFile(name + ".zot", "{t}\n");
  }
  auto starts = [] {
    const std::string text = ReadFile("starts");
    fs::remove("starts");
    return std::count(text.begin(), text.end(), '\n');
  };
  for (const char* jobs : {"1", "2"}) {
    std::vector<std::string> args = {"-q", "-j", jobs, "--lint", "--php=./php-counted"};
    args.insert(args.end(), pages.begin(), pages.end());
    const auto run = RunZoqc(args);
    EXPECT_EQ(0, run.ExitCode) << run.Err;
    const long started = starts();
    EXPECT_GE(started, 1) << jobs;
    EXPECT_LE(started, std::stol(jobs)) << jobs << " threads, five pages";
  }
  // A page PHP cannot parse keeps its process: the next page reuses it.
  WriteFile("b.zoq", "<?php\n$x = ;\n");
  EXPECT_EQ(1, RunZoqc({"-q", "-j", "1", "--lint", "--php=./php-counted", "a", "b", "c"}).ExitCode);
  EXPECT_EQ(1, starts());
}

#undef E_ACUTE

// Where --explain cannot map a location it says why, for every location asked about: which
// file is missing, sources that no longer translate, a line past the page's end.
TEST_F(LintPlaces, ExplainSaysWhyItCannot) {
  WritePage(false);
  auto run = RunZoqc({"--explain", "p.php:3", "p.php:4"});
  EXPECT_EQ(1, run.ExitCode);
  EXPECT_EQ("zoqc: cannot find the page 'p.php'\nzoqc: cannot find the page 'p.php'\n", run.Err);
  ASSERT_EQ(0, RunZoqc({"-q", "p"}).ExitCode);
  const std::string page = ReadFile("p.php");
  const auto lines = std::count(page.begin(), page.end(), '\n');
  run = RunZoqc({"--explain", "p.php:" + std::to_string(lines + 1)});
  EXPECT_EQ(1, run.ExitCode);
  EXPECT_EQ("zoqc: p.php has " + std::to_string(lines) + " lines, not " +
                std::to_string(lines + 1) + "\n",
            run.Err);
  WriteFile("p.zoq", "<?php\n<<title\n");
  run = RunZoqc({"--explain", "p.php:3"});
  EXPECT_EQ(1, run.ExitCode);
  EXPECT_EQ("zoqc: the sources of 'p.php' no longer translate: Error(2):need <<\n", run.Err);
  fs::remove("p.zot");
  run = RunZoqc({"--explain", "p.php:3"});
  EXPECT_EQ("zoqc: cannot find the template of 'p.php' (looked for 'p.zot')\n", run.Err);
}

}  // namespace
}  // namespace zoqc
