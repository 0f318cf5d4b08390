// The file system's calls on Windows. Names are UTF-8 and go to the wide (UTF-16) system calls;
// a temporary file is named from the start, flushed by itself and moved over the output.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <utility>

#include "src/platform/files.h"

namespace zoqc {

namespace {

std::wstring Widened(const std::string& AText) {
  const int bytes = static_cast<int>(AText.size());
  const int size = MultiByteToWideChar(CP_UTF8, 0, AText.data(), bytes, nullptr, 0);
  std::wstring text(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, AText.data(), bytes, text.data(), size);
  return text;
}

// Fails with the system's last error.
bool Failed(TSystemError& AError) {
  AError = SystemError(static_cast<int>(GetLastError()));
  return false;
}

// The temporary files in flight, which an interrupt removes. The console's control handler runs
// on a thread of its own, so a lock guards them.
std::mutex TempsLock;
std::set<std::wstring>& Temps() {
  static auto* temps = new std::set<std::wstring>;  // never destroyed: a handler may run late
  return *temps;
}

// Ctrl-C, Ctrl-Break or the console closing: the temporaries are marked for deletion (each is
// deleted when its handle closes, at the latest when the process ends), and the next handler,
// the system's, ends the process.
BOOL WINAPI OnConsoleControl(DWORD) {
  const std::lock_guard<std::mutex> lock(TempsLock);
  for (const std::wstring& name : Temps()) DeleteFileW(name.c_str());
  return FALSE;
}

class TWindowsInput : public TInputFile {
 public:
  TWindowsInput(HANDLE AFile, TFileType AType, std::uint64_t ASize)
      : File(AFile), FileType(AType), FileSize(ASize) {}
  ~TWindowsInput() override { CloseHandle(File); }
  TFileType Type() const override { return FileType; }
  std::uint64_t Size() const override { return FileSize; }
  bool Read(char* AData, std::size_t ASize, std::size_t& ARead, TSystemError& AError) override {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(ASize, 1u << 30));
    DWORD n = 0;
    if (!ReadFile(File, AData, chunk, &n, nullptr)) return Failed(AError);
    ARead = n;
    return true;
  }

 private:
  HANDLE File;
  TFileType FileType;
  std::uint64_t FileSize;
};

// A temporary file beside the output: created exclusively under a new name, deleted on
// destruction unless Rename() moved it over the output.
class TWindowsTemp : public TTempFile {
 public:
  TWindowsTemp(std::string AFolder, std::wstring ATarget)
      : FolderPath(std::move(AFolder)), Target(std::move(ATarget)) {}
  ~TWindowsTemp() override {
    if (File != INVALID_HANDLE_VALUE) CloseHandle(File);
    if (!TempName.empty()) DeleteFileW(TempName.c_str());
    Forget();
  }

  bool Open(TSystemError& AError) {
    std::random_device seed;
    std::mt19937 random(seed() ^ GetCurrentProcessId());
    for (int tries = 0; tries < 100; ++tries) {
      const std::wstring name = Widened(FolderPath + ".zoqc-" + std::to_string(random() % 1000000));
      // Shared for deletion only, so that an interrupt can remove it while it is open.
      File = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
      if (File != INVALID_HANDLE_VALUE) {
        TempName = name;
        const std::lock_guard<std::mutex> lock(TempsLock);
        Temps().insert(TempName);
        return true;
      }
      if (GetLastError() != ERROR_FILE_EXISTS) return Failed(AError);
    }
    return Failed(AError);
  }

