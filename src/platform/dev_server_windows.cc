// PHP's development server on Windows: not there yet.
#include "src/platform/dev_server.h"

namespace zoqc {

std::string FileIdentity(const std::string&) { return {}; }

struct TDevServer::TState {};

TDevServer::TDevServer(std::unique_ptr<TState> AState) : State(std::move(AState)) {}
TDevServer::~TDevServer() = default;

std::unique_ptr<TDevServer> TDevServer::Start(const TDevServerSetup&, std::string& AError) {
  AError = "--serve is not supported on Windows yet; run zoqc --watch and php -S side by side";
  return nullptr;
}

const std::string& TDevServer::Url() const {
  static const std::string none;
  return none;
}

bool TDevServer::WriteFile(const char*, std::string_view, std::string& AError) {
  AError = "not supported on Windows";
  return false;
}

bool TDevServer::Ended(std::string&) const { return true; }

}  // namespace zoqc
