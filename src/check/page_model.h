// What the checks read: the statement lines of the script and the markers and placeholders of
// the template, each found in one linear pass over the bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zoqc {

// A statement line of the script. The scan examines the start of every line after the first,
// and a line that opens with "<<" is a statement.
struct TStatementLine {
  char Kind;               // '=' "<<name<<", '*' "<<*name", '+' "<<+name", '<' "<<<name<<"
  std::size_t Start;       // 0-based offset of its first "<"
  std::size_t NameStart;   // 0-based offset of the name (right after the opener)
  std::string_view Name;   // the run of name characters, possibly empty
  bool Separated;          // "<<" and at least one more byte follow the name
  std::size_t ExprStart;   // when Separated: 0-based offset of the expression
  std::string_view Expr;   // when Separated: up to the first CR or LF
  std::string_view Block;  // '<': the block defined last above it (empty: none)
};

// The statement at 0-based AStart (which opens with "<<").
TStatementLine ReadStatementLine(std::string_view AScript, std::size_t AStart);
// Every statement line of AScript, in order.
std::vector<TStatementLine> ReadStatementLines(std::string_view AScript);

// A marker "<!--" keyword name "-->" with the keyword BEGIN or END in any case and optional
// blanks around keyword and name.
struct TMarkerText {
  std::size_t Pos;        // 0-based offset of its "<"
  std::size_t Length;     // through "-->"
  bool IsBegin;           // BEGIN, else END
  bool Exact;             // written "<!--BEGIN name-->" or "<!--END name-->" exactly
  std::string_view Name;  // as written
};
std::vector<TMarkerText> ReadMarkers(std::string_view ATemplate);

// A placeholder "{" name "}" with a non-empty name of name characters.
struct TPlaceholderText {
  std::size_t Pos;  // 0-based offset of its "{"
  std::string_view Name;
};
std::vector<TPlaceholderText> ReadPlaceholders(std::string_view ATemplate);

// The text of a marker in exact form.
std::string MarkerText(bool AIsBegin, std::string_view AName);

}  // namespace zoqc
