// The renderers' view of places: spans clipped to their line, and offsets located through each
// input's line table, every offset once (internal to src/check/).
#pragma once

#include <cstddef>
#include <map>
#include <unordered_map>
#include <vector>

#include "src/check/diagnostic.h"
#include "src/model/line_table.h"

namespace zoqc::check_detail {

// A place's span on its line: From within the input, To between From and the end of the line
// as shown (a span that runs on is cut there).
struct TSpan {
  std::size_t From;
  std::size_t To;
};
TSpan SpanOf(const TPlace& APlace);

// Locates offsets and remembers them: each lookup counts from the nearest offset located before
// it on its line, so offsets prepared in increasing order cost one pass over their lines.
class TLocator {
 public:
  // Locates AOffsets of ASource in increasing order; later lookups of them are free.
  void Prepare(const TSource& ASource, std::vector<std::size_t> AOffsets);
  TLinePosition At(const TSource& ASource, std::size_t AOffset);

 private:
  std::unordered_map<const TSource*, std::map<std::size_t, TLinePosition>> Known;
};

}  // namespace zoqc::check_detail
