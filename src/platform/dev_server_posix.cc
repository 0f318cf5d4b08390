// PHP's development server on POSIX systems: a keeper process forked in a process group of its
// own runs PHP's server (and its workers) there and ends the whole group when zoqc ends, however
// it ends; PHP's standard error read through a pipe; the private folder made with mkdtemp and
// locked while it is in use.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

#include "src/platform/dev_server.h"
#include "src/platform/dev_server_signal_posix.h"

extern char** environ;

namespace zoqc {

namespace {

using TClock = std::chrono::steady_clock;

// How long PHP may take to listen; the machine may be busy.
constexpr std::chrono::seconds kStartTime{30};

// PHP's server processes, each answering one request at a time: a page stuck in a loop (until
// PHP's time limit, 30 seconds) holds one, the others go on serving pages and reload polls.
constexpr const char* kWorkers = "4";

// The private folders: "zoqc-serve-PID-XXXXXX", PID the zoqc that made it.
constexpr std::string_view kFolderPrefix = "zoqc-serve-";

/* The running server, for the signal handler as for the destructor: whichever takes Pid first
   kills and reaps the server, and whichever takes FolderSet first empties and removes the
   folder. Path holds the folder's path, NUL-terminated, while FolderSet is true. */
std::atomic<pid_t> ServerPid{-1};
std::atomic<bool> FolderSet{false};
char FolderPath[4096];
int FolderLock = -1;  // the folder, open and locked while it is in use
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

// True when the process APid has ended: gone, or a zombie its parent has not reaped yet.
bool Gone(pid_t APid) {
  if (kill(APid, 0) != 0) return errno == ESRCH;
  char stat_path[32];
  std::snprintf(stat_path, sizeof stat_path, "/proc/%d/stat", static_cast<int>(APid));
  const int fd = open(stat_path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[512];
  const ssize_t got = read(fd, text, sizeof text - 1);
  close(fd);
  if (got <= 0) return false;
  const std::string_view stat(text, static_cast<std::size_t>(got));
  const std::size_t name_end = stat.rfind(") ");  // "PID (NAME) STATE ..."
  return name_end != std::string_view::npos && stat.substr(name_end + 2).starts_with('Z');
}

// Removes the private folders in ATmp that runs killed outright left: those of this user whose
// zoqc is gone and whose lock no process holds (a folder being made has its zoqc alive; one
// in use, its lock held). Only the names a folder holds are removed, then the folder if empty.
void RemoveStaleFolders(const std::string& ATmp) {
  DIR* const dir = opendir(ATmp.c_str());
  if (!dir) return;
  while (const dirent* entry = readdir(dir)) {
    std::string_view name = entry->d_name;
    if (!name.starts_with(kFolderPrefix)) continue;
    name.remove_prefix(kFolderPrefix.size());
    const std::size_t dash = name.find('-');
    if (dash == std::string_view::npos || dash == 0 || dash > 9 || name.size() != dash + 7)
      continue;
    pid_t pid = 0;
    bool digits = true;
    for (const char c : name.substr(0, dash)) {
      digits = digits && c >= '0' && c <= '9';
      pid = pid * 10 + (c - '0');
    }
    if (!digits || pid == getpid() || !Gone(pid)) continue;
    const std::string path = ATmp + "/" + entry->d_name;
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat info {};
    if (fstat(fd, &info) == 0 && info.st_uid == geteuid() && flock(fd, LOCK_EX | LOCK_NB) == 0) {
      for (const char* file : kFolderNames) unlinkat(fd, file, 0);
      rmdir(path.c_str());
    }
    close(fd);
  }
  closedir(dir);
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

// A line PHP's server said, without the "[pid] " (with workers) and "[date] " it starts with.
std::string Undated(std::string ALine) {
  for (int idx = 0; idx < 2 && ALine.starts_with('['); ++idx) {
    const std::size_t close = ALine.find("] ");
    if (close == std::string::npos) break;
    ALine.erase(0, close + 2);
  }
  return ALine;
}

// The address in PHP's line "PHP 8.2 Development Server (http://HOST:PORT) started", or "".
std::string StartedAt(const std::string& ALine) {
  const std::size_t open_at = ALine.find("Development Server (");
  const std::size_t close_at = ALine.rfind(") started");
  if (open_at == std::string::npos || close_at == std::string::npos || close_at <= open_at)
    return {};
  const std::size_t from = open_at + std::strlen("Development Server (");
  return ALine.substr(from, close_at - from);
}

}  // namespace

std::string FileIdentity(const std::string& APath) {
  struct stat info {};
  if (stat(APath.c_str(), &info) != 0) return {};
  return std::to_string(static_cast<std::uint64_t>(info.st_dev)) + ":" +
         std::to_string(static_cast<std::uint64_t>(info.st_ino));
}

void StopDevServerFromSignal() {
  StopServer();
  RemoveFolder();
}

struct TDevServer::TState {
  std::string Url;
  std::string Folder;
  int Err = -1;   // the read end of PHP's standard error
  int Life = -1;  // the write end of the keeper's lifeline: it ends the server when it closes
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
  if (State->Life >= 0) close(State->Life);
  RemoveFolder();
  if (FolderLock >= 0) close(FolderLock), FolderLock = -1;
}

namespace {

// Makes the private folder in TMPDIR (else /tmp), after removing those of runs that ended.
bool MakeFolder(std::string& AFolder, std::string& AError) {
  const char* tmp = std::getenv("TMPDIR");
  const std::string tmp_dir = tmp && *tmp ? tmp : "/tmp";
  RemoveStaleFolders(tmp_dir);
  AFolder = tmp_dir + "/" + std::string(kFolderPrefix) + std::to_string(getpid()) + "-XXXXXX";
  if (AFolder.size() < sizeof FolderPath && mkdtemp(AFolder.data()) != nullptr) return true;
  AError = "cannot make a private folder in '" + tmp_dir + "': " + std::strerror(errno);
  return false;
}

// PHP's server's command and environment. Everything the child needs is made before the fork:
// it only calls what is safe there.
struct TPhpCommand {
  TPhpCommand(const TDevServerSetup& ASetup, const std::string& AFolder);
  TPhpCommand(const TPhpCommand&) = delete;  // Argv and Envp point into the texts

  std::vector<std::string> Args;
  std::vector<char*> Argv;
  std::vector<std::string> EnvTexts;
  std::vector<char*> Envp;
  std::string CannotRun;
};

TPhpCommand::TPhpCommand(const TDevServerSetup& ASetup, const std::string& AFolder) {
  // No line for each request (-q), PHP's messages to the router alone, and no OPcache: a page
  // replaced within the second it was last run in would come from OPcache unchanged.
  Args = {ASetup.Php,
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
          AFolder + "/" + kRouterFile};
  for (std::string& arg : Args) Argv.push_back(arg.data());
  Argv.push_back(nullptr);
  EnvTexts = {"ZOQC_SERVE_DIR=" + AFolder};
  if (!std::getenv("PHP_CLI_SERVER_WORKERS"))
    EnvTexts.push_back(std::string("PHP_CLI_SERVER_WORKERS=") + kWorkers);
  for (const auto& [name, value] : ASetup.Environment) EnvTexts.push_back(name + "=" + value);
  for (std::string& text : EnvTexts) Envp.push_back(text.data());
  for (char** var = environ; *var; ++var) {  // ours replace those of the same names
    bool replaced = false;
    for (const std::string& text : EnvTexts)
      replaced = replaced || std::strncmp(*var, text.c_str(), text.find('=') + 1) == 0;
    if (!replaced) Envp.push_back(*var);
  }
  Envp.push_back(nullptr);
  CannotRun = "cannot run '" + ASetup.Php + "': ";
}

// The keeper: PHP's server forks its workers, which outlive it when it is killed; all of them
// are in the keeper's process group, which it ends as soon as zoqc (AParent) has gone (the
// lifeline's write end closes with zoqc, killed outright too) or PHP's server has.
[[noreturn]] void RunKeeper(pid_t AParent, const int AErr[2], const int ALife[2],
                            TPhpCommand& ACommand) {
  FolderSet = false;  // the folder is zoqc's to remove, not the keeper's
  setpgid(0, 0);      // stopped by zoqc, not by the terminal's Ctrl-C on its own
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) signal(sig, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  close(ALife[1]);
  if (getppid() != AParent) _exit(127);
  const pid_t php = fork();
  if (php == 0) {
    close(ALife[0]);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(AErr[1], STDERR_FILENO);
    signal(SIGXFSZ, SIG_DFL);
    environ = ACommand.Envp.data();
    execvp(ACommand.Argv[0], ACommand.Argv.data());
    const char* reason = std::strerror(errno);
    (void)!write(STDERR_FILENO, ACommand.CannotRun.data(), ACommand.CannotRun.size());
    (void)!write(STDERR_FILENO, reason, std::strlen(reason));
    (void)!write(STDERR_FILENO, "\n", 1);
    _exit(127);
  }
  close(AErr[0]);
  close(AErr[1]);
  for (int status = 0; php > 0;) {
    pollfd fd{ALife[0], POLLIN, 0};
    if (poll(&fd, 1, 200) > 0 || waitpid(php, &status, WNOHANG) != 0) break;
  }
  kill(0, SIGKILL);  // the group: PHP's server, its workers, what pages started, the keeper
  _exit(127);
}

// Listening once it says so: "[date] PHP 8.2 Development Server (http://HOST:PORT) started".
// False, with what PHP said instead in AError, when it ends or does not say so in time.
bool AwaitListening(TDevServer::TState& AState, std::string& AError) {
  const auto deadline = TClock::now() + kStartTime;
  std::string said;
  for (;;) {
    std::string line;
    bool end = false;
    if (!AState.NextLine(line, deadline, end)) {
      if (!end) said += "it did not listen within 30 seconds";
      while (!said.empty() && said.back() == '\n') said.pop_back();
      AError = said.empty() ? "PHP's server ended at once" : said;
      return false;
    }
    AState.Url = StartedAt(line);
    if (!AState.Url.empty()) return true;
    said += Undated(line) + "\n";
  }
}

// Reads what PHP says once it listens, on a thread of its own: each line for Said, the last one
// for Ended.
void StartReader(TDevServer::TState& AState) {
  AState.Reader = std::thread([&st = AState] {
    std::string line;
    bool end = false;
    for (;;) {
      if (st.NextLine(line, TClock::now() + std::chrono::hours(24), end)) {
        if (StartedAt(line) == st.Url) continue;  // each worker says it started
        st.LastSaid = Undated(line);
        if (st.Said) st.Said(line);
      } else if (end || st.Stop.load()) {
        break;
      }
    }
    st.Ended = end;
  });
}

}  // namespace

std::unique_ptr<TDevServer> TDevServer::Start(const TDevServerSetup& ASetup, std::string& AError) {
  if (ServerPid.load() > 0 || FolderSet.load()) {
    AError = "a server runs already";
    return nullptr;
  }
  std::string folder;
  if (!MakeFolder(folder, AError)) return nullptr;
  auto state = std::make_unique<TState>();
  state->Folder = folder;
  state->Said = ASetup.Said;
  std::memcpy(FolderPath, folder.c_str(), folder.size() + 1);
  FolderSet = true;
  FolderLock = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (FolderLock >= 0) (void)flock(FolderLock, LOCK_EX);
  // From here on the object owns the folder: its destructor removes it on every failure.
  std::unique_ptr<TDevServer> server(new TDevServer(std::move(state)));
  TState& st = *server->State;
  if (!Replace(st.Folder, kRouterFile, ASetup.Router, AError)) return nullptr;
  TPhpCommand command(ASetup, st.Folder);

  int err[2];
  if (pipe2(err, O_CLOEXEC) != 0) {
    AError = std::string("cannot make a pipe: ") + std::strerror(errno);
    return nullptr;
  }
  int life[2];
  if (pipe2(life, O_CLOEXEC) != 0) {
    AError = std::string("cannot make a pipe: ") + std::strerror(errno);
    close(err[0]), close(err[1]);
    return nullptr;
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    AError = std::string("cannot start a process: ") + std::strerror(errno);
    close(err[0]), close(err[1]), close(life[0]), close(life[1]);
    return nullptr;
  }
  if (pid == 0) RunKeeper(parent, err, life, command);
  close(life[0]);
  st.Life = life[1];
  ServerPid = pid;
  close(err[1]);
  st.Err = err[0];
  if (!AwaitListening(st, AError)) return nullptr;
  StartReader(st);
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
