// Helper programs on Windows: not offered, so that options that need one are refused.
#include "src/platform/child.h"

namespace zoqc {

struct TChildProcess::TState {};

TChildProcess::TChildProcess(std::unique_ptr<TState> AState) : State(std::move(AState)) {}

std::unique_ptr<TChildProcess> TChildProcess::Start(const std::vector<std::string>&,
                                                    std::string& AError) {
  AError = "not supported on Windows";
  return nullptr;
}

TChildProcess::~TChildProcess() = default;

bool TChildProcess::Send(std::span<const std::string_view>, int) { return false; }

bool TChildProcess::ReadLine(std::string&, int) { return false; }

void TChildProcess::CloseInput() {}

void TChildProcess::Kill() {}

bool TChildProcess::Readable() const { return false; }

long TChildProcess::CpuMs(bool& AWaiting) const {
  AWaiting = false;
  return -1;
}

}  // namespace zoqc
