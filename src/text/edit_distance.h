// The edit distance between two names, for "did you mean" suggestions.
#pragma once

#include <cstddef>
#include <string_view>

namespace zoqc {

// Names longer than this are never compared: a suggestion for them would not help, and the
// comparison's cost stays bounded whatever the input holds.
inline constexpr std::size_t kMaxEditDistanceLength = 64;

// The number of single-byte edits (insertions, deletions, substitutions, swaps of two
// neighbours; ASCII case ignored) that turn A into B when it is at most ALimit; otherwise, and
// whenever a name is longer than kMaxEditDistanceLength, ALimit + 1. Allocates nothing; stops
// as soon as every way on is past ALimit.
std::size_t EditDistance(std::string_view A, std::string_view B, std::size_t ALimit);

}  // namespace zoqc
