// What the driver needs from the system: the existence test, loading an input whole and
// replacing the output atomically. One implementation per platform (files_posix.cc, ...).
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace zoqc {

// A failed file operation, as the failure report prints it.
struct TFileFailure {
  std::string Kind;           // "EFOpenError", "EFCreateError", "EWriteError", ...
  std::string Message;        // e.g. "Unable to open file \"hello.zoq\""
  std::string_view Location;  // the procedure that failed
  std::string Reason;         // the system's reason ("Permission denied"); empty if none
};

// The file failures as the report names them, each platform adding the system's reason.
inline TFileFailure OpenFailure(const std::string& AFileName) {
  return {"EFOpenError", "Unable to open file \"" + AFileName + "\"", "LoadFile", ""};
}
inline TFileFailure ReadFailure() { return {"EReadError", "Stream read error", "LoadFile", ""}; }
inline TFileFailure CreateFailure(const std::string& AFileName) {
  return {"EFCreateError", "Unable to create file \"" + AFileName + "\"", "WriteOutputFile", ""};
}
inline TFileFailure WriteFailure() {
  return {"EWriteError", "Stream write error", "WriteOutputFile", ""};
}

// True when AFileName names an existing entry that is not a directory.
bool IsFileFound(const std::string& AFileName);

// Reads the whole of AFileName into AContent. Only a regular file is read: anything else (a
// FIFO, a device, a socket) fails at once with EFOpenError, without waiting and without reading.
[[nodiscard]] bool LoadFile(const std::string& AFileName, std::string& AContent,
                            TFileFailure& AFailure);

// Where WriteOutputFile is to fail on purpose, so that tests reach every failure path.
// UnnamedTemp does not fail the write: it makes the system's unnamed temporary file unavailable,
// so that the named one is used.
enum class TFailStep { None, Create, Write, Flush, Close, Rename, UnnamedTemp };

// Writes the pieces of AData, in order, into a new temporary file beside AFileName (beside the
// file a symbolic link points to), flushes it to the disk and closes it, then renames it over
// that file. Where the system allows, the temporary has no name until it is complete, so that
// not even a killed process leaves it behind. A replaced file keeps its owner (where that is
// allowed) and every permission bit; a new one gets 0666 less the umask. On any failure the
// temporary file is removed, an existing file is left as it was, and AFailure says why:
// EFCreateError when the file cannot be created or replaced, EWriteError for a later failure.
[[nodiscard]] bool WriteOutputFile(const std::string& AFileName,
                                   std::span<const std::string_view> AData, TFileFailure& AFailure,
                                   TFailStep AFailAt = TFailStep::None);
// The same for a page in one piece.
[[nodiscard]] inline bool WriteOutputFile(const std::string& AFileName, std::string_view AData,
                                          TFileFailure& AFailure,
                                          TFailStep AFailAt = TFailStep::None) {
  return WriteOutputFile(AFileName, std::span<const std::string_view>(&AData, 1), AFailure,
                         AFailAt);
}

// Prepares the process for the signals that end it: an interrupt or a request to stop (on POSIX
// INT, TERM, HUP, QUIT, and a PIPE signal sent by another process) first removes every
// temporary file that WriteOutputFile has in flight, on any thread, then ends the process as
// the signal would have. A write to a closed pipe or past the file size limit fails with an
// error instead of ending the process. Call once, before any thread starts.
void InstallInterruptCleanup();

}  // namespace zoqc
