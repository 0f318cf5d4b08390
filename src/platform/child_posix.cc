// A helper program on POSIX systems: started with two pipes (on Linux by fork and exec, so that
// it dies with zoqc, elsewhere by posix_spawnp), poll for the timeouts.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#ifdef __linux__
#include <sys/prctl.h>
#endif

#include "src/platform/child.h"
#include "src/platform/temp_slots_posix.h"

extern char** environ;

namespace zoqc {

struct TChildProcess::TState {
  pid_t Pid = -1;
  int In = -1;         // the child's standard input, non-blocking
  int Out = -1;        // the child's standard output, non-blocking
  std::string Buffer;  // bytes read past the last line handed out
  int Slot = -1;       // its slot among the helpers a signal ends
};

namespace {

using TClock = std::chrono::steady_clock;

// Milliseconds left until ADeadline, at least 0.
int Left(TClock::time_point ADeadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(ADeadline - TClock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// Waits until AFd is ready for AEvents or ADeadline passes; false on the deadline.
bool WaitFor(int AFd, short AEvents, TClock::time_point ADeadline) {
  for (;;) {
    pollfd fd{AFd, AEvents, 0};
    const int ready = poll(&fd, 1, Left(ADeadline));
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return false;
  }
}

void CloseFd(int& AFd) {
  if (AFd >= 0) close(AFd);
  AFd = -1;
}

#ifdef __linux__
// The child's side of Spawn, between fork and exec: async-signal-safe calls only. It dies with
// zoqc (a SIGKILL when the thread that forked it ends), even when zoqc is killed with SIGKILL.
[[noreturn]] void BecomeChild(char* const* AArgv, int AIn, int AOut, pid_t AParent, int AStatus) {
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != AParent) _exit(127);
  struct sigaction defaults = {};
  defaults.sa_handler = SIG_DFL;
  for (const int sig : {SIGPIPE, SIGINT, SIGTERM}) sigaction(sig, &defaults, nullptr);
  // dup2 onto itself would keep the close-on-exec flag.
  const auto put = [](int AFd, int ATo) {
    return AFd == ATo ? fcntl(ATo, F_SETFD, 0) : dup2(AFd, ATo);
  };
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (put(AIn, STDIN_FILENO) >= 0 && put(AOut, STDOUT_FILENO) >= 0 && null >= 0 &&
      put(null, STDERR_FILENO) >= 0)
    execvp(AArgv[0], AArgv);
  const int error = errno;
  [[maybe_unused]] const ssize_t wrote = write(AStatus, &error, sizeof error);
  _exit(127);
}

// Forks and execs the children. Linux sends the parent-death signal when the thread that forked
// ends, not the process, and the threads that translate a site's pages end before the php
// processes they start: so every child is forked by this one thread, which lives as long as
// zoqc (never destroyed, not even at exit).
class TForker {
 public:
  static TForker& Get() {
    static TForker* const forker = new TForker();
    return *forker;
  }
  // Starts AArgv with AIn and AOut as its standard input and output; 0 and its pid in APid, or
  // the error.
  int Fork(char* const* AArgv, int AIn, int AOut, pid_t& APid) {
    const std::lock_guard<std::mutex> one(Busy);
    std::unique_lock<std::mutex> lock(Mutex);
    Argv = AArgv, In = AIn, Out = AOut, Asked = true;
    Changed.notify_all();
    Changed.wait(lock, [this] { return !Asked; });
    APid = Pid;
    return Error;
  }

 private:
  TForker() {
    std::thread([this] { Run(); }).detach();
  }
  void Run() {
    std::unique_lock<std::mutex> lock(Mutex);
    for (;;) {
      Changed.wait(lock, [this] { return Asked; });
      Pid = -1, Error = 0;
      int status[2];  // the child's exec error; closed by a successful exec
      if (pipe2(status, O_CLOEXEC) != 0) {
        Error = errno;
      } else {
        const pid_t parent = getpid();
        const pid_t pid = fork();
        if (pid == 0) BecomeChild(Argv, In, Out, parent, status[1]);
        close(status[1]);
        if (pid < 0) {
          Error = errno;
        } else {
          int error = 0;
          ssize_t got;
          while ((got = read(status[0], &error, sizeof error)) < 0 && errno == EINTR) {
          }
          if (got == sizeof error) {
            Error = error;
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
          } else {
            Pid = pid;
          }
        }
        close(status[0]);
      }
      Asked = false;
      Changed.notify_all();
    }
  }

  std::mutex Busy;  // one request at a time
  std::mutex Mutex;
  std::condition_variable Changed;
  bool Asked = false;
  char* const* Argv = nullptr;
  int In = -1, Out = -1;
  pid_t Pid = -1;
  int Error = 0;
};
#endif

// Starts AArgv[0] (found on PATH when it holds no "/") with AIn and AOut as its standard input
// and output, standard error on /dev/null, and the signals zoqc handles at their defaults;
// yields 0 and the pid in APid, or the error.
int Spawn(char* const* AArgv, int AIn, int AOut, pid_t& APid) {
#ifdef __linux__
  return TForker::Get().Fork(AArgv, AIn, AOut, APid);
#else
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, AIn, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, AOut, STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
  const int failed = posix_spawnp(&APid, AArgv[0], &actions, &attr, AArgv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return failed;
#endif
}

}  // namespace

TChildProcess::TChildProcess(std::unique_ptr<TState> AState) : State(std::move(AState)) {}

std::unique_ptr<TChildProcess> TChildProcess::Start(const std::vector<std::string>& AArgs,
                                                    std::string& AError) {
  int in[2];
  int out[2];
  if (pipe2(in, O_CLOEXEC) != 0) {
    AError = std::strerror(errno);
    return nullptr;
  }
  if (pipe2(out, O_CLOEXEC) != 0) {
    AError = std::strerror(errno);
    close(in[0]), close(in[1]);
    return nullptr;
  }
  std::vector<char*> argv;
  for (const std::string& arg : AArgs) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int failed = Spawn(argv.data(), in[0], out[1], pid);
  close(in[0]);
  close(out[1]);
  if (failed != 0) {
    AError = std::strerror(failed);
    close(in[1]), close(out[0]);
    return nullptr;
  }
  auto state = std::make_unique<TState>();
  state->Pid = pid;
  state->Slot = ClaimChildSlot(pid);
  state->In = in[1];
  state->Out = out[0];
  fcntl(state->In, F_SETFL, fcntl(state->In, F_GETFL) | O_NONBLOCK);
  fcntl(state->Out, F_SETFL, fcntl(state->Out, F_GETFL) | O_NONBLOCK);
  return std::unique_ptr<TChildProcess>(new TChildProcess(std::move(state)));
}

TChildProcess::~TChildProcess() { Kill(); }

bool TChildProcess::Send(std::span<const std::string_view> AData, int ATimeoutMs) {
  const auto deadline = TClock::now() + std::chrono::milliseconds(ATimeoutMs);
  for (std::string_view piece : AData) {
    while (!piece.empty()) {
      if (State->In < 0) return false;
      const ssize_t wrote = write(State->In, piece.data(), piece.size());
      if (wrote > 0) {
        piece.remove_prefix(static_cast<std::size_t>(wrote));
      } else if (wrote < 0 && errno == EINTR) {
        continue;
      } else if (wrote < 0 && errno == EAGAIN) {
        if (!WaitFor(State->In, POLLOUT, deadline)) return false;
      } else {
        return false;  // EPIPE: the child is gone
      }
    }
  }
  return true;
}

bool TChildProcess::ReadLine(std::string& ALine, int ATimeoutMs) {
  const auto deadline = TClock::now() + std::chrono::milliseconds(ATimeoutMs);
  std::size_t scanned = 0;  // bytes of the buffer known to hold no LF
  for (;;) {
    const std::size_t end = State->Buffer.find('\n', scanned);
    if (end != std::string::npos) {
      ALine = State->Buffer.substr(0, end);
      State->Buffer.erase(0, end + 1);
      return true;
    }
    scanned = State->Buffer.size();
    // A child that floods its output is given up at the deadline as one that is silent, and
    // a line longer than any answer is no answer.
    if (scanned > kMaxChildLine) CloseFd(State->Out);
    if (State->Out < 0 || TClock::now() >= deadline) return false;
    char chunk[4096];
    const ssize_t got = read(State->Out, chunk, sizeof chunk);
    if (got > 0) {
      State->Buffer.append(chunk, static_cast<std::size_t>(got));
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else if (got < 0 && errno == EAGAIN) {
      if (!WaitFor(State->Out, POLLIN, deadline)) return false;
    } else {
      CloseFd(State->Out);
      return false;  // end of file: the child is gone
    }
  }
}

void TChildProcess::CloseInput() { CloseFd(State->In); }

bool TChildProcess::Readable() const { return State->Out >= 0; }

long TChildProcess::CpuMs(bool& AWaiting) const {
  AWaiting = false;
  if (State->Pid <= 0) return -1;
  // /proc/PID/stat: "PID (NAME) STATE ..." with user and system time, in clock ticks, as the
  // 14th and 15th fields; NAME may hold blanks and parentheses, so the fields count from the
  // last ')'.
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(State->Pid));
  std::FILE* file = std::fopen(path, "re");
  if (!file) return -1;
  char text[1024];
  const std::size_t got = std::fread(text, 1, sizeof text - 1, file);
  std::fclose(file);
  text[got] = 0;
  const char* rest = std::strrchr(text, ')');
  char state = 0;
  unsigned long user = 0, system = 0;
  if (!rest || std::sscanf(rest + 1, " %c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &state,
                           &user, &system) != 3)
    return -1;
  AWaiting = state != 'R';
  const long ticks = sysconf(_SC_CLK_TCK);
  return ticks > 0 ? static_cast<long>((user + system) * 1000 / static_cast<unsigned long>(ticks))
                   : -1;
}

void TChildProcess::Kill() {
  if (State->Pid <= 0) return;
  kill(State->Pid, SIGKILL);
  ReleaseChildSlot(State->Slot);  // killed already: the handler has nothing left to do for it
  State->Slot = -1;
  CloseFd(State->In);
  CloseFd(State->Out);
  while (waitpid(State->Pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  State->Pid = -1;
}

}  // namespace zoqc
