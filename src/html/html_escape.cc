// The PHP of each escaper. Every value goes through (string) first, as echo would print it.
#include "src/html/html_escape.h"

#include <charconv>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "src/text/bytes.h"
#include "src/text/text.h"

namespace zoqc {

namespace {

constexpr std::string_view kHtmlFlags = ", ENT_QUOTES | ENT_SUBSTITUTE, 'UTF-8')";
constexpr std::string_view kJsonFlags =
    ", JSON_HEX_TAG | JSON_HEX_AMP | JSON_HEX_APOS | JSON_HEX_QUOT | "
    "JSON_INVALID_UTF8_SUBSTITUTE)";

void Html(TEscaper& AValue) { AValue.Wrap("htmlspecialchars(", kHtmlFlags); }

// A JavaScript string literal of the value (no "<", ">", "&" or quote in it, nor a line end):
// it can close neither the script nor an attribute.
void JsLiteral(TEscaper& AValue) { AValue.Wrap("json_encode(", kJsonFlags); }

// AInScript: in a <script> element, where "<!--", "-->" and "<script" change where it ends:
// no "-" of the value can help make them, nor (AAfterLt, after the markup's "<") its first
// character.
void Js(TJsPlace AWhere, TEscaper& AValue, bool AInScript = false, bool AAfterLt = false) {
  JsLiteral(AValue);
  if (AWhere == TJsPlace::Code) return;
  AValue.Wrap("substr(", ", 1, -1)");
  std::string pairs;
  // In a template string "`" ends it and "${" opens code (also with the markup's "$" before
  // the value): all three as \u escapes.
  if (AWhere == TJsPlace::TemplateString)
    pairs = "'`' => '\\u0060', '$' => '\\u0024', '{' => '\\u007b'";
  // In a regular expression "[" opens a class, where "/" ends nothing.
  // In a regular expression every character of its syntax is escaped: "[" would open a class,
  // where "/" ends nothing, and the others would change what it matches. "\\" and "/" are
  // escaped already; each escape is one that reads the same with and without the u flag.
  if (AWhere == TJsPlace::Regex)
    pairs =
        "'[' => '\\\\[', ']' => '\\\\]', '(' => '\\\\(', ')' => '\\\\)', '{' => "
        "'\\\\{', '}' => '\\\\}', '.' => '\\\\.', '*' => '\\\\*', '+' => '\\\\+', "
        "'?' => '\\\\?', '^' => '\\\\^', '$' => '\\\\$', '|' => '\\\\|'";
  if (AInScript) pairs += std::string(pairs.empty() ? "" : ", ") + "'-' => '\\u002d'";
  if (!pairs.empty()) AValue.Wrap("strtr(", ", [" + pairs + "])");
  if (AInScript && AAfterLt)
    AValue.Wrap(
        "preg_replace_callback('/\\A[A-Za-z\\/!]/', static function ($m) { return "
        "sprintf('\\\\u%04x', ord($m[0])); }, ",
        ")");
}

void Css(TCssPlace AWhere, TEscaper& AValue) {
  // A bare value keeps the characters of lengths, colours, names and numbers, nothing that
  // could end the declaration, the rule, a comment or the element; any other value becomes
  // 'zoqc-unsafe' as a whole. One call, no closure around it: a value is tested and kept or
  // replaced by the same preg_replace.
  if (AWhere == TCssPlace::Code)
    return AValue.Wrap("preg_replace('/\\A(?![\\w\\s#%.,+\\-]*\\z)[\\s\\S]*/', 'zoqc-unsafe', ",
                       ")");
  // In a string, a comment or url(): every ASCII character but letters and digits as a hex
  // escape, which CSS reads back as that character.
  AValue.Wrap(
      "preg_replace_callback('/[^A-Za-z0-9\\x80-\\xFF]/', static function ($m) { return "
      "sprintf('\\\\%X ', ord($m[0])); }, ",
      ")");
}

// A URL whose scheme the value chooses: a script scheme as the browser reads it (blanks and
// control characters before it stripped, tabs and line ends anywhere removed, any letter case)
// is replaced by a harmless fragment.
void UrlStart(TEscaper& AValue, std::string_view ATail) {
  std::string before =
      "(static function ($v) { return "
      "preg_match('/\\A(?:javascript|vbscript|data(?!:image\\/"
      "(?:png|gif|jpe?g|webp|avif)[;,])):/i', preg_replace('/[\\t\\n\\r]+/', '', ltrim($v . "
      "'";
  for (const char c : ATail) {  // as a PHP single-quoted literal
    if (c == '\\' || c == '\'') before += '\\';
    before += c;
  }
  before.append("', \"\\x00..\\x20\"))) ? '#zoqc-unsafe-url' : $v; })(");
  AValue.Wrap(before, ")");
}

void EscapeIn(const THtmlContext& AContext, TEscaper& AValue);

// The escaping of AContext around AValue (a string value), and what the markup right before it
// asks: after "&" and a name no first character of the value may complete a reference (it
// becomes one itself); after <pre>, <listing> or <textarea> a line end goes first, which the
// browser drops in place of the value's own.
void Escape(const THtmlContext& AContext, TEscaper& AValue) {
  EscapeIn(AContext, AValue);
  if (AContext.AfterAmp)
    AValue.Wrap(
        "preg_replace_callback('/\\A[A-Za-z0-9#=]/', static function ($m) { return '&#' . "
        "ord($m[0]) . ';'; }, ",
        ")");
  if (AContext.LeadingNewline) AValue.Wrap("\"\\n\" . ", "");
}

void EscapeIn(const THtmlContext& AContext, TEscaper& AValue) {
  switch (AContext.Where) {
    case THtmlPlace::Comment:  // "-" as a reference: no "-->" or "--!>" can form
      Html(AValue);
      return AValue.Wrap("str_replace('-', '&#45;', ", ")");
    case THtmlPlace::CData:  // "]]>" closes the section and opens another for its ">"
      return AValue.Wrap("str_replace(']]>', ']]]]><![CDATA[>', ", ")");
    case THtmlPlace::Script:
      return Js(AContext.Js, AValue, true, AContext.AfterLt);
    case THtmlPlace::Style:
      return Css(AContext.Css, AValue);
    case THtmlPlace::Attribute:
      switch (AContext.Attribute) {
        case THtmlAttribute::Event:
          Js(AContext.Js, AValue);
          return Html(AValue);
        case THtmlAttribute::Style:
          return Css(AContext.Css, AValue);  // yields no "&", "<", ">" or quote
        case THtmlAttribute::Srcdoc:         // for the inner document, then as an attribute value
          if (AContext.Inner) Escape(*AContext.Inner, AValue);
          return Html(AValue);
        case THtmlAttribute::Url:
          if (AContext.Url == TUrlPlace::Script) {
            // JavaScript in a URL: the browser decodes its "%XX" before it runs it.
            Js(AContext.Js, AValue);
            AValue.Wrap("str_replace('%', '%25', ", ")");
            return Html(AValue);
          }
          if (AContext.Url == TUrlPlace::Start) UrlStart(AValue, AContext.UrlTail);
          // After markup that holds no ':' yet, a ':' of the value could make a scheme.
          if (AContext.Url == TUrlPlace::Unsettled) AValue.Wrap("str_replace(':', '%3A', ", ")");
          return Html(AValue);
        case THtmlAttribute::Plain:
          break;
      }
      return Html(AValue);
    default:
      return Html(AValue);
  }
}

// AExpr without the blanks around it.
std::string_view Trimmed(std::string_view AExpr) {
  const std::size_t from = AExpr.find_first_not_of(" \t");
  if (from == std::string_view::npos) return {};
  return AExpr.substr(from, AExpr.find_last_not_of(" \t") + 1 - from);
}

// The name of the function when AExpr is one call "name(...)" as a whole, else "".
std::string_view OuterCall(std::string_view AExpr) {
  std::string_view e = Trimmed(AExpr);
  if (e.starts_with("\\")) e.remove_prefix(1);
  std::size_t at = 0;
  while (at < e.size() && (IsNameChar(e[at]) || e[at] == '_')) ++at;
  const std::string_view name = e.substr(0, at);
  while (at < e.size() && (e[at] == ' ' || e[at] == '\t')) ++at;
  if (name.empty() || at >= e.size() || e[at] != '(' || e.back() != ')') return {};
  return ClosingParen(e, at) + 1 == e.size() ? name : std::string_view();
}

}  // namespace

void TEscaper::Wrap(std::string_view ABefore, std::string_view AAfter) {
  Before.insert(0, ABefore);
  After.append(AAfter);
}

TEscaper ValueEscaper(const THtmlContext& AContext) {
  TEscaper escaper{"(string)(", ")"};
  Escape(AContext, escaper);
  return escaper;
}

bool IsEscapingCall(std::string_view AExpr) {
  const std::string_view name = OuterCall(AExpr);
  return SameText(name, "htmlspecialchars") || SameText(name, "htmlentities") ||
         (SameText(name, "json_encode") && AExpr.find("JSON_HEX_TAG") != std::string_view::npos);
}

namespace {

// The arguments of AExpr when it is one call "name(...)" as a whole (its name in AName), split
// at the commas outside brackets and strings, each without the blanks around it.
bool CallArguments(std::string_view AExpr, std::string_view& AName,
                   std::vector<std::string_view>& AArgs) {
  AName = OuterCall(AExpr);
  if (AName.empty()) return false;
  const std::string_view e = Trimmed(AExpr);
  std::size_t from = e.find('(') + 1;
  int depth = 0;
  for (std::size_t i = from; i < e.size(); ++i) {
    const char c = e[i];
    if (c == '\'' || c == '"') {
      i = ClosingQuote(e, i);
      continue;
    }
    if (c == '(' || c == '[' || c == '{') ++depth;
    if ((c == ')' || c == ']' || c == '}') && depth-- == 0) {
      AArgs.push_back(Trimmed(e.substr(from, i - from)));
      return true;
    }
    if (c == ',' && depth == 0) AArgs.push_back(Trimmed(e.substr(from, i - from))), from = i + 1;
  }
  return false;
}

// The value of a flags argument: constants of APrefix ("ENT_", "JSON_") and numbers joined by
// "|"; -1 when it holds anything else. AKnown: the names and their values.
long long Flags(std::string_view AArg,
                std::initializer_list<std::pair<std::string_view, long long>> AKnown) {
  long long flags = 0;
  for (std::size_t from = 0; from <= AArg.size();) {
    std::size_t bar = AArg.find('|', from);
    if (bar == std::string_view::npos) bar = AArg.size();
    std::string_view part = Trimmed(AArg.substr(from, bar - from));
    if (part.starts_with("\\")) part.remove_prefix(1);
    bool found = false;
    for (const auto& [name, value] : AKnown)
      if (part == name) flags |= value, found = true;
    if (!found) {
      if (part.empty() || part.find_first_not_of("0123456789") != std::string_view::npos ||
          part.size() > 9)
        return -1;
      long long number = 0;  // nine digits at most: no overflow, nothing to throw
      std::from_chars(part.data(), part.data() + part.size(), number);
      flags |= number;
    }
    from = bar + 1;
  }
  return flags;
}

// What a call of htmlspecialchars or htmlentities escapes, read from its arguments.
struct THtmlCall {
  bool Known = false;                   // the call's flags and charset are read
  bool Double = false, Single = false;  // it escapes '"', '\''
  bool Exact = false;                   // html_entity_decode gives its argument back
};

THtmlCall ReadHtmlCall(std::string_view AExpr) {
  THtmlCall call;
  std::string_view name;
  std::vector<std::string_view> args;
  if (!CallArguments(AExpr, name, args) || args.empty() || args.size() > 4 ||
      !(SameText(name, "htmlspecialchars") || SameText(name, "htmlentities")))
    return call;
  // Decoding gives the argument back whatever the flags: "&" is always escaped.
  call.Exact = (args.size() < 3 || args[2] == "null" || args[2] == "NULL" ||
                SameText(args[2], "'UTF-8'") || SameText(args[2], "\"UTF-8\"")) &&
               (args.size() < 4 || SameText(args[3], "true"));
  // Without flags PHP before 8.1 escapes '"' only; zoqc does not know which PHP runs the page.
  long long flags = 2;
  if (args.size() > 1)
    flags = Flags(args[1], {{"ENT_COMPAT", 2},
                            {"ENT_QUOTES", 3},
                            {"ENT_NOQUOTES", 0},
                            {"ENT_HTML401", 0},
                            {"ENT_XML1", 16},
                            {"ENT_XHTML", 32},
                            {"ENT_HTML5", 48},
                            {"ENT_IGNORE", 4},
                            {"ENT_SUBSTITUTE", 8},
                            {"ENT_DISALLOWED", 128}});
  if (flags < 0) return call;
  // A charset PHP reads byte by byte or as UTF-8: '<', '&' and the quotes are found in any of
  // them. Another one may take them into a character of its own.
  bool utf8 = true;
  if (args.size() > 2 && args[2] != "null" && args[2] != "NULL") {
    const std::string_view c = args[2];
    if (c.size() < 2 || (c[0] != '\'' && c[0] != '"') || c.back() != c[0]) return call;
    const std::string_view charset = c.substr(1, c.size() - 2);
    utf8 = SameText(charset, "UTF-8") || SameText(charset, "utf8");
    if (!utf8 && !SameText(charset, "ISO-8859-1") && !SameText(charset, "ISO8859-1") &&
        !SameText(charset, "ISO-8859-15") && !SameText(charset, "ISO8859-15") &&
        !SameText(charset, "cp1252") && !SameText(charset, "Windows-1252"))
      return call;
  }
  call.Known = true;
  call.Double = (flags & 2) != 0;
  call.Single = (flags & 1) != 0;
  call.Exact = call.Exact && utf8;
  return call;
}

// True when AExpr is json_encode(..., flags) with JSON_HEX_TAG among flags that zoqc reads.
bool IsJsonLiteral(std::string_view AExpr) {
  std::string_view name;
  std::vector<std::string_view> args;
  if (!CallArguments(AExpr, name, args) || !SameText(name, "json_encode") || args.size() < 2 ||
      args.size() > 3)
    return false;
  const long long flags = Flags(args[1], {{"JSON_HEX_TAG", 1},
                                          {"JSON_HEX_AMP", 2},
                                          {"JSON_HEX_APOS", 4},
                                          {"JSON_HEX_QUOT", 8},
                                          {"JSON_FORCE_OBJECT", 16},
                                          {"JSON_NUMERIC_CHECK", 32},
                                          {"JSON_UNESCAPED_SLASHES", 64},
                                          {"JSON_PRETTY_PRINT", 128},
                                          {"JSON_UNESCAPED_UNICODE", 256},
                                          {"JSON_PARTIAL_OUTPUT_ON_ERROR", 512},
                                          {"JSON_PRESERVE_ZERO_FRACTION", 1024},
                                          {"JSON_INVALID_UTF8_IGNORE", 1048576},
                                          {"JSON_INVALID_UTF8_SUBSTITUTE", 2097152},
                                          {"JSON_THROW_ON_ERROR", 4194304}});
  // Without JSON_HEX_TAG "</script>" ends the script; JSON_UNESCAPED_UNICODE could leave
  // U+2028 raw, which older engines read as a line end in a string (with
  // JSON_UNESCAPED_LINE_TERMINATORS, not read here).
  return flags >= 0 && (flags & 1) != 0;
}

// True in JavaScript: a script, or a quoted event-handler attribute.
bool InJs(const THtmlContext& AContext) {
  return AContext.Where == THtmlPlace::Script ||
         (AContext.Where == THtmlPlace::Attribute && AContext.Attribute == THtmlAttribute::Event);
}

}  // namespace

bool EscapesFor(const THtmlContext& AContext, std::string_view AExpr) {
  if (InJs(AContext)) return false;  // a JavaScript literal is kept, but wrapped for an attribute
  if (AContext.AfterAmp) return false;  // its first character could complete a reference
  const THtmlCall call = ReadHtmlCall(AExpr);
  if (!call.Known) return false;
  switch (AContext.Where) {
    case THtmlPlace::Text:
    case THtmlPlace::RcData:
    case THtmlPlace::RawText:
      return true;  // "<" and "&" are escaped whatever the flags
    case THtmlPlace::Attribute:
      if (AContext.Attribute != THtmlAttribute::Plain &&
          !(AContext.Attribute == THtmlAttribute::Url && AContext.Url == TUrlPlace::Settled))
        return false;
      return AContext.Quote == '"' ? call.Double : call.Single;
    default:
      return false;  // a comment needs "-" escaped; JavaScript, URLs and CSS their own
  }
}

std::string EscapedExpression(const THtmlContext& AContext, std::string_view AExpr) {
  if (InJs(AContext) && AContext.Js == TJsPlace::Code && !AContext.AfterLt && !AContext.AfterAmp &&
      IsJsonLiteral(AExpr)) {
    if (AContext.Where == THtmlPlace::Script) return std::string(AExpr);
    TEscaper escaper;
    Html(escaper);
    return escaper.Before + std::string(AExpr) + escaper.After;
  }
  if (EscapesFor(AContext, AExpr))
    return AContext.LeadingNewline ? "\"\\n\" . " + std::string(AExpr) : std::string(AExpr);
  // Elsewhere the value of an HTML escaper is decoded first, so that the visitor never sees
  // "&amp;", where decoding gives the value back.
  const THtmlCall call = ReadHtmlCall(AExpr);
  if (!call.Exact) return ValueEscaper(AContext).Around(AExpr);
  TEscaper escaper{"html_entity_decode(", ", ENT_QUOTES | ENT_HTML5, 'UTF-8')"};
  Escape(AContext, escaper);
  return escaper.Around(AExpr);
}

}  // namespace zoqc
