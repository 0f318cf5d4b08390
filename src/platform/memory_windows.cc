// Large blocks on Windows: allocated memory, without huge pages.
#include <cstdlib>

#include "src/platform/memory.h"

namespace zoqc {

bool TLargeBlock::Allocate(std::size_t ASize) {
  Free();
  if (ASize == 0) ASize = 1;
  Base = std::malloc(ASize);
  Length = Base ? ASize : 0;
  return Base != nullptr;
}

void AdviseHugePages(void*, std::size_t) {}  // large pages need a privilege: not asked for

void TLargeBlock::Free() {
  std::free(Base);
  Base = nullptr;
  Length = 0;
}

}  // namespace zoqc
