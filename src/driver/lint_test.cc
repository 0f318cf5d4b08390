// Tests of --lint and --explain against the real php: located parse errors, a php that dies,
// and PHP's own run-time messages mapped back to the lines that hold the faulty expression.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "src/driver/explain.h"
#include "src/platform/child.h"
#include "tests/run_zoqc.h"

namespace zoqc {
namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;
using test_support::RunZoqc;
using test_support::Shell;
using test_support::WriteFile;

class Lint : public test_support::TScratchCwdTest {
 protected:
  void SetUp() override {
    TScratchCwdTest::SetUp();
    if (std::system("php -r 'exit(0);' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no php";
  }
};

TEST_F(Lint, EveryMistakeIsAnErrorInTheSourcesAndKeepsTheOldPage) {
  const char* const rows = "<ul><!--BEGIN row--><li>{n}</li><!--END row--></ul>\n";
  const struct {
    const char* Script;
    const char* Template;
    const char* Where;  // the error's place
  } cases[] = {
      // a trailing ";" on a block variable
      {"<?php\n<<*row\n<<<n<<$r['n'];\nforeach ($rows as $r) {\n<<+row\n}\n", rows,
       "page.zoq:3:7:"},
      // an indented statement stays PHP
      {"<?php\n$t = 1;\n  <<title<<$t\n", "{title}\n", "page.zoq:3:1:"},
      // "<<+rows" for an unknown block
      {"<?php\n<<*row\n<<<n<<$r\nforeach ($rows as $r) {\n<<+rows\n}\n", rows, "page.zoq:5:1:"},
      // "<<+row" inside a comment
      {"<?php\n<<*row\n<<<n<<$r\nforeach ($rows as $r) {\n<<+row\n}\n// <<+row\n",
       "<!--BEGIN row-->\n<li>\"{n}\"</li>\n<!--END row-->\n", "page.zoq:7:4:"},
      // a block variable that binds looser than "." beside another on the same line
      {"<?php\n<<*row\n<<<n<<$e['n']\n<<<id<<$e['id'] + 1\nforeach ($rows as $e) {\n<<+row\n}\n",
       "<!--BEGIN row--><li id=\"{id}\">{n}</li><!--END row-->\n", "page.zoq:4:8:"},
  };
  for (const auto& c : cases) {
    WriteFile("page.zoq", c.Script);
    WriteFile("page.zot", c.Template);
    WriteFile("page.php", "old");
    const auto run = RunZoqc({"-q", "--lint", "page"});
    EXPECT_EQ(1, run.ExitCode) << c.Script;
    EXPECT_EQ("Error:PHP cannot parse the page, or did not answer (--lint)\n", run.Out);
    EXPECT_NE(std::string::npos, run.Err.find(std::string(c.Where) +
                                              " error: PHP cannot parse the page: syntax error"))
        << c.Script << run.Err;
    EXPECT_EQ("old", ReadFile("page.php")) << c.Script;
    // Without --lint the same page is written, and the line after the warnings says that PHP
    // will not parse it, and that the PHP found on PATH agrees.
    const auto written = RunZoqc({"-q", "page"});
    EXPECT_EQ(0, written.ExitCode) << c.Script;
    EXPECT_NE(std::string::npos,
              written.Err.find("zoqc: 'page.php' is written, but the warnings above break it: PHP "
                               "will not parse it as it stands (PHP agrees: syntax error"))
        << c.Script << written.Err;
  }
}

TEST_F(Lint, BrokenPageLineSaysWhenPhpParsesThePageAllTheSame) {
  // "<<+row" inside a string is rewritten into the string: still PHP that parses.
  WriteFile("page.zoq", "<?php\n<<*row\n$s = 'a <<+row';\n<<+row\n");
  WriteFile("page.zot", "<!--BEGIN row-->r<!--END row-->\n");
  const auto run = RunZoqc({"-q", "page"});
  EXPECT_EQ(0, run.ExitCode);
  EXPECT_NE(std::string::npos, run.Err.find("zoqc: 'page.php' is written; PHP parses it, but the "
                                            "warnings above say where it does not do what the "
                                            "script says"))
      << run.Err;
}

// The line after the warnings asks PHP about the page as it was written: under --escape the
// escaped page, whose echo of "1, 2" PHP cannot parse, where the plain page's echo parses.
TEST_F(Lint, BrokenPageLineAsksAboutTheEscapedPage) {
  WriteFile("page.zoq", "<?php\n<<*row\n$s = 'a <<+row';\n<<+row\n<<x<<1, 2\n");
  WriteFile("page.zot", "<!--BEGIN row-->r<!--END row-->\n<p>{x}</p>\n");
  const auto plain = RunZoqc({"-q", "page"});
  EXPECT_NE(std::string::npos, plain.Err.find("'page.php' is written; PHP parses it")) << plain.Err;
  const auto escaped = RunZoqc({"-q", "--escape", "page"});
  EXPECT_EQ(0, escaped.ExitCode);
  EXPECT_NE(std::string::npos,
            escaped.Err.find("'page.php' is written, but the warnings above break it: PHP will "
                             "not parse it as it stands (PHP agrees: syntax error"))
      << escaped.Err;
  // --lint asks about the same page, and keeps it.
  EXPECT_EQ(1, RunZoqc({"-q", "--escape", "--lint", "page"}).ExitCode);
}

TEST_F(Lint, CleanSiteSaysNothing) {
  fs::copy(fs::path(ZOQC_SOURCE_DIR) / "examples", "site", fs::copy_options::recursive);
  fs::remove_all("site/site");  // a site of its own, translated as its project file says
  const auto run = RunZoqc({"-q", "-j", "2", "--lint", "-r", "site"});
  EXPECT_EQ(0, run.ExitCode);
  EXPECT_EQ("", run.Err);
  EXPECT_TRUE(fs::exists("site/blog/blog.php"));
}

TEST_F(Lint, PhpThatDiesFailsItsPageAndTheNextPageGetsAnother) {
  // A real php with little memory dies halfway through tokenizing the 3.75 MB page.
  WriteFile("php-small", "#!/bin/sh\nulimit -v 200000\nexec php \"$@\"\n");
  fs::permissions("php-small", fs::perms::owner_all);
  std::string large = "<?php\n";
  for (int idx = 0; idx < 150000; ++idx) large += "$a = [1, 2, 3, $b, 'x'];\n";
  for (const char* name : {"a", "c"}) WriteFile(std::string(name) + ".zoq", "<?php\n$x = 1;\n");
  WriteFile("b.zoq", large);
  for (const char* name : {"a", "b", "c"}) WriteFile(std::string(name) + ".zot", "x\n");
  const auto run = RunZoqc({"-q", "-j", "1", "--lint", "--php=./php-small", "a", "b", "c"});
  EXPECT_EQ(1, run.ExitCode);
  EXPECT_NE(std::string::npos, run.Err.find("zoqc: PHP ('./php-small') ended")) << run.Err;
  EXPECT_NE(std::string::npos, run.Err.find("'b.php' is not written")) << run.Err;
  EXPECT_FALSE(fs::exists("b.php"));
  EXPECT_TRUE(fs::exists("a.php") && fs::exists("c.php"));
}

TEST_F(Lint, LargePageNeedsNoMoreMemoryThanPhpsCompiler) {
  // 10 MB of PHP: the tokenizer's token array needs about 800 MB, PHP's compiler a quarter.
  WriteFile("php-small", "#!/bin/sh\nulimit -v 400000\nexec php \"$@\"\n");
  fs::permissions("php-small", fs::perms::owner_all);
  std::string large = "<?php\n";
  for (int idx = 0; idx < 400000; ++idx) large += "$a = [1, 2, 3, $b, 'x'];\n";
  WriteFile("big.zoq", large + "$x = ;\n");
  WriteFile("big.zot", "x\n");
  const auto run = RunZoqc({"-q", "--lint", "--php=./php-small", "big"});
  EXPECT_EQ(1, run.ExitCode);
  EXPECT_NE(std::string::npos, run.Err.find("big.zoq:400002:")) << run.Err;  // located
}

TEST(ChildProcess, HelperThatHangsIsGivenUpAtItsTimeout) {
  std::string error;
  const auto child = TChildProcess::Start({"sleep", "30"}, error);
  ASSERT_TRUE(child) << error;
  const auto start = std::chrono::steady_clock::now();
  std::string line;
  EXPECT_FALSE(child->ReadLine(line, 200));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  child->Kill();
  const std::string_view page = "<?php\n";
  EXPECT_FALSE(child->Send(std::span<const std::string_view>(&page, 1), 200));
}

TEST(ChildProcess, HelperThatFloodsIsGivenUpAtItsTimeout) {
  std::string error;
  // Output without end and without a line end, faster than it is read.
  const auto child = TChildProcess::Start({"sh", "-c", "yes x | tr -d '\\n'"}, error);
  ASSERT_TRUE(child) << error;
  std::string line;
  EXPECT_FALSE(child->ReadLine(line, 200));
}

// The lint's deadline counts the processor time php gets, not the clock: a child that waits
// gains none, a busy one gains it, never more than the time that passed, and a child whose
// output ended is told from one that is only slow.
TEST(ChildProcess, CpuTimeCountsWhatTheChildRan) {
  std::string error;
  const auto asleep = TChildProcess::Start({"sleep", "30"}, error);
  const auto busy = TChildProcess::Start({"sh", "-c", "while :; do :; done"}, error);
  ASSERT_TRUE(asleep && busy) << error;
  bool waiting = false;
  if (asleep->CpuMs(waiting) < 0) GTEST_SKIP() << "the system does not say";
  const auto start = std::chrono::steady_clock::now();
  long ran = 0;
  while (ran <= 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(20))
    ran = busy->CpuMs(waiting);
  const auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  EXPECT_GT(ran, 0);
  EXPECT_LE(ran, wall.count() + 50);
  EXPECT_LT(asleep->CpuMs(waiting), 50);
  EXPECT_TRUE(waiting);
  std::string line;
  EXPECT_FALSE(asleep->ReadLine(line, 50));
  EXPECT_TRUE(asleep->Readable());  // only slow
  const auto done = TChildProcess::Start({"true"}, error);
  ASSERT_TRUE(done) << error;
  EXPECT_FALSE(done->ReadLine(line, 5000));
  EXPECT_FALSE(done->Readable());  // ended
}

TEST_F(Lint, AnswerIsTiedToItsRequest) {
  // A php that answers its first request twice: the extra "ok" must not pass the next page.
  WriteFile(
      "php-twice",
      "#!/bin/sh\nread size nonce\necho \"${nonce:+$nonce }ok\"\necho \"${nonce:+$nonce }ok\"\n"
      "exec php \"$@\"\n");
  fs::permissions("php-twice", fs::perms::owner_all);
  WriteFile("page.zoq", "<?php\n$x = ;\n");
  WriteFile("page.zot", "x\n");
  const auto run = RunZoqc({"-q", "--lint", "--php=./php-twice", "page"});
  EXPECT_EQ(1, run.ExitCode) << run.Err;
  EXPECT_FALSE(fs::exists("page.php"));
}

TEST_F(Lint, PhpThatDiedSinceTheLastPageIsStartedAgain) {
  // Each php answers one request and ends: the page after the first finds its php gone.
  WriteFile("php-once",
            "#!/bin/sh\nread size nonce\nhead -c \"$size\" >/dev/null\necho \"$nonce ok\"\n");
  fs::permissions("php-once", fs::perms::owner_all);
  WriteFile("page.zoq", "<?php\n$x = 1;\n");
  WriteFile("page.zot", "x\n");
  const auto run = RunZoqc({"-q", "--lint", "--php=./php-once", "page"});
  EXPECT_EQ(0, run.ExitCode) << run.Err;
  EXPECT_TRUE(fs::exists("page.php"));
}

TEST_F(Lint, WithoutPhpIsAUsageError) {
  const auto run = RunZoqc({"--lint", "--php=/nonexistent/php", "page"});
  EXPECT_EQ(2, run.ExitCode);
  EXPECT_NE(std::string::npos, run.Err.find("apt-get install php-cli")) << run.Err;
}

// The places appended to AText, " [" then a place under ADir then "]", each right after a page
// location (a line number, or a stack frame's closing parenthesis); AText without them goes
// into AStripped.
std::vector<std::string> Appended(const std::string& AText, const std::string& ADir,
                                  std::string& AStripped) {
  std::vector<std::string> places;
  AStripped.clear();
  std::size_t copied = 0;
  for (std::size_t at = AText.find(" [" + ADir); at != std::string::npos;
       at = AText.find(" [" + ADir, at + 1)) {
    const std::size_t end = AText.find(']', at);
    if (end == std::string::npos || at == 0) break;
    const char before = AText[at - 1];
    places.push_back(before == ')' || (before >= '0' && before <= '9')
                         ? AText.substr(at + 2, end - at - 2)
                         : "not after a location: " + AText.substr(at + 2, end - at - 2));
    AStripped += AText.substr(copied, at - copied);
    copied = end + 1;
  }
  AStripped += AText.substr(copied);
  return places;
}

TEST_F(Lint, ExplainMapsPhpsRealMessagesToTheFaultyLine) {
  const struct {
    const char* Page;  // an example or a golden case, under the source folder; its script gets
                       // the fault
    const char* From;
    const char* To;  // the faulty line, which every location must lead to
  } faults[] = {
      // an undefined key in a block variable, on a page line with other bindings
      {"examples/blog/blog", "<<<headline<<htmlspecialchars($e['headline'])",
       "<<<headline<<htmlspecialchars($e['headlin'])"},
      // a TypeError in a template variable
      {"examples/blog/blog", "<<title<<htmlspecialchars($blog['title'])",
       "<<title<<htmlspecialchars($blog)"},
      // a fatal error in the PHP part
      {"examples/blog/blog", "foreach ($links as $l) {",
       "foreach (no_such_function($links) as $l) {"},
      // an exception thrown in the nested block's loop
      {"examples/blog/blog", "    foreach ($e['tags'] as $t) {",
       "    foreach ($e['tags'] as $t) { if ($t === 'php') throw new RuntimeException('no');"},
      // a run-time error in a block variable of another example
      {"examples/catalogue/catalogue", "<<<origin<<htmlspecialchars($p['origin'])",
       "<<<origin<<htmlspecialchars(intdiv(1, 0))"},
      // an error in the inner block's variable of a golden page, given rows to loop over
      {"tests/cases/nested_inner_first_lf/page", "<<<c<<$c",
       "<<<c<<intdiv(1, $c)\n$rows = [['name' => 'a', 'cells' => [1, 0]]];"},
  };
  for (const auto& f : faults) {
    const fs::path source = fs::path(ZOQC_SOURCE_DIR) / f.Page;
    fs::remove_all("site");
    fs::copy(source.parent_path(), "site", fs::copy_options::recursive);
    const std::string dir = fs::absolute("site").string() + "/";
    const std::string name = source.filename().string();
    std::string script = ReadFile(dir + name + ".zoq");
    const std::size_t at = script.find(f.From);
    ASSERT_NE(std::string::npos, at) << f.From;
    script.replace(at, std::strlen(f.From), f.To);
    WriteFile(dir + name + ".zoq", script);
    const std::string faulty = std::string(f.To).substr(0, std::string(f.To).find('\n'));
    const std::size_t line =
        1 + std::count(script.begin(), script.begin() + script.find(faulty), '\n');
    ASSERT_EQ(0, RunZoqc({"-q", dir + name}).ExitCode);
    const std::string err = Shell("cd '" + dir + "' && php -d display_errors=stderr -d " +
                                  "log_errors=0 " + name + ".php 2>&1 >/dev/null");
    std::istringstream in(err);
    std::ostringstream out, diag;
    TOptions options;
    EXPECT_EQ(0, RunExplain(options, in, out, diag));
    std::string stripped;
    const std::vector<std::string> places = Appended(out.str(), dir, stripped);
    ASSERT_FALSE(places.empty()) << err;
    for (const std::string& place : places)
      EXPECT_TRUE(place.starts_with(dir + name + ".zoq:" + std::to_string(line) + ":"))
          << f.To << ": " << place << "\n"
          << out.str();
    // Every other byte passes through as it was.
    EXPECT_EQ(err, stripped);
  }
}

TEST_F(Lint, ExplainLineAndStalePage) {
  fs::copy(fs::path(ZOQC_SOURCE_DIR) / "examples" / "blog", "src", fs::copy_options::recursive);
  ASSERT_EQ(0, RunZoqc({"-q", "-r", "src", "-o", "out"}).ExitCode);
  // Line 45 of the page: the "<<+entry" line, the markup, the bindings.
  auto run = RunZoqc({"--explain", "-r", "src", "-o", "out", "out/blog.php:45"});
  EXPECT_EQ(0, run.ExitCode);
  EXPECT_TRUE(
      run.Out.starts_with("src/blog.zoq:39:1: page line 45: the block is appended here\n"
                          "src/blog.zot:11:1: from the template here\n"))
      << run.Out;
  EXPECT_NE(std::string::npos, run.Out.find("src/blog.zoq:30:14: 'headline' is bound to "));
  WriteFile("src/blog.zoq", ReadFile("src/blog.zoq") + "\n");
  run = RunZoqc({"--explain", "-r", "src", "-o", "out", "out/blog.php:45"});
  EXPECT_EQ(1, run.ExitCode);
  EXPECT_EQ("zoqc: out/blog.php is older than its sources; translate it again\n", run.Err);
  EXPECT_EQ("", run.Out);
}

}  // namespace
}  // namespace zoqc
