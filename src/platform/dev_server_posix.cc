// PHP's development server on POSIX systems: fork and exec into a process group of its own,
// its standard error read through a pipe, the private folder made with mkdtemp.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "src/platform/dev_server.h"
#include "src/platform/dev_server_signal_posix.h"

extern char** environ;

namespace zoqc {

namespace {

using TClock = std::chrono::steady_clock;

// How long PHP may take to listen; the machine may be busy.
constexpr std::chrono::seconds kStartTime{30};

/* The running server, for the signal handler as for the destructor: whichever takes Pid first
   kills and reaps the server, and whichever takes FolderSet first empties and removes the
   folder. Path holds the folder's path, NUL-terminated, while FolderSet is true. */
std::atomic<pid_t> ServerPid{-1};
std::atomic<bool> FolderSet{false};
char FolderPath[4096];
// Every name the folder may hold: the files and their temporaries (".NAME.tmp").
const char* const kFolderNames[] = {kRouterFile,       kStateFile,        kGenerationFile,
                                    ".router.php.tmp", ".state.json.tmp", ".generation.tmp"};

void StopServer() {
  const pid_t pid = ServerPid.exchange(-1);
  if (pid > 0) {
    kill(-pid, SIGKILL);  // the server and whatever its router started
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

void RemoveFolder() {
  if (!FolderSet.exchange(false)) return;
  char path[sizeof FolderPath + 32];
  for (const char* name : kFolderNames) {
    const std::size_t dir = std::strlen(FolderPath);
    const std::size_t len = std::strlen(name);
    std::memcpy(path, FolderPath, dir);
    path[dir] = '/';
    std::memcpy(path + dir + 1, name, len + 1);
    unlink(path);
  }
  rmdir(FolderPath);
}

// Replaces ADir/AName by AData through a temporary and a rename.
bool Replace(const std::string& ADir, const char* AName, std::string_view AData,
             std::string& AError) {
  const std::string target = ADir + "/" + AName;
  const std::string temp = ADir + "/." + AName + ".tmp";
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    AError = "cannot create '" + temp + "': " + std::strerror(errno);
    return false;
  }
  while (!AData.empty()) {
    const ssize_t wrote = write(fd, AData.data(), AData.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      AError = "cannot write '" + temp + "': " + std::strerror(errno);
      close(fd);
      unlink(temp.c_str());
      return false;
    }
    AData.remove_prefix(static_cast<std::size_t>(wrote));
  }
  if (close(fd) != 0 || rename(temp.c_str(), target.c_str()) != 0) {
    AError = "cannot write '" + target + "': " + std::strerror(errno);
    unlink(temp.c_str());
    return false;
  }
  return true;
}

// A line PHP's server said, without the "[date] " it starts with.
std::string Undated(const std::string& ALine) {
  if (!ALine.starts_with('[')) return ALine;
  const std::size_t close = ALine.find("] ");
  return close == std::string::npos ? ALine : ALine.substr(close + 2);
}

}  // namespace

void StopDevServerFromSignal() {
  StopServer();
  RemoveFolder();
}

struct TDevServer::TState {
  std::string Url;
  std::string Folder;
  int Err = -1;  // the read end of PHP's standard error
  std::string Buffer;
  std::thread Reader;
  std::atomic<bool> Stop{false};
  std::atomic<bool> Ended{false};
  std::string LastSaid;  // written by Reader before Ended is set
  std::function<void(const std::string&)> Said;

