// Positions as the editor counts them: 0-based lines, and columns in UTF-8 bytes or in UTF-16
// code units (the protocol's default), to and from byte offsets of a text.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace zoqc::lsp {

enum class TEncoding : unsigned char { Utf8, Utf16 };

struct TPosition {
  std::size_t Line = 0;
  std::size_t Character = 0;  // in the encoding's units
};

// The line starts of one text, for conversions in both directions. The text must outlive it.
// A line ends after its LF; a CR before the LF belongs to the line.
class TLineIndex {
 public:
  TLineIndex(std::string_view AText, TEncoding AEncoding);

  // The position of byte AOffset (clipped to the text's end).
  TPosition PositionOf(std::size_t AOffset) const;
  // The byte offset of APosition: a line past the last is the text's end, a column past the
  // line's end is the line's end, a column inside a UTF-8 sequence is its first byte.
  std::size_t OffsetOf(const TPosition& APosition) const;
  // The byte offset where the 0-based line ALine starts (the text's end past the last line).
  std::size_t LineStart(std::size_t ALine) const;
  std::size_t LineCount() const { return Starts.size(); }

 private:
  std::size_t LineEnd(std::size_t ALine) const;  // before its CR LF or LF

  std::string_view Text;
  TEncoding Encoding;
  std::vector<std::size_t> Starts;  // 0-based offsets of the line starts; Starts[0] == 0
};

}  // namespace zoqc::lsp
