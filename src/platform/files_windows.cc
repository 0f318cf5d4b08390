// File I/O of a run on Windows. Names are UTF-8 and go to the wide (UTF-16) system calls.
#include "src/platform/files.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <utility>

namespace zoqc {

namespace {

std::wstring Widened(const std::string& AText) {
  const int bytes = static_cast<int>(AText.size());
  const int size = MultiByteToWideChar(CP_UTF8, 0, AText.data(), bytes, nullptr, 0);
  std::wstring text(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, AText.data(), bytes, text.data(), size);
  return text;
}

// The system's message for an error code, in UTF-8 and without its line end.
std::string SystemMessage(DWORD AError) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, AError, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (length == 0 || buffer == nullptr) return "system error " + std::to_string(AError);
  std::wstring text(buffer, length);
  LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
    text.pop_back();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string message(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), message.data(), size,
                      nullptr, nullptr);
  return message;
}

// Fails with AWhat and the reason that the system's last error gives at the call.
bool Failed(TFileFailure& AFailure, TFileFailure AWhat) {
  const DWORD error = GetLastError();
  if (error != ERROR_SUCCESS) AWhat.Reason = SystemMessage(error);
  AFailure = std::move(AWhat);
  return false;
}

// Writes all of AData to AFile, in runs that fit a DWORD.
bool WriteAll(HANDLE AFile, std::string_view AData) {
  while (!AData.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(AData.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(AFile, AData.data(), chunk, &written, nullptr) || written == 0) return false;
    AData.remove_prefix(written);
  }
  return true;
}

// A temporary file beside the output: created exclusively, deleted on destruction unless
// Commit() moved it over the output.
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

class TTempFile {
 public:
  ~TTempFile() {
    if (File != INVALID_HANDLE_VALUE) CloseHandle(File);
    if (!Name.empty()) DeleteFileW(Name.c_str());
    Forget();
  }
  bool Create(const std::string& ATarget) {
    // The folder part ends at the last "/", "\" or ":", so "C:page.php" gets "C:.zoqc-..." in
    // the current folder of drive C.
    const std::size_t split = ATarget.find_last_of("/\\:");
    const std::string dir = split == std::string::npos ? "" : ATarget.substr(0, split + 1);
    std::random_device seed;
    std::mt19937 random(seed() ^ GetCurrentProcessId());
    for (int tries = 0; tries < 100; ++tries) {
      const std::wstring name = Widened(dir + ".zoqc-" + std::to_string(random() % 1000000));
      // Shared for deletion only, so that an interrupt can remove it while it is open.
      File = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
      if (File != INVALID_HANDLE_VALUE) {
        Name = name;
        const std::lock_guard<std::mutex> lock(TempsLock);
        Temps().insert(Name);
        return true;
      }
      if (GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
  }
  HANDLE Handle() const { return File; }
  bool Close() {
    const HANDLE file = std::exchange(File, INVALID_HANDLE_VALUE);
    return CloseHandle(file) != 0;
  }
  bool Commit(const std::wstring& ATarget) {
    if (!MoveFileExW(Name.c_str(), ATarget.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return false;
    Forget();
    Name.clear();
    return true;
  }

 private:
  void Forget() {
    if (Name.empty()) return;
    const std::lock_guard<std::mutex> lock(TempsLock);
    Temps().erase(Name);
  }

  HANDLE File = INVALID_HANDLE_VALUE;
  std::wstring Name;  // empty once committed
};

}  // namespace

bool IsFileFound(const std::string& AFileName) {
  const DWORD attributes = GetFileAttributesW(Widened(AFileName).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool LoadFile(const std::string& AFileName, std::string& AContent, TFileFailure& AFailure) {
  const HANDLE file = CreateFileW(Widened(AFileName).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Failed(AFailure, OpenFailure(AFileName));
  AContent.clear();
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file, &size) && size.QuadPart > 0)
    AContent.reserve(static_cast<std::size_t>(size.QuadPart));
  char buffer[1 << 16];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &n, nullptr)) {
      const bool failed = Failed(AFailure, ReadFailure());
      CloseHandle(file);
      return failed;
    }
    if (n == 0) break;
    AContent.append(buffer, n);
  }
  CloseHandle(file);
  return true;
}

bool WriteOutputFile(const std::string& AFileName, std::span<const std::string_view> AData,
                     TFileFailure& AFailure, TFailStep AFailAt) {
  const auto create_error = [&] { return Failed(AFailure, CreateFailure(AFileName)); };
  const auto write_error = [&] { return Failed(AFailure, WriteFailure()); };
  const std::wstring target = Widened(AFileName);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
    // Only a file that could be opened for writing is replaced.
    SetLastError(ERROR_ACCESS_DENIED);
    return create_error();
  }
  TTempFile temp;
  if (AFailAt == TFailStep::Create || !temp.Create(AFileName)) return create_error();
  if (AFailAt == TFailStep::Write) return write_error();
  for (const std::string_view piece : AData)
    if (!WriteAll(temp.Handle(), piece)) return write_error();
  if (AFailAt == TFailStep::Flush || !FlushFileBuffers(temp.Handle())) return write_error();
  if (!temp.Close() || AFailAt == TFailStep::Close) return write_error();
  if (AFailAt == TFailStep::Rename || !temp.Commit(target)) return write_error();
  return true;
}

void InstallInterruptCleanup() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

}  // namespace zoqc
