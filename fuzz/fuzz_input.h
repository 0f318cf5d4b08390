// How a fuzz input is cut into a script and a template.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zoqc::fuzz {

// Between the script and the template in an input, and in the seed corpus that scripts/fuzz
// makes from the examples and the golden cases.
inline constexpr std::string_view kSeparator = "\n@@zot@@\n";

// The script is what comes before the first separator, the template what follows it (empty
// when there is none).
inline void SplitInput(const std::uint8_t* AData, std::size_t ASize, std::string_view& AScript,
                       std::string_view& ATemplate) {
  const std::string_view input(reinterpret_cast<const char*>(AData), ASize);
  const std::size_t cut = input.find(kSeparator);
  AScript = input.substr(0, cut);
  ATemplate =
      cut == std::string_view::npos ? std::string_view() : input.substr(cut + kSeparator.size());
}

}  // namespace zoqc::fuzz
