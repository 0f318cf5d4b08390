// The next placeholder of a text, found by its "{".
#include "src/text/placeholder.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace zoqc {

TSpan NextPlaceholder(std::string_view AText, std::size_t AFrom) {
  const char* const text = AText.data();
  const std::size_t size = AText.size();
  // Placeholders most often stand a few bytes apart: where 16 bytes follow, one compare of them
  // finds the next "{" before a search is called.
  const auto next_brace = [&](std::size_t AFrom) -> const void* {
#if defined(__SSE2__) || defined(_M_X64)
    if (AFrom + 16 <= size) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + AFrom));
      const unsigned hit =
          static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('{'))));
      if (hit) return text + AFrom + static_cast<unsigned>(std::countr_zero(hit));
      AFrom += 16;
    }
#endif
    return AFrom < size ? std::memchr(text + AFrom, '{', size - AFrom) : nullptr;
  };
  for (const void* brace = next_brace(AFrom); brace;) {
    const std::size_t idx = static_cast<std::size_t>(static_cast<const char*>(brace) - text);
    if (const std::size_t end = PlaceholderEnd(AText, idx)) return {idx, end};
    brace = next_brace(idx + 1);
  }
  return {size, size};
}

}  // namespace zoqc
