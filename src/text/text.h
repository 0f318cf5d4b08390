// Text primitives: name characters, names, and comparison up to ASCII letter case.
#pragma once

#include <bit>
#include <cstdint>
#include <string>
#include <string_view>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace zoqc {

// Name characters are the ASCII digits and letters, nothing else (no underscore, no byte >= 128).
constexpr bool IsNameChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The index of the first byte at or after AFrom (0-based) that is not a name character, or the
// size of AText: where a name that starts at AFrom ends.
inline std::size_t NameEnd(std::string_view AText, std::size_t AFrom) {
  while (AFrom < AText.size() && IsNameChar(AText[AFrom])) ++AFrom;
  return AFrom;
}

#if defined(__SSE2__) || defined(_M_X64)
// Of 16 bytes, a bit (bit I for byte I) for each that is not a name character.
inline unsigned NotNameBytes(__m128i AV) {
  // Letters: (byte | 0x20) in 'a'..'z'; digits: byte in '0'..'9' (unsigned ranges taken as
  // signed compares after a shift by 0x80).
  const __m128i lower = _mm_or_si128(AV, _mm_set1_epi8(0x20));
  const __m128i letter =
      _mm_cmplt_epi8(_mm_add_epi8(lower, _mm_set1_epi8(static_cast<char>(0x80 - 'a'))),
                     _mm_set1_epi8(static_cast<char>(-128 + 26)));
  const __m128i digit =
      _mm_cmplt_epi8(_mm_add_epi8(AV, _mm_set1_epi8(static_cast<char>(0x80 - '0'))),
                     _mm_set1_epi8(static_cast<char>(-128 + 10)));
  return ~static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(letter, digit))) & 0xFFFFu;
}
#endif

// NameEnd where names are read in bulk (a script's statements, a template's placeholders): most
// are short, so where 16 bytes remain one compare of them finds the end of a name shorter than 16.
inline std::size_t ShortNameEnd(std::string_view AText, std::size_t AFrom) {
#if defined(__SSE2__) || defined(_M_X64)
  if (AFrom + 16 <= AText.size()) {
    const unsigned stop =
        NotNameBytes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(AText.data() + AFrom)));
    if (stop != 0) return AFrom + static_cast<std::size_t>(std::countr_zero(stop));
    AFrom += 16;
  }
#endif
  return NameEnd(AText, AFrom);
}

// Where the PHP string literal whose quote (' or ") stands at AOpen ends: the index of its
// closing quote, a backslash escaping the byte after it, or the size of AText when unclosed.
inline std::size_t ClosingQuote(std::string_view AText, std::size_t AOpen) {
  for (std::size_t i = AOpen + 1; i < AText.size(); ++i) {
    if (AText[i] == '\\')
      ++i;
    else if (AText[i] == AText[AOpen])
      return i;
  }
  return AText.size();
}

// Where the "(" at AOpen of a PHP expression closes: the index of its ")", strings skipped, or
// the size of AExpr when unclosed.
inline std::size_t ClosingParen(std::string_view AExpr, std::size_t AOpen) {
  int depth = 0;
  for (std::size_t i = AOpen; i < AExpr.size(); ++i) {
    const char c = AExpr[i];
    if (c == '\'' || c == '"') {
      i = ClosingQuote(AExpr, i);
      continue;
    }
    if (c == '(') ++depth;
    if (c == ')' && --depth == 0) return i;
  }
  return AExpr.size();
}

// Each byte's value in a name hash: a name character with bit 5 cleared (so a-z fold to A-Z,
// and no name character maps to 0), or 0 for any other byte.
inline constexpr struct TNameFold {
  unsigned char Of[256] = {};
  constexpr TNameFold() {
    for (int c = 0; c < 256; ++c)
      if (IsNameChar(static_cast<char>(c))) Of[c] = static_cast<unsigned char>(c & 0xDF);
  }
} kNameFold;

// FNV-1a over 64 bits, the one hash of the names, the table index and the failure report: the
// offset basis, one step, and a whole text.
// Writes AValue in hexadecimal at AOut, with at least ADigits digits (leading zeros), upper
// case unless ALower; yields the end. AOut needs room for 16 digits.
inline char* WriteHex(char* AOut, std::uint64_t AValue, int ADigits, bool ALower = false) {
  const char* const digits = ALower ? "0123456789abcdef" : "0123456789ABCDEF";
  int count = 1;
  while (count < 16 && (AValue >> (4 * count)) != 0) ++count;
  if (count < ADigits) count = ADigits;
  for (int k = 0; k < count; ++k) AOut[k] = digits[(AValue >> (4 * (count - 1 - k))) & 0xF];
  return AOut + count;
}

inline constexpr std::uint64_t kFnvOffsetBasis = 14695981039346656037u;
inline constexpr std::uint64_t FnvStep(std::uint64_t AHash, unsigned char AByte) {
  return (AHash ^ AByte) * 1099511628211u;
}
inline std::uint64_t Fnv1a(std::string_view AText) {
  std::uint64_t h = kFnvOffsetBasis;
  for (const char c : AText) h = FnvStep(h, static_cast<unsigned char>(c));
  return h;
}

// The running step of a folded name hash (FNV-1a over the folded bytes).
inline constexpr std::uint64_t kNameHashSeed = kFnvOffsetBasis;
inline std::uint64_t NameHashStep(std::uint64_t AHash, unsigned char AFolded) {
  return FnvStep(AHash, AFolded);
}
inline std::uint32_t NameHashFinish(std::uint64_t AHash) {
  return static_cast<std::uint32_t>(AHash ^ (AHash >> 32));
}

// A hash of a name up to ASCII letter case: names equal up to case (SameText) hash alike.
inline std::uint32_t FoldedNameHash(std::string_view AName) {
  std::uint64_t h = kNameHashSeed;
  for (const char c : AName) {
    const unsigned char b = static_cast<unsigned char>(c);
    h = NameHashStep(h, kNameFold.Of[b] ? kNameFold.Of[b] : b);
  }
  return NameHashFinish(h);
}

// Folds a-z to A-Z; every other byte, 128 to 255 included, is left as it is.
inline char UpCase(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// AText with a-z upper-cased, for comparing without regard to ASCII case.
inline std::string UpperCased(std::string_view AText) {
  std::string upper(AText);
  for (char& c : upper) c = UpCase(c);
  return upper;
}

// True when both texts have the same length and the same bytes up to ASCII letter case.
inline bool SameText(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  if (A == B) return true;  // the usual case, at memcmp speed
  for (std::size_t i = 0; i < A.size(); ++i)
    if (UpCase(A[i]) != UpCase(B[i])) return false;
  return true;
}

// Hash and equality of texts up to ASCII case, for tables keyed by names in any case.
struct TSameTextHash {
  std::size_t operator()(std::string_view AText) const {
    std::uint64_t h = kFnvOffsetBasis;  // FNV-1a over the folded bytes
    for (const char c : AText) h = FnvStep(h, static_cast<unsigned char>(UpCase(c)));
    if constexpr (sizeof(std::size_t) < sizeof h) h ^= h >> 32;  // a 32-bit size_t: fold
    return static_cast<std::size_t>(h);
  }
};
struct TSameTextEqual {
  bool operator()(std::string_view A, std::string_view B) const { return SameText(A, B); }
};

}  // namespace zoqc
