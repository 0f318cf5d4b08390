// Large blocks of memory that fault in few, large pages: for the big inputs of a page.
#pragma once

#include <cstddef>
#include <utility>

namespace zoqc {

/* A block of memory of its own, for one large buffer. On POSIX systems it is anonymous memory
   aligned to 2 MiB, marked for the system's transparent huge pages where it has them, so that
   filling it takes one page fault per 2 MiB rather than per 4 KiB; elsewhere it is allocated
   memory. Its bytes start undefined. Freed with the object. */
class TLargeBlock {
 public:
  static constexpr std::size_t kHugePage = std::size_t{2} << 20;

  TLargeBlock() = default;
  TLargeBlock(TLargeBlock&& AOther) noexcept
      : Base(std::exchange(AOther.Base, nullptr)), Length(std::exchange(AOther.Length, 0)) {}
  TLargeBlock& operator=(TLargeBlock&& AOther) noexcept {
    std::swap(Base, AOther.Base);
    std::swap(Length, AOther.Length);
    return *this;
  }
  ~TLargeBlock() { Free(); }

  // Allocates ASize bytes (at least one), freeing what it held; false when the system has no
  // memory for them.
  [[nodiscard]] bool Allocate(std::size_t ASize);
  char* Data() const { return static_cast<char*>(Base); }
  std::size_t Size() const { return Length; }

 private:
  void Free();

  void* Base = nullptr;  // Length bytes, or null
  std::size_t Length = 0;
};

// Asks the system to back the whole 2 MiB-aligned huge pages inside AData's ASize bytes, not
// yet written, with huge pages (transparent huge pages where the system has them; nothing
// elsewhere). A hint: the system may refuse it.
void AdviseHugePages(void* AData, std::size_t ASize);

}  // namespace zoqc
