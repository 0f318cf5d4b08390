// Edit distance with swaps of neighbours.
#include "src/text/edit_distance.h"

#include <algorithm>
#include <vector>

#include "src/text/text.h"

namespace zoqc {

std::size_t EditDistance(std::string_view A, std::string_view B, std::size_t ALimit) {
  const std::size_t gap = A.size() > B.size() ? A.size() - B.size() : B.size() - A.size();
  if (gap > ALimit) return ALimit + 1;
  const auto same = [](char x, char y) { return UpCase(x) == UpCase(y); };
  // Insertions, deletions, substitutions and swaps of two neighbours, each one edit.
  std::vector<std::vector<std::size_t>> d(A.size() + 1, std::vector<std::size_t>(B.size() + 1));
  for (std::size_t i = 0; i <= A.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= B.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= A.size(); ++i)
    for (std::size_t j = 1; j <= B.size(); ++j) {
      d[i][j] = std::min(
          {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (same(A[i - 1], B[j - 1]) ? 0 : 1)});
      if (i > 1 && j > 1 && same(A[i - 1], B[j - 2]) && same(A[i - 2], B[j - 1]))
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[A.size()][B.size()];
}

}  // namespace zoqc
