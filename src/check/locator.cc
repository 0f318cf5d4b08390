// Spans and located offsets.
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

void TLocator::Prepare(const TSource& ASource, std::vector<std::size_t> AOffsets) {
  std::sort(AOffsets.begin(), AOffsets.end());
  for (const std::size_t offset : AOffsets) At(ASource, offset);
}

TLinePosition TLocator::At(const TSource& ASource, std::size_t AOffset) {
  AOffset = std::min(AOffset, ASource.Text.size());
  std::map<std::size_t, TLinePosition>& known = Known[&ASource];
  auto after = known.upper_bound(AOffset);
  TLinePosition near;
  near.Line = -1;  // none: count from the line's start
  if (after != known.begin()) {
    const TLinePosition& before = std::prev(after)->second;
    if (before.Offset == AOffset) return before;
    near = before;
  }
  const TLinePosition at = ASource.Lines().Locate(AOffset, near);
  known.emplace_hint(after, AOffset, at);
  return at;
}

}  // namespace zoqc::check_detail
