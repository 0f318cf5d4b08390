// Tests of loading an input whole and of replacing the output atomically, failures included.
#include "src/platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "src/driver/driver.h"
#include "tests/faulty_files.h"
#include "tests/scratch_dir.h"

#define CRLF "\r\n"
#define LF "\n"

namespace zoqc {
namespace {

using test_support::ListDir;
using TCall = test_support::TFaultyFiles::TCall;
using test_support::MakeSocket;
using test_support::ReadFile;
using test_support::WriteFile;

mode_t PermissionBits(const std::string& AName) {
  struct stat info {};
  EXPECT_EQ(0, stat(AName.c_str(), &info)) << AName;
  return info.st_mode & 07777;
}

// Sets the umask for one scope.
class TUmask {
 public:
  explicit TUmask(mode_t AMask) : Old(umask(AMask)) {}
  ~TUmask() { umask(Old); }

 private:
  mode_t Old;
};

// What a child process wrote into its pipe, and how it ended.
struct TChild {
  int ExitCode = -1;  // -1 unless it exited normally
  std::string Output;
};

// Runs ABody (int(std::string& AOutput)) in a child process: the child sends AOutput back
// through a pipe and exits with ABody's result, skipping every destructor of the test program.
template <class TBody>
TChild RunInChild(TBody ABody) {
  TChild child;
  int fds[2];
  if (pipe(fds) != 0) {
    ADD_FAILURE() << "pipe";
    return child;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::string out;
    const int code = ABody(out);
    for (std::size_t done = 0; done < out.size();) {
      const ssize_t n = write(fds[1], out.data() + done, out.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    _exit(code);
  }
  close(fds[1]);
  EXPECT_GT(pid, 0) << "fork";
  char buffer[4096];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
    child.Output.append(buffer, static_cast<std::size_t>(n));
  close(fds[0]);
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
    child.ExitCode = WEXITSTATUS(status);
  return child;
}

// Lowers this process's file size limit to ABytes; a longer write then fails with EFBIG.
void LimitFileSize(rlim_t ABytes) {
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = ABytes;
  setrlimit(RLIMIT_FSIZE, &limit);
}

// Stages a page in one piece.
bool Stage(const std::string& AName, std::string_view AData, TStagedOutput& AStaged,
           TFileSystem& AFiles = SystemFiles()) {
  TFileFailure failure;
  return StageOutputFile(AName, std::span<const std::string_view>(&AData, 1), AStaged, failure,
                         AFiles);
}

using FilesTest = test_support::TScratchDirTest;

TEST_F(FilesTest, LoadFileReadsEveryByteUnchanged) {
  std::string data("a\0b\xff\r\r\n\n\x80", 9);  // NUL, 0xFF, CR, LF, 0x80
  ASSERT_EQ(9u, data.size());
  for (int idx = 0; idx < 200000; ++idx) data.push_back(static_cast<char>(idx * 7));  // > buffer
  WriteFile(Dir + "in", data);
  TFileFailure failure;
  std::string content = "left over";
  ASSERT_TRUE(LoadFile(Dir + "in", content, failure));
  EXPECT_TRUE(content == data) << "sizes " << content.size() << " and " << data.size();

  WriteFile(Dir + "empty", "");
  ASSERT_TRUE(LoadFile(Dir + "empty", content, failure));
  EXPECT_EQ("", content);
}

TEST_F(FilesTest, LoadFileThatCannotBeOpened) {
  const std::string sock = Dir + "s.zoq";
  MakeSocket(sock);
  for (const std::string& name : {sock, Dir + "missing.zoq"}) {
    TFileFailure failure;
    std::string content;
    EXPECT_FALSE(LoadFile(name, content, failure));
    EXPECT_EQ(TFileFailureKind::Open, failure.Kind);
    EXPECT_EQ(name, failure.FileName);
  }
}

// A read that fails after the open is a read failure, with the system's reason.
TEST_F(FilesTest, LoadFileThatCannotBeRead) {
  WriteFile(Dir + "in", "text");
  test_support::TFaultyFiles files;
  files.Fail(TCall::Read, EIO);
  TFileFailure failure;
  std::string content;
  EXPECT_FALSE(LoadFile(Dir + "in", content, failure, files));
  EXPECT_EQ(TFileFailureKind::Read, failure.Kind);
  EXPECT_EQ("Input/output error", failure.Reason);
}

// Anything but a regular file is refused at once: a FIFO without a writer would block the
// open, a device would be read until memory runs out.
TEST_F(FilesTest, LoadFileReadsOnlyRegularFiles) {
  ASSERT_EQ(0, mkfifo((Dir + "fifo.zoq").c_str(), 0644));
  ASSERT_EQ(0, symlink("/dev/zero", (Dir + "zero.zoq").c_str()));
  const std::pair<std::string, std::string> cases[] = {
      {Dir + "fifo.zoq", "not a regular file but a FIFO"},
      {Dir + "zero.zoq", "not a regular file but a character device"},
      {"/dev/null", "not a regular file but a character device"},
  };
  for (const auto& [name, reason] : cases) {
    TFileFailure failure;
    std::string content;
    EXPECT_FALSE(LoadFile(name, content, failure));
    EXPECT_EQ(TFileFailureKind::Open, failure.Kind);
    EXPECT_EQ(name, failure.FileName);
    EXPECT_EQ(reason, failure.Reason);
  }
}

TEST_F(FilesTest, PiecesAreWrittenInOrderWhateverTheirSizes) {
  // Small pieces are gathered into a buffer and large ones written where they lie; a page of
  // more pieces than one writev takes, and more small bytes than the buffer holds, with large
  // pieces between, must come out whole and in order.
  std::vector<std::string> texts;
  for (int idx = 0; idx < 300000; ++idx)
    texts.push_back(idx % 1000 == 0 ? std::string(5000 + idx % 7, static_cast<char>('a' + idx % 26))
                                    : std::to_string(idx) + (idx % 3 == 0 ? "" : ","));
  std::vector<std::string_view> pieces(texts.begin(), texts.end());
  std::string whole;
  for (const std::string& text : texts) whole += text;
  TFileFailure failure;
  ASSERT_TRUE(WriteOutputFile(Dir + "page.php", pieces, failure)) << failure.Reason;
  EXPECT_TRUE(ReadFile(Dir + "page.php") == whole);
}

TEST_F(FilesTest, NewOutputGetsCreationModeLessUmask) {
  const std::pair<mode_t, mode_t> cases[] = {{022, 0644}, {077, 0600}, {0, 0666}, {027, 0640}};
  for (const auto& [mask, mode] : cases) {
    SCOPED_TRACE(mask);
    const std::string name = Dir + "new" + std::to_string(mask) + ".php";
    TFileFailure failure;
    {
      TUmask scope(mask);
      ASSERT_TRUE(WriteOutputFile(name, "page" CRLF, failure)) << failure.Reason;
    }
    EXPECT_EQ("page" CRLF, ReadFile(name));
    EXPECT_EQ(mode, PermissionBits(name));
  }
  EXPECT_EQ(4u, ListDir(Dir).size());  // no temporary file left
}

TEST_F(FilesTest, ReplacedOutputKeepsItsPermissionBits) {
  TUmask scope(077);  // would give 0600 to a new file
  for (const mode_t mode : {mode_t{0640}, mode_t{0755}, mode_t{0604}}) {
    SCOPED_TRACE(mode);
    const std::string name = Dir + "page.php";
    WriteFile(name, std::string(5000, 'o'));
    ASSERT_EQ(0, chmod(name.c_str(), mode));
    TFileFailure failure;
    ASSERT_TRUE(WriteOutputFile(name, "new", failure)) << failure.Reason;
    EXPECT_EQ("new", ReadFile(name));
    EXPECT_EQ(mode, PermissionBits(name));
    EXPECT_EQ((std::vector<std::string>{"page.php"}), ListDir(Dir));
  }
}

// Whichever call fails, and however, the old file stays and no temporary is left. A rename
// that is refused means the file cannot be replaced; any other failure is a failed write.
TEST_F(FilesTest, EveryFailedCallLeavesTheOldFileAndNoTemporary) {
  struct TCase {
    TCall Call;
    int Code;
    TFileFailureKind Kind;
  };
  const TCase cases[] = {
      {TCall::Create, EACCES, TFileFailureKind::Create},
      {TCall::Write, ENOSPC, TFileFailureKind::Write},
      {TCall::Flush, EIO, TFileFailureKind::Write},
      {TCall::Name, EDQUOT, TFileFailureKind::Write},
      {TCall::Close, EIO, TFileFailureKind::Write},
      {TCall::Rename, EIO, TFileFailureKind::Write},
      {TCall::Rename, EXDEV, TFileFailureKind::Write},
      {TCall::Rename, EPERM, TFileFailureKind::Create},   // a sticky folder, another's file
      {TCall::Rename, EACCES, TFileFailureKind::Create},  // a folder that may not be written
      {TCall::Rename, EROFS, TFileFailureKind::Create},
  };
  const std::string name = Dir + "page.php";
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.Call) + " " + std::strerror(c.Code));
    for (const bool existing : {true, false}) {
      if (existing) WriteFile(name, "old page" CRLF);
      test_support::TFaultyFiles files;
      files.Fail(c.Call, c.Code);
      TFileFailure failure;
      EXPECT_FALSE(WriteOutputFile(name, std::string(3000, 'n'), failure, files));
      EXPECT_EQ(c.Kind, failure.Kind);
      EXPECT_EQ(name, failure.FileName);
      EXPECT_EQ(std::strerror(c.Code), failure.Reason);
      if (existing) {
        EXPECT_EQ("old page" CRLF, ReadFile(name));
        EXPECT_EQ((std::vector<std::string>{"page.php"}), ListDir(Dir));
        std::filesystem::remove(name);
      } else {
        EXPECT_TRUE(ListDir(Dir).empty());  // not created
      }
    }
  }
}

TEST_F(FilesTest, OutputThatIsADirectoryCannotBeCreated) {
  const std::string name = Dir + "page.php";
  std::filesystem::create_directory(name);
  TFileFailure failure;
  EXPECT_FALSE(WriteOutputFile(name, "new", failure));
  EXPECT_EQ(TFileFailureKind::Create, failure.Kind);
  EXPECT_EQ(name, failure.FileName);
  EXPECT_EQ("not a regular file but a directory", failure.Reason);
  EXPECT_EQ((std::vector<std::string>{"page.php"}), ListDir(Dir));
  EXPECT_TRUE(std::filesystem::is_empty(name));
}

TEST_F(FilesTest, LinkedOutputReplacesTheFileAndKeepsTheLink) {
  std::filesystem::create_directory(Dir + "real");
  WriteFile(Dir + "real/target.php", "old target" CRLF);
  ASSERT_EQ(0, chmod((Dir + "real/target.php").c_str(), 0640));
  ASSERT_EQ(0, symlink("real/target.php", (Dir + "page.php").c_str()));            // relative
  ASSERT_EQ(0, symlink((Dir + "page.php").c_str(), (Dir + "chain.php").c_str()));  // to a link
  TFileFailure failure;
  ASSERT_TRUE(WriteOutputFile(Dir + "page.php", "first", failure)) << failure.Reason;
  EXPECT_TRUE(std::filesystem::is_symlink(Dir + "page.php"));
  EXPECT_EQ("real/target.php", std::filesystem::read_symlink(Dir + "page.php").string());
  EXPECT_EQ("first", ReadFile(Dir + "real/target.php"));
  EXPECT_EQ(mode_t{0640}, PermissionBits(Dir + "real/target.php"));

  ASSERT_TRUE(WriteOutputFile(Dir + "chain.php", "second", failure)) << failure.Reason;
  EXPECT_TRUE(std::filesystem::is_symlink(Dir + "chain.php"));
  EXPECT_TRUE(std::filesystem::is_symlink(Dir + "page.php"));
  EXPECT_EQ("second", ReadFile(Dir + "real/target.php"));
  EXPECT_EQ((std::vector<std::string>{"target.php"}), ListDir(Dir + "real"));
  EXPECT_EQ((std::vector<std::string>{"chain.php", "page.php", "real"}), ListDir(Dir));

  // A link to a file not yet made, in a directory that exists: the file is made there.
  ASSERT_EQ(0, symlink("real/later.php", (Dir + "later.php").c_str()));
  ASSERT_TRUE(WriteOutputFile(Dir + "later.php", "made", failure)) << failure.Reason;
  EXPECT_TRUE(std::filesystem::is_symlink(Dir + "later.php"));
  EXPECT_EQ("made", ReadFile(Dir + "real/later.php"));
}

// An output name as long as a file name may be (255 bytes) is written like any other.
TEST_F(FilesTest, LongestOutputNameCanBeWritten) {
  const std::string base = std::string(251, 'a') + ".php";
  ASSERT_EQ(255u, base.size());
  TFileFailure failure;
  ASSERT_TRUE(WriteOutputFile(Dir + base, "page", failure)) << failure.Reason;
  EXPECT_EQ("page", ReadFile(Dir + base));
  EXPECT_EQ((std::vector<std::string>{base}), ListDir(Dir));
}

// Every page whose full path the system accepts (up to 4,095 bytes) can be replaced, even with a
// name shorter than the temporary's: that name is relative to the page's directory.
TEST_F(FilesTest, LongestOutputPathsCanBeReplaced) {
  std::string dir = Dir;
  while (dir.size() < 3800) {
    dir += std::string(200, 'd') + "/";
    ASSERT_EQ(0, mkdir(dir.c_str(), 0755)) << dir.size();
  }
  for (std::size_t length = 4088; length <= 4095; ++length) {
    SCOPED_TRACE(length);
    // A directory of its own, so that its path and "/p.php" make exactly length bytes.
    const std::string last = dir + std::string(length - dir.size() - 6, 'a' + length % 8);
    ASSERT_EQ(0, mkdir(last.c_str(), 0755));
    const std::string name = last + "/p.php";
    ASSERT_EQ(length, name.size());
    TFileFailure failure;
    ASSERT_TRUE(WriteOutputFile(name, "first", failure)) << failure.Reason;
    ASSERT_TRUE(WriteOutputFile(name, "second", failure)) << failure.Reason;
    EXPECT_EQ("second", ReadFile(name));
    EXPECT_EQ((std::vector<std::string>{"p.php"}), ListDir(last));  // no temporary
  }
}

// Where an unnamed temporary file cannot be named, a named one is written instead, and it is
// gone after.
TEST_F(FilesTest, NamedTemporaryWhereUnnamedOnesCannotBeNamed) {
  const std::string name = Dir + "page.php";
  test_support::TFaultyFiles files;
  files.Fail(TCall::Name, kCannotName, "", 1);
  TFileFailure failure;
  ASSERT_TRUE(WriteOutputFile(name, "new", failure, files)) << failure.Reason;
  ASSERT_EQ(0, chmod(name.c_str(), 0604));
  files.Fail(TCall::Name, kCannotName, "", 1);
  ASSERT_TRUE(WriteOutputFile(name, "again", failure, files)) << failure.Reason;
  const std::vector<std::string> calls = files.Calls();
  EXPECT_EQ(4, std::count_if(calls.begin(), calls.end(), [](const std::string& ACall) {
              return ACall.starts_with("create ");  // twice for each page
            }));
  EXPECT_EQ("again", ReadFile(name));
  EXPECT_EQ(mode_t{0604}, PermissionBits(name));
  EXPECT_EQ((std::vector<std::string>{"page.php"}), ListDir(Dir));
}

// Outputs put in place together: each written into its temporary, then their file system
// flushed once (where it can be flushed whole; otherwise each file as it is written), then
// each renamed, then each folder flushed once. Nothing is in place before the commit.
TEST_F(FilesTest, CommittedOutputsAreFlushedOnceThenRenamed) {
  std::filesystem::create_directory(Dir + "a");
  std::filesystem::create_directory(Dir + "b");
  WriteFile(Dir + "a/2.php", "old");
  const std::string names[] = {Dir + "a/1.php", Dir + "a/2.php", Dir + "b/3.php"};
  test_support::TFaultyFiles files;
  std::vector<TStagedOutput> staged(3);
  for (std::size_t idx = 0; idx < 3; ++idx) {
    ASSERT_TRUE(Stage(names[idx], "new " + names[idx], staged[idx], files));
  }
  EXPECT_EQ("old", ReadFile(Dir + "a/2.php"));
  const std::vector<std::string> written = files.Calls();
  const std::vector<std::optional<TFileFailure>> failures = CommitOutputFiles(staged);
  for (std::size_t idx = 0; idx < 3; ++idx) {
    EXPECT_FALSE(failures[idx].has_value()) << names[idx];
    EXPECT_EQ("new " + names[idx], ReadFile(names[idx]));
  }
  EXPECT_EQ((std::vector<std::string>{"1.php", "2.php"}), ListDir(Dir + "a"));
  EXPECT_EQ((std::vector<std::string>{"3.php"}), ListDir(Dir + "b"));
  const bool whole = files.FlushesFileSystems();
  EXPECT_EQ(whole ? 0 : 3, std::count_if(written.begin(), written.end(), [](const auto& ACall) {
              return ACall.starts_with("flush ");
            }));
  const std::vector<std::string> calls = files.Calls();
  const std::vector<std::string> commit(calls.begin() + std::ssize(written), calls.end());
  std::vector<std::string> expected = {
      "rename " + names[0],       "rename " + names[1],       "rename " + names[2],
      "flush-folder " + names[0], "flush-folder " + names[2],
  };
  if (whole) expected.insert(expected.begin(), "flush-file-system " + names[0]);
  EXPECT_EQ(expected, commit);
}

// An output that cannot be put in place keeps its old file, and the others are put in place.
TEST_F(FilesTest, FailedCommitsKeepTheOldFiles) {
  struct TCase {
    TCall Call;
    int Code;
    std::string Suffix;
    std::vector<int> Failed;  // -1 for none, or the failure's kind
  };
  const int create = static_cast<int>(TFileFailureKind::Create);
  const int write = static_cast<int>(TFileFailureKind::Write);
  const TCase cases[] = {
      {TCall::Rename, EACCES, "2.php", {-1, create, -1}},
      {TCall::Rename, ENOSPC, "3.php", {-1, -1, write}},
      {TCall::FlushFolder, EINVAL, "", {-1, -1, -1}},  // a folder that cannot be flushed
      {TCall::FlushFileSystem, EIO, "", {write, write, write}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.Call) + " " + c.Suffix);
    test_support::TFaultyFiles files;
    if (c.Call == TCall::FlushFileSystem && !files.FlushesFileSystems()) continue;
    files.Fail(c.Call, c.Code, c.Suffix);
    std::vector<TStagedOutput> staged(3);
    for (int idx = 1; idx <= 3; ++idx) {
      const std::string name = Dir + std::to_string(idx) + ".php";
      WriteFile(name, "old");
      ASSERT_TRUE(Stage(name, "new", staged[idx - 1], files));
    }
    const std::vector<std::optional<TFileFailure>> failures = CommitOutputFiles(staged);
    for (int idx = 1; idx <= 3; ++idx) {
      const std::optional<TFileFailure>& failure = failures[idx - 1];
      const int kind = failure ? static_cast<int>(failure->Kind) : -1;
      EXPECT_EQ(c.Failed[idx - 1], kind) << idx;
      if (failure) {
        EXPECT_EQ(std::strerror(c.Code), failure->Reason);
      }
      EXPECT_EQ(failure ? "old" : "new", ReadFile(Dir + std::to_string(idx) + ".php"));
    }
    EXPECT_EQ((std::vector<std::string>{"1.php", "2.php", "3.php"}), ListDir(Dir));
  }
}

