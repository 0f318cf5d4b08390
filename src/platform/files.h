// What the driver needs from the file system: the existence test, loading an input whole,
// replacing an output atomically, and putting many outputs in place durably at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "src/platform/files_interface.h"

namespace zoqc {

// What failed; the driver turns it into the failure report's kind and message.
enum class TFileFailureKind { Open, Read, Create, Write, OutOfMemory };

struct TFileFailure {
  TFileFailureKind Kind = TFileFailureKind::Open;
  std::string FileName;  // the file it concerns, as named
  std::string Reason;    // the system's reason ("Permission denied"); empty if none
  bool NoSpace = false;  // the file system is full, or the quota spent
};

// True when AFileName names an existing entry that is not a directory.
bool IsFileFound(const std::string& AFileName);

// Reads the whole of AFileName into AContent. Only a regular file is read: anything else (a
// FIFO, a device, a socket) fails at once with an Open failure, without waiting and without
// reading. A file that shrinks while it is read gives what it still has.
[[nodiscard]] bool LoadFile(const std::string& AFileName, std::string& AContent,
                            TFileFailure& AFailure, TFileSystem& AFiles = SystemFiles());

// An input as loaded: its bytes, and what holds them.
struct TLoadedFile {
  std::string_view Text;
  std::shared_ptr<const void> Owner;
};

// From this size on an input is loaded into memory of its own (TLargeBlock), a huge page even
// when it fills an eighth of one: clearing a huge page costs about what faulting in 256 KiB of
// small pages does, and a 1 MB template reads into one in 156 us against 255 us in small ones.
inline constexpr std::uint64_t kLargeInput = std::uint64_t{256} << 10;

// Loads AFileName as the other LoadFile does (a file that grows meanwhile gives its bytes as
// they were when it was opened), a file of kLargeInput bytes or more into a TLargeBlock,
// which fills with few page faults. Read, not mapped: a file that another process cuts short
// meanwhile gives what it still has, never a fault.
[[nodiscard]] bool LoadFile(const std::string& AFileName, TLoadedFile& AContent,
                            TFileFailure& AFailure, TFileSystem& AFiles = SystemFiles());

// Writes the pieces of AData, in order, into a new temporary file beside AFileName (beside the
// file a symbolic link points to), flushes it to the disk and closes it, renames it over that
// file, and flushes the folder. Where the system allows, the temporary has no name until it is
// complete, so that not even a killed process leaves it behind. A replaced file keeps its
// owner (where that is allowed) and every permission bit; a new one gets 0666 less the umask.
// On any failure the temporary file is removed, an existing file is left as it was, and
// AFailure says why: Create when the file cannot be created or replaced, Write for a later
// failure.
[[nodiscard]] bool WriteOutputFile(const std::string& AFileName,
                                   std::span<const std::string_view> AData, TFileFailure& AFailure,
                                   TFileSystem& AFiles = SystemFiles());
// The same for a page in one piece.
[[nodiscard]] inline bool WriteOutputFile(const std::string& AFileName, std::string_view AData,
                                          TFileFailure& AFailure,
                                          TFileSystem& AFiles = SystemFiles()) {
  return WriteOutputFile(AFileName, std::span<const std::string_view>(&AData, 1), AFailure, AFiles);
}

// An output written into its temporary file, named and closed, and not yet in place.
// Destroying it removes the temporary.
struct TStagedOutput {
  std::string FileName;             // the output
  std::size_t Bytes = 0;            // written
  bool Flushed = false;             // its data is on the disk already
  std::unique_ptr<TTempFile> Temp;  // null once committed or failed
};

// The first half of WriteOutputFile, for many outputs at once: writes AData into a temporary
// file beside AFileName and closes it, flushing it only where the file system cannot be
// flushed whole. Failures as for WriteOutputFile. May run on several threads at once.
[[nodiscard]] bool StageOutputFile(const std::string& AFileName,
                                   std::span<const std::string_view> AData, TStagedOutput& AStaged,
                                   TFileFailure& AFailure, TFileSystem& AFiles = SystemFiles());

// An output written as it is made. The bytes given to Append gather in a buffer of
// kBufferSize bytes, which is written into the output's temporary file (created, unnamed where
// the system allows, when the buffer first fills) each time it is full. Commit or Stage then
// finishes the temporary as WriteOutputFile or StageOutputFile does; until then the output is
// untouched, and destroying the stream removes the temporary. The first failure is kept, and
// what is appended after it is dropped.
class TOutputStream {
 public:
  static constexpr std::size_t kBufferSize = 64 * 1024;

