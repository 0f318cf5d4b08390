// The PHP that prints a value escaped for its HTML context: calls of PHP's own functions
// (htmlspecialchars, json_encode, preg_replace_callback, ...), so the page needs no library.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "src/html/html_context.h"

namespace zoqc {

// The PHP around a value: Before, the value, After.
struct TEscaper {
  std::string Before, After;
  // Puts ABefore and AAfter around what this wraps already.
  void Wrap(std::string_view ABefore, std::string_view AAfter);
  std::string Around(std::string_view AValue) const {
    return std::string(Before).append(AValue).append(After);
  }
};

// The PHP around an expression that EscapedExpression escapes for AContext, when the expression
// escapes nothing itself (IsEscaped is false): Around(AExpr) is EscapedExpression(AContext, AExpr).
TEscaper ValueEscaper(const THtmlContext& AContext);

// True when AExpr as a whole is a call of an escaper that EscapedExpression may keep: an HTML
// escaper, or json_encode(..., JSON_HEX_TAG ...).
bool IsEscapingCall(std::string_view AExpr);
// The same, telling most expressions at once: a call ends in ")" (then blanks).
inline bool IsEscaped(std::string_view AExpr) {
  if (AExpr.empty() || (AExpr.back() != ')' && AExpr.back() != ' ' && AExpr.back() != '\t'))
    return false;
  return IsEscapingCall(AExpr);
}

// True when AExpr, a call of htmlspecialchars or htmlentities, escapes all that AContext needs
// (read from its flags and charset: the quote in use in an attribute; in text "<" and "&"),
// so that EscapedExpression keeps it as it is. Script, URL-scheme, CSS, comment and srcdoc
// places need escapers of their own; after the markup's "&" and a name nothing is enough.
bool EscapesFor(const THtmlContext& AContext, std::string_view AExpr);

// The PHP expression that yields the value of the PHP expression AExpr escaped for AContext.
// An expression that already escapes for AContext (htmlspecialchars(...) in text or a quoted
// attribute, json_encode(..., JSON_HEX_TAG ...) in script code) comes back as it is: no value
// is escaped twice. A refused context gets the escaping of a quoted attribute value.
std::string EscapedExpression(const THtmlContext& AContext, std::string_view AExpr);

}  // namespace zoqc
