// zoqc's own small listener beside PHP's development server: it holds the connections of the
// pages open in the browser, each waiting to learn that its page was translated again, and
// answers them the moment zoqc says so. It runs on a thread of its own, so a waiting page holds
// neither one of PHP's workers nor zoqc's watch. One implementation per platform
// (push_listener_posix.cc, push_listener_windows.cc).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zoqc {

// The bytes of an address as the system reads it: IPv4 (4 of them), IPv6 in brackets (16,
// "[::ffff:127.0.0.1]"), or nullopt for a name or anything else.
std::optional<std::string> AddressBytes(std::string_view AHost);

class TPushListener {
 public:
  // What to do with a connection: send Text, then keep it open to be asked again at the next
  // Wake (or after AgainInMs, when not negative), or close it.
  struct TAnswer {
    std::string Text;
    bool Hold = false;
    int AgainInMs = -1;
  };
  // Asked on the listener's thread with a request's head (its bytes up to and with the blank
  // line): once when it has come (AAgain false), then at each Wake (and time asked for) while
  // it is held. It may call Wake.
  using TAnswerer = std::function<TAnswer(std::string_view AHead, bool AAgain)>;

  // Listens on AHost (an IPv4 address, an IPv6 address in brackets, or localhost: both loopback
  // addresses) on a port the system picks. Null, with the reason in AError, when it cannot (a
  // host name other than localhost is not looked up). Connections wait in the system's queue
  // until Run.
  static std::unique_ptr<TPushListener> Open(const std::string& AHost, std::string& AError);
  ~TPushListener();  // closes every connection, and ends the thread
  TPushListener(const TPushListener&) = delete;
  TPushListener& operator=(const TPushListener&) = delete;

  // The port it listens on.
  int Port() const;
  // Starts answering the connections with AAnswer, on the listener's thread.
  void Run(TAnswerer AAnswer);
  // Has every held connection asked again, at once, on the listener's thread.
  void Wake();

  struct TState;

 private:
  explicit TPushListener(std::unique_ptr<TState> AState);
  std::unique_ptr<TState> State;
};

}  // namespace zoqc
