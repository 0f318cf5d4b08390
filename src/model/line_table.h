// The lines of one input: where each starts, and the line and columns of any byte offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace zoqc {

// Where a byte offset stands, its column counted three ways. A character counts in the columns
// of every offset after its first byte; the line end (LF, or CR LF) adds no display column.
struct TLinePosition {
  std::size_t Offset = 0;          // the 0-based byte offset located
  std::int64_t Line = 1;           // 1-based
  std::int64_t Column = 1;         // 1-based, in bytes from the line's start
  std::int64_t Utf16Column = 1;    // 1-based, in UTF-16 code units, what editors speak; a
                                   // byte that is not UTF-8 counts one
  std::int64_t DisplayColumn = 1;  // 1-based, as the line is shown (src/text/shown.h): a
                                   // character one column, an escape its length, a tab to the
                                   // next multiple of 8
};

// The line starts of a text, found in one pass when the table is made. Holds a view of the
// text, which must outlive it; never changes after it is made, so threads may share it.
class TLineTable {
 public:
  explicit TLineTable(std::string_view AText);

  // The number of lines: one more than the LF bytes (a text that ends in LF has an empty last
  // line).
  std::int64_t LineCount() const { return static_cast<std::int64_t>(Starts.size()); }
  // The 1-based line of AOffset; an offset past the text is on the last line.
  std::int64_t LineOf(std::size_t AOffset) const;
  // The 0-based offset where the 1-based ALine starts.
  std::size_t LineStart(std::int64_t ALine) const { return Starts[Index(ALine)]; }
  // The text of the 1-based ALine without its LF or CR LF.
  std::string_view LineText(std::int64_t ALine) const;

  // Where AOffset (clipped to the text's size) stands. Counts from the line's start, or from
  // ANear when it stands on the same line at or before AOffset: offsets located in increasing
  // order, each from the one before, cost one pass over their line together.
  TLinePosition Locate(std::size_t AOffset) const;
  TLinePosition Locate(std::size_t AOffset, const TLinePosition& ANear) const;

 private:
  std::size_t Index(std::int64_t ALine) const { return static_cast<std::size_t>(ALine - 1); }

  std::string_view Text;
  std::vector<std::size_t> Starts;  // 0-based offset of each line's first byte, in order
};

}  // namespace zoqc
