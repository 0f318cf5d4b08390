// Advice on the few large arrays that a large page makes: the driver may back them with huge
// pages, so that filling one faults once per 2 MiB instead of once per 4 KiB.
#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

namespace zoqc {

// Called on a block that is allocated and not yet written: AData, ASize bytes.
using TLargeBlockAdvice = void (*)(void* AData, std::size_t ASize);

// What AdviseLargeBlock calls: nothing until the driver sets it (the core makes no system
// calls of its own). Blocks below kLargeBlock bytes are never advised, so small pages never
// pay for a huge page they would not fill.
inline constexpr std::size_t kLargeBlock = std::size_t{4} << 20;
inline std::atomic<TLargeBlockAdvice> gLargeBlockAdvice{nullptr};

inline void AdviseLargeBlock(void* AData, std::size_t ASize) {
  if (ASize < kLargeBlock) return;
  if (const TLargeBlockAdvice advice = gLargeBlockAdvice.load(std::memory_order_relaxed))
    advice(AData, ASize);
}

// AVector.reserve(ACount), the new storage advised before anything is written to it.
template <typename T>
void ReserveLarge(std::vector<T>& AVector, std::size_t ACount) {
  if (ACount <= AVector.capacity()) return;
  if (AVector.empty()) {  // advise the block before reserve would have nothing to move
    AVector.reserve(ACount);
    AdviseLargeBlock(AVector.data(), ACount * sizeof(T));
    return;
  }
  AVector.reserve(ACount);
}

}  // namespace zoqc
