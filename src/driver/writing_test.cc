// Tests of what a run says and leaves when a call to the file system fails, for one page and
// for a site whose pages are put in place in batches.
#include "src/driver/site.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "src/driver/page.h"
#include "src/translation/compile.h"
#include "tests/faulty_files.h"
#include "tests/reference.h"
#include "tests/run_zoqc.h"
#include "tests/scratch_dir.h"

#define LF "\n"

namespace zoqc {
namespace {

using test_support::ListDir;
using test_support::ReadFile;
using test_support::TFaultyFiles;
using test_support::WriteFile;
using TCall = TFaultyFiles::TCall;
namespace fs = std::filesystem;

const char kPage[] = "<?php" LF LF "\r\n?>\r\n<?php echo 1;?>" LF;

// The line of a failure report that names its kind and message (after its head line).
std::string KindLine(const std::string& AOut) {
  const std::size_t start = AOut.find('\n') + 1;
  return AOut.substr(start, AOut.find('\n', start) - start);
}

class WritingTest : public test_support::TScratchDirTest {
 protected:
  // Writes the script and template of page NAME; yields its page.
  TSitePage Page(const std::string& AName) {
    WriteFile(Dir + AName + ".zoq", "<?php" LF "<<a<<1" LF);
    WriteFile(Dir + AName + ".zot", "{a}" LF);
    return NamedPage(Dir + AName, "");
  }
};

// A streamed page goes through the room its stream lends: pieces and echoes of every size up
// to past the inline copies, at every place up to and across the buffer's end, the room left
// unsettled when the page closes: the page byte for byte.
TEST_F(WritingTest, StreamSinkKeepsEveryByte) {
  const std::string name = Dir + "page.php";
  std::string bytes(200, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 % 251);
  const std::string_view from(bytes);
  const std::size_t sizes[] = {0, 1, 3, 4, 7, 8, 9, 16, 17, 40, 64, 65, 150};
  TOutputStream stream(name);
  std::string want;
  {
    TStreamSink sink(stream);
    TPageSink& page = sink;
    for (int round = 0; want.size() < 2 * TOutputStream::kBufferSize + 1000; ++round)
      for (const std::size_t a : sizes)
        for (const std::size_t b : sizes) {
          const std::string_view first = from.substr(round % 7, a), second = from.substr(1, b);
          const std::string_view third = from.substr(2 + round % 5, (a + b) % 19);
          page.AppendThree(first, second, third);
          page.Append(second);
          want.append(first).append(second).append(third).append(second);
        }
    page.Close();
  }
  EXPECT_EQ(want.size(), stream.Size());
  TFileFailure failure;
  bool retry = true;
  ASSERT_TRUE(stream.Commit(failure, retry)) << failure.Reason;
  EXPECT_TRUE(ReadFile(name) == want);
}

// Each failing call of a page's run, as the failure report and standard error name it; the
// old page stays.
TEST_F(WritingTest, FailedCallsOfAPage) {
  struct TCase {
    TCall Call;
    int Code;
    const char* Suffix;
    std::string KindLine;
    std::string Err;
  };
  const std::string p = Dir + "p";
  const TCase cases[] = {
      {TCall::Open, EACCES, ".zoq", "EFOpenError : Unable to open file \"" + p + ".zoq\"",
       "cannot open '" + p + ".zoq': Permission denied"},
      {TCall::Read, EIO, ".zot", "EReadError : Stream read error",  // opened, then unreadable
       "cannot read '" + p + ".zot': Input/output error"},
      {TCall::Create, EDQUOT, "", "EFCreateError : Unable to create file \"" + p + ".php\"",
       "cannot create '" + p + ".php': Disk quota exceeded"},
      {TCall::Write, ENOSPC, "", "EWriteError : Stream write error",
       "cannot write '" + p + ".php': No space left on device"},
      {TCall::Rename, EACCES, "", "EFCreateError : Unable to create file \"" + p + ".php\"",
       "cannot create '" + p + ".php': Permission denied"},  // refused, as EPERM is
      {TCall::Rename, EIO, "", "EWriteError : Stream write error",
       "cannot write '" + p + ".php': Input/output error"},
  };
  const TSitePage page = Page("p");
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Err);
    WriteFile(p + ".php", "old");
    TFaultyFiles files;
    files.Fail(c.Call, c.Code, c.Suffix);
    const TPageResult result = TranslatePage(page.Job, TOptions(), files);
    EXPECT_EQ(kExitFileFailure, result.ExitCode);
    EXPECT_EQ(c.KindLine, KindLine(result.Out));
    EXPECT_EQ("zoqc: " + c.Err + "\n", result.Err);
    EXPECT_EQ("old", ReadFile(p + ".php"));
  }
}

