// The PHP of each escaper. Every value goes through (string) first, as echo would print it.
#include "src/model/html_escape.h"

#include <bit>
#include <cstring>

#include "src/text/text.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

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

void Js(TJsPlace APlace, TEscaper& AValue) {
  JsLiteral(AValue);
  if (APlace == TJsPlace::Code) return;
  AValue.Wrap("substr(", ", 1, -1)");
  // In a template string "`" ends it and "${" opens code: both as \u escapes.
  if (APlace == TJsPlace::TemplateString)
    AValue.Wrap("strtr(", ", ['`' => '\\u0060', '$' => '\\u0024'])");
}

void Css(TCssPlace APlace, TEscaper& AValue) {
  // A bare value keeps the characters of lengths, colours, names and numbers, nothing that
  // could end the declaration, the rule, a comment or the element; any other value becomes
  // 'zoqc-unsafe' as a whole. One call, no closure around it: a value is tested and kept or
  // replaced by the same preg_replace.
  if (APlace == TCssPlace::Code)
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

// The escaping of AContext around AValue (a string value).
void Escape(const THtmlContext& AContext, TEscaper& AValue) {
  switch (AContext.Place) {
    case THtmlPlace::Comment:  // "-" as a reference: no "-->" or "--!>" can form
      Html(AValue);
      return AValue.Wrap("str_replace('-', '&#45;', ", ")");
    case THtmlPlace::CData:  // "]]>" closes the section and opens another for its ">"
      return AValue.Wrap("str_replace(']]>', ']]]]><![CDATA[>', ", ")");
    case THtmlPlace::Script:
      return Js(AContext.Js, AValue);
    case THtmlPlace::Style:
      return Css(AContext.Css, AValue);
    case THtmlPlace::Attribute:
      switch (AContext.Attribute) {
        case THtmlAttribute::Event:
          Js(AContext.Js, AValue);
          return Html(AValue);
        case THtmlAttribute::Style:
          return Css(AContext.Css, AValue);  // yields no "&", "<", ">" or quote
        case THtmlAttribute::Url:
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
  int depth = 0;
  for (std::size_t i = at; i < e.size(); ++i) {
    const char c = e[i];
    if (c == '\'' || c == '"') {
      i = ClosingQuote(e, i);
      continue;
    }
    if (c == '(') ++depth;
    if (c == ')' && --depth == 0) return i + 1 == e.size() ? name : std::string_view();
  }
  return {};
}

}  // namespace

bool IsHtmlEscaperCall(std::string_view AExpr) {
  const std::string_view name = OuterCall(AExpr);
  return SameText(name, "htmlspecialchars") || SameText(name, "htmlentities");
}

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

std::string EscapedExpression(const THtmlContext& AContext, std::string_view AExpr) {
  const bool html = IsHtmlEscaperCall(AExpr);
  const bool js_literal = SameText(OuterCall(AExpr), "json_encode") &&
                          AExpr.find("JSON_HEX_TAG") != std::string_view::npos;
  const bool in_js =
      AContext.Place == THtmlPlace::Script ||
      (AContext.Place == THtmlPlace::Attribute && AContext.Attribute == THtmlAttribute::Event);
  if (in_js && AContext.Js == TJsPlace::Code && js_literal) {
    if (AContext.Place == THtmlPlace::Script) return std::string(AExpr);
    TEscaper escaper;
    Html(escaper);
    return escaper.Before + std::string(AExpr) + escaper.After;
  }
  // Where HTML escaping is the whole escaping, an HTML escaper is fit; elsewhere its value is
  // decoded first, so that the visitor never sees "&amp;".
  const bool html_fit =
      AContext.Place == THtmlPlace::Text || AContext.Place == THtmlPlace::RcData ||
      AContext.Place == THtmlPlace::RawText || AContext.Place == THtmlPlace::Comment ||
      (AContext.Place == THtmlPlace::Attribute &&
       (AContext.Attribute == THtmlAttribute::Plain ||
        (AContext.Attribute == THtmlAttribute::Url && AContext.Url == TUrlPlace::Settled)));
  if (html && html_fit) return std::string(AExpr);
  if (!html) return ValueEscaper(AContext).Around(AExpr);
  TEscaper escaper{"html_entity_decode(", ", ENT_QUOTES | ENT_HTML5, 'UTF-8')"};
  Escape(AContext, escaper);
  return escaper.Around(AExpr);
}

std::size_t PrintedPlaceholderAt(std::string_view AText, std::size_t AIdx, bool& ARaw) {
  if (AIdx >= AText.size() || AText[AIdx] != '{') return 0;
  ARaw = AIdx + 1 < AText.size() && AText[AIdx + 1] == '!';
  const std::size_t end = PrintedPlaceholderEnd(AText.data(), AText.size(), AIdx);
  return end ? end - AIdx : 0;
}

TSpan NextPrintedPlaceholder(std::string_view ATemplate, std::size_t AFrom) {
  const char* const text = ATemplate.data();
  const std::size_t size = ATemplate.size();
  // Placeholders most often stand a few bytes apart: where 16 bytes follow, one compare of them
  // finds the next "{" before a search is called.
  const auto next_brace = [&](std::size_t AFrom) -> const void* {
#if defined(__SSE2__) || defined(_M_X64)
    if (AFrom + 16 <= size) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + AFrom));
      const unsigned hit =
          static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('{'))));
      if (hit) return text + AFrom + static_cast<unsigned>(std::countr_zero(hit));
      AFrom += 16;
    }
#endif
    return AFrom < size ? std::memchr(text + AFrom, '{', size - AFrom) : nullptr;
  };
  for (const void* brace = next_brace(AFrom); brace;) {
    const std::size_t idx = static_cast<std::size_t>(static_cast<const char*>(brace) - text);
    if (const std::size_t end = PrintedPlaceholderEnd(text, size, idx)) return {idx, end};
    brace = next_brace(idx + 1);
  }
  return {size, size};
}

std::vector<TSpan> PrintedPlaceholders(std::string_view ATemplate) {
  std::vector<TSpan> spans;
  // A placeholder holds no other "{": the next one is looked for after it.
  for (TSpan span = NextPrintedPlaceholder(ATemplate, 0); span.Begin < ATemplate.size();
       span = NextPrintedPlaceholder(ATemplate, span.End))
    spans.push_back(span);
  return spans;
}

}  // namespace zoqc
