// Tests of loading inputs into memory of their own and of streaming an output into its temporary.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "src/platform/files.h"
#include "src/platform/memory.h"
#include "tests/faulty_files.h"
#include "tests/scratch_dir.h"

namespace zoqc {
namespace {

using test_support::ListDir;
using test_support::ReadFile;
using test_support::WriteFile;
using TCall = test_support::TFaultyFiles::TCall;
constexpr std::size_t kBuffer = TOutputStream::kBufferSize;

// ASize bytes that differ from their neighbours.
std::string Bytes(std::size_t ASize) {
  std::string text(ASize, '\0');
  for (std::size_t idx = 0; idx < ASize; ++idx) text[idx] = static_cast<char>(idx * 7 % 251);
  return text;
}

// The system's files, but an input is changed by Change once it is open and before it is read,
// as another process might.
class TChangingFiles : public TFileSystem {
 public:
  explicit TChangingFiles(std::function<void()> AChange) : Change(std::move(AChange)) {}
  bool OpenForReading(const std::string& AName, std::unique_ptr<TInputFile>& AFile,
                      TSystemError& AError) override {
    if (!SystemFiles().OpenForReading(AName, AFile, AError)) return false;
    Change();
    return true;
  }
  bool CreateTemporary(const std::string& AOutput, bool AUnnamed, std::unique_ptr<TTempFile>& ATemp,
                       TSystemError& AError) override {
    return SystemFiles().CreateTemporary(AOutput, AUnnamed, ATemp, AError);
  }
  bool FlushesFileSystems() const override { return SystemFiles().FlushesFileSystems(); }

 private:
  std::function<void()> Change;
};

class LoadingTest : public test_support::TScratchDirTest {};

// Small and large inputs alike: every byte; a file cut short while read gives what it still
// has (no fault), one that grows gives its bytes as they were when it was opened.
TEST_F(LoadingTest, InputsThatChangeWhileRead) {
  const std::string name = Dir + "in";
  for (const std::size_t size :
       {std::size_t{1000}, std::size_t{kLargeInput}, std::size_t{kLargeInput} + 4097}) {
    const std::string bytes = Bytes(size);
    struct TCase {
      const char* What;
      std::function<void()> Change;
      std::string Expected;
    };
    const TCase cases[] = {
        {"unchanged", [] {}, bytes},
        {"cut to a third", [&] { ASSERT_EQ(0, truncate(name.c_str(), size / 3)); },
         bytes.substr(0, size / 3)},
        {"grown", [&] { WriteFile(name, bytes + "more"); }, bytes},
    };
    for (const TCase& c : cases) {
      SCOPED_TRACE(std::to_string(size) + " " + c.What);
      WriteFile(name, bytes);
      TChangingFiles files(c.Change);
      TLoadedFile loaded;
      TFileFailure failure;
      ASSERT_TRUE(LoadFile(name, loaded, failure, files)) << failure.Reason;
      EXPECT_TRUE(loaded.Text == c.Expected);
    }
  }
}

// A large block starts on a huge page's boundary (where the system has anonymous mappings).
TEST(TLargeBlock, IsAlignedAndWritableToItsEnd) {
  TLargeBlock block;
  ASSERT_TRUE(block.Allocate(3 * TLargeBlock::kHugePage + 1));
  ASSERT_GE(block.Size(), 3 * TLargeBlock::kHugePage + 1);
  EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(block.Data()) % TLargeBlock::kHugePage);
  block.Data()[0] = 'a';
  block.Data()[block.Size() - 1] = 'z';
  TLargeBlock moved = std::move(block);
  EXPECT_EQ('z', moved.Data()[moved.Size() - 1]);
  EXPECT_EQ(nullptr, block.Data());  // NOLINT: a moved-from block holds nothing
}

class OutputStreamTest : public test_support::TScratchDirTest {
 protected:
  // Streams ASize bytes to page.php in pieces of the sizes in turn; yields what it appended.
  std::string Stream(TOutputStream& AStream, std::size_t ASize) {
    const std::string bytes = Bytes(ASize);
    const std::size_t sizes[] = {1, 700, kBuffer, 3 * kBuffer / 2, 0};
    for (std::size_t at = 0, turn = 0; at < ASize; ++turn) {
      const std::size_t n = std::min(sizes[turn % 5], ASize - at);
      AStream.Append(std::string_view(bytes).substr(at, n));
      at += n;
    }
    return bytes;
  }
};

// Around the buffer's size and past it: the page byte for byte, the old page untouched until
// the commit.
TEST_F(OutputStreamTest, PagesAroundTheBufferSize) {
  const std::string name = Dir + "page.php";
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, kBuffer - 1, kBuffer, kBuffer + 1,
                                 2 * kBuffer, 5 * kBuffer + 3}) {
    SCOPED_TRACE(size);
    WriteFile(name, "old");
    TOutputStream stream(name);
    const std::string bytes = Stream(stream, size);
    EXPECT_EQ(size, stream.Size());
    EXPECT_EQ("old", ReadFile(name));
    TFileFailure failure;
    bool retry = true;
    ASSERT_TRUE(stream.Commit(failure, retry)) << failure.Reason;
    EXPECT_FALSE(retry);
    EXPECT_TRUE(ReadFile(name) == bytes);
    EXPECT_EQ((std::vector<std::string>{"page.php"}), ListDir(Dir));
  }
}

