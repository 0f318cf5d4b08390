// Test support for the translation's tests: a page sink that lends a small room, as a page's
// output stream lends its buffer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

#include "src/text/pieces.h"

namespace zoqc::test_support {

// Lends ARoom bytes at a time (more when asked for more), filled with '~' so that a byte
// written past what was kept shows; a room of 0 lends none, so every piece comes by Put.
// Text holds the page once it is closed.
class TRoomSink final : public TPageSink {
 public:
  explicit TRoomSink(std::size_t ARoom) : Room(ARoom) { Lend(); }
  void Close() override { Settle(); }
  std::string Text;

 private:
  void Put(std::string_view APiece) override {
    Settle();
    Text.append(APiece);
    Lend();
  }
  bool LendMore(std::size_t ACount) override {
    if (Room == 0) return false;
    Settle();
    Room = std::max(Room, ACount);
    Lend();
    return true;
  }
  void Settle() { Text.append(Buffer.data(), static_cast<std::size_t>(At - Buffer.data())); }
  void Lend() {
    Buffer.assign(Room, '~');
    At = Buffer.data(), End = Buffer.data() + Buffer.size();
  }

  std::size_t Room;
  std::string Buffer;
};

}  // namespace zoqc::test_support
