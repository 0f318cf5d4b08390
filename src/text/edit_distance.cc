// The edit distance, two rows at a time and never past the limit asked for.
#include "src/text/edit_distance.h"

#include <algorithm>
#include <array>

#include "src/text/text.h"

namespace zoqc {

std::size_t EditDistance(std::string_view A, std::string_view B, std::size_t ALimit) {
  const std::size_t over = ALimit + 1;
  if (A.size() > kMaxEditDistanceLength || B.size() > kMaxEditDistanceLength) return over;
  const std::size_t gap = A.size() > B.size() ? A.size() - B.size() : B.size() - A.size();
  if (gap > ALimit) return over;  // that many insertions at least: not a similar name
  const auto same = [](char x, char y) { return UpCase(x) == UpCase(y); };
  // Row i of the table (the edits from A's first i bytes to each prefix of B) is built over
  // row i - 2 in place; the two cells of row i - 2 that a swap reads are kept aside as they
  // are overwritten.
  std::array<std::size_t, kMaxEditDistanceLength + 1> rows[2] = {};
  std::size_t* above = rows[0].data();  // row i - 1
  std::size_t* row = rows[1].data();    // row i - 2, becoming row i
  for (std::size_t j = 0; j <= B.size(); ++j) above[j] = j;
  for (std::size_t i = 1; i <= A.size(); ++i) {
    std::size_t two_up_left = 0;       // row i - 2 at j - 2
    std::size_t one_up_left = row[0];  // row i - 2 at j - 1
    std::size_t least = i;             // the row's smallest cell
    row[0] = i;
    for (std::size_t j = 1; j <= B.size(); ++j) {
      const std::size_t old = row[j];  // row i - 2 at j
      std::size_t cell = std::min(
          {above[j] + 1, row[j - 1] + 1, above[j - 1] + (same(A[i - 1], B[j - 1]) ? 0 : 1)});
      if (i > 1 && j > 1 && same(A[i - 1], B[j - 2]) && same(A[i - 2], B[j - 1]))
        cell = std::min(cell, two_up_left + 1);
      row[j] = cell;
      least = std::min(least, cell);
      two_up_left = one_up_left;
      one_up_left = old;
    }
    if (least > ALimit) return over;  // every cell only grows further down
    std::swap(above, row);
  }
  return std::min(above[B.size()], over);
}

}  // namespace zoqc
