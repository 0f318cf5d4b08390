// A text held as a list of pieces: views of other texts, in order, never copied into one.
#pragma once

#include <cstdlib>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace zoqc {

// Where a page goes as it is made: its bytes, piece by piece, in order. A piece is a view that
// need not outlive the call unless the sink says otherwise.
class TPageSink {
 public:
  virtual void Append(std::string_view APiece) = 0;
  // Appends three pieces in turn: a placeholder's echo, written around its expression.
  virtual void AppendThree(std::string_view AFirst, std::string_view ASecond,
                           std::string_view AThird) {
    Append(AFirst);
    Append(ASecond);
    Append(AThird);
  }

 protected:
  ~TPageSink() = default;
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

  void Append(std::string_view APiece) override {
    if (APiece.empty()) return;
    if (Count > 0 && Data[Count - 1].data() + Data[Count - 1].size() == APiece.data()) {
      Data[Count - 1] =
          std::string_view(Data[Count - 1].data(), Data[Count - 1].size() + APiece.size());
      return;
    }
    if (Count == Capacity) Grow();
    Data[Count++] = APiece;
  }

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
