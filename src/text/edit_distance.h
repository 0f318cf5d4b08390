// The distance between two names, for did-you-mean suggestions.
#pragma once

#include <cstddef>
#include <string_view>

namespace zoqc {

// The number of single-byte edits (ASCII case ignored) between A and B, or more than ALimit.
std::size_t EditDistance(std::string_view A, std::string_view B, std::size_t ALimit);

}  // namespace zoqc