// A page larger than the write buffer goes into its temporary file as it is made: a write that
// fails halfway reports the failure and keeps the old page; a temporary that cannot be named
// is written again as a named one.
TEST_F(WritingTest, StreamedPageThatFailsOrCannotBeNamed) {
  const std::string p = Dir + "big";
  WriteFile(p + ".zoq", "<?php" LF "<<a<<1" LF);
  std::string templ;
  for (int i = 0; i < 40000; ++i) templ += "<p>{a}</p>" LF;  // 640 KB of page
  WriteFile(p + ".zot", templ);
  const TSitePage page = NamedPage(p, "");
  WriteFile(p + ".php", "old");
  {
    TFaultyFiles files;
    files.Fail(TCall::Write, ENOSPC, "", 1, 3);
    const TPageResult result = TranslatePage(page.Job, TOptions(), files);
    EXPECT_EQ(kExitFileFailure, result.ExitCode);
    EXPECT_EQ("EWriteError : Stream write error", KindLine(result.Out));
    EXPECT_EQ("old", ReadFile(p + ".php"));
  }
  TFaultyFiles files;
  files.Fail(TCall::Name, kCannotName, "", 1);
  const TPageResult result = TranslatePage(page.Job, TOptions(), files);
  EXPECT_EQ(kExitSuccess, result.ExitCode) << result.Out << result.Err;
  std::string expected = "<?php" LF LF "\r\n?>\r\n";
  for (int i = 0; i < 40000; ++i) expected += "<p><?php echo 1;?></p>" LF;
  EXPECT_TRUE(expected == ReadFile(p + ".php"));
  EXPECT_EQ((std::vector<std::string>{"big.php", "big.zoq", "big.zot"}), ListDir(Dir));
}

// A temporary that cannot be named is written again with the run's options: under --escape
// the page written on the second try is escaped too, for one page as for the pages of -r.
TEST_F(WritingTest, PageWrittenAgainKeepsTheEscaping) {
  std::string templ;
  for (int i = 0; i < 8000; ++i) templ += "<p>{t}</p>" LF;  // past the stream's buffer
  const std::string escaped =
      "<p><?php echo htmlspecialchars((string)($t), ENT_QUOTES | ENT_SUBSTITUTE, 'UTF-8');?></p>";
  fs::create_directories(Dir + "src");
  WriteFile(Dir + "src/e.zoq", "<?php" LF "<<t<<$t" LF);
  WriteFile(Dir + "src/e.zot", templ);
  TOptions options;
  options.Escape = true;
  {
    TFaultyFiles files;
    files.Fail(TCall::Name, kCannotName, "", 1);
    const TPageResult result = TranslatePage(NamedPage(Dir + "src/e", "").Job, options, files);
    ASSERT_EQ(kExitSuccess, result.ExitCode) << result.Out << result.Err;
    const std::string page = ReadFile(Dir + "src/e.php");
    EXPECT_NE(std::string::npos, page.find(escaped)) << page.substr(0, 200);
    EXPECT_EQ(std::string::npos, page.find("<?php echo $t;?>"));
  }
  fs::remove(Dir + "src/e.php");
  options.Directories = {Dir + "src"};
  TSiteList list;
  std::string error;
  ASSERT_TRUE(PlanSite(options, list, error)) << error;
  TFaultyFiles files;
  files.Fail(TCall::Name, kCannotName, "", 1);
  std::ostringstream out, err;
  const TSiteTotals totals = TranslatePages(list.Pages, options, out, err, false, files);
  ASSERT_EQ(kExitSuccess, totals.ExitCode) << out.str() << err.str();
  const std::string page = ReadFile(Dir + "src/e.php");
  EXPECT_NE(std::string::npos, page.find(escaped)) << page.substr(0, 200);
  EXPECT_EQ(std::string::npos, page.find("<?php echo $t;?>"));
}

