// Content-Length framing over a channel.
#include "src/lsp/transport.h"

#include <algorithm>
#include <charconv>

#include "src/text/text.h"

namespace zoqc::lsp {

namespace {

constexpr std::size_t kMaxHeaderSize = 8192;  // all header lines of one message

// The value of a "Content-Length: N" line, or false when the line is another header.
bool ContentLength(std::string_view ALine, std::size_t& ALength, bool& AValid) {
  constexpr std::string_view key = "content-length:";
  if (ALine.size() < key.size() || !SameText(ALine.substr(0, key.size()), key)) return false;
  std::string_view value = ALine.substr(key.size());
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  const auto [stop, error] = std::from_chars(value.data(), value.data() + value.size(), ALength);
  AValid = !value.empty() && error == std::errc() && stop == value.data() + value.size();
  return true;
}

}  // namespace

bool TMessageReader::Fill() {
  if (Used > 0 && Used == Buffer.size()) Buffer.clear(), Used = 0;
  if (Used > (64u << 10)) Buffer.erase(0, Used), Used = 0;
  char chunk[65536];
  const std::size_t got = Channel.Read(chunk, sizeof chunk);
  if (got == 0) return false;
  Buffer.append(chunk, got);
  return true;
}

TReadStatus TMessageReader::Next(std::string& ABody) {
  while (Skip > 0) {
    if (Used == Buffer.size() && !Fill()) return TReadStatus::End;
    const std::size_t take = std::min(Skip, Buffer.size() - Used);
    Used += take;
    Skip -= take;
  }
  // The header: lines ending in CR LF (or LF) up to an empty one.
  std::size_t length = 0;
  bool have_length = false;
  bool valid = true;
  bool any_header = false;
  std::size_t header_size = 0;
  for (;;) {
    std::size_t lf = Buffer.find('\n', Used);
    while (lf == std::string::npos) {
      if (Buffer.size() - Used > kMaxHeaderSize) return TReadStatus::BadHeader;
      if (!Fill()) return TReadStatus::End;
      lf = Buffer.find('\n', Used);
    }
    std::string_view line(Buffer.data() + Used, lf - Used);
    header_size += line.size() + 1;
    Used = lf + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) {
      if (!any_header) continue;  // a stray line end between messages
      break;
    }
    any_header = true;
    if (header_size > kMaxHeaderSize) return TReadStatus::BadHeader;
    bool line_valid = true;
    if (ContentLength(line, length, line_valid)) have_length = true, valid = valid && line_valid;
  }
  if (!have_length || !valid) return TReadStatus::BadHeader;
  if (length > kMaxMessageSize) {
    Skip = length;
    return TReadStatus::TooLarge;
  }
  ABody.clear();
  while (length > 0) {
    if (Used == Buffer.size() && !Fill()) return TReadStatus::End;
    const std::size_t take = std::min(length, Buffer.size() - Used);
    ABody.append(Buffer, Used, take);
    Used += take;
    length -= take;
  }
  return TReadStatus::Message;
}

bool WriteMessage(TChannel& AChannel, std::string_view ABody) {
  std::string message = "Content-Length: " + std::to_string(ABody.size()) + "\r\n\r\n";
  message.append(ABody);
  return AChannel.Write(message);
}

}  // namespace zoqc::lsp