// A signal that ends the process while outputs wait to be put in place removes their
// temporaries, and the old files stay.
TEST_F(FilesTest, SignalRemovesStagedOutputs) {
  WriteFile(Dir + "1.php", "old");
  const pid_t pid = fork();
  if (pid == 0) {
    InstallInterruptCleanup();
    std::vector<TStagedOutput> staged(3);
    for (int idx = 1; idx <= 3; ++idx) {
      if (!Stage(Dir + std::to_string(idx) + ".php", "new", staged[idx - 1])) _exit(3);
    }
    if (ListDir(Dir).size() != 4) _exit(4);  // the old page and three named temporaries
    raise(SIGTERM);
    _exit(5);
  }
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ((std::vector<std::string>{"1.php"}), ListDir(Dir));
  EXPECT_EQ("old", ReadFile(Dir + "1.php"));
}

// Replaced by root, a page of another user keeps its owner and its set-ID bits (changing the
// owner clears them).
TEST_F(FilesTest, ReplacedOutputKeepsOwnerAndSetIdBits) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root; the unprivileged case runs in its own test";
  const std::string name = Dir + "page.php";
  WriteFile(name, "old");
  ASSERT_EQ(0, chown(name.c_str(), 65534, 65534));
  ASSERT_EQ(0, chmod(name.c_str(), 06755));
  TFileFailure failure;
  ASSERT_TRUE(WriteOutputFile(name, "new", failure)) << failure.Reason;
  struct stat info {};
  ASSERT_EQ(0, stat(name.c_str(), &info));
  EXPECT_EQ(mode_t{06755}, info.st_mode & 07777);
  EXPECT_EQ(65534u, info.st_uid);
  EXPECT_EQ(65534u, info.st_gid);
}

