// Walking a tree of folders on Windows, by path; a folder's identity is its volume and file
// index.
#include "src/platform/folders.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

namespace zoqc {

const std::size_t kMaxPathLength = 32767;  // the wide calls' limit, in UTF-16 units at most

namespace {

namespace fs = std::filesystem;

bool IdOf(const fs::path& ADir, TFolderId& AId) {
  const HANDLE handle =
      CreateFileW(ADir.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool found = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  AId.Device = info.dwVolumeSerialNumber;
  AId.Inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return found;
}

void Walk(const std::string& ADir, TFolderVisitor& AVisitor, std::set<TFolderId>& AEntered) {
  std::error_code ec;
  TFolderId id;
  if (!IdOf(ADir, id)) return AVisitor.Failed(ADir, TFolderFailure::Unreadable, "not found");
  if (!AEntered.insert(id).second || !AVisitor.Enter(ADir, id)) return;
  std::vector<std::pair<std::string, bool>> entries;  // name, is a folder
  fs::directory_iterator it(ADir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec))
    entries.emplace_back(it->path().filename().string(), it->is_directory(ec));
  if (ec) return AVisitor.Failed(ADir, TFolderFailure::Unreadable, ec.message());
  std::sort(entries.begin(), entries.end());
  for (const auto& [name, folder] : entries)
    if (AVisitor.Entry(ADir, name, folder) && folder)
      Walk((fs::path(ADir) / name).string(), AVisitor, AEntered);
}

}  // namespace

void WalkFolders(const std::string& ARoot, TFolderVisitor& AVisitor,
                 std::set<TFolderId>& AEntered) {
  Walk(ARoot, AVisitor, AEntered);
}

}  // namespace zoqc
