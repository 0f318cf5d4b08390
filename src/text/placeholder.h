// The two forms of a template's placeholder, "{" name "}" and "{!" name "}", as bytes: the one
// reading of them that the page model's list, the HTML tokenizer and the substitution share.
#pragma once

#include <cstddef>
#include <string_view>

#include "src/text/span.h"
#include "src/text/text.h"

namespace zoqc {

// The end of the placeholder whose "{" stands at AAt of AText: "{" name "}", or with ARaw also
// "{!" name "}" (a non-empty name of name characters); 0 when none stands there.
inline std::size_t PlaceholderEnd(std::string_view AText, std::size_t AAt, bool ARaw = true) {
  const std::size_t name = AAt + 1 + (ARaw && AAt + 1 < AText.size() && AText[AAt + 1] == '!');
  const std::size_t end = ShortNameEnd(AText, name);
  return end > name && end < AText.size() && AText[end] == '}' ? end + 1 : 0;
}

// True when a placeholder "{" name "}" (not "{!name}") stands at AAt of AText, a "{".
inline bool IsPlaceholderAt(std::string_view AText, std::size_t AAt) {
  return PlaceholderEnd(AText, AAt, false) != 0;
}

// The first placeholder of either form in AText at or after AFrom; {size, size} when none.
TSpan NextPlaceholder(std::string_view AText, std::size_t AFrom);

}  // namespace zoqc