// Several pages are written, then flushed to the disk together, then put in place; one page
// alone is flushed and put in place by itself, as ever.
TEST_F(WritingTest, PagesOfASiteAreFlushedTogether) {
  const std::vector<TSitePage> pages = {Page("a"), Page("b"), Page("c")};
  for (const std::size_t count : {std::size_t{1}, std::size_t{3}}) {
    SCOPED_TRACE(count);
    TFaultyFiles files;
    std::ostringstream out, err;
    const std::vector<TSitePage> run(pages.begin(), pages.begin() + count);
    const TSiteTotals totals = TranslatePages(run, TOptions(), out, err, false, files);
    EXPECT_EQ(static_cast<int>(count), totals.Translated);
    std::vector<std::string> flushes;  // of the outputs, in order
    for (const std::string& call : files.Calls())
      if (call.starts_with("flush") || call.starts_with("rename")) flushes.push_back(call);
    const std::string a = Dir + "a.php";
    if (count == 1) {
      EXPECT_EQ((std::vector<std::string>{"flush " + a, "rename " + a, "flush-folder " + a}),
                flushes);
    } else if (files.FlushesFileSystems()) {
      EXPECT_EQ((std::vector<std::string>{"flush-file-system " + a, "rename " + a,
                                          "rename " + Dir + "b.php", "rename " + Dir + "c.php",
                                          "flush-folder " + a}),
                flushes);
    }
    for (const TSitePage& page : run) EXPECT_EQ(kPage, ReadFile(page.Job.PhpFileName));
  }
}

// A page of a batch that cannot be put in place says so in its place among the pages, keeps
// its old file, and the others are put in place.
TEST_F(WritingTest, PageOfABatchThatCannotBePutInPlace) {
  const std::vector<TSitePage> pages = {Page("a"), Page("b"), Page("c")};
  WriteFile(Dir + "b.php", "old");
  TFaultyFiles files;
  files.Fail(TCall::Rename, EACCES, "b.php");
  std::ostringstream out, err;
  const TSiteTotals totals = TranslatePages(pages, TOptions(), out, err, false, files);
  EXPECT_EQ(kExitFileFailure, totals.ExitCode);
  EXPECT_EQ(2, totals.Translated);
  EXPECT_EQ(1, totals.Failed);
  std::istringstream lines(out.str());
  std::vector<std::string> heads;  // each page's first line
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with("Compile") || line.starts_with("An unhandled")) heads.push_back(line);
  ASSERT_EQ(3u, heads.size()) << out.str();
  EXPECT_EQ("Compile sucessful.", heads[0]);
  EXPECT_TRUE(heads[1].starts_with("An unhandled exception occurred at $")) << heads[1];
  EXPECT_EQ("Compile sucessful.", heads[2]);
  EXPECT_NE(std::string::npos,
            out.str().find("EFCreateError : Unable to create file \"" + Dir + "b.php\""));
  EXPECT_EQ("zoqc: cannot create '" + Dir + "b.php': Permission denied\n", err.str());
  EXPECT_EQ("old", ReadFile(Dir + "b.php"));
  EXPECT_EQ(kPage, ReadFile(Dir + "c.php"));
}