TEST_F(FilesTest, RealWriteFailureLeavesTheOldFile) {
  const std::string name = Dir + "page.php";
  WriteFile(name, "old page" CRLF);
  const TChild child = RunInChild([&](std::string& AOutput) {
    LimitFileSize(4096);
    TFileFailure failure;
    if (WriteOutputFile(name, std::string(65536, 'n'), failure)) return 1;
    AOutput = failure.Reason;
    return failure.Kind == TFileFailureKind::Write && failure.Reason == "File too large" ? 0 : 2;
  });
  EXPECT_EQ(0, child.ExitCode) << child.Output;
  EXPECT_EQ("old page" CRLF, ReadFile(name));
  EXPECT_EQ((std::vector<std::string>{"page.php"}), ListDir(Dir));
}

// Runs zoqc on ADir + "hello" in a child process after APrepare(), which sets its limits.
template <class TPrepare>
TChild RunZoqcInChild(const std::string& ADir, TPrepare APrepare) {
  return RunInChild([&](std::string& AOutput) {
    APrepare();
    const std::string arg = ADir + "hello";
    const char* argv[] = {"zoqc", arg.c_str()};
    std::ostringstream out;
    std::ostringstream err;
    const int code = RunCommandLine(2, argv, out, err);
    AOutput = out.str();
    return code;
  });
}

