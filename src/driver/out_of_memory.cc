// The reserve for the out-of-memory report and the last-resort report when even throwing
// std::bad_alloc fails.
#include "src/driver/out_of_memory.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

#include "src/driver/exit_code.h"
#include "src/driver/failure_report.h"

namespace zoqc {

namespace {

// Enough for unwinding, the exception object and formatting the report; above malloc's mmap
// threshold, so that freeing it gives the address space back at once.
constexpr std::size_t kReserveSize = 512 * 1024;
std::atomic<void*> Reserve{nullptr};

// The report's text, made at start-up.
char Report[512];
std::size_t ReportSize = 0;
std::atomic<int> ReportFd{STDOUT_FILENO};  // where the report goes

// Gives the reserve back and lets the allocation try again; once it is gone, fails it.
void OnAllocationFailure() {
  if (void* reserve = Reserve.exchange(nullptr)) {
    std::free(reserve);
    return;
  }
  throw std::bad_alloc();
}

// Writes the bytes to the descriptor, without allocating.
void WriteAll(int AFd, const char* AText, std::size_t ASize) {
  for (std::size_t done = 0; done < ASize;) {
    const ssize_t n = write(AFd, AText + done, ASize - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
}

// Reached when an exception escapes: one that cannot be thrown for lack of memory prints what is
// already buffered and the prepared report, with no further allocation; any other is a fault of
// zoqc's own, said plainly as such. Both end the run with the failure exit code.
[[noreturn]] void OnTerminate() {
  std::fflush(stdout);
  bool out_of_memory = true;
  const char* what = "an unknown exception";
  if (const std::exception_ptr escaped = std::current_exception()) {
    try {
      std::rethrow_exception(escaped);
    } catch (const std::bad_alloc&) {
    } catch (const std::exception& error) {
      out_of_memory = false, what = error.what();
    } catch (...) {
      out_of_memory = false;
    }
  }
  if (out_of_memory) {
    WriteAll(ReportFd.load(), Report, ReportSize);
  } else {
    constexpr char kHead[] = "zoqc: internal error: ";
    constexpr char kTail[] = "; please report it\n";
    WriteAll(STDERR_FILENO, kHead, sizeof kHead - 1);
    WriteAll(STDERR_FILENO, what, std::strlen(what));
    WriteAll(STDERR_FILENO, kTail, sizeof kTail - 1);
  }
  _exit(kExitFileFailure);
}

}  // namespace

void PrepareForOutOfMemory() {
  static std::atomic<bool> prepared{false};
  if (prepared.exchange(true)) return;
  // Made here, without allocating: there may be no memory for anything later.
  ReportSize = FormatFailureReport(Report, sizeof Report, kOutOfMemoryKind, kOutOfMemoryMessage,
                                   kOutOfMemoryLocation);
  std::set_terminate(OnTerminate);
  RenewOutOfMemoryReserve();
  std::set_new_handler(OnAllocationFailure);
}

void ReportOutOfMemoryOnStandardError() { ReportFd.store(STDERR_FILENO); }

void RenewOutOfMemoryReserve() {
  if (Reserve.load() != nullptr) return;
  void* reserve = std::malloc(kReserveSize);
  if (reserve == nullptr) return;
  std::memset(reserve, 0, kReserveSize);  // really taken, not only promised
  void* expected = nullptr;
  if (!Reserve.compare_exchange_strong(expected, reserve)) std::free(reserve);
}

}  // namespace zoqc
