// Measures zoqc --watch: the time from saving a template to the new page being in place.
// Saves alternate between writing in place and renaming a new file over the template; the
// page's arrival is seen through inotify (zoqc renames it into place), then its content is
// checked. Prints the median and the maximum.
// Usage: watch_latency PAGE_DIR PAGE_NAME SAVES   (zoqc --watch must already watch PAGE_DIR)
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Read(const std::string& AName) {
  std::ifstream in(AName, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: watch_latency PAGE_DIR PAGE_NAME SAVES\n");
    return 2;
  }
  const std::string dir = argv[1];
  const std::string base = dir + "/" + argv[2];
  const int saves = std::atoi(argv[3]);
  const int fd = inotify_init1(IN_CLOEXEC);
  if (fd < 0 || inotify_add_watch(fd, dir.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE) < 0) {
    std::perror("inotify");
    return 1;
  }
  std::vector<double> took;
  for (int save = 0; save < saves; ++save) {
    const std::string marker = "save-" + std::to_string(save);
    const std::string templ = "<h1>{title}</h1>\r\n<p>" + marker + "</p>\r\n";
    const auto start = std::chrono::steady_clock::now();
    if (save % 2 == 0) {
      std::ofstream(base + ".zot", std::ios::binary | std::ios::trunc) << templ;
    } else {
      std::ofstream(dir + "/.new.zot", std::ios::binary) << templ;
      std::rename((dir + "/.new.zot").c_str(), (base + ".zot").c_str());
    }
    // Until the page holds the marker; each event in the folder is a reason to look.
    for (;;) {
      if (Read(base + ".php").find(marker) != std::string::npos) break;
      pollfd ready{fd, POLLIN, 0};
      if (poll(&ready, 1, 2000) <= 0) {
        std::fprintf(stderr, "save %d: no new page within 2 s\n", save);
        return 1;
      }
      char buffer[4096];
      if (read(fd, buffer, sizeof buffer) < 0) return 1;
    }
    const std::chrono::duration<double, std::milli> ms = std::chrono::steady_clock::now() - start;
    took.push_back(ms.count());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a person saves less often
  }
  std::sort(took.begin(), took.end());
  std::printf("watch latency over %d saves: median %.2f ms, max %.2f ms\n", saves,
              took[took.size() / 2], took.back());
  return 0;
}