// The failure report's head line and its kind line, after the two banner lines.
void ExpectReport(const TChild& AChild, const std::string& AKindLine) {
  EXPECT_EQ(217, AChild.ExitCode);
  std::vector<std::string> lines;
  std::istringstream in(AChild.Output);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 6u) << AChild.Output;
  EXPECT_EQ(0u, lines[2].rfind("An unhandled exception occurred at $", 0)) << lines[2];
  EXPECT_EQ(AKindLine, lines[3]);
  EXPECT_EQ("", lines.back());
}

TEST_F(FilesTest, RunWithWriteFailureReportsIt) {
  WriteFile(Dir + "hello.zoq", "<?php" CRLF);
  WriteFile(Dir + "hello.zot", std::string(100000, 't'));  // loading is not limited
  WriteFile(Dir + "hello.php", "old page" CRLF);
  const TChild child = RunZoqcInChild(Dir, [] {
    LimitFileSize(8192);
    std::signal(SIGXFSZ, SIG_DFL);  // zoqc itself is to keep the signal from ending it
  });
  ExpectReport(child, "EWriteError : Stream write error");
  EXPECT_EQ("old page" CRLF, ReadFile(Dir + "hello.php"));
  EXPECT_EQ((std::vector<std::string>{"hello.php", "hello.zoq", "hello.zot"}), ListDir(Dir));
}

