// Where the next of a few bytes stands, the one search of every fast scan: sixteen bytes
// compared at once where the processor has SSE2, a byte at a time where it has not (the
// WebAssembly build). Both are built everywhere, so that the tests run each on the same cases;
// TBytes is the one the scans use.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define ZOQC_SSE2 1
#endif

namespace zoqc {

// The N bytes searched for, a byte at a time.
template <std::size_t N>
class TScalarBytes {
 public:
  template <typename... TChar>
  explicit TScalarBytes(TChar... ABytes) : Bytes{ABytes...} {
    static_assert(sizeof...(TChar) == N);
  }

  bool Has(char c) const {
    for (const char b : Bytes)
      if (c == b) return true;
    return false;
  }
  // Of the 16 bytes at AAt, a bit (bit I for byte I) for each that is one of the bytes.
  unsigned In16(const char* AAt) const {
    unsigned bits = 0;
    for (unsigned i = 0; i < 16; ++i) bits |= unsigned{Has(AAt[i])} << i;
    return bits;
  }
  // The index of the first of the bytes at or after AFrom (at most the size of AText), or the
  // size of AText.
  std::size_t Next(std::string_view AText, std::size_t AFrom) const {
    if constexpr (N == 1) {  // the C library's search, which is wide where it can be
      if (AFrom >= AText.size()) return AText.size();
      const void* at = std::memchr(AText.data() + AFrom, Bytes[0], AText.size() - AFrom);
      return at ? static_cast<std::size_t>(static_cast<const char*>(at) - AText.data())
                : AText.size();
    }
    while (AFrom < AText.size() && !Has(AText[AFrom])) ++AFrom;
    return AFrom;
  }

 private:
  char Bytes[N];
};

#ifdef ZOQC_SSE2
// The same, sixteen bytes at once.
template <std::size_t N>
class TSse2Bytes {
 public:
  template <typename... TChar>
  explicit TSse2Bytes(TChar... ABytes) : Tail(ABytes...), Bytes{_mm_set1_epi8(ABytes)...} {}

  bool Has(char c) const { return Tail.Has(c); }
  unsigned In16(const char* AAt) const {
    return In16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(AAt)));
  }
  // Of the 16 bytes of AV, a bit for each that is one of the bytes (for a scan that keeps them).
  unsigned In16(__m128i AV) const {
    __m128i hit = _mm_cmpeq_epi8(AV, Bytes[0]);
    for (std::size_t k = 1; k < N; ++k) hit = _mm_or_si128(hit, _mm_cmpeq_epi8(AV, Bytes[k]));
    return static_cast<unsigned>(_mm_movemask_epi8(hit));
  }
  // Most often the byte is a few bytes away: one block, then for one byte the C library's wide
  // search, for more a block at a time.
  std::size_t Next(std::string_view AText, std::size_t AFrom) const {
    const char* const text = AText.data();
    const std::size_t size = AText.size();
    for (; AFrom < size && size - AFrom >= 16; AFrom += 16) {
      if (const unsigned hit = In16(text + AFrom))
        return AFrom + static_cast<unsigned>(std::countr_zero(hit));
      if constexpr (N == 1) return Tail.Next(AText, AFrom + 16);
    }
    return Tail.Next(AText, AFrom);
  }

 private:
  TScalarBytes<N> Tail;  // the last bytes, fewer than 16
  __m128i Bytes[N];
};

template <std::size_t N>
using TBytes = TSse2Bytes<N>;
#else
template <std::size_t N>
using TBytes = TScalarBytes<N>;
#endif

// FindPair's search, 256 places at a time (32 compared at once with AVX2, else 16 with SSE2,
// one in WebAssembly), then in the 256 that hold the pair and at the end a byte at a time.
[[gnu::always_inline]] inline std::size_t FindPairWide(std::string_view AText, std::size_t AFrom,
                                                       char AFirst, char ASecond) {
  using TChunk = signed char __attribute__((vector_size(32)));
  const TChunk first = TChunk{} + static_cast<signed char>(AFirst);
  const TChunk second = TChunk{} + static_cast<signed char>(ASecond);
  std::size_t at = AFrom;
  for (; at + 257 <= AText.size(); at += 256) {
    TChunk any{}, here, next;
    for (std::size_t k = at; k < at + 256; k += 32) {
      std::memcpy(&here, AText.data() + k, 32);
      std::memcpy(&next, AText.data() + k + 1, 32);
      any |= (here == first) & (next == second);
    }
    std::uint64_t words[4];
    std::memcpy(words, &any, 32);
    if ((words[0] | words[1] | words[2] | words[3]) != 0) break;
  }
  const char pair[] = {AFirst, ASecond};
  return AText.find(std::string_view(pair, 2), at);
}

#ifdef __x86_64__
[[gnu::target("avx2")]] inline std::size_t FindPairAvx2(std::string_view AText, std::size_t AFrom,
                                                        char AFirst, char ASecond) {
  return FindPairWide(AText, AFrom, AFirst, ASecond);
}
#endif

// The first AFirst followed by ASecond at or after AFrom, or npos, for a pair rare in a page
// ("<<") whose first byte alone is not ('<' starts every tag), where a search for that byte
// would stop at every tag. AVX2 is asked for once per search.
inline std::size_t FindPair(std::string_view AText, std::size_t AFrom, char AFirst, char ASecond) {
#ifdef __x86_64__
  if (__builtin_cpu_supports("avx2")) return FindPairAvx2(AText, AFrom, AFirst, ASecond);
#endif
  return FindPairWide(AText, AFrom, AFirst, ASecond);
}

// The same where ASecond is rare in a page and AFirst is not ("<?", "{$", "/*"): found by
// ASecond, at the C library's widest.
inline std::size_t FindPairBySecond(std::string_view AText, std::size_t AFrom, char AFirst,
                                    char ASecond) {
  const TBytes<1> second(ASecond);
  if (AFrom >= AText.size()) return std::string_view::npos;
  for (std::size_t at = second.Next(AText, AFrom + 1); at < AText.size();
       at = second.Next(AText, at + 1))
    if (AText[at - 1] == AFirst) return at - 1;
  return std::string_view::npos;
}

}  // namespace zoqc
