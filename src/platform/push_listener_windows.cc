// The push listener on Windows: not there yet, as --serve is not (the pages would ask PHP's
// server instead).
#include "src/platform/push_listener.h"

#include <utility>

namespace zoqc {

std::optional<std::string> AddressBytes(std::string_view) { return std::nullopt; }

struct TPushListener::TState {};

TPushListener::TPushListener(std::unique_ptr<TState> AState) : State(std::move(AState)) {}
TPushListener::~TPushListener() = default;

std::unique_ptr<TPushListener> TPushListener::Open(const std::string&, std::string& AError) {
  AError = "not supported on Windows yet";
  return nullptr;
}

int TPushListener::Port() const { return 0; }
void TPushListener::Run(TAnswerer) {}
void TPushListener::Wake() {}

}  // namespace zoqc
