// What the driver needs from the file system: the existence test, loading an input whole and
// replacing an output atomically.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "src/platform/files_interface.h"

namespace zoqc {

// What failed; the driver turns it into the failure report's kind and message.
enum class TFileFailureKind { Open, Read, Create, Write, OutOfMemory };

struct TFileFailure {
  TFileFailureKind Kind = TFileFailureKind::Open;
  std::string FileName;  // the file it concerns, as named
  std::string Reason;    // the system's reason ("Permission denied"); empty if none
};

// True when AFileName names an existing entry that is not a directory.
bool IsFileFound(const std::string& AFileName);

// Reads the whole of AFileName into AContent. Only a regular file is read: anything else (a
// FIFO, a device, a socket) fails at once with an Open failure, without waiting and without
// reading. A file that shrinks while it is read gives what it still has.
[[nodiscard]] bool LoadFile(const std::string& AFileName, std::string& AContent,
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

// Prepares the process for the signals that end it: an interrupt or a request to stop (on POSIX
// INT, TERM, HUP, QUIT, and a PIPE signal sent by another process) first removes every
// temporary file in flight, on any thread, then ends the process as the signal would
// have. A write to a closed pipe or past the file size limit fails with an error instead of
// ending the process. Call once, before any thread starts.
void InstallInterruptCleanup();

}  // namespace zoqc
