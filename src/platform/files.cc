// Loading and writing through a file system's calls, on every platform: which call failing
// means which failure, the order that keeps a replaced output whole, and batches of outputs.
#include "src/platform/files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <new>
#include <utility>

#include "src/platform/memory.h"

namespace zoqc {

namespace {

bool IsNoSpace(int ACode) {
#ifdef EDQUOT
  if (ACode == EDQUOT) return true;
#endif
  return ACode == ENOSPC;
}

bool Failed(TFileFailure& AFailure, TFileFailureKind AKind, const std::string& AFileName,
            TSystemError AError) {
  AFailure = {AKind, AFileName, std::move(AError.Reason), IsNoSpace(AError.Code)};
  return false;
}

// Set once an unnamed temporary could not be named: later streams are named from the start.
std::atomic<bool> CannotNameUnnamed{false};

// Writes AData after what ATemp holds, flushes it when AFlush, names and closes it.
bool FinishTemporary(TTempFile& ATemp, std::span<const std::string_view> AData, bool AFlush,
                     TSystemError& AError) {
  return ATemp.Write(AData, AError) && (!AFlush || ATemp.Flush(AError)) && ATemp.Name(AError) &&
         ATemp.Close(AError);
}

// Creates, writes, names and closes a temporary file for AFileName; flushes it first when
// AFlush.
bool WriteTemporary(TFileSystem& AFiles, const std::string& AFileName,
                    std::span<const std::string_view> AData, bool AFlush,
                    std::unique_ptr<TTempFile>& ATemp, TFileFailure& AFailure) {
  TSystemError error;
  for (bool unnamed = true;; unnamed = false) {
    std::unique_ptr<TTempFile> temp;
    if (!AFiles.CreateTemporary(AFileName, unnamed, temp, error))
      return Failed(AFailure, TFileFailureKind::Create, AFileName, std::move(error));
    if (!FinishTemporary(*temp, AData, AFlush, error)) {
      // No way to name an unnamed file here: a named one instead.
      if (unnamed && error.Code == kCannotName) continue;
      return Failed(AFailure, TFileFailureKind::Write, AFileName, std::move(error));
    }
    ATemp = std::move(temp);
    return true;
  }
}

// Renames the temporary of AFileName over it. A refused rename, as in a sticky folder for a
// file of another user, means the output cannot be replaced; writing it in place instead would
// give up its atomic replacement.
bool RenameTemporary(TTempFile& ATemp, const std::string& AFileName, TFileFailure& AFailure) {
  TSystemError error;
  if (ATemp.Rename(error)) return true;
  const TFileFailureKind kind =
      IsRefusal(error.Code) ? TFileFailureKind::Create : TFileFailureKind::Write;
  return Failed(AFailure, kind, AFileName, std::move(error));
}

std::size_t SizeOf(std::span<const std::string_view> AData) {
  std::size_t size = 0;
  for (const std::string_view piece : AData) size += piece.size();
  return size;
}

}  // namespace

bool TFileSystem::MakeFolders(const std::string& AFolder, TSystemError& AError) {
  std::error_code ec;
  std::filesystem::create_directories(AFolder, ec);
  if (ec) AError = SystemError(ec.value());
  return !ec;
}

bool TFileSystem::RemoveOutput(const std::string& AName, TSystemError& AError) {
  std::error_code ec;
  if (std::filesystem::remove(AName, ec)) return true;
  AError = ec ? SystemError(ec.value()) : TSystemError{};
  return false;
}

std::string NotRegularReason(TFileType AType) {
  switch (AType) {
    case TFileType::Directory:
      return "not a regular file but a directory";
    case TFileType::Fifo:
      return "not a regular file but a FIFO";
    case TFileType::CharacterDevice:
      return "not a regular file but a character device";
    case TFileType::BlockDevice:
      return "not a regular file but a block device";
    case TFileType::Socket:
      return "not a regular file but a socket";
    case TFileType::Regular:
    case TFileType::Other:
      break;
  }
  return "not a regular file";
}

namespace {

// Opens AFileName for loading: a regular file, and its size as far as memory can hold it.
bool OpenInput(const std::string& AFileName, std::unique_ptr<TInputFile>& AFile, std::size_t& ASize,
               TFileFailure& AFailure, TFileSystem& AFiles) {
  TSystemError error;
  if (!AFiles.OpenForReading(AFileName, AFile, error))
    return Failed(AFailure, TFileFailureKind::Open, AFileName, std::move(error));
  if (AFile->Type() != TFileType::Regular)
    return Failed(AFailure, TFileFailureKind::Open, AFileName,
                  {0, NotRegularReason(AFile->Type())});
  ASize = static_cast<std::size_t>(
      std::min<std::uint64_t>(AFile->Size(), std::numeric_limits<std::size_t>::max() / 2));
  return true;
}

// Reads at most ASize bytes of AFile into AData, as many as it has; ADone says how many.
bool ReadInput(TInputFile& AFile, const std::string& AFileName, char* AData, std::size_t ASize,
               std::size_t& ADone, TFileFailure& AFailure) {
  ADone = 0;
  while (ADone < ASize) {
    std::size_t n = 0;
    TSystemError error;
    if (!AFile.Read(AData + ADone, ASize - ADone, n, error))
      return Failed(AFailure, TFileFailureKind::Read, AFileName, std::move(error));
    if (n == 0) break;
    ADone += n;
  }
  return true;
}

// A loaded input in a large block.
struct TLargeInput {
  TLargeBlock Block;
  std::size_t Size = 0;
};

}  // namespace

bool LoadFile(const std::string& AFileName, std::string& AContent, TFileFailure& AFailure,
              TFileSystem& AFiles) {
  std::unique_ptr<TInputFile> file;
  std::size_t size = 0;
  if (!OpenInput(AFileName, file, size, AFailure, AFiles)) return false;
  // One read of the size straight into the text; a file that shrank meanwhile gives less.
  AContent.clear();
  AContent.resize(size);
  std::size_t done = 0;
  if (!ReadInput(*file, AFileName, AContent.data(), size, done, AFailure)) return false;
  AContent.resize(done);
  return true;
}

bool LoadFile(const std::string& AFileName, TLoadedFile& AContent, TFileFailure& AFailure,
              TFileSystem& AFiles) {
  std::unique_ptr<TInputFile> file;
  std::size_t size = 0;
  if (!OpenInput(AFileName, file, size, AFailure, AFiles)) return false;
  if (size < kLargeInput) {
    auto text = std::make_shared<std::string>(size, '\0');
    std::size_t done = 0;
    if (!ReadInput(*file, AFileName, text->data(), size, done, AFailure)) return false;
    text->resize(done);
    AContent = {*text, text};
    return true;
  }
  auto input = std::make_shared<TLargeInput>();
  if (!input->Block.Allocate(size)) throw std::bad_alloc();
  if (!ReadInput(*file, AFileName, input->Block.Data(), size, input->Size, AFailure)) return false;
  AContent = {std::string_view(input->Block.Data(), input->Size), input};
  return true;
}

bool WriteOutputFile(const std::string& AFileName, std::span<const std::string_view> AData,
                     TFileFailure& AFailure, TFileSystem& AFiles) {
  std::unique_ptr<TTempFile> temp;
  if (!WriteTemporary(AFiles, AFileName, AData, true, temp, AFailure)) return false;
  if (!RenameTemporary(*temp, AFileName, AFailure)) return false;
  TSystemError error;
  // The rename itself reaches the disk; fails harmlessly where folders cannot be flushed.
  [[maybe_unused]] const bool flushed = temp->FlushFolder(error);
  return true;
}

bool StageOutputFile(const std::string& AFileName, std::span<const std::string_view> AData,
                     TStagedOutput& AStaged, TFileFailure& AFailure, TFileSystem& AFiles) {
  const bool flush = !AFiles.FlushesFileSystems();
  std::unique_ptr<TTempFile> temp;
  if (!WriteTemporary(AFiles, AFileName, AData, flush, temp, AFailure)) return false;
  AStaged = {AFileName, SizeOf(AData), flush, std::move(temp)};
  return true;
}

TOutputStream::TOutputStream(std::string AFileName, TFileSystem& AFiles)
    : FileName(std::move(AFileName)),
      Files(AFiles),
      Buffer(std::make_unique_for_overwrite<char[]>(kBufferSize)) {}

void TOutputStream::MakeRoom(std::size_t ACount) {
  if (Failure || kBufferSize - Used >= ACount) return;
  if (Drain({Buffer.get(), Used})) Used = 0;
}

void TOutputStream::Spill(std::string_view AData) {
  if (Failure) return;
  // Full buffers go out whole; a piece larger than the buffer goes out from where it lies.
  const std::size_t room = kBufferSize - Used;
  std::memcpy(Buffer.get() + Used, AData.data(), room);
  AData.remove_prefix(room);
  Used = kBufferSize;
  if (!Drain({Buffer.get(), Used})) return;
  Used = 0;
  if (AData.size() >= kBufferSize) {
    Drain(AData);
    return;
  }
  std::memcpy(Buffer.get(), AData.data(), AData.size());
  Used = AData.size();
}

bool TOutputStream::Drain(std::string_view AData) {
  TSystemError error;
  if (!Temp && !Files.CreateTemporary(FileName, !CannotNameUnnamed, Temp, error)) {
    Failure = TFileFailure{TFileFailureKind::Create, FileName, std::move(error.Reason),
                           IsNoSpace(error.Code)};
    return false;
  }
  if (!Temp->Append(AData, error)) {
    Failure = TFileFailure{TFileFailureKind::Write, FileName, std::move(error.Reason),
                           IsNoSpace(error.Code)};
    return false;
  }
  Written += AData.size();
  return true;
}

bool TOutputStream::Complete(bool AFlush, bool& ARetry) {
  ARetry = false;
  if (Failure) return false;
  TSystemError error;
  if (!Temp && !Files.CreateTemporary(FileName, !CannotNameUnnamed, Temp, error)) {
    Failure = TFileFailure{TFileFailureKind::Create, FileName, std::move(error.Reason),
                           IsNoSpace(error.Code)};
    return false;
  }
  const std::string_view rest(Buffer.get(), Used);
  if (!FinishTemporary(*Temp, std::span<const std::string_view>(&rest, 1), AFlush, error)) {
    if (error.Code == kCannotName) ARetry = CannotNameUnnamed = true;
    Failure = TFileFailure{TFileFailureKind::Write, FileName, std::move(error.Reason),
                           IsNoSpace(error.Code)};
    Temp.reset();
    return false;
  }
  Written += Used;
  Used = 0;
  return true;
}

bool TOutputStream::Commit(TFileFailure& AFailure, bool& ARetry) {
  if (Complete(true, ARetry)) {
    TFileFailure failure;
    if (RenameTemporary(*Temp, FileName, failure)) {
      TSystemError error;
      [[maybe_unused]] const bool flushed = Temp->FlushFolder(error);  // as in WriteOutputFile
      Temp.reset();
      return true;
    }
    Failure = std::move(failure);
  }
  AFailure = *Failure;
  Temp.reset();
  return false;
}

bool TOutputStream::Stage(TStagedOutput& AStaged, TFileFailure& AFailure, bool& ARetry) {
  const bool flush = !Files.FlushesFileSystems();
  if (!Complete(flush, ARetry)) {
    AFailure = *Failure;
    return false;
  }
  AStaged = {FileName, static_cast<std::size_t>(Written), flush, std::move(Temp)};
  return true;
}

std::vector<std::optional<TFileFailure>> CommitOutputFiles(std::span<TStagedOutput> AOutputs) {
  std::vector<std::optional<TFileFailure>> failures(AOutputs.size());
  const auto fail = [&](std::size_t AIndex, TFileFailureKind AKind, TSystemError AError) {
    TStagedOutput& output = AOutputs[AIndex];
    failures[AIndex] = TFileFailure{AKind, output.FileName, std::move(AError.Reason)};
    output.Temp.reset();  // removed; the old file stays
  };
  // The data first: each file system once, and an output whose flush failed is not renamed.
  struct TFlushed {
    std::uint64_t Id;    // the file system
    bool Failed;         // and how its flush went
    TSystemError Error;  // why it failed
  };
  std::vector<TFlushed> systems;
  for (std::size_t idx = 0; idx < AOutputs.size(); ++idx) {
    TStagedOutput& output = AOutputs[idx];
    if (!output.Temp || output.Flushed) continue;
    const std::uint64_t id = output.Temp->FileSystemId();
    auto system = std::find_if(systems.begin(), systems.end(),
                               [&](const TFlushed& AFlushed) { return AFlushed.Id == id; });
    if (system == systems.end()) {
      TSystemError error;
      const bool flushed = output.Temp->FlushFileSystem(error);
      system = systems.insert(systems.end(), {id, !flushed, std::move(error)});
    }
    if (system->Failed) fail(idx, TFileFailureKind::Write, system->Error);
  }
  // Then the renames, and each folder's entries once all its renames are done.
  std::vector<std::size_t> renamed;
  for (std::size_t idx = 0; idx < AOutputs.size(); ++idx) {
    TStagedOutput& output = AOutputs[idx];
    TFileFailure failure;
    if (!output.Temp) continue;
    if (RenameTemporary(*output.Temp, output.FileName, failure)) {
      renamed.push_back(idx);
    } else {
      failures[idx] = std::move(failure);
      output.Temp.reset();
    }
  }
  std::vector<const std::string*> folders;
  for (const std::size_t idx : renamed) {
    TTempFile& temp = *AOutputs[idx].Temp;
    if (std::any_of(folders.begin(), folders.end(),
                    [&](const std::string* AFolder) { return *AFolder == temp.Folder(); }))
      continue;
    folders.push_back(&temp.Folder());
    TSystemError error;
    [[maybe_unused]] const bool flushed = temp.FlushFolder(error);  // as in WriteOutputFile
  }
  for (const std::size_t idx : renamed) AOutputs[idx].Temp.reset();
  return failures;
}

std::size_t RemoveStaleTemporaries(const std::string& AFolder) {
  namespace fs = std::filesystem;
  constexpr std::string_view prefix = ".zoqc-";
  std::error_code ec;
  const auto before = fs::file_time_type::clock::now() - kStaleTemporaryAge;
  std::size_t removed = 0;
  for (fs::directory_iterator it(AFolder.empty() ? "." : AFolder, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const std::string_view digits =
        std::string_view(name).substr(std::min(name.size(), prefix.size()));
    if (!name.starts_with(prefix) || digits.empty() || digits.size() > 25 ||
        digits.find_first_not_of("0123456789abcdef-") != std::string_view::npos ||
        std::count(digits.begin(), digits.end(), '-') > 1)
      continue;
    std::error_code stat_ec;
    if (!it->is_regular_file(stat_ec) || stat_ec) continue;
    if (!IsTemporaryOfEndedRun(name) && (it->last_write_time(stat_ec) >= before || stat_ec))
      continue;
    removed += fs::remove(it->path(), stat_ec) ? 1 : 0;
  }
  return removed;
}

}  // namespace zoqc
