// Places in a source: line and column from a byte offset.
#include "src/check/diagnostic.h"

#include <algorithm>

namespace zoqc {

TPlace TSource::PlaceOf(std::size_t AFrom, std::size_t ATo) const {
  if (LineStarts.empty()) {
    LineStarts.push_back(0);
    for (std::size_t idx = Text.find('\n'); idx != std::string_view::npos;
         idx = Text.find('\n', idx + 1))
      LineStarts.push_back(idx + 1);
  }
  AFrom = std::min(AFrom, Text.size());
  const auto line = std::upper_bound(LineStarts.begin(), LineStarts.end(), AFrom) - 1;
  std::size_t end = Text.find('\n', *line);
  if (end == std::string_view::npos) end = Text.size();
  std::string_view source = Text.substr(*line, end - *line);
  if (!source.empty() && source.back() == '\r') source.remove_suffix(1);
  TPlace place;
  place.File = Name;
  place.Line = static_cast<int>(line - LineStarts.begin()) + 1;
  place.Column = static_cast<int>(AFrom - *line) + 1;
  const std::size_t stop = std::clamp(ATo, AFrom, *line + std::max(source.size(), AFrom - *line));
  place.EndColumn = static_cast<int>(stop - *line) + 1;
  place.SourceLine = source;
  return place;
}

}  // namespace zoqc
