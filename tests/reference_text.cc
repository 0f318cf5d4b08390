// The reference's text primitives: search, clamped copy and replace on byte strings.
#include "tests/reference_text.h"

#include <algorithm>

#include "src/text/text.h"

namespace zoqc {

std::int64_t Pos(std::string_view ASubStr, std::string_view AStr) {
  if (ASubStr.empty()) return 0;
  const std::size_t idx = AStr.find(ASubStr);
  return idx == std::string_view::npos ? 0 : static_cast<std::int64_t>(idx) + 1;
}

std::string Copy(std::string_view AStr, std::int64_t AIndex, std::int64_t ACount) {
  const auto length = static_cast<std::int64_t>(AStr.size());
  const std::int64_t start = std::max<std::int64_t>(AIndex - 1, 0);
  if (start >= length) return {};
  const std::int64_t count = std::min(ACount, length - start);
  if (count <= 0) return {};
  return std::string(AStr.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(count)));
}

std::string AnsiUpperCase(std::string_view AStr) {
  std::string result(AStr);
  for (char& c : result) c = UpCase(c);
  return result;
}

namespace {

// The 0-based index of the first occurrence of APattern in AStr at or after AFrom, compared
// up to ASCII case when AIgnoreCase holds; npos when there is none.
std::size_t Find(std::string_view AStr, std::string_view APattern, std::size_t AFrom,
                 bool AIgnoreCase) {
  if (!AIgnoreCase) return AStr.find(APattern, AFrom);
  if (APattern.size() > AStr.size()) return std::string_view::npos;
  const std::size_t last = AStr.size() - APattern.size();
  for (std::size_t i = AFrom; i <= last; ++i)
    if (SameText(AStr.substr(i, APattern.size()), APattern)) return i;
  return std::string_view::npos;
}

}  // namespace

std::string StringReplace(std::string_view AStr, std::string_view AOld, std::string_view ANew,
                          TReplaceFlags AFlags) {
  if (AOld.empty()) return std::string(AStr);
  std::string result;
  std::size_t from = 0;
  for (;;) {
    const std::size_t idx = Find(AStr, AOld, from, (AFlags & kIgnoreCase) != 0);
    if (idx == std::string_view::npos) break;
    result.append(AStr.substr(from, idx - from));
    result.append(ANew);
    from = idx + AOld.size();
    if ((AFlags & kReplaceAll) == 0) break;
  }
  result.append(AStr.substr(from));
  return result;
}

}  // namespace zoqc