  // The next line PHP said, waiting until ADeadline; false at its end or at the deadline
  // (AEnd tells which).
  bool NextLine(std::string& ALine, TClock::time_point ADeadline, bool& AEnd) {
    AEnd = false;
    for (;;) {
      const std::size_t lf = Buffer.find('\n');
      if (lf != std::string::npos) {
        ALine = Buffer.substr(0, lf);
        Buffer.erase(0, lf + 1);
        return true;
      }
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(ADeadline - TClock::now());
      if (left.count() <= 0 || Stop.load()) return false;
      pollfd fd{Err, POLLIN, 0};
      const int ready = poll(&fd, 1, static_cast<int>(std::min<long long>(left.count(), 200)));
      if (ready < 0 && errno != EINTR) return AEnd = true, false;
      if (ready <= 0) continue;
      char chunk[4096];
      const ssize_t got = read(Err, chunk, sizeof chunk);
      if (got > 0)
        Buffer.append(chunk, static_cast<std::size_t>(got));
      else if (got == 0 || errno != EINTR)
        return AEnd = true, false;
    }
  }
};

TDevServer::TDevServer(std::unique_ptr<TState> AState) : State(std::move(AState)) {}

TDevServer::~TDevServer() {
  State->Stop = true;
  StopServer();
  if (State->Reader.joinable()) State->Reader.join();
  if (State->Err >= 0) close(State->Err);
  RemoveFolder();
}

std::unique_ptr<TDevServer> TDevServer::Start(const TDevServerSetup& ASetup, std::string& AError) {
  if (ServerPid.load() > 0 || FolderSet.load()) {
    AError = "a server runs already";
    return nullptr;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zoqc-serve-XXXXXX";
  if (pattern.size() >= sizeof FolderPath || mkdtemp(pattern.data()) == nullptr) {
    AError = "cannot make a private folder in '" + std::string(tmp && *tmp ? tmp : "/tmp") +
             "': " + std::strerror(errno);
    return nullptr;
  }
  auto state = std::make_unique<TState>();
  state->Folder = pattern;
  state->Said = ASetup.Said;
  std::memcpy(FolderPath, pattern.c_str(), pattern.size() + 1);
  FolderSet = true;
  // From here on the object owns the folder: its destructor removes it on every failure.
  std::unique_ptr<TDevServer> server(new TDevServer(std::move(state)));
  TState& st = *server->State;
  if (!Replace(st.Folder, kRouterFile, ASetup.Router, AError)) return nullptr;

  // Everything the child needs is made before the fork: it only calls what is safe there.
  // No line for each request (-q), PHP's messages to the router alone, and no OPcache: a page
  // replaced within the second it was last run in would come from OPcache unchanged.
  std::vector<std::string> args = {ASetup.Php,
                                   "-q",
                                   "-d",
                                   "display_errors=0",
                                   "-d",
                                   "html_errors=0",
                                   "-d",
                                   "error_reporting=-1",
                                   "-d",
                                   "opcache.enable=0",
                                   "-S",
                                   ASetup.Listen,
                                   "-t",
                                   ASetup.DocRoot,
                                   st.Folder + "/" + kRouterFile};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_texts = {"ZOQC_SERVE_DIR=" + st.Folder};
  for (const auto& [name, value] : ASetup.Environment) env_texts.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& text : env_texts) envp.push_back(text.data());
  for (char** var = environ; *var; ++var) {  // ours replace those of the same names
    bool replaced = false;
    for (const std::string& text : env_texts)
      replaced = replaced || std::strncmp(*var, text.c_str(), text.find('=') + 1) == 0;
    if (!replaced) envp.push_back(*var);
  }
  envp.push_back(nullptr);
  const std::string cannot_run = "cannot run '" + ASetup.Php + "': ";

  int err[2];
  if (pipe2(err, O_CLOEXEC) != 0) {
    AError = std::string("cannot make a pipe: ") + std::strerror(errno);
    return nullptr;
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    AError = std::string("cannot start a process: ") + std::strerror(errno);
    close(err[0]), close(err[1]);
    return nullptr;
  }
  if (pid == 0) {
    setpgid(0, 0);  // stopped by zoqc, not by the terminal's Ctrl-C on its own
#ifdef __linux__
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // zoqc killed outright takes the server with it
#endif
    if (getppid() != parent) _exit(127);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGXFSZ, SIG_DFL);
    environ = envp.data();
    execvp(argv[0], argv.data());
    const char* reason = std::strerror(errno);
    (void)!write(STDERR_FILENO, cannot_run.data(), cannot_run.size());
    (void)!write(STDERR_FILENO, reason, std::strlen(reason));
    (void)!write(STDERR_FILENO, "\n", 1);
    _exit(127);
  }
  ServerPid = pid;
  close(err[1]);
  st.Err = err[0];

  // Listening once it says so: "[date] PHP 8.2 Development Server (http://HOST:PORT) started".
  const auto deadline = TClock::now() + kStartTime;
  std::string said;
  for (;;) {
    std::string line;
    bool end = false;
    if (!st.NextLine(line, deadline, end)) {
      if (!end) said += "it did not listen within 30 seconds";
      while (!said.empty() && said.back() == '\n') said.pop_back();
      AError = said.empty() ? "PHP's server ended at once" : said;
      return nullptr;
    }
    const std::size_t open_at = line.find("Development Server (");
    const std::size_t close_at = line.rfind(") started");
    if (open_at != std::string::npos && close_at != std::string::npos && close_at > open_at) {
      const std::size_t from = open_at + std::strlen("Development Server (");
      st.Url = line.substr(from, close_at - from);
      break;
    }
    said += Undated(line) + "\n";
  }
  st.Reader = std::thread([&st] {
    std::string line;
    bool end = false;
    for (;;) {
      if (st.NextLine(line, TClock::now() + std::chrono::hours(24), end)) {
        st.LastSaid = Undated(line);
        if (st.Said) st.Said(line);
      } else if (end || st.Stop.load()) {
        break;
      }
    }
    st.Ended = end;
  });
  return server;
}

const std::string& TDevServer::Url() const { return State->Url; }

bool TDevServer::WriteFile(const char* AName, std::string_view AData, std::string& AError) {
  return Replace(State->Folder, AName, AData, AError);
}

bool TDevServer::Ended(std::string& AReason) const {
  if (!State->Ended.load()) return false;
  AReason = State->LastSaid;
  return true;
}

}  // namespace zoqc