  bool Append(std::string_view AData, TSystemError& AError) override {
    return Write(std::span<const std::string_view>(&AData, 1), AError);
  }
  bool Write(std::span<const std::string_view> AData, TSystemError& AError) override {
    for (std::string_view piece : AData) {
      while (!piece.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(piece.size(), 1u << 30));
        DWORD written = 0;
        if (!WriteFile(File, piece.data(), chunk, &written, nullptr)) return Failed(AError);
        if (written == 0) {
          SetLastError(ERROR_WRITE_FAULT);
          return Failed(AError);
        }
        piece.remove_prefix(written);
      }
    }
    return true;
  }
  bool Flush(TSystemError& AError) override { return FlushFileBuffers(File) || Failed(AError); }
  bool Name(TSystemError&) override { return true; }  // named from the start
  bool Close(TSystemError& AError) override {
    return CloseHandle(std::exchange(File, INVALID_HANDLE_VALUE)) || Failed(AError);
  }
  bool Rename(TSystemError& AError) override {
    if (!MoveFileExW(TempName.c_str(), Target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return Failed(AError);
    Forget();
    TempName.clear();
    return true;
  }
  // The move is written through: nothing is left to flush.
  bool FlushFolder(TSystemError&) override { return true; }
  bool FlushFileSystem(TSystemError& AError) override {
    SetLastError(ERROR_NOT_SUPPORTED);
    return Failed(AError);
  }
  const std::string& Folder() const override { return FolderPath; }
  std::uint64_t FileSystemId() override { return 0; }

 private:
  void Forget() {
    if (TempName.empty()) return;
    const std::lock_guard<std::mutex> lock(TempsLock);
    Temps().erase(TempName);
  }

  std::string FolderPath;  // the output's folder with its separator; empty for the current one
  std::wstring Target;     // the output
  HANDLE File = INVALID_HANDLE_VALUE;
  std::wstring TempName;  // empty once renamed
};

class TWindowsFileSystem : public TFileSystem {
 public:
  bool OpenForReading(const std::string& AName, std::unique_ptr<TInputFile>& AFile,
                      TSystemError& AError) override {
    const HANDLE file = CreateFileW(Widened(AName).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Failed(AError);
    const DWORD kind = GetFileType(file);
    const TFileType type = kind == FILE_TYPE_DISK   ? TFileType::Regular
                           : kind == FILE_TYPE_CHAR ? TFileType::CharacterDevice
                           : kind == FILE_TYPE_PIPE ? TFileType::Fifo
                                                    : TFileType::Other;
    LARGE_INTEGER size{};
    if (type == TFileType::Regular && !GetFileSizeEx(file, &size)) {
      Failed(AError);
      CloseHandle(file);
      return false;
    }
    AFile = std::make_unique<TWindowsInput>(file, type, static_cast<std::uint64_t>(size.QuadPart));
    return true;
  }

  bool CreateTemporary(const std::string& AOutput, bool, std::unique_ptr<TTempFile>& ATemp,
                       TSystemError& AError) override {
    const std::wstring target = Widened(AOutput);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
      // Only a file that could be opened for writing is replaced.
      SetLastError(ERROR_ACCESS_DENIED);
      return Failed(AError);
    }
    // The folder part ends at the last "/", "\" or ":", so "C:page.php" gets "C:.zoqc-..." in
    // the current folder of drive C.
    const std::size_t split = AOutput.find_last_of("/\\:");
    auto temp = std::make_unique<TWindowsTemp>(
        split == std::string::npos ? "" : AOutput.substr(0, split + 1), target);
    if (!temp->Open(AError)) return false;
    ATemp = std::move(temp);
    return true;
  }

  bool FlushesFileSystems() const override { return false; }
};

}  // namespace

TSystemError SystemError(int ACode) {
  if (ACode <= 0) return {ACode, ""};
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(ACode), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (length == 0 || buffer == nullptr) return {ACode, "system error " + std::to_string(ACode)};
  std::wstring text(buffer, length);
  LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
    text.pop_back();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string message(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), message.data(), size,
                      nullptr, nullptr);
  return {ACode, message};
}

// A failed move is a failed write: a page that may not be replaced at all (read-only, a folder)
// is found before the temporary is made.
bool IsRefusal(int) { return false; }

bool IsFileFound(const std::string& AFileName) {
  const DWORD attributes = GetFileAttributesW(Widened(AFileName).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

TFileSystem& SystemFiles() {
  static TWindowsFileSystem files;
  return files;
}

void InstallInterruptCleanup() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

// A temporary's name does not say its writer here: only its age tells a killed run's.
bool IsTemporaryOfEndedRun(std::string_view) { return false; }

}  // namespace zoqc
