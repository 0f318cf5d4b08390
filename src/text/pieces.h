// A text held as a list of pieces: views of other texts, in order, never copied into one.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace zoqc {

// Where a page goes as it is made: its bytes, piece by piece, in order. A piece is a view that
// need not outlive the call unless the sink says otherwise. A sink that copies what it is given
// may lend the room left in its buffer (At to End): pieces that fit are copied there inline,
// the rest go to Put, and Close, once the page is whole, makes the sink take what was copied.
class TPageSink {
 public:
  void Append(std::string_view APiece) {
    const std::size_t n = APiece.size();
    if (n <= static_cast<std::size_t>(End - At)) {  // no room lent: only an empty piece
      if (n != 0) std::memcpy(At, APiece.data(), n);
      At += n;
      return;
    }
    Put(APiece);
  }
  // Appends three pieces in turn: a placeholder's echo, written around its expression. Pieces
  // of up to 16 bytes (an escaped echo's calls: up to 64) are copied without a call.
  void AppendThree(std::string_view AFirst, std::string_view ASecond, std::string_view AThird) {
    const std::size_t size = AFirst.size() + ASecond.size() + AThird.size();
    const std::size_t longest = AFirst.size() | ASecond.size() | AThird.size();  // >= the max
    if (longest > 64 || size > static_cast<std::size_t>(End - At))
      return PutThree(AFirst, ASecond, AThird);
    if (longest <= 16) {
      PutShort(At, AFirst);
      PutShort(At + AFirst.size(), ASecond);
      PutShort(At + AFirst.size() + ASecond.size(), AThird);
    } else {
      PutSmall(At, AFirst);
      PutSmall(At + AFirst.size(), ASecond);
      PutSmall(At + AFirst.size() + ASecond.size(), AThird);
    }
    At += size;
  }
  // The page is whole: what was copied into the lent room is the sink's.
  virtual void Close() {}

  // For a loop that writes the page in place: the room lent runs from Cursor() to Limit();
  // MoveTo(AAt) keeps the bytes written before AAt. Lend(ACount) makes room for ACount bytes
  // (a few hundred at most), or says that none is lent: such a sink is given pieces by Append.
  char* Cursor() const { return At; }
  char* Limit() const { return End; }
  void MoveTo(char* AAt) { At = AAt; }
  bool Lend(std::size_t ACount) {
    return static_cast<std::size_t>(End - At) >= ACount || LendMore(ACount);
  }

  // Copies AData, at most 16 bytes, to ATo by overlapping loads.
  static void PutShort(char* ATo, std::string_view AData) {
    const std::size_t n = AData.size();
    const char* const from = AData.data();
    if (n >= 8) {
      std::uint64_t head, tail;
      std::memcpy(&head, from, 8), std::memcpy(&tail, from + n - 8, 8);
      std::memcpy(ATo, &head, 8), std::memcpy(ATo + n - 8, &tail, 8);
    } else if (n >= 4) {
      std::uint32_t head, tail;
      std::memcpy(&head, from, 4), std::memcpy(&tail, from + n - 4, 4);
      std::memcpy(ATo, &head, 4), std::memcpy(ATo + n - 4, &tail, 4);
    } else if (n > 0) {
      const char first = from[0], middle = from[n / 2], last = from[n - 1];
      ATo[0] = first, ATo[n / 2] = middle, ATo[n - 1] = last;
    }
  }
  // Copies AData, at most 64 bytes, to ATo: 16 bytes at a time, the last 16 overlapping.
  static void PutSmall(char* ATo, std::string_view AData) {
    const std::size_t n = AData.size();
    if (n <= 16) return PutShort(ATo, AData);
    const char* const from = AData.data();
    for (std::size_t k = 0; k + 16 < n; k += 16) std::memcpy(ATo + k, from + k, 16);
    std::memcpy(ATo + n - 16, from + n - 16, 16);
  }

 protected:
  ~TPageSink() = default;
  // Appends APiece, which did not fit the room lent (or none is).
  virtual void Put(std::string_view APiece) = 0;
  virtual void PutThree(std::string_view AFirst, std::string_view ASecond,
                        std::string_view AThird) {
    if (!AFirst.empty()) Put(AFirst);
    if (!ASecond.empty()) Put(ASecond);
    if (!AThird.empty()) Put(AThird);
  }
  // Lend's room, where the sink has a buffer to lend.
  virtual bool LendMore(std::size_t) { return false; }

  char* At = nullptr;  // the room lent: bytes appended go here, up to End
  char* End = nullptr;
};

// The pieces live in one block grown with realloc, which moves a large block by remapping its
// pages instead of copying them, so growing never needs the old and the new list at once.
// A piece that starts where the previous one ends extends it. Empty pieces are dropped. As a
// sink it keeps the views, so what it is given must outlive it.
class TPieces final : public TPageSink {
 public:
  TPieces() = default;
  TPieces(TPieces&& AOther) noexcept
      : Data(std::exchange(AOther.Data, nullptr)),
        Count(std::exchange(AOther.Count, 0)),
        Capacity(std::exchange(AOther.Capacity, 0)) {}
  TPieces& operator=(TPieces&& AOther) noexcept {
    std::swap(Data, AOther.Data);
    std::swap(Count, AOther.Count);
    std::swap(Capacity, AOther.Capacity);
    return *this;
  }
  ~TPieces() { std::free(Data); }

  std::span<const std::string_view> Span() const { return {Data, Count}; }

  // All pieces joined.
  std::string Joined() const {
    std::size_t length = 0;
    for (const std::string_view piece : Span()) length += piece.size();
    std::string text;
    text.reserve(length);
    for (const std::string_view piece : Span()) text.append(piece);
    return text;
  }

 private:
  void Put(std::string_view APiece) override {
    if (Count > 0 && Data[Count - 1].data() + Data[Count - 1].size() == APiece.data()) {
      Data[Count - 1] =
          std::string_view(Data[Count - 1].data(), Data[Count - 1].size() + APiece.size());
      return;
    }
    if (Count == Capacity) Grow();
    Data[Count++] = APiece;
  }

  void Grow() {
    const std::size_t capacity = Capacity ? Capacity * 2 : 64;
    void* data = std::realloc(Data, capacity * sizeof(std::string_view));
    if (!data) throw std::bad_alloc();
    Data = static_cast<std::string_view*>(data);
    Capacity = capacity;
  }

  std::string_view* Data = nullptr;  // Count pieces, room for Capacity
  std::size_t Count = 0;
  std::size_t Capacity = 0;
};

}  // namespace zoqc
