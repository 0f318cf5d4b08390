// The calls that loading an input and writing an output make to the file system, behind one
// interface: a run uses the system's own (SystemFiles()), and a test stands in for it to fail
// any call, as a full disk, a failing device or a refusing folder would. One implementation
// per platform (files_posix.cc, files_windows.cc); what is done with the calls is in files.cc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace zoqc {

// A call that failed: the system's error code (errno; on Windows the last error) and its text,
// or code 0 and a reason of zoqc's own where no call failed (an output that is a directory).
struct TSystemError {
  int Code = 0;
  std::string Reason;  // empty if none
};

// The system's error ACode with the system's text for it.
TSystemError SystemError(int ACode);

// True when a rename that failed with ACode was refused, so that the output cannot be replaced
// at all (on POSIX EPERM, EACCES or EROFS), rather than failing on the way.
bool IsRefusal(int ACode);

// The code TTempFile::Name fails with when the system cannot give an unnamed file a name here,
// so that a named temporary file is to be written instead.
inline constexpr int kCannotName = -1;

enum class TFileType { Regular, Directory, Fifo, CharacterDevice, BlockDevice, Socket, Other };

// Why a file of type AType is neither read nor replaced: "not a regular file but a FIFO".
std::string NotRegularReason(TFileType AType);

// An input open for reading; closed with this object.
class TInputFile {
 public:
  virtual ~TInputFile() = default;
  virtual TFileType Type() const = 0;
  virtual std::uint64_t Size() const = 0;  // when it was opened
  // Reads at most ASize bytes into AData; ARead is 0 at the end of the file.
  [[nodiscard]] virtual bool Read(char* AData, std::size_t ASize, std::size_t& ARead,
                                  TSystemError& AError) = 0;
};

/* A temporary file beside an output, from its creation to its rename over the output. The
   steps run in this order, each at most once but Append: any number of Append; Write; Flush
   (or later FlushFileSystem); Name; Close; Rename; FlushFolder. Destroying the object closes
   the file and removes it unless Rename put it in place. While it has a name, a signal that
   ends the process removes it. */
class TTempFile {
 public:
  virtual ~TTempFile() = default;
  // Writes AData whole at the file's end.
  [[nodiscard]] virtual bool Append(std::string_view AData, TSystemError& AError) = 0;
  // Writes the pieces of AData in order after what Append wrote, then gives the file the
  // replaced output's owner (where that is allowed) and permission bits.
  [[nodiscard]] virtual bool Write(std::span<const std::string_view> AData,
                                   TSystemError& AError) = 0;
  [[nodiscard]] virtual bool Flush(TSystemError& AError) = 0;  // its data to the disk
  // Gives an unnamed file its temporary name (a named one has it already); kCannotName when
  // the system cannot name it here.
  [[nodiscard]] virtual bool Name(TSystemError& AError) = 0;
  [[nodiscard]] virtual bool Close(TSystemError& AError) = 0;
  [[nodiscard]] virtual bool Rename(TSystemError& AError) = 0;  // over the output
  // The folder's entries, the rename among them, to the disk.
  [[nodiscard]] virtual bool FlushFolder(TSystemError& AError) = 0;
  // Everything its file system holds in memory to the disk, this file's data among it; only
  // where TFileSystem::FlushesFileSystems().
  [[nodiscard]] virtual bool FlushFileSystem(TSystemError& AError) = 0;
  virtual const std::string& Folder() const = 0;  // the folder it is in, as a path
  virtual std::uint64_t FileSystemId() = 0;       // the same for files on one file system
};

class TFileSystem {
 public:
  virtual ~TFileSystem() = default;
  // Opens AName for reading, without waiting for a writer (a FIFO).
  [[nodiscard]] virtual bool OpenForReading(const std::string& AName,
                                            std::unique_ptr<TInputFile>& AFile,
                                            TSystemError& AError) = 0;
  // Creates a temporary file in the folder of the output AName (of the file a symbolic link
  // points to), unnamed when AUnnamed and the system has such files. Fails when an existing
  // output cannot be replaced: not a regular file, or not writable.
  [[nodiscard]] virtual bool CreateTemporary(const std::string& AOutput, bool AUnnamed,
                                             std::unique_ptr<TTempFile>& ATemp,
                                             TSystemError& AError) = 0;
  // True when TTempFile::FlushFileSystem flushes a whole file system in one call.
  virtual bool FlushesFileSystems() const = 0;
  // Makes the folder AFolder and the folders above it that are missing (outputs under -o).
  virtual bool MakeFolders(const std::string& AFolder, TSystemError& AError);
  // Removes the output AName; false with code 0 when there was none (a page whose sources
  // are gone).
  [[nodiscard]] virtual bool RemoveOutput(const std::string& AName, TSystemError& AError);
};

// The system's own file system.
TFileSystem& SystemFiles();

}  // namespace zoqc
