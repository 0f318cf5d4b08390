// The next placeholder of a text, found by its "{".
#include "src/text/placeholder.h"

#include "src/text/bytes.h"

namespace zoqc {

TSpan NextPlaceholder(std::string_view AText, std::size_t AFrom) {
  const std::size_t size = AText.size();
  const TBytes<1> brace('{');
  for (std::size_t idx = brace.Next(AText, AFrom); idx < size; idx = brace.Next(AText, idx + 1))
    if (const std::size_t end = PlaceholderEnd(AText, idx)) return {idx, end};
  return {size, size};
}

}  // namespace zoqc
