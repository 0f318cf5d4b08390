// A stretch of a text by its byte offsets, and the offset that stands for none.
#pragma once

#include <cstddef>
#include <string_view>

namespace zoqc {

// "No such index or offset".
inline constexpr std::size_t kNowhere = static_cast<std::size_t>(-1);

// A stretch of one input: 0-based byte offsets [Begin, End).
struct TSpan {
  std::size_t Begin = 0;
  std::size_t End = 0;

  std::size_t Size() const { return End - Begin; }
  bool Empty() const { return End == Begin; }
  bool Holds(std::size_t AOffset) const { return Begin <= AOffset && AOffset < End; }
  std::string_view Of(std::string_view AText) const { return AText.substr(Begin, End - Begin); }
};

}  // namespace zoqc
