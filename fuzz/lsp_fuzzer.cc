// Fuzzes the language server's message loop: any bytes on its input end in answers or a clean
// exit, never a crash, a sanitizer report or a hang. The files it reads are one small page.
#include <cstdint>
#include <string>
#include <string_view>

#include "src/lsp/server.h"

namespace {

// The fuzz input as the client's side of the stream; what the server writes is dropped.
class TInputChannel : public zoqc::lsp::TChannel {
 public:
  explicit TInputChannel(std::string_view AInput) : Input(AInput) {}
  std::size_t Read(char* AData, std::size_t ASize) override {
    const std::size_t take = Input.copy(AData, ASize);
    Input.remove_prefix(take);
    return take;
  }
  bool Write(std::string_view AData) override { return Written += AData.size(), true; }

  std::string_view Input;
  std::size_t Written = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  TInputChannel channel(std::string_view(reinterpret_cast<const char*>(AData), ASize));
  zoqc::lsp::RunServer(channel, [](const std::string& APath, std::string& AText) {
    if (APath.ends_with(".zoq"))
      AText = "<?php\n<<title<<$t\n<<*row\n<<<name<<$r\n<<+row\n";
    else if (APath.ends_with(".zot"))
      AText = "<h1>{title}</h1>\n<!--BEGIN row--><li>{name}</li><!--END row-->\n";
    else
      return false;
    return true;
  });
  return 0;
}
