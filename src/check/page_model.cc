// The statement lines, markers and placeholders, read the way the translation reads them.
#include "src/check/page_model.h"

#include <algorithm>
#include <string>

#include "src/text/text.h"

namespace zoqc {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLetter(char c) { return IsNameChar(c) && !(c >= '0' && c <= '9'); }

}  // namespace

TStatementLine ReadStatementLine(std::string_view AScript, std::size_t AStart) {
  TStatementLine line{'=', AStart, AStart + 2, {}, false, 0, {}, {}};
  // The block openers need four bytes left, as the scan's predicates do.
  if (AScript.size() - AStart >= 4 &&
      (AScript[AStart + 2] == '*' || AScript[AStart + 2] == '+' || AScript[AStart + 2] == '<')) {
    line.Kind = AScript[AStart + 2];
    line.NameStart = AStart + 3;
  }
  const std::size_t end = NameEnd(AScript, line.NameStart);
  line.Name = AScript.substr(line.NameStart, end - line.NameStart);
  line.Separated = AScript.size() - end >= 3 && AScript.compare(end, 2, "<<") == 0;
  if (line.Separated) {
    line.ExprStart = end + 2;
    const std::size_t stop =
        std::min(AScript.find_first_of("\r\n", line.ExprStart), AScript.size());
    line.Expr = AScript.substr(line.ExprStart, stop - line.ExprStart);
  }
  return line;
}

std::vector<TStatementLine> ReadStatementLines(std::string_view AScript) {
  std::vector<TStatementLine> lines;
  std::string_view block;
  for (std::size_t idx = AScript.find('\n'); idx != std::string_view::npos;
       idx = AScript.find('\n', idx + 1)) {
    const std::size_t start = idx + 1;
    if (AScript.size() - start < 3 || AScript.compare(start, 2, "<<") != 0) continue;
    TStatementLine line = ReadStatementLine(AScript, start);
    if (line.Kind == '*' && line.Separated) continue;  // "<<*name<<": defines nothing
    if (line.Kind == '*') block = line.Name;
    if (line.Kind == '<') line.Block = block;
    lines.push_back(line);
  }
  return lines;
}

std::vector<TMarkerText> ReadMarkers(std::string_view ATemplate) {
  std::vector<TMarkerText> markers;
  for (std::size_t idx = ATemplate.find("<!--"); idx != std::string_view::npos;
       idx = ATemplate.find("<!--", idx + 1)) {
    std::size_t at = idx + 4;
    while (at < ATemplate.size() && IsBlank(ATemplate[at])) ++at;
    const std::size_t keyword = at;
    while (at < ATemplate.size() && IsLetter(ATemplate[at])) ++at;
    const std::string_view word = ATemplate.substr(keyword, at - keyword);
    const bool begin = SameText(word, "BEGIN");
    if (!begin && !SameText(word, "END")) continue;
    while (at < ATemplate.size() && IsBlank(ATemplate[at])) ++at;
    const std::size_t name = at;
    at = NameEnd(ATemplate, at);
    const std::string_view spelled = ATemplate.substr(name, at - name);
    while (at < ATemplate.size() && IsBlank(ATemplate[at])) ++at;
    if (ATemplate.compare(at, 3, "-->") != 0) continue;
    const std::size_t length = at + 3 - idx;
    markers.push_back(
        {idx, length, begin, ATemplate.substr(idx, length) == MarkerText(begin, spelled), spelled});
  }
  return markers;
}

std::vector<TPlaceholderText> ReadPlaceholders(std::string_view ATemplate) {
  std::vector<TPlaceholderText> found;
  for (std::size_t idx = ATemplate.find('{'); idx != std::string_view::npos;
       idx = ATemplate.find('{', idx + 1)) {
    const std::size_t end = NameEnd(ATemplate, idx + 1);
    if (end > idx + 1 && end < ATemplate.size() && ATemplate[end] == '}')
      found.push_back({idx, ATemplate.substr(idx + 1, end - idx - 1)});
  }
  return found;
}

std::string MarkerText(bool AIsBegin, std::string_view AName) {
  return std::string(AIsBegin ? "<!--BEGIN " : "<!--END ").append(AName).append("-->");
}

}  // namespace zoqc
