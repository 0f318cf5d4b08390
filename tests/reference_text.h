// The text primitives that the sequential reference is written in: search, clamped copy,
// upper-casing and replace, with their exact edge behaviour.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zoqc {

// The position (1-based) of the first exact occurrence of ASubStr in AStr, or 0. An empty
// ASubStr gives 0. Note the order: pattern first, as in Pos("b", "abcb") == 2, the reverse of
// AStr.find(ASubStr).
std::int64_t Pos(std::string_view ASubStr, std::string_view AStr);

// At most ACount bytes of AStr from the 1-based AIndex. An index below 1 counts as 1 without
// shortening the count (Copy("abcdef", 0, 2) == "ab"); a count past the end stops at the end;
// a count of 0 or less, or an index past the end, gives "".
std::string Copy(std::string_view AStr, std::int64_t AIndex, std::int64_t ACount);

// AStr with a-z upper-cased; same length, other bytes unchanged.
std::string AnsiUpperCase(std::string_view AStr);

enum TReplaceFlags : unsigned {
  kReplaceFirstExact = 0,
  kReplaceAll = 1,
  kIgnoreCase = 2,
  kReplaceAllIgnoreCase = kReplaceAll | kIgnoreCase,
};

// AStr with occurrences of AOld replaced by ANew, found left to right without overlap. Text
// that was inserted is never searched again; bytes outside the occurrences keep their case.
// An empty AOld changes nothing.
std::string StringReplace(std::string_view AStr, std::string_view AOld, std::string_view ANew,
                          TReplaceFlags AFlags);

}  // namespace zoqc
