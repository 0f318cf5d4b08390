// Spans clipped to their line.
#include "src/check/locator.h"

#include <algorithm>

namespace zoqc::check_detail {

TSpan SpanOf(const TPlace& APlace) {
  const std::string_view text = APlace.Source->Text;
  const TLineTable& lines = APlace.Source->Lines();
  const std::size_t from = std::min(APlace.From, text.size());
  const std::int64_t line = lines.LineOf(from);
  const std::size_t end = lines.LineStart(line) + lines.LineText(line).size();
  return {from, std::clamp(APlace.To, from, std::max(end, from))};
}

}  // namespace zoqc::check_detail
