// Loading and writing through a file system's calls, on every platform: which call failing
// means which failure, the order that keeps a replaced output whole, and batches of outputs.
#include "src/platform/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <utility>

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

// Creates, writes, names and closes a temporary file for AFileName; flushes it first when
// AFlush.
bool WriteTemporary(TFileSystem& AFiles, const std::string& AFileName,
                    std::span<const std::string_view> AData, bool AFlush,
                    std::unique_ptr<TTempFile>& ATemp, TFileFailure& AFailure) {
  const auto create_error = [&](TSystemError AError) {
    return Failed(AFailure, TFileFailureKind::Create, AFileName, std::move(AError));
  };
  const auto write_error = [&](TSystemError AError) {
    return Failed(AFailure, TFileFailureKind::Write, AFileName, std::move(AError));
  };
  TSystemError error;
  for (bool unnamed = true;; unnamed = false) {
    std::unique_ptr<TTempFile> temp;
    if (!AFiles.CreateTemporary(AFileName, unnamed, temp, error)) return create_error(error);
    if (!temp->Write(AData, error)) return write_error(error);
    if (AFlush && !temp->Flush(error)) return write_error(error);
    if (!temp->Name(error)) {
      // No way to name an unnamed file here: a named one instead.
      if (unnamed && error.Code == kCannotName) continue;
      return write_error(error);
    }
    if (!temp->Close(error)) return write_error(error);
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

bool LoadFile(const std::string& AFileName, std::string& AContent, TFileFailure& AFailure,
              TFileSystem& AFiles) {
  std::unique_ptr<TInputFile> file;
  TSystemError error;
  if (!AFiles.OpenForReading(AFileName, file, error))
    return Failed(AFailure, TFileFailureKind::Open, AFileName, std::move(error));
  if (file->Type() != TFileType::Regular)
    return Failed(AFailure, TFileFailureKind::Open, AFileName, {0, NotRegularReason(file->Type())});
  // One read of the size straight into the text; a file that shrank meanwhile gives less.
  const std::size_t size = static_cast<std::size_t>(
      std::min<std::uint64_t>(file->Size(), std::numeric_limits<std::size_t>::max() / 2));
  AContent.clear();
  AContent.resize(size);
  std::size_t done = 0;
  while (done < size) {
    std::size_t n = 0;
    if (!file->Read(AContent.data() + done, size - done, n, error))
      return Failed(AFailure, TFileFailureKind::Read, AFileName, std::move(error));
    if (n == 0) break;
    done += n;
  }
  AContent.resize(done);
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
    if (!name.starts_with(prefix) || digits.empty() || digits.size() > 16 ||
        digits.find_first_not_of("0123456789abcdef") != std::string_view::npos)
      continue;
    std::error_code stat_ec;
    if (!it->is_regular_file(stat_ec) || it->last_write_time(stat_ec) >= before || stat_ec)
      continue;
    removed += fs::remove(it->path(), stat_ec) ? 1 : 0;
  }
  return removed;
}

}  // namespace zoqc
