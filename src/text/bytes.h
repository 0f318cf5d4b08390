// Where the next of a few bytes stands, the one search of every fast scan: sixteen bytes
// compared at once where the processor has SSE2, a byte at a time where it has not (the
// WebAssembly build). Both are built everywhere, so that the tests run each on the same cases;
// TBytes is the one the scans use.
#pragma once

#include <bit>
#include <cstddef>
#include <cstring>
#include <string_view>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define ZOQC_SSE2 1
#endif
#if defined(ZOQC_SSE2) && defined(__GNUC__)  // wider where the processor has AVX2
#include <immintrin.h>
#define ZOQC_AVX2 1
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
    if constexpr (N == 1) {
      if (AFrom < size && size - AFrom >= 16) {
        if (const unsigned hit = In16(text + AFrom))
          return AFrom + static_cast<unsigned>(std::countr_zero(hit));
        AFrom += 16;
      }
    } else {
      for (; AFrom < size && size - AFrom >= 16; AFrom += 16)
        if (const unsigned hit = In16(text + AFrom))
          return AFrom + static_cast<unsigned>(std::countr_zero(hit));
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

// The index of the first AFirst followed by ASecond at or after AFrom, or npos, a byte at a time.
inline std::size_t ScalarFindPair(std::string_view AText, std::size_t AFrom, char AFirst,
                                  char ASecond) {
  for (std::size_t at = AFrom; at + 1 < AText.size(); ++at)
    if (AText[at] == AFirst && AText[at + 1] == ASecond) return at;
  return std::string_view::npos;
}

// The same 64 places at a time with SSE2, where the processor lacks AVX2.
inline std::size_t FindPairSse2(std::string_view AText, std::size_t AFrom, char AFirst,
                                char ASecond) {
  std::size_t at = AFrom;
#ifdef ZOQC_SSE2
  const __m128i first = _mm_set1_epi8(AFirst);
  const __m128i second = _mm_set1_epi8(ASecond);
  // Of the 16 places from AAt, a byte for each where AFirst stands before ASecond.
  const auto pairs = [&](const char* AAt) {
    const auto load = [](const char* p) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    };
    return _mm_and_si128(_mm_cmpeq_epi8(load(AAt), first), _mm_cmpeq_epi8(load(AAt + 1), second));
  };
  for (; at + 65 <= AText.size(); at += 64) {
    const char* const p = AText.data() + at;
    const __m128i any = _mm_or_si128(_mm_or_si128(pairs(p), pairs(p + 16)),
                                     _mm_or_si128(pairs(p + 32), pairs(p + 48)));
    if (_mm_movemask_epi8(any) != 0) break;  // in these 64: found below
  }
  for (; at + 17 <= AText.size(); at += 16) {
    const unsigned both = static_cast<unsigned>(_mm_movemask_epi8(pairs(AText.data() + at)));
    if (both != 0) return at + static_cast<std::size_t>(std::countr_zero(both));
  }
#endif
  return ScalarFindPair(AText, at, AFirst, ASecond);
}

#ifdef ZOQC_AVX2
// Of the 32 places from AAt, a byte for each where AFirst stands before ASecond.
__attribute__((target("avx2"))) inline __m256i Avx2Pairs(const char* AAt, __m256i AFirst,
                                                         __m256i ASecond) {
  const __m256i* const at = reinterpret_cast<const __m256i*>(AAt);
  const __m256i* const next = reinterpret_cast<const __m256i*>(AAt + 1);
  return _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_loadu_si256(at), AFirst),
                          _mm256_cmpeq_epi8(_mm256_loadu_si256(next), ASecond));
}

// The same 128 places at a time with AVX2: a sixth of an instruction a byte.
__attribute__((target("avx2"))) inline std::size_t FindPairAvx2(std::string_view AText,
                                                                std::size_t AFrom, char AFirst,
                                                                char ASecond) {
  const __m256i first = _mm256_set1_epi8(AFirst);
  const __m256i second = _mm256_set1_epi8(ASecond);
  const char* const data = AText.data();
  std::size_t at = AFrom;
  for (; at + 129 <= AText.size(); at += 128) {
    const __m256i any = _mm256_or_si256(_mm256_or_si256(Avx2Pairs(data + at, first, second),
                                                        Avx2Pairs(data + at + 32, first, second)),
                                        _mm256_or_si256(Avx2Pairs(data + at + 64, first, second),
                                                        Avx2Pairs(data + at + 96, first, second)));
    if (!_mm256_testz_si256(any, any)) break;  // in these 128: found below
  }
  for (; at + 33 <= AText.size(); at += 32) {
    const auto both =
        static_cast<unsigned>(_mm256_movemask_epi8(Avx2Pairs(data + at, first, second)));
    if (both != 0) return at + static_cast<std::size_t>(std::countr_zero(both));
  }
  return ScalarFindPair(AText, at, AFirst, ASecond);
}
#endif

// The first AFirst followed by ASecond, for a pair rare in a page ("<<") whose first byte alone
// is not ('<' starts every tag), where a search for that byte would stop at every tag.
inline std::size_t FindPair(std::string_view AText, std::size_t AFrom, char AFirst, char ASecond) {
#ifdef ZOQC_AVX2
  if (__builtin_cpu_supports("avx2")) return FindPairAvx2(AText, AFrom, AFirst, ASecond);
#endif
  return FindPairSse2(AText, AFrom, AFirst, ASecond);
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
