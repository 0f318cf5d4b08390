// The translation's floor: reads a page's script and template as zoqc does (each opened, its
// size taken, read whole into one block of memory aligned to huge pages and advised to use
// them, as zoqc's large blocks are) and writes a page of the given size the way zoqc
// writes one (an unnamed temporary in the page's folder, named once complete, renamed over the
// page), without translating: the page's bytes are the inputs' bytes, repeated to the size.
// What zoqc spends beyond this program's instructions and faults is the translation.
//
//   floor PAGE SIZE      reads PAGE.zoq and PAGE.zot, writes SIZE bytes to PAGE.php
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr std::size_t kHugePage = 2 << 20;

struct TFile {
  int Fd = -1;
  std::size_t Size = 0;
};

bool Open(const std::string& APath, TFile& AFile) {
  AFile.Fd = open(APath.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (AFile.Fd < 0 || fstat(AFile.Fd, &info) != 0) return false;
  AFile.Size = static_cast<std::size_t>(info.st_size);
  return true;
}

bool ReadWhole(const TFile& AFile, char* AData) {
  for (std::size_t done = 0; done < AFile.Size;) {
    const ssize_t n = read(AFile.Fd, AData + done, AFile.Size - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return close(AFile.Fd) == 0;
}

// ASize bytes of memory aligned to a huge page, advised to use huge pages.
char* Block(std::size_t ASize) {
  const std::size_t length = (ASize + kHugePage - 1) & ~(kHugePage - 1);
  void* map =
      mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (map == MAP_FAILED) return nullptr;
  const auto aligned =
      (reinterpret_cast<std::uintptr_t>(map) + kHugePage - 1) & ~std::uintptr_t{kHugePage - 1};
  madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
  return reinterpret_cast<char*>(aligned);
}

bool WriteAll(int AFd, const char* AData, std::size_t ASize) {
  while (ASize > 0) {
    const ssize_t n = write(AFd, AData, ASize);
    if (n <= 0) return false;
    AData += n;
    ASize -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: floor PAGE SIZE\n");
    return 2;
  }
  const std::string page = argv[1];
  const std::size_t size = std::strtoull(argv[2], nullptr, 10);
  TFile script, templ;
  if (!Open(page + ".zoq", script) || !Open(page + ".zot", templ)) return 1;
  const std::string_view input(Block(script.Size + templ.Size), script.Size + templ.Size);
  if (input.data() == nullptr || input.empty()) return 1;
  char* const data = const_cast<char*>(input.data());
  if (!ReadWhole(script, data) || !ReadWhole(templ, data + script.Size)) return 1;
  const std::string::size_type slash = page.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : page.substr(0, slash);
  const int fd = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
  if (fd < 0) return 1;
  for (std::size_t left = size; left > 0;) {
    const std::size_t piece = left < input.size() ? left : input.size();
    if (!WriteAll(fd, input.data(), piece)) return 1;
    left -= piece;
  }
  char proc[64];
  std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
  const std::string temp = folder + "/.floor-temp";
  unlink(temp.c_str());
  if (linkat(AT_FDCWD, proc, AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) != 0) return 1;
  if (close(fd) != 0 || rename(temp.c_str(), (page + ".php").c_str()) != 0) return 1;
  return 0;
}
