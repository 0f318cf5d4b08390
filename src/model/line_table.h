// The lines of one input: where each starts, the line and columns of any byte offset in every
// encoding, and the offset of a line and column given in an editor's encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace zoqc {

// The code units an editor counts columns in: UTF-8 (bytes) or UTF-16.
enum class TEncoding : unsigned char { Utf8, Utf16 };

// Where a byte offset stands, its column counted three ways. A character counts in the columns
// of every offset after its first byte; the line end (LF, or CR LF) adds no display column.
// Every count reads the line as src/text/shown.h does: a byte that is not part of well-formed
// UTF-8 is a character of its own.
struct TLinePosition {
  std::size_t Offset = 0;          // the 0-based byte offset located
  std::int64_t Line = 1;           // 1-based
  std::int64_t Column = 1;         // 1-based, in bytes (UTF-8 code units) from the line's start
  std::int64_t Utf16Column = 1;    // 1-based, in UTF-16 code units; a byte that is not UTF-8
                                   // counts one
  std::int64_t DisplayColumn = 1;  // 1-based, as the line is shown (src/text/shown.h): a
                                   // character one column, an escape its length, a tab to the
                                   // next multiple of 8

  // The 0-based column in AEncoding's units.
  std::int64_t ColumnIn(TEncoding AEncoding) const {
    return (AEncoding == TEncoding::Utf8 ? Column : Utf16Column) - 1;
  }
};

// The line starts of a text, found in one pass when the table is made, and on a long line a
// mark every kStride bytes, so that no lookup counts more than a stride of its line. Holds a
// view of the text, which must outlive it; never changes after it is made, so threads may
// share it.
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

  // Where AOffset (clipped to the text's size) stands.
  TLinePosition Locate(std::size_t AOffset) const;
  // The offset of the 0-based AColumn (in AEncoding's units) of the 0-based ALine: a line past
  // the last is the text's end, a column past the line's end (before its CR LF or LF) is the
  // line's end, a column inside a character is the character's first byte in UTF-8 and the
  // character's end in UTF-16 (between the halves of a surrogate pair).
  std::size_t OffsetOf(std::size_t ALine, std::size_t AColumn, TEncoding AEncoding) const;
  // The offset of the first character of the 1-based ALine that stands at or after the 1-based
  // display AColumn, or the line's end.
  std::size_t OffsetOfDisplayColumn(std::int64_t ALine, std::int64_t AColumn) const;

 private:
  // A character's first byte on a long line, with what its line counts before it.
  struct TMark {
    std::size_t Offset;
    std::int64_t Units;    // UTF-16 code units from the line's start
    std::int64_t Columns;  // display columns from the line's start
  };
  static constexpr std::size_t kStride = 256;

  std::size_t Index(std::int64_t ALine) const { return static_cast<std::size_t>(ALine - 1); }
  std::size_t LineEnd(std::int64_t ALine) const;  // before its CR LF or LF
  // Counts the characters of the 1-based ALine from the nearest mark at or before AOffset (or
  // the line's start) until AOffset, or, given AField, until AField counts AGoal.
  TMark Count(std::int64_t ALine, std::size_t AOffset, std::int64_t TMark::*AField = nullptr,
              std::int64_t AGoal = 0) const;

  std::string_view Text;
  std::vector<std::size_t> Starts;  // 0-based offset of each line's first byte, in order
  std::vector<TMark> Marks;         // in offset order; none at a line's start
};

}  // namespace zoqc
