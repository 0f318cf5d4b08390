// The language server's channel is the process's standard input and output, in binary; the
// files it reads are loaded as the translation loads them.
#include "src/driver/language_server.h"

#include <cerrno>
#include <csignal>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "src/driver/out_of_memory.h"
#include "src/lsp/server.h"
#include "src/platform/files.h"

namespace zoqc {

namespace {

class TStandardChannel : public lsp::TChannel {
 public:
  std::size_t Read(char* AData, std::size_t ASize) override {
    for (;;) {
#ifdef _WIN32
      const int got = _read(0, AData, static_cast<unsigned>(ASize));
#else
      const ssize_t got = read(STDIN_FILENO, AData, ASize);
#endif
      if (got >= 0) return static_cast<std::size_t>(got);
      if (errno != EINTR) return 0;
    }
  }
  bool Write(std::string_view AData) override {
    while (!AData.empty()) {
#ifdef _WIN32
      const int put = _write(1, AData.data(), static_cast<unsigned>(AData.size()));
#else
      const ssize_t put = write(STDOUT_FILENO, AData.data(), AData.size());
#endif
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;  // the client has gone away
      AData.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
  }
};

}  // namespace

int ServeLanguageClient() {
#ifdef _WIN32
  _setmode(0, _O_BINARY);
  _setmode(1, _O_BINARY);
#else
  std::signal(SIGPIPE, SIG_IGN);  // a client that goes away is a failed write, not a signal
#endif
  // Out of memory, the server answers the request that needed it with an error and goes on;
  // should even that fail, the failure report must not land in the protocol's stream.
  ReportOutOfMemoryOnStandardError();
  TStandardChannel channel;
  return lsp::RunServer(channel, [](const std::string& APath, std::string& AText) {
    TFileFailure failure;
    return LoadFile(APath, AText, failure);
  });
}

}  // namespace zoqc
