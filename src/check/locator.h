// The renderers' view of places: spans clipped to their line (internal to src/check/).
#pragma once

#include <cstddef>

#include "src/check/diagnostic.h"

namespace zoqc::check_detail {

// A place's span on its line: From within the input, To between From and the end of the line
// as shown (a span that runs on is cut there).
struct TSpan {
  std::size_t From;
  std::size_t To;
};
TSpan SpanOf(const TPlace& APlace);

}  // namespace zoqc::check_detail