// A closed standard output ("zoqc page | true") is a console failure, said on standard
// error, not an end by SIGPIPE; the page is written all the same.
TEST_F(FilesTest, ClosedStandardOutputIsAConsoleFailure) {
  WriteFile(Dir + "hello.zoq", "<?php" CRLF);
  WriteFile(Dir + "hello.zot", "x");
  const TChild child = RunInChild([&](std::string& AOutput) {
    int fds[2];
    if (pipe(fds) != 0) return 3;
    close(fds[0]);  // no reader
    std::signal(SIGPIPE, SIG_DFL);
    const int err = open((Dir + "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (dup2(fds[1], STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0) return 4;
    const std::string arg = Dir + "hello";
    const char* argv[] = {"zoqc", arg.c_str()};
    const int code = RunCommandLine(2, argv, std::cout, std::cerr);
    AOutput = "exit " + std::to_string(code);
    return code;
  });
  EXPECT_EQ(217, child.ExitCode) << child.Output;  // -1 for an end by a signal
  EXPECT_EQ("zoqc: cannot write to standard output\n", ReadFile(Dir + "err"));
  EXPECT_EQ("<?php" CRLF CRLF "?>" CRLF "x", ReadFile(Dir + "hello.php"));
}

// A PIPE signal that another process sends ends zoqc as the signal does; one the system raises
// for a write to a closed pipe only fails that write.
TEST_F(FilesTest, OnlyAPipeSignalFromOutsideEndsTheProcess) {
  for (const bool outside : {false, true}) {
    SCOPED_TRACE(outside);
    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    const pid_t pid = fork();
    if (pid == 0) {
      InstallInterruptCleanup();
      int fds[2];
      if (pipe(fds) != 0) _exit(3);
      close(fds[0]);
      const bool failed = write(fds[1], "x", 1) < 0 && errno == EPIPE;
      if (write(ready[1], "r", 1) != 1) _exit(4);
      if (outside) pause();
      _exit(failed ? 0 : 5);
    }
    ASSERT_GT(pid, 0);
    close(ready[1]);
    char byte;
    ASSERT_EQ(1, read(ready[0], &byte, 1));
    close(ready[0]);
    if (outside) kill(pid, SIGPIPE);
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    if (outside) {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << status;
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
  }
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZOQC_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ZOQC_TEST_ASAN 1
#endif

TEST_F(FilesTest, RunOutOfMemoryReportsIt) {
#if defined(ZOQC_TEST_ASAN)
  GTEST_SKIP() << "an address space limit cannot be used under AddressSanitizer";
#endif
  WriteFile(Dir + "hello.zoq", "<?php" CRLF);
  const int fd = open((Dir + "hello.zot").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(0, ftruncate(fd, 300 << 20));  // sparse: takes no room on disk
  close(fd);
  WriteFile(Dir + "hello.php", "old page" CRLF);
  const TChild child = RunZoqcInChild(Dir, [] {
    // Room for what the process has mapped now, and 64 MiB more: less than the template.
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t size = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
    rlimit limit{};
    getrlimit(RLIMIT_AS, &limit);
    limit.rlim_cur = size + (rlim_t{64} << 20);
    setrlimit(RLIMIT_AS, &limit);
  });
  ExpectReport(child, "EOutOfMemory : Out of memory");
  EXPECT_EQ("old page" CRLF, ReadFile(Dir + "hello.php"));
  EXPECT_EQ((std::vector<std::string>{"hello.php", "hello.zoq", "hello.zot"}), ListDir(Dir));
}

#undef ZOQC_TEST_ASAN

}  // namespace
}  // namespace zoqc

#undef CRLF
#undef LF
