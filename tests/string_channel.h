// A language server's channel for tests: input from a string, output into one.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

#include "src/lsp/transport.h"

namespace zoqc::lsp {

class TStringChannel : public TChannel {
 public:
  explicit TStringChannel(std::string AInput) : Input(std::move(AInput)) {}
  std::size_t Read(char* AData, std::size_t ASize) override {
    const std::size_t take = std::min(ASize, Input.size() - Used);
    Input.copy(AData, take, Used);
    Used += take;
    return take;
  }
  bool Write(std::string_view AData) override { return Output.append(AData), true; }

  std::string Input;     // what the client sent
  std::size_t Used = 0;  // how much of it the server has read
  std::string Output;    // what the server sent back
};

}  // namespace zoqc::lsp
