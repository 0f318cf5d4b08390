// The push listener on POSIX systems: non-blocking sockets and one thread around poll(), woken
// through a pipe.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "src/platform/push_listener.h"

namespace zoqc {

namespace {

using TClock = std::chrono::steady_clock;

constexpr std::size_t kMaxHead = 8192;         // a request's head, at most
constexpr std::size_t kMaxConnections = 512;   // open at once; more are closed at once
constexpr std::chrono::seconds kHeadTime{10};  // for a request's head to come whole

struct TConnection {
  int Fd = -1;
  std::string Head;  // the request's head as far as it came
  bool Held = false;
  TClock::time_point Deadline;  // for the head; once held, when to ask again
};

// Sends all of AText on the non-blocking socket AFd, whose buffer is all but empty: false when
// it would not take it.
bool SendAll(int AFd, std::string_view AText) {
  while (!AText.empty()) {
    const ssize_t sent = send(AFd, AText.data(), AText.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    AText.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

}  // namespace

std::optional<std::string> AddressBytes(std::string_view AHost) {
  const bool six = AHost.size() > 2 && AHost.front() == '[' && AHost.back() == ']';
  const std::string text(six ? AHost.substr(1, AHost.size() - 2) : AHost);
  std::string bytes(six ? 16 : 4, '\0');
  if (inet_pton(six ? AF_INET6 : AF_INET, text.c_str(), bytes.data()) != 1) return std::nullopt;
  return bytes;
}

struct TPushListener::TState {
  std::vector<int> Listening;
  int Port = 0;
  int WakeRead = -1, WakeWrite = -1;  // a byte in the pipe wakes the thread
  std::atomic<bool> Stop{false};
  std::atomic<bool> Woken{false};  // the held connections are to be asked again
  std::thread Thread;
  TAnswerer Answer;
  std::vector<TConnection> Connections;

  ~TState() {
    if (Thread.joinable()) {
      Stop = true;
      Poke();
      Thread.join();
    }
    for (const TConnection& connection : Connections) close(connection.Fd);
    for (const int fd : Listening) close(fd);
    if (WakeRead >= 0) close(WakeRead), close(WakeWrite);
  }

  // Wakes the thread; a full pipe holds a byte that wakes it already.
  void Poke() const {
    const char byte = 0;
    while (write(WakeWrite, &byte, 1) < 0 && errno == EINTR) {
    }
  }

  // Sends AAnswer on the connection at AIndex and keeps it or closes it; false when closed.
  bool Reply(std::size_t AIndex, const TAnswer& AAnswer) {
    TConnection& connection = Connections[AIndex];
    if (SendAll(connection.Fd, AAnswer.Text) && AAnswer.Hold) {
      connection.Held = true;
      connection.Deadline = AAnswer.AgainInMs < 0
                                ? TClock::time_point::max()
                                : TClock::now() + std::chrono::milliseconds(AAnswer.AgainInMs);
      return true;
    }
    Drop(AIndex);
    return false;
  }

  void Drop(std::size_t AIndex) {
    shutdown(Connections[AIndex].Fd, SHUT_RDWR);
    close(Connections[AIndex].Fd);
    Connections[AIndex] = std::move(Connections.back());
    Connections.pop_back();
  }

  void Accept(int AListening) {
    for (;;) {
      const int fd = accept4(AListening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR) continue;
        return;  // none left, or the peer gave up
      }
      if (Connections.size() >= kMaxConnections) {
        close(fd);  // the page falls back to asking PHP's server
        continue;
      }
      Connections.push_back({fd, {}, false, TClock::now() + kHeadTime});
    }
  }

  // Reads what came on the connection at AIndex; false when it was closed.
  bool Read(std::size_t AIndex) {
    TConnection& connection = Connections[AIndex];
    char chunk[2048];
    const ssize_t got = recv(connection.Fd, chunk, sizeof chunk, 0);
    if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (got <= 0) {  // the page went away
      Drop(AIndex);
      return false;
    }
    if (connection.Held) return true;  // nothing more is expected; ignored
    connection.Head.append(chunk, static_cast<std::size_t>(got));
    const std::size_t end = connection.Head.find("\r\n\r\n");
    if (end == std::string::npos) {
      if (connection.Head.size() <= kMaxHead) return true;
      Drop(AIndex);
      return false;
    }
    connection.Head.resize(end + 4);
    return Reply(AIndex, Answer(connection.Head, false));
  }

  void Loop() {
    std::vector<pollfd> fds;
    for (;;) {
      fds.clear();
      fds.push_back({WakeRead, POLLIN, 0});
      for (const int fd : Listening) fds.push_back({fd, POLLIN, 0});
      const std::size_t first = fds.size();
      auto deadline = TClock::time_point::max();
      for (const TConnection& connection : Connections) {
        fds.push_back({connection.Fd, POLLIN, 0});
        deadline = std::min(deadline, connection.Deadline);
      }
      int timeout = -1;
      if (deadline != TClock::time_point::max())
        timeout = static_cast<int>(std::max<long long>(
            0, std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now()).count()));
      if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) return;
      if (fds[0].revents & POLLIN) {
        char bytes[64];
        while (read(WakeRead, bytes, sizeof bytes) > 0) {
        }
      }
      if (Stop.load()) return;
      const bool wake = Woken.exchange(false);
      // The connections first, from the last: dropping one moves the last into its place.
      for (std::size_t idx = fds.size(); idx-- > first;) {
        if (fds[idx].revents == 0) continue;
        Read(idx - first);
      }
      const auto now = TClock::now();
      for (std::size_t idx = Connections.size(); idx-- > 0;) {
        TConnection& connection = Connections[idx];
        if (connection.Held && (wake || connection.Deadline <= now))
          (void)Reply(idx, Answer(connection.Head, true));
        else if (!connection.Held && connection.Deadline <= now)
          Drop(idx);
      }
      for (std::size_t idx = 1; idx < first; ++idx)
        if (fds[idx].revents & POLLIN) Accept(fds[idx].fd);
    }
  }
};

TPushListener::TPushListener(std::unique_ptr<TState> AState) : State(std::move(AState)) {}
TPushListener::~TPushListener() = default;

std::unique_ptr<TPushListener> TPushListener::Open(const std::string& AHost, std::string& AError) {
  auto state = std::make_unique<TState>();
  // The addresses of AHost. A static zoqc resolves no names (the system's resolver would need
  // shared libraries): localhost is both loopback addresses, other names are not served.
  std::vector<std::string> addresses;  // their 4 or 16 bytes
  const auto add = [&addresses](std::string_view AText) {
    if (std::optional<std::string> bytes = AddressBytes(AText)) addresses.push_back(*bytes);
  };
  std::string lowered = AHost;
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  while (lowered.ends_with('.')) lowered.pop_back();
  if (lowered == "localhost") add("127.0.0.1"), add("[::1]");
  add(lowered);
  if (addresses.empty()) {
    AError = "'" + AHost + "' is a name, not an address";
    return nullptr;
  }
  // The first address takes a free port; the others the same one.
  for (const std::string& bytes : addresses) {
    const bool six = bytes.size() == 16;
    sockaddr_storage address{};
    address.ss_family = six ? AF_INET6 : AF_INET;
    auto* const in6 = reinterpret_cast<sockaddr_in6*>(&address);
    auto* const in = reinterpret_cast<sockaddr_in*>(&address);
    std::memcpy(six ? static_cast<void*>(&in6->sin6_addr) : &in->sin_addr, bytes.data(),
                bytes.size());
    auto& port = six ? in6->sin6_port : in->sin_port;
    port = htons(static_cast<std::uint16_t>(state->Port));
    const socklen_t size = six ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    const int fd = socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0 ||
        listen(fd, 128) != 0) {
      if (state->Listening.empty()) AError = std::strerror(errno);
      if (fd >= 0) close(fd);
      continue;
    }
    if (state->Port == 0) {
      socklen_t got = sizeof address;
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &got);
      state->Port = ntohs(port);
    }
    state->Listening.push_back(fd);
  }
  if (state->Listening.empty()) {
    AError = "cannot listen on " + AHost + ": " + AError;
    return nullptr;
  }
  int wake[2];
  if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    AError = std::string("cannot make a pipe: ") + std::strerror(errno);
    return nullptr;
  }
  state->WakeRead = wake[0];
  state->WakeWrite = wake[1];
  return std::unique_ptr<TPushListener>(new TPushListener(std::move(state)));
}

int TPushListener::Port() const { return State->Port; }

void TPushListener::Run(TAnswerer AAnswer) {
  if (State->Thread.joinable()) return;
  State->Answer = std::move(AAnswer);
  State->Thread = std::thread([state = State.get()] { state->Loop(); });
}

void TPushListener::Wake() {
  State->Woken = true;
  State->Poke();
}

}  // namespace zoqc
