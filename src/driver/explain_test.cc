// --explain under hostile logs: lines that name a page by the thousand, pages translated again
// while a log is followed, and a reader that goes away.
#include "src/driver/explain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <streambuf>

#include "tests/run_zoqc.h"

namespace zoqc {
namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;
using test_support::RunZoqc;
using test_support::WriteFile;

// The best of three timings of AWork, in seconds.
template <typename F>
double Seconds(F AWork) {
  double best = 1e9;
  for (int run = 0; run < 3; ++run) {
    const auto start = std::chrono::steady_clock::now();
    AWork();
    best = std::min(
        best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

std::string Repeated(std::string_view AText, std::size_t ACount) {
  std::string out;
  for (std::size_t idx = 0; idx < ACount; ++idx) out.append(AText);
  return out;
}

TEST(ExplainLine, ManyLocationsOnOneLineAreReadOnce) {
  // Each location's path is the text since the one before, however long the line.
  std::size_t asked = 0, bytes = 0;
  const TPlaceLookup count = [&](std::string_view APath, std::size_t, std::string_view) {
    ++asked, bytes += APath.size();
    return std::string("s.zoq:1:1");
  };
  const std::string line = Repeated("x.php:1", 1000);
  EXPECT_EQ(Repeated("x.php:1 [s.zoq:1:1]", 1000), ExplainLine(line, count));
  EXPECT_EQ(1000u, asked);
  EXPECT_EQ(5000u, bytes);  // "x.php" each time, not the line up to it
  // "in PATH on line N" keeps a path with blanks, and the frame form its "#K ".
  EXPECT_EQ("Error in /a b/p.php on line 3 [s.zoq:1:1]",
            ExplainLine("Error in /a b/p.php on line 3", count));
  EXPECT_EQ("#0 /a/p.php(3) [s.zoq:1:1]: f()", ExplainLine("#0 /a/p.php(3): f()", count));
}

class Explain : public test_support::TScratchCwdTest {};

TEST_F(Explain, LogLineNamingAPageByTheThousandIsLinear) {
  WriteFile("x.zoq", "<?php\n<<t<<1\n");
  WriteFile("x.zot", "{t}\n");
  ASSERT_EQ(0, RunZoqc({"-q", "x"}).ExitCode);
  // Many locations of the real page, then many of pages that do not exist.
  const auto run = [](std::size_t ACount) {
    std::istringstream in(Repeated("x.php:1", ACount) + "\n" + Repeated(" y.php:1", ACount / 2) +
                          Repeated(" /n/y.php:1", ACount / 2) + "\n");
    std::ostringstream out, err;
    TOptions options;
    EXPECT_EQ(0, RunExplain(options, in, out, err));
  };
  const double small = Seconds([&] { run(20000); });
  const double large = Seconds([&] { run(80000); });
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

// What --explain makes of ALog in one run.
std::string Explained(const std::string& ALog) {
  std::istringstream in(ALog);
  std::ostringstream out, err;
  TOptions options;
  EXPECT_EQ(0, RunExplain(options, in, out, err));
  return out.str();
}

TEST_F(Explain, FollowedPageTranslatedAgainIsReadAgain) {
  WriteFile("x.zoq", "<?php\n<<t<<1\n<<u<<2\n");
  WriteFile("x.zot", "{t}\n{u}\n");
  ASSERT_EQ(0, RunZoqc({"-q", "x"}).ExitCode);
  const std::string before = Explained("x.php:7\n");
  const auto edit = [] {  // two lines more in the script, and the page translated again
    WriteFile("x.zoq", "<?php\n$a = 1;\n$b = 2;\n<<t<<1\n<<u<<2\n");
    ASSERT_EQ(0, RunZoqc({"-q", "x"}).ExitCode);
    fs::last_write_time("x.php", fs::last_write_time("x.php") + std::chrono::seconds(5));
  };
  TArrivingInput log;
  log.Parts = {{[] {}, "x.php:7\n"}, {edit, "x.php:9\n"}};
  std::istream in(&log);
  std::ostringstream out, err;
  TOptions options;
  EXPECT_EQ(0, RunExplain(options, in, out, err));
  const std::string after = Explained("x.php:9\n");
  EXPECT_NE(before.substr(8), after.substr(8));  // the edit moved the place
  EXPECT_EQ(before + after, out.str()) << err.str();
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
  TOptions options;
  std::ostringstream err;
  {  // all of it waiting: flushed once it is all read, not line by line
    std::istringstream in(log);
    TCountingOutput sink(std::string::npos);
    std::ostream out(&sink);
    EXPECT_EQ(0, RunExplain(options, in, out, err));
    EXPECT_EQ(log.size(), sink.Taken);
    EXPECT_LE(sink.Flushes, 2u);
  }
  {  // "| head -1": the rest is not read once a write has failed
    std::istringstream in(log);
    TCountingOutput sink(100);
    std::ostream out(&sink);
    RunExplain(options, in, out, err);
    EXPECT_FALSE(out.good());
    EXPECT_LT(in.tellg(), 1000);
  }
}

}  // namespace
}  // namespace zoqc
