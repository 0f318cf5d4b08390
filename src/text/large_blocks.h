// Advice on the few large arrays that a large page makes: the driver may back them with huge
// pages, so that filling one faults once per 2 MiB instead of once per 4 KiB.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

namespace zoqc {

// Called on a block that is allocated and not yet written: AData, ASize bytes.
using TLargeBlockAdvice = void (*)(void* AData, std::size_t ASize);

// What AdviseLargeBlock calls: nothing until the driver sets it (the core makes no system
// calls of its own). Blocks below kLargeBlock bytes are never advised, so small pages never
// pay for a huge page they would not fill: the kernel clears a huge page whole at its first
// touch, which costs about what faulting in a few hundred KiB of small pages does.
inline constexpr std::size_t kLargeBlock = std::size_t{128} << 10;
inline std::atomic<TLargeBlockAdvice> gLargeBlockAdvice{nullptr};

inline void AdviseLargeBlock(void* AData, std::size_t ASize) {
  if (ASize < kLargeBlock) return;
  if (const TLargeBlockAdvice advice = gLargeBlockAdvice.load(std::memory_order_relaxed))
    advice(AData, ASize);
}

// The size of a huge page, which large blocks are aligned to and rounded up to.
inline constexpr std::size_t kHugePageSize = std::size_t{2} << 20;

// ABytes rounded up to whole huge pages.
constexpr std::size_t WholeHugePages(std::size_t ABytes) {
  return (ABytes + kHugePageSize - 1) & ~(kHugePageSize - 1);
}

// Of a block of ABytes in WholeHugePages(ABytes), the bytes worth backing with huge pages: a
// last huge page that ABytes use by half or less would count whole in the memory used and cost
// more to clear than its used part costs to fault in 4 KiB at a time, so it is left to small
// pages (a block of half a huge page or less gets none).
constexpr std::size_t HugePagesWorthIt(std::size_t ABytes) {
  const std::size_t whole = WholeHugePages(ABytes);
  if (whole - ABytes < kHugePageSize / 2) return whole;
  return whole - kHugePageSize;
}

// One block of memory that the large lists of one page share, taken one after the other, so
// that their ends share pages instead of each leaving one part used: sized once from the page's
// counts. Aligned to huge pages and advised as a large block is: whole huge pages, but a last
// one only when more than half of it is used. What it gives is freed with it.
class TArena {
 public:
  static constexpr std::size_t kHugePage = kHugePageSize;

  explicit TArena(std::size_t ACapacity)
      : Capacity(WholeHugePages(ACapacity)),
        Base(static_cast<char*>(::operator new (Capacity, std::align_val_t{kHugePage}))) {
    AdviseLargeBlock(Base, HugePagesWorthIt(ACapacity));
  }
  ~TArena() { ::operator delete (Base, std::align_val_t{kHugePage}); }
  TArena(const TArena&) = delete;
  TArena& operator=(const TArena&) = delete;

  // ABytes aligned to AAlign (a power of two), or null when they do not fit.
  void* Take(std::size_t ABytes, std::size_t AAlign) {
    const std::size_t at = (Used + AAlign - 1) & ~(AAlign - 1);
    if (at > Capacity || ABytes > Capacity - at) return nullptr;
    Used = at + ABytes;
    return Base + at;
  }
  bool Holds(const void* ABlock) const {
    const std::less<const void*> before;
    return !before(ABlock, Base) && before(ABlock, Base + Capacity);
  }

 private:
  const std::size_t Capacity;
  char* const Base;
  std::size_t Used = 0;
};

// An allocator that gives blocks of kLargeBlock bytes and more whole, aligned huge pages of
// their own, advised before use (so no end of the block shares a small page with another);
// smaller blocks come from the ordinary allocator. A last huge page that the block fills by
// half or less would count whole in the memory used: it is left to small pages (so a block of
// half a huge page or less gets none). Made with an arena, it takes every block from the arena
// while there is room (and gives nothing back to it); a copy of a vector does not.
template <typename T>
struct TLargeAllocator {
  using value_type = T;
  static constexpr std::size_t kHugePage = kHugePageSize;
  static constexpr std::size_t kMaxBytes = PTRDIFF_MAX - kHugePage;  // rounded up, still a size

  using propagate_on_container_move_assignment = std::true_type;
  using propagate_on_container_swap = std::true_type;
  using is_always_equal = std::false_type;

  TLargeAllocator() = default;
  explicit TLargeAllocator(TArena* AArena) : Arena(AArena) {}
  template <typename U>
  TLargeAllocator(const TLargeAllocator<U>& AOther) : Arena(AOther.Arena) {}
  TLargeAllocator select_on_container_copy_construction() const { return {}; }

  T* allocate(std::size_t ACount) {
    if (ACount > kMaxBytes / sizeof(T)) throw std::bad_array_new_length();
    const std::size_t bytes = ACount * sizeof(T);
    if (Arena)
      if (void* block = Arena->Take(bytes, alignof(T))) return static_cast<T*>(block);
    if (bytes < kLargeBlock) return std::allocator<T>().allocate(ACount);
    void* block = ::operator new (WholeHugePages(bytes), std::align_val_t{kHugePage});
    AdviseLargeBlock(block, HugePagesWorthIt(bytes));
    return static_cast<T*>(block);
  }
  void deallocate(T* ABlock, std::size_t ACount) {
    if (Arena && Arena->Holds(ABlock)) return;
    const std::size_t bytes = ACount * sizeof(T);
    if (bytes < kLargeBlock) return std::allocator<T>().deallocate(ABlock, ACount);
    // The unsized form: clang declares no sized deallocation unless asked to.
    ::operator delete (ABlock, std::align_val_t{kHugePage});
  }
  template <typename U>
  bool operator==(const TLargeAllocator<U>& AOther) const {
    return Arena == AOther.Arena;
  }

  TArena* Arena = nullptr;  // null: none
};

// A vector whose large storage is TLargeAllocator's.
template <typename T>
using TLargeVector = std::vector<T, TLargeAllocator<T>>;

}  // namespace zoqc
