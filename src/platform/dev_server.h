// PHP's development server run beside zoqc, and the private folder that holds its router and
// the state zoqc writes for it. One implementation per platform (dev_server_posix.cc,
// dev_server_windows.cc).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zoqc {

// How to start the server.
struct TDevServerSetup {
  std::string Php = "php";  // the PHP to run, found on PATH when it holds no "/"
  std::string Listen;       // "HOST:PORT"
  std::string DocRoot;      // the folder it serves
  std::string Router;       // the text of the router script, which handles every request
  // Set in the server's environment, and so in the router's; ZOQC_SERVE_DIR, the private
  // folder, is set besides.
  std::vector<std::pair<std::string, std::string>> Environment;
  // Called on a thread of its own with each line PHP says on its standard error once it is
  // listening (the messages that the router did not handle).
  std::function<void(const std::string&)> Said;
};

// The identity of the file at APath (links followed) as "DEVICE:INODE", as PHP's stat() gives
// its numbers; "" when it cannot be known.
std::string FileIdentity(const std::string& APath);

// The files of the private folder: the router and the state, each replaced whole by a rename.
inline constexpr const char* kRouterFile = "router.php";
inline constexpr const char* kStateFile = "state.json";
inline constexpr const char* kGenerationFile = "generation";

// A running server. It is stopped, and its folder removed, when the object goes or when a
// signal ends the process; once either is done its port is free.
class TDevServer {
 public:
  // Makes the private folder (in TMPDIR, else /tmp; first removing those that runs ended
  // without removing, killed outright), writes the router into it, starts PHP's server on
  // ASetup.Listen with several workers (a page stuck in a loop holds only one) and waits until
  // it listens. Null, with the reason (PHP's own words
  // where it said any) in AError, when it cannot; nothing is left behind then.
  static std::unique_ptr<TDevServer> Start(const TDevServerSetup& ASetup, std::string& AError);
  ~TDevServer();
  TDevServer(const TDevServer&) = delete;
  TDevServer& operator=(const TDevServer&) = delete;

  // The address PHP listens on, as it says it: "http://127.0.0.1:8000".
  const std::string& Url() const;
  // Replaces the file AName of the private folder (kStateFile, kGenerationFile) by AData at
  // once: the router reads the old file or the new one. False, with the reason, on failure.
  [[nodiscard]] bool WriteFile(const char* AName, std::string_view AData, std::string& AError);
  // True once PHP has ended by itself, with the last thing it said in AReason.
  bool Ended(std::string& AReason) const;

  struct TState;

 private:
  explicit TDevServer(std::unique_ptr<TState> AState);
  std::unique_ptr<TState> State;
};

}  // namespace zoqc