// Under -o the output's folder is made through the file system: one that cannot be made is
// that page's failure to create its file, and the page beside it is written.
TEST_F(WritingTest, OutputFolderThatCannotBeMade) {
  fs::create_directories(Dir + "src/sub");
  for (const char* name : {"src/a", "src/sub/b"}) {
    WriteFile(Dir + name + ".zoq", "<?php" LF "<<a<<1" LF);
    WriteFile(Dir + std::string(name) + ".zot", "{a}" LF);
  }
  TOptions options;
  options.Directories = {Dir + "src"};
  options.OutDir = Dir + "out";
  TSiteList list;
  std::string error;
  ASSERT_TRUE(PlanSite(options, list, error)) << error;
  TFaultyFiles files;
  files.Fail(TCall::MakeFolder, EACCES, "sub");
  std::ostringstream out, err;
  const TSiteTotals totals = TranslatePages(list.Pages, options, out, err, false, files);
  EXPECT_EQ(1, totals.Translated);
  EXPECT_EQ(1, totals.Failed);
  EXPECT_EQ(kPage, ReadFile(Dir + "out/a.php"));
  EXPECT_FALSE(fs::exists(Dir + "out/sub"));
  EXPECT_NE(std::string::npos, err.str().find("cannot create '" + Dir + "out/sub/b.php'"))
      << err.str();
}

// Temporaries left by a killed run are removed by the next run that writes into their folder,
// once they are old; a young one may be another run's, in flight, and stays.
TEST_F(WritingTest, StaleTemporariesAreRemoved) {
  namespace fs = std::filesystem;
  const auto make = [&](const std::string& AName, std::chrono::hours AAge) {
    WriteFile(Dir + AName, "x");
    fs::last_write_time(Dir + AName, fs::file_time_type::clock::now() - AAge);
  };
  make(".zoqc-0123456789abcdef", std::chrono::hours(2));  // a killed run's
  make(".zoqc-fedcba9876543210", std::chrono::hours(0));  // another run's, in flight
  make(".zoqc-notours", std::chrono::hours(2));           // no name zoqc gives
  std::ostringstream out, err;
  EXPECT_EQ(kExitSuccess,
            TranslatePages({Page("a"), Page("b")}, TOptions(), out, err, false).ExitCode);
  EXPECT_FALSE(fs::exists(Dir + ".zoqc-0123456789abcdef"));
  EXPECT_TRUE(fs::exists(Dir + ".zoqc-fedcba9876543210"));
  EXPECT_TRUE(fs::exists(Dir + ".zoqc-notours"));
}

// A full disk with pages staged: those are put in place (their old files' space comes back)
// and the page that did not fit is written after them.
TEST_F(WritingTest, FullDiskPutsTheBatchInPlaceAndTriesAgain) {
  const std::vector<TSitePage> pages = {Page("a"), Page("b"), Page("c"), Page("d")};
  TFaultyFiles files;
  files.Fail(TCall::Write, ENOSPC, "c.php", 1);  // full once, until a batch is in place
  TOptions options;
  options.Jobs = 1;
  std::ostringstream out, err;
  const TSiteTotals totals = TranslatePages(pages, options, out, err, false, files);
  EXPECT_EQ(kExitSuccess, totals.ExitCode) << err.str();
  EXPECT_EQ(4, totals.Translated);
  for (const TSitePage& page : pages) EXPECT_EQ(kPage, ReadFile(page.Job.PhpFileName));
}

// Pages around and well past the stream's buffer, made by the command line as a user runs it
// (the template written in place into the buffer, flushed each time it fills): every byte as
// the plain sequential translation makes it, or, under --escape, as the translation in memory
// does. A page of exactly the buffer, a byte less and a byte more, and pages of 200 KiB and
// more whose text is shifted a byte at a time, so that the flushes fall in pieces of every
// kind (template text, a short echo, a long one, an escaped one) and at different places.
class StreamedPageTest : public test_support::TScratchCwdTest {
 protected:
  static constexpr std::size_t kBuffer = TOutputStream::kBufferSize;
  const std::string Script = "<?php" LF "<<a<<$a" LF "<<long<<$values['" + std::string(60, 'k') +
                             "']" LF "<<*row" LF "<<<n<<$r" LF "foreach ($rows as $r) {" LF
                             "<<+row" LF "}" LF;

