// Tests of what a run says and leaves when a call to the file system fails.
#include "src/driver/site.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>
#include <string>
#include <vector>

#include "tests/faulty_files.h"
#include "tests/scratch_dir.h"

#define LF "\n"

namespace zoqc {
namespace {

using test_support::ReadFile;
using test_support::TFaultyFiles;
using test_support::WriteFile;
using TCall = TFaultyFiles::TCall;

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

}  // namespace
}  // namespace zoqc

#undef LF
