// The framing of the protocol: messages as "Content-Length: N" headers, an empty line and N
// bytes of JSON, read from and written to a byte stream that the caller provides.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zoqc::lsp {

// Where the messages come from and go to: standard input and output in the driver, strings in
// the tests and the fuzz target.
class TChannel {
 public:
  virtual ~TChannel() = default;
  // Reads up to ASize bytes into AData; 0 at the end of the input (or on a read failure).
  virtual std::size_t Read(char* AData, std::size_t ASize) = 0;
  // Writes all of AData; false when the other side has gone away.
  [[nodiscard]] virtual bool Write(std::string_view AData) = 0;
};

// The largest message body read; a longer one is skipped and answered with an error.
inline constexpr std::size_t kMaxMessageSize = 64u << 20;

enum class TReadStatus : unsigned char {
  Message,    // ABody holds a message
  TooLarge,   // a message over kMaxMessageSize: its body is skipped before the next one
  BadHeader,  // a header without a usable Content-Length: the stream cannot be followed
  End,        // the input ended (between messages or inside one)
};

// Reads messages from a channel, buffering what it has read ahead.
class TMessageReader {
 public:
  explicit TMessageReader(TChannel& AChannel) : Channel(AChannel) {}
  [[nodiscard]] TReadStatus Next(std::string& ABody);

 private:
  // Reads more input into Buffer; false at its end.
  bool Fill();

  TChannel& Channel;
  std::string Buffer;  // read but not yet consumed, from Used on
  std::size_t Used = 0;
  std::size_t Skip = 0;  // the bytes of a message too large, still to be skipped
};

// Writes ABody with its header; false when the other side has gone away.
[[nodiscard]] bool WriteMessage(TChannel& AChannel, std::string_view ABody);

}  // namespace zoqc::lsp
