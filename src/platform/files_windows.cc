// The file system's calls on Windows. Names are UTF-8 and go to the wide (UTF-16) system calls;
// a temporary file is named from the start, flushed by itself and moved over the output.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <utility>

#include "src/platform/files.h"
#include "src/platform/files_tree.h"

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

namespace fs = std::filesystem;

std::string Narrowed(const std::wstring& AText) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), text.data(), size,
                      nullptr, nullptr);
  return text;
}

TEntryInfo InfoOf(const fs::path& APath) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(APath, ec);
  TEntryInfo info;
  if (ec || !fs::exists(status)) return info;
  info.Kind = fs::is_symlink(status)        ? TEntryKind::Link
              : fs::is_regular_file(status) ? TEntryKind::Regular
              : fs::is_directory(status)    ? TEntryKind::Folder
                                            : TEntryKind::Other;
  info.Mode = static_cast<std::uint32_t>(status.permissions() & fs::perms::all);
  if (info.Kind == TEntryKind::Regular) {
    info.Size = fs::file_size(APath, ec);
    info.Modified = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        fs::last_write_time(APath, ec).time_since_epoch())
                        .count();
  }
  return info;
}

bool FailedWith(TSystemError& AError, const std::error_code& AEc) {
  AError = SystemError(AEc.value());
  return false;
}

/* An output folder on Windows: each folder on the way is looked at before it is entered, and
   one that is a link (a junction or a symbolic link) fails the call. Copies are made under a
   temporary name beside the entry and moved over it. */
class TWindowsOutputFolder final : public TOutputFolder {
 public:
  explicit TWindowsOutputFolder(fs::path ARoot) : Root(std::move(ARoot)) {}

  TEntryInfo Inspect(const std::string& ARelative) override {
    fs::path path;
    return Below(ARelative, nullptr, path) ? InfoOf(path) : TEntryInfo{};
  }

  bool Copy(const std::string& ASource, const std::string& ARelative, TEntryInfo& ASourceInfo,
            TEntryInfo& AWritten, std::vector<std::string>& AMade, TSystemError& AError) override {
    std::error_code ec;
    const fs::path source = fs::canonical(fs::path(Widened(ASource)), ec);
    ASourceInfo = ec ? TEntryInfo{} : InfoOf(source);
    if (ASourceInfo.Kind != TEntryKind::Regular) {
      AError = {0, "not a regular file"};
      return false;
    }
    return Replace(ARelative, AMade, AWritten, AError, [&](const fs::path& ATemp) {
      std::error_code ec;
      return fs::copy_file(source, ATemp, fs::copy_options::overwrite_existing, ec) && !ec;
    });
  }

  bool Link(const std::string&, const std::string&, TEntryInfo&, std::vector<std::string>&,
            TSystemError& AError) override {
    AError = {0, "symbolic links are copied on this system"};
    return false;
  }

  bool Remove(const std::string& ARelative, const TEntryInfo& AExpected,
              TSystemError& AError) override {
    fs::path path;
    if (!Below(ARelative, nullptr, path)) return false;
    const TEntryInfo now = InfoOf(path);
    if (now.Kind == TEntryKind::None || now.Kind == TEntryKind::Folder ||
        now.Kind != AExpected.Kind || now.Size != AExpected.Size ||
        now.Modified != AExpected.Modified)
      return false;
    std::error_code ec;
    return fs::remove(path, ec) || FailedWith(AError, ec);
  }

  bool RemoveEmptyFolder(const std::string& ARelative) override {
    fs::path path;
    std::error_code ec;
    return Below(ARelative, nullptr, path) && fs::is_directory(fs::symlink_status(path, ec)) &&
           fs::remove(path, ec);  // only an empty one
  }

  bool SameContent(const std::string& ASource, const std::string& ARelative) override {
    fs::path path;
    if (!Below(ARelative, nullptr, path)) return false;
    std::ifstream ours(path, std::ios::binary);
    std::ifstream theirs(fs::path(Widened(ASource)), std::ios::binary);
    if (!ours || !theirs) return false;
    return std::equal(std::istreambuf_iterator<char>(ours), std::istreambuf_iterator<char>(),
                      std::istreambuf_iterator<char>(theirs), std::istreambuf_iterator<char>());
  }

