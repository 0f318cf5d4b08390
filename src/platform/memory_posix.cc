// Large blocks on POSIX systems: anonymous mappings aligned to 2 MiB, with huge pages asked for.
#include <sys/mman.h>

#include <cstdint>

#include "src/platform/memory.h"

namespace zoqc {

namespace {

std::size_t Rounded(std::size_t ASize) {
  return (ASize + TLargeBlock::kHugePage - 1) & ~(TLargeBlock::kHugePage - 1);
}

}  // namespace

bool TLargeBlock::Allocate(std::size_t ASize) {
  Free();
  if (ASize == 0) ASize = 1;
  const std::size_t length = Rounded(ASize);
  if (length < ASize) return false;  // overflow
  // Mapped with a huge page to spare, then trimmed to a whole number of aligned huge pages.
  const std::size_t mapped = length + kHugePage;
  void* map = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (map == MAP_FAILED) return false;
  const auto start = reinterpret_cast<std::uintptr_t>(map);
  const std::uintptr_t aligned = (start + kHugePage - 1) & ~std::uintptr_t{kHugePage - 1};
  if (aligned > start) munmap(map, aligned - start);
  const std::uintptr_t end = start + mapped;
  if (end > aligned + length)
    munmap(reinterpret_cast<void*>(aligned + length), end - aligned - length);
#ifdef MADV_HUGEPAGE
  // A last huge page less than half filled would count whole in the memory used: after a full
  // one, its part is left to small pages.
  std::size_t advised = length;
  if (length > kHugePage && length - ASize > kHugePage / 2) advised -= kHugePage;
  madvise(reinterpret_cast<void*>(aligned), advised, MADV_HUGEPAGE);  // a hint: may be refused
#endif
  Base = reinterpret_cast<void*>(aligned);
  Length = length;
  return true;
}

void AdviseHugePages(void* AData, std::size_t ASize) {
#ifdef MADV_HUGEPAGE
  const auto start = reinterpret_cast<std::uintptr_t>(AData);
  const std::uintptr_t first =
      (start + TLargeBlock::kHugePage - 1) & ~std::uintptr_t{TLargeBlock::kHugePage - 1};
  const std::uintptr_t last = (start + ASize) & ~std::uintptr_t{TLargeBlock::kHugePage - 1};
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)AData;
  (void)ASize;
#endif
}

void TLargeBlock::Free() {
  if (Base) munmap(Base, Length);
  Base = nullptr;
  Length = 0;
}

}  // namespace zoqc
