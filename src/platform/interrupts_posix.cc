// The signals that end the process: the named temporary files in flight are removed and the
// helper processes ended first.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "src/platform/dev_server_signal_posix.h"
#include "src/platform/files.h"
#include "src/platform/temp_slots_posix.h"

namespace zoqc {

namespace {

/* The named temporary files in flight, for the signal handler. Threads claim and release the
   slots with atomic operations only, and the handler only reads them, so that it can run at any
   moment on any thread. A slot is Named while its name may exist in the directory DirFd; the
   handler removes every such name. */
enum : int { kFree, kFilling, kNamed };
struct TTempSlot {
  std::atomic<int> State{kFree};
  int DirFd = -1;      // the directory the name is in; open while the slot is claimed
  char Name[32] = {};  // relative to DirFd, NUL-terminated
};
static_assert(std::atomic<int>::is_always_lock_free);
// Room for a temporary on each of the most threads a run has (1,024) and for the outputs of a
// whole-site run that are written but not yet in place.
constexpr int kTempSlots = 2048;
TTempSlot TempSlots[kTempSlots];

// The helper processes running (php for --lint), for the handler to end with zoqc; 0 is free.
constexpr int kChildSlots = 2048;
std::atomic<pid_t> ChildSlots[kChildSlots];
static_assert(std::atomic<pid_t>::is_always_lock_free);

}  // namespace

int ClaimChildSlot(pid_t APid) {
  for (int idx = 0; idx < kChildSlots; ++idx) {
    pid_t expected = 0;
    if (ChildSlots[idx].compare_exchange_strong(expected, APid)) return idx;
  }
  return -1;
}

void ReleaseChildSlot(int ASlot) {
  if (ASlot >= 0) ChildSlots[ASlot].store(0);
}

int ClaimTempSlot(int ADirFd) {
  for (int idx = 0; idx < kTempSlots; ++idx) {
    int expected = kFree;
    if (TempSlots[idx].State.compare_exchange_strong(expected, kFilling)) {
      TempSlots[idx].DirFd = ADirFd;
      return idx;
    }
  }
  return -1;
}

void GuardTempName(int ASlot, const char* AName) {
  if (ASlot < 0) return;
  TempSlots[ASlot].State.store(kFilling);
  std::snprintf(TempSlots[ASlot].Name, sizeof TempSlots[ASlot].Name, "%s", AName);
  TempSlots[ASlot].State.store(kNamed);
}

void ReleaseTempSlot(int ASlot) {
  if (ASlot >= 0) TempSlots[ASlot].State.store(kFree);
}

namespace {

// Ends the process as ASignal would, once the temporaries in flight are removed. A PIPE signal
// that the system raised for a write to a closed pipe (sent by this process itself) is left to
// fail that write with EPIPE.
void RemoveTemporariesAndEnd(int ASignal, siginfo_t* AInfo, void*) {
  if (ASignal == SIGPIPE &&
      (AInfo == nullptr || AInfo->si_code > 0 || AInfo->si_pid == 0 || AInfo->si_pid == getpid()))
    return;
  for (TTempSlot& slot : TempSlots)
    if (slot.State.load() == kNamed) unlinkat(slot.DirFd, slot.Name, 0);
  // A helper left running would go on parsing a page nobody waits for.
  for (std::atomic<pid_t>& child : ChildSlots)
    if (const pid_t pid = child.load(); pid > 0) kill(pid, SIGKILL);
  StopDevServerFromSignal();  // under --serve: PHP's server stopped, its folder removed
  signal(ASignal, SIG_DFL);
  raise(ASignal);  // delivered as soon as the handler returns
}

}  // namespace

void InstallInterruptCleanup() {
  signal(SIGXFSZ, SIG_IGN);  // past the file size limit a write fails with EFBIG
  struct sigaction action {};
  action.sa_sigaction = RemoveTemporariesAndEnd;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};
  for (const int sig : signals) sigaddset(&action.sa_mask, sig);
  for (const int sig : signals) {
    struct sigaction old {};
    // A signal ignored by whoever started zoqc (nohup, a background job) stays ignored.
    if (sigaction(sig, nullptr, &old) == 0 && !(old.sa_flags & SA_SIGINFO) &&
        old.sa_handler == SIG_IGN)
      continue;
    sigaction(sig, &action, nullptr);
  }
}

}  // namespace zoqc