// A failure on the way (the first write, a write halfway, the file's creation) or a stream
// dropped without its commit leaves the old page and no temporary.
TEST_F(OutputStreamTest, FailuresAndDroppedStreamsKeepTheOldPage) {
  const std::string name = Dir + "page.php";
  struct TCase {
    TCall Call;
    int After;  // calls that succeed first
    TFileFailureKind Kind;
    const char* Reason;
  };
  const TCase cases[] = {
      {TCall::Write, 0, TFileFailureKind::Write, "No space left on device"},
      {TCall::Write, 2, TFileFailureKind::Write, "No space left on device"},
      {TCall::Create, 0, TFileFailureKind::Create, "No space left on device"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.After);
    WriteFile(name, "old");
    test_support::TFaultyFiles files;
    files.Fail(c.Call, ENOSPC, "", -1, c.After);
    TOutputStream stream(name, files);
    Stream(stream, 7 * kBuffer);
    TFileFailure failure;
    bool retry = true;
    EXPECT_FALSE(stream.Commit(failure, retry));
    EXPECT_FALSE(retry);
    EXPECT_EQ(c.Kind, failure.Kind);
    EXPECT_EQ(c.Reason, failure.Reason);
    EXPECT_EQ("old", ReadFile(name));
    EXPECT_EQ((std::vector<std::string>{"page.php"}), ListDir(Dir));
  }
  {
    TOutputStream dropped(name);
    Stream(dropped, 3 * kBuffer);
  }
  EXPECT_EQ("old", ReadFile(name));
  EXPECT_EQ((std::vector<std::string>{"page.php"}), ListDir(Dir));
}

// Where an unnamed temporary cannot be named, the stream asks for the page again, and later
// streams write a named temporary from the start.
TEST_F(OutputStreamTest, UnnamedTemporaryThatCannotBeNamed) {
  const std::string name = Dir + "page.php";
  test_support::TFaultyFiles files;
  files.Fail(TCall::Name, kCannotName, "", 1);
  TOutputStream first(name, files);
  Stream(first, 2 * kBuffer);
  TFileFailure failure;
  bool retry = false;
  EXPECT_FALSE(first.Commit(failure, retry));
  EXPECT_TRUE(retry);
  TOutputStream second(name, files);
  const std::string bytes = Stream(second, 2 * kBuffer);
  ASSERT_TRUE(second.Commit(failure, retry)) << failure.Reason;
  EXPECT_TRUE(ReadFile(name) == bytes);
  EXPECT_EQ((std::vector<std::string>{"page.php"}), ListDir(Dir));
}

// A staged stream is put in place by CommitOutputFiles, as a staged output is.
TEST_F(OutputStreamTest, StagedStreamIsPutInPlaceByTheCommit) {
  const std::string name = Dir + "page.php";
  std::vector<TStagedOutput> staged(1);
  TOutputStream stream(name);
  const std::string bytes = Stream(stream, kBuffer + 10);
  TFileFailure failure;
  bool retry = false;
  ASSERT_TRUE(stream.Stage(staged[0], failure, retry)) << failure.Reason;
  EXPECT_EQ(bytes.size(), staged[0].Bytes);
  EXPECT_FALSE(std::filesystem::exists(name));
  EXPECT_FALSE(CommitOutputFiles(staged)[0].has_value());
  EXPECT_TRUE(ReadFile(name) == bytes);
}

}  // namespace
}  // namespace zoqc