  bool ReadSmallFile(const std::string& ARelative, std::string& AText) override {
    fs::path path;
    if (!Below(ARelative, nullptr, path) || InfoOf(path).Kind != TEntryKind::Regular) return false;
    std::ifstream in(path, std::ios::binary);
    AText.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
  }

  bool WriteSmallFile(const std::string& ARelative, std::string_view AText,
                      TSystemError& AError) override {
    std::vector<std::string> made;
    TEntryInfo written;
    return Replace(ARelative, made, written, AError, [&](const fs::path& ATemp) {
      std::ofstream out(ATemp, std::ios::binary | std::ios::trunc);
      out.write(AText.data(), static_cast<std::streamsize>(AText.size()));
      out.close();
      return !out.fail();
    });
  }

  void Release() override {}

 private:
  // The path of ARelative, each folder on the way a folder and no link; with AMade, missing
  // folders are made and appended to it.
  bool Below(const std::string& ARelative, std::vector<std::string>* AMade, fs::path& APath) {
    std::vector<std::string> names;
    std::size_t from = 0;
    for (;;) {
      const std::size_t slash = ARelative.find('/', from);
      names.push_back(ARelative.substr(from, slash - from));
      if (slash == std::string::npos) break;
      from = slash + 1;
    }
    APath = Root;
    std::string made;
    for (std::size_t idx = 0; idx < names.size(); ++idx) {
      const std::string& name = names[idx];
      if (name.empty() || name == "." || name == ".." ||
          name.find_first_of("\\:") != std::string::npos)
        return false;
      APath /= Widened(name);
      made += made.empty() ? name : "/" + name;
      if (idx + 1 == names.size()) break;
      std::error_code ec;
      const fs::file_status status = fs::symlink_status(APath, ec);
      if (!fs::exists(status) && AMade && fs::create_directory(APath, ec)) {
        AMade->push_back(made);
        continue;
      }
      if (fs::is_symlink(status) || !fs::is_directory(fs::symlink_status(APath, ec))) return false;
    }
    return true;
  }

  template <typename TMake>
  bool Replace(const std::string& ARelative, std::vector<std::string>& AMade, TEntryInfo& AWritten,
               TSystemError& AError, TMake AMake) {
    fs::path path;
    if (!Below(ARelative, &AMade, path)) {
      AError = SystemError(ERROR_DIRECTORY);
      return false;
    }
    std::random_device seed;
    const fs::path temp =
        path.parent_path() / Widened(".zoqc-" + std::to_string(seed() % 1000000000));
    {
      const std::lock_guard<std::mutex> lock(TempsLock);
      Temps().insert(temp.wstring());
    }
    bool done = AMake(temp);
    std::error_code ec;
    if (done) {
      fs::rename(temp, path, ec);
      done = !ec;
    } else {
      ec = std::error_code(static_cast<int>(GetLastError()), std::system_category());
    }
    if (!done) fs::remove(temp, ec);
    {
      const std::lock_guard<std::mutex> lock(TempsLock);
      Temps().erase(temp.wstring());
    }
    if (!done) return FailedWith(AError, ec);
    AWritten = InfoOf(path);
    return true;
  }

  fs::path Root;
};

}  // namespace

TEntryInfo InspectEntry(const std::string& APath) { return InfoOf(fs::path(Widened(APath))); }

bool ReadLinkText(const std::string& APath, std::string& AText) {
  std::error_code ec;
  const fs::path target = fs::read_symlink(fs::path(Widened(APath)), ec);
  if (ec) return false;
  AText = Narrowed(target.wstring());
  return true;
}

bool RealPathOf(const std::string& APath, std::string& AReal) {
  std::error_code ec;
  const fs::path real = fs::canonical(fs::path(Widened(APath)), ec);
  if (ec) return false;
  AReal = Narrowed(real.generic_wstring());
  return true;
}

bool MakesLinks() { return false; }

std::unique_ptr<TOutputFolder> OpenOutputFolder(const std::string& ARoot, TSystemError& AError) {
  std::error_code ec;
  const fs::path root(Widened(ARoot.empty() ? "." : ARoot));
  if (!fs::is_directory(root, ec)) {
    AError = SystemError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  return std::make_unique<TWindowsOutputFolder>(root);
}

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
