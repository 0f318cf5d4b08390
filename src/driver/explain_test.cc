// --explain under hostile logs: lines that name a page by the thousand, pages translated again
// while a log is followed, and a reader that goes away.
#include "src/driver/explain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <sstream>
#include <streambuf>

#include "tests/run_zoqc.h"

namespace zoqc {
namespace {

namespace fs = std::filesystem;
using test_support::RunZoqc;
using test_support::Shell;
using test_support::WriteFile;

std::string Repeated(std::string_view AText, std::size_t ACount) {
  std::string out;
  for (std::size_t idx = 0; idx < ACount; ++idx) out.append(AText);
  return out;
}

// What --explain makes of AIn in one run, with what it said on standard error in AErr.
std::string Explained(std::istream& AIn, std::string* AErr = nullptr) {
  std::ostringstream out, err;
  EXPECT_EQ(0, RunExplain(TOptions{}, AIn, out, err));
  if (AErr) *AErr = err.str();
  return out.str();
}

std::string Explained(const std::string& ALog) {
  std::istringstream in(ALog);
  return Explained(in);
}

class Explain : public test_support::TScratchCwdTest {};

TEST_F(Explain, LogLineNamingPagesByTheThousandIsLinear) {
  WriteFile("x.zoq", "<?php\n<<t<<1\n");
  WriteFile("x.zot", "{t}\n");
  ASSERT_EQ(0, RunZoqc({"-q", "x"}).ExitCode);
  // Each location's path is the text since the one before, however long the line.
  std::size_t bytes = 0;
  const TPlaceLookup count = [&](std::string_view APath, std::size_t, std::string_view) {
    bytes += APath.size();
    return std::string("s.zoq:1:1");
  };
  EXPECT_EQ(Repeated("x.php:1 [s.zoq:1:1]", 1000), ExplainLine(Repeated("x.php:1", 1000), count));
  EXPECT_EQ(5000u, bytes);  // "x.php" each time, not the line up to it
  // Many locations of the real page, then many of pages that do not exist, each a new name.
  const auto seconds = [](std::size_t ACount) {
    std::string log = Repeated("x.php:1", ACount) + "\n";
    for (std::size_t idx = 0; idx < ACount; ++idx) log += " n/" + std::to_string(idx) + ".php:1";
    double best = 1e9;  // processor time, the best of five: other processes do not count
    for (int run = 0; run < 5; ++run) {
      const std::clock_t start = std::clock();
      Explained(log + "\n");
      best = std::min(best, static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
    }
    return best;
  };
  const double small = seconds(8000);
  const double large = seconds(32000);
  // A line longer than what is read at once is cut at a blank, not in a location.
  const std::string long_line = Repeated("x.php:1  ", 200000);  // 1.8 MB: 9 does not divide 1 MiB
  EXPECT_EQ(Repeated("x.php:1 [x.zoq:1:1]  ", 200000) + "\n", Explained(long_line + "\n"));
  EXPECT_LT(large / small, 8.0) << small << " s, then " << large << " s for four times as much";
}

// Input that comes in parts, with something done before each part is read: a log being
// written while zoqc follows it.
class TArrivingInput : public std::streambuf {
 public:
  std::vector<std::pair<std::function<void()>, std::string>> Parts;

 protected:
  int_type underflow() override {
    if (Next == Parts.size()) return traits_type::eof();
    Parts[Next].first();
    std::string& text = Parts[Next++].second;
    setg(text.data(), text.data(), text.data() + text.size());
    return traits_type::to_int_type(text.front());
  }

 private:
  std::size_t Next = 0;
};

TEST_F(Explain, FollowedPageIsReadAgainWhenItChanges) {
  WriteFile("x.zoq", "<?php\n<<t<<1\n<<u<<2\n");
  WriteFile("x.zot", "{t}\n{u}\n");
  ASSERT_EQ(0, RunZoqc({"-q", "x"}).ExitCode);
  const std::string before = Explained("x.php:7\n");
  std::string after;                   // what a run of its own makes of the page translated again
  const auto translated_again = [&] {  // two lines more in the script, translated again
    WriteFile("x.zoq", "<?php\n$a = 1;\n$b = 2;\n<<t<<1\n<<u<<2\n");
    ASSERT_EQ(0, RunZoqc({"-q", "x"}).ExitCode);
    after = Explained("x.php:9\n");
  };
  const auto edited = [] { WriteFile("x.zoq", "<?php\n<<t<<1\n<<u<<2\n"); };
  TArrivingInput log;
  log.Parts = {{[] {}, "x.php:7\n"}, {translated_again, "x.php:9\n"}, {edited, "x.php:9\n"}};
  std::istream in(&log);
  std::string err;
  const std::string out = Explained(in, &err);
  EXPECT_NE(before.substr(8), after.substr(8));  // the edit moved the place
  EXPECT_EQ(before + after + "x.php:9\n", out);
  EXPECT_EQ("zoqc: x.php is older than its sources; translate it again\n", err);
}

// What the real php prints running the page APage (a path) with the ini settings AIni.
std::string PhpSays(const std::string& APage, const std::string& AIni) {
  return Shell("php -n -d log_errors=0 " + AIni + " '" + APage + "' 2>&1");
}

class ExplainPhp : public Explain {
 protected:
  void SetUp() override {
    Explain::SetUp();
    if (std::system("php -r 'exit(0);' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no php";
  }
};

TEST_F(ExplainPhp, HtmlErrorsAndPagesWrittenElsewhere) {
  fs::create_directories("src");
  WriteFile("src/p.zoq", "<?php\n$a = 1;\n<<t<<$undefined\n");
  WriteFile("src/p.zot", "<p>{t}</p>\n");
  ASSERT_EQ(0, RunZoqc({"-q", "-r", "src", "-o", "out"}).ExitCode);
  const std::string page = fs::absolute("out/p.php").string();
  // As a browser shows it: "in <b>PATH</b> on line <b>N</b><br />".
  const std::string html = PhpSays(page, "-d display_errors=1 -d html_errors=1");
  const std::string location = "in <b>" + page + "</b> on line <b>";
  ASSERT_NE(std::string::npos, html.find(location)) << html;
  TOptions options;
  options.Directories = {"src"}, options.OutDir = "out";
  std::istringstream in(html);
  std::ostringstream out, err;
  EXPECT_EQ(0, RunExplain(options, in, out, err));
  std::string expected = html;
  const std::size_t mark = expected.find("</b>", expected.find(location) + location.size()) + 4;
  expected.insert(mark, " [src/p.zoq:3:6]");
  EXPECT_EQ(expected, out.str());
  EXPECT_EQ("", err.str());
  // Without -r and -o the page passes as it is, and why is said once.
  const std::string text = PhpSays(page, "-d display_errors=stderr");
  std::string said;
  std::istringstream twice(text + text);
  EXPECT_EQ(text + text, Explained(twice, &said));
  EXPECT_EQ("zoqc: cannot find the sources of '" + page + "' (looked for '" +
                page.substr(0, page.size() - 4) + ".zoq' and '" + page.substr(0, page.size() - 4) +
                ".zot')\nzoqc: locations that cannot be mapped pass unmarked; pages written with "
                "-o OUT are mapped with the same -r SRC -o OUT\n",
            said);
}

TEST_F(ExplainPhp, UndefinedBufferIsTheAppendsFault) {
  // "<<+row" above its "<<*row": PHP finds the buffer unset on the line that also holds $n.
  WriteFile("p.zoq", "<?php\n$n = 1;\n<<+row\n<<*row\n<<<n<<$n\n");
  WriteFile("p.zot", "<!--BEGIN row--><li>{n}</li><!--END row-->\n");
  ASSERT_EQ(0, RunZoqc({"-q", "-w", "p"}).ExitCode);
  const std::string said = PhpSays("p.php", "-d display_errors=stderr");
  ASSERT_NE(std::string::npos, said.find("Undefined variable $ZOQBLOCK_row")) << said;
  const std::string out = Explained(said);
  EXPECT_NE(std::string::npos, out.find("/p.zoq:3:1]")) << out;  // the "<<+row" line
  EXPECT_EQ(std::string::npos, out.find("/p.zoq:5:")) << out;    // not the binding of n
}

// Output that takes ALimit bytes and then fails, as a pipe whose reader has gone, counting
// the flushes it is asked for.
class TCountingOutput : public std::streambuf {
 public:
  explicit TCountingOutput(std::size_t ALimit) : Limit(ALimit) {}
  std::size_t Taken = 0;
  std::size_t Flushes = 0;

 protected:
  int_type overflow(int_type AChar) override {
    if (Taken == Limit) return traits_type::eof();
    ++Taken;
    return traits_type::not_eof(AChar);
  }
  int sync() override { return ++Flushes, 0; }

 private:
  std::size_t Limit;
};

TEST(RunExplain, FlushesBeforeWaitingAndStopsWhenTheReaderHasGone) {
  const std::string log = Repeated("a line of a log\n", 10000);
  std::ostringstream err;
  {  // all of it waiting: flushed once it is all read, not line by line
    std::istringstream in(log);
    TCountingOutput sink(std::string::npos);
    std::ostream out(&sink);
    EXPECT_EQ(0, RunExplain(TOptions{}, in, out, err));
    EXPECT_EQ(log.size(), sink.Taken);
    EXPECT_LE(sink.Flushes, 2u);
  }
  {  // "| head -1": the rest is not read once a write has failed
    std::istringstream in(log);
    TCountingOutput sink(100);
    std::ostream out(&sink);
    RunExplain(TOptions{}, in, out, err);
    EXPECT_FALSE(out.good());
    EXPECT_LT(in.rdbuf()->pubseekoff(0, std::ios::cur, std::ios::in), 1000);
  }
}

}  // namespace
}  // namespace zoqc
