// An input's line table, made when a place in it is first rendered, and a place's span on its
// line.
#include "src/check/diagnostic.h"

#include <algorithm>

namespace zoqc {

TSpan TPlace::OnItsLine() const {
  if (!Source) return {0, 0};
  const std::size_t from = std::min(From, Source->Text.size());
  const TLineTable& lines = Source->Lines();
  const std::int64_t line = lines.LineOf(from);
  const std::size_t end = lines.LineStart(line) + lines.LineText(line).size();
  return {from, std::clamp(To, from, std::max(end, from))};
}

const TLineTable& TSource::Lines() const {
  if (!Table) Table.emplace(Text);
  return *Table;
}

}  // namespace zoqc