  explicit TOutputStream(std::string AFileName, TFileSystem& AFiles = SystemFiles());

  void Append(std::string_view AData) {
    if (AData.size() <= kBufferSize - Used) {
      if (!AData.empty()) std::memcpy(Buffer.get() + Used, AData.data(), AData.size());
      Used += AData.size();
      return;
    }
    Spill(AData);
  }
  std::uint64_t Size() const { return Written + Used; }  // appended so far
  // The buffer's room, to append to in place; Advance(n) then takes the first n bytes written
  // there. Empty once the buffer is full or after a failure: Append then makes room.
  std::span<char> Room() {
    if (Failure) return {};
    return {Buffer.get() + Used, kBufferSize - Used};
  }
  // Writes out what the buffer holds when less than ACount bytes of room are left.
  void MakeRoom(std::size_t ACount);
  void Advance(std::size_t AByteCount) { Used += AByteCount; }

  // Puts the output in place as WriteOutputFile does, with its failures. ARetry is set when
  // this system could not name the unnamed temporary: the data is then to be written again
  // with WriteOutputFile, which writes a named one (as every later stream does).
  [[nodiscard]] bool Commit(TFileFailure& AFailure, bool& ARetry);
  // The same as StageOutputFile.
  [[nodiscard]] bool Stage(TStagedOutput& AStaged, TFileFailure& AFailure, bool& ARetry);

 private:
  void Spill(std::string_view AData);        // Append of more than the buffer's room
  bool Drain(std::string_view AData);        // writes AData into the temporary, made if need be
  bool Complete(bool AFlush, bool& ARetry);  // the rest of the buffer, then Flush, Name, Close

  std::string FileName;
  TFileSystem& Files;
  std::unique_ptr<char[]> Buffer;  // kBufferSize bytes; the first Used are not written yet
  std::size_t Used = 0;
  std::uint64_t Written = 0;            // bytes in the temporary
  std::unique_ptr<TTempFile> Temp;      // null until the first write
  std::optional<TFileFailure> Failure;  // the first failure
};

// Puts the staged outputs in place together: their data to the disk (one flush for each file
// system), then each renamed over its output, then each folder flushed once. After a crash
// every output is the old file or the new one. Yields, for each output in order, its failure
// or nothing; a failed output's temporary is removed and the old file left as it was.
std::vector<std::optional<TFileFailure>> CommitOutputFiles(std::span<TStagedOutput> AOutputs);

// Temporary files zoqc left in a folder (killed with SIGKILL, a power loss) are removed by the
// next run that writes there: at once when the name says that its writer, a process of this
// machine, has ended; otherwise once they are older than any run keeps one.
inline constexpr std::chrono::hours kStaleTemporaryAge{1};
// True when AName is a temporary's name that names its writer, a process of this machine and
// of this start of it, and no such process runs any more. Never true for a run that lives.
bool IsTemporaryOfEndedRun(std::string_view AName);
// Removes, from the folder AFolder, zoqc's hidden temporary files (".zoqc-" and hexadecimal
// digits, with one "-" among them) of ended runs, and those last written more than
// kStaleTemporaryAge ago; yields how many it removed.
std::size_t RemoveStaleTemporaries(const std::string& AFolder);

// Prepares the process for the signals that end it: an interrupt or a request to stop (on POSIX
// INT, TERM, HUP, QUIT, and a PIPE signal sent by another process) first removes every
// temporary file in flight or staged, on any thread, then ends the process as the signal would
// have. A write to a closed pipe or past the file size limit fails with an error instead of
// ending the process. Call once, before any thread starts.
void InstallInterruptCleanup();

}  // namespace zoqc