  // The template whose page is ASize bytes long, its text shifted by AShift bytes; yields it
  // and the page it must make.
  std::pair<std::string, std::string> Sized(std::size_t ASize, std::size_t AShift, bool AEscape) {
    std::string body =
        "<ul><!--BEGIN row--><li>{n}</li><!--END row--></ul>" LF + std::string(AShift, 's');
    // Each unit adds to the page what it makes alone.
    const std::vector<std::pair<std::string, std::size_t>>& units = Units(AEscape);
    for (std::size_t unit = 0, size = Translated(body, AEscape).size();; ++unit) {
      size += units[unit % units.size()].second;
      if (size > ASize) break;
      body += units[unit % units.size()].first;
    }
    std::string page = Translated(body, AEscape);
    EXPECT_LE(page.size(), ASize);
    body += std::string(ASize - std::min(ASize, page.size()), 'z');
    page = Translated(body, AEscape);
    EXPECT_EQ(ASize, page.size());
    return {body, page};
  }
  // Stretches of template text with echoes short and long, and what each adds to the page.
  const std::vector<std::pair<std::string, std::size_t>>& Units(bool AEscape) {
    std::vector<std::pair<std::string, std::size_t>>& units = UnitsOf[AEscape];
    const std::size_t empty = Translated("", AEscape).size();
    for (std::size_t unit = units.size(); unit < 37 * 26; ++unit) {
      std::string text = std::string(1 + unit * 7 % 37, static_cast<char>('a' + unit % 26)) +
                         "{a}" + std::string(unit % 5, '.') +
                         "{long}<a href=\"{a}\" title='{long}'>" LF;
      const std::size_t size = Translated(text, AEscape).size() - empty;
      units.emplace_back(std::move(text), size);
    }
    return units;
  }
  std::vector<std::pair<std::string, std::size_t>> UnitsOf[2];
  std::string Translated(const std::string& ATemplate, bool AEscape) {
    if (!AEscape) return reference::CompileSequential(Script, ATemplate).Output;
    TCompileOptions options;
    options.Escape = true;
    return reference::OutcomeOf(Compile(Script, ATemplate, options)).Output;
  }
};

TEST_F(StreamedPageTest, PagesAroundAndPastTheBufferAreWhole) {
  WriteFile("page.zoq", Script);
  struct TCase {
    std::size_t Size;
    std::size_t Shifts;  // each shift from 0 up
  };
  const TCase cases[] = {{kBuffer - 1, 1},        {kBuffer, 1},         {kBuffer + 1, 1},
                         {2 * kBuffer, 1},        {2 * kBuffer + 1, 1}, {200 << 10, 12},
                         {3 * kBuffer + 4099, 3}, {700 << 10, 1}};
  for (const bool escape : {false, true})
    for (const TCase& c : cases)
      for (std::size_t shift = 0; shift < c.Shifts; ++shift) {
        SCOPED_TRACE(std::to_string(c.Size) + " bytes, shifted " + std::to_string(shift) +
                     (escape ? ", --escape" : ""));
        const auto [templ, page] = Sized(c.Size, shift, escape);
        WriteFile("page.zot", templ);
        const test_support::TRun run =
            escape ? test_support::RunZoqc({"--escape", "page"}) : test_support::RunZoqc({"page"});
        ASSERT_EQ(0, run.ExitCode) << run.Out << run.Err;
        const std::string written = ReadFile("page.php");
        ASSERT_EQ(page.size(), written.size());
        ASSERT_TRUE(written == page);
      }
}

}  // namespace
}  // namespace zoqc

#undef LF
