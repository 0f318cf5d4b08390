// Operators that bind more loosely than "." in PHP 8, found outside brackets and strings.
#include <array>

#include "src/check/check.h"
#include "src/text/text.h"

namespace zoqc {

namespace {

// Every operator of two or three bytes, the longest first, so that "->" is never read as ">".
constexpr std::array<std::string_view, 35> kOperators = {
    "?:", "<<=", ">>=", "**=", "?\?=", "<=>", "===", "!==", "?->", "...", "<<", ">>",
    "->", "=>",  "::",  "==",  "!=",   "<>",  "<=",  ">=",  "&&",  "||",  "??", "+=",
    "-=", "*=",  "/=",  ".=",  "%=",   "&=",  "|=",  "^=",  "++",  "--",  "**"};

// Comparison, bitwise and/xor/or, logical, null-coalescing, ternary and assignment operators:
// each of them binds more loosely than ".".
bool IsLoose(std::string_view AOperator) {
  if (AOperator.size() == 1)
    return std::string_view("<>&|^?=").find(AOperator[0]) != std::string_view::npos;
  constexpr std::string_view kTight[] = {"?->", "...", "<<", ">>", "->", "::", "++", "--", "**"};
  for (const std::string_view tight : kTight)
    if (AOperator == tight) return false;
  return true;
}

bool IsWordChar(char c) {
  return IsNameChar(c) || c == '_' || static_cast<unsigned char>(c) >= 128;
}

}  // namespace

std::optional<TLooseOperator> FindLooseOperator(std::string_view AExpr) {
  int depth = 0;
  bool member = false;  // the last token was "->", "?->" or "::": a word after it is a name
  std::size_t idx = 0;
  while (idx < AExpr.size()) {
    const char c = AExpr[idx];
    const std::string_view rest = AExpr.substr(idx);
    if (c == ' ' || c == '\t') {
      ++idx;
      continue;
    }
    const bool was_member = member;
    member = false;
    if (c == '\'' || c == '"' || c == '`') {
      for (++idx; idx < AExpr.size() && AExpr[idx] != c; ++idx)
        if (AExpr[idx] == '\\') ++idx;
      ++idx;
    } else if (c == '(' || c == '[' || c == '{') {
      ++depth, ++idx;
    } else if (c == ')' || c == ']' || c == '}') {
      depth -= depth > 0, ++idx;
    } else if (rest.starts_with("/*")) {
      const std::size_t end = AExpr.find("*/", idx + 2);
      idx = end == std::string_view::npos ? AExpr.size() : end + 2;
    } else if (rest.starts_with("//") || c == '#') {
      if (depth == 0) return TLooseOperator{idx, AExpr.size() - idx, true};
      return std::nullopt;  // the comment hides the rest of the line
    } else if (c == '$' || IsWordChar(c)) {
      const std::size_t start = idx;
      for (++idx; idx < AExpr.size() && IsWordChar(AExpr[idx]);) ++idx;
      const std::string_view word = AExpr.substr(start, idx - start);
      if (depth == 0 && !was_member && c != '$' &&
          (SameText(word, "and") || SameText(word, "or") || SameText(word, "xor")))
        return TLooseOperator{start, word.size(), false};
    } else {
      std::string_view op = rest.substr(0, 1);
      for (const std::string_view candidate : kOperators)
        if (rest.starts_with(candidate)) {
          op = candidate;
          break;
        }
      if (depth == 0 && IsLoose(op)) return TLooseOperator{idx, op.size(), false};
      member = op == "->" || op == "?->" || op == "::";
      idx += op.size();
    }
  }
  return std::nullopt;
}

}  // namespace zoqc
