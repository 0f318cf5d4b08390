// The checks of safe output: request data printed unescaped, "{!name}" without --escape, and
// under --escape the placeholders where nothing can make a value safe.
#include <algorithm>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "src/check/checker.h"
#include "src/model/html_escape.h"
#include "src/text/text.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace zoqc {

namespace {

// The functions whose result prints no markup of the request's: escapers, and functions that
// yield a number, a boolean or a hash.
constexpr std::string_view kSafeCalls[] = {"htmlspecialchars",
                                           "htmlentities",
                                           "json_encode",
                                           "urlencode",
                                           "rawurlencode",
                                           "http_build_query",
                                           "intval",
                                           "floatval",
                                           "boolval",
                                           "abs",
                                           "round",
                                           "floor",
                                           "ceil",
                                           "number_format",
                                           "count",
                                           "strlen",
                                           "mb_strlen",
                                           "isset",
                                           "empty",
                                           "is_numeric",
                                           "ctype_digit",
                                           "in_array",
                                           "array_key_exists",
                                           "md5",
                                           "sha1",
                                           "crc32",
                                           "hash",
                                           "preg_match",
                                           "filter_var"};
constexpr std::string_view kCasts[] = {"(int)",    "(integer)", "(float)",
                                       "(double)", "(bool)",    "(boolean)"};

bool IsVarChar(char c) {
  return IsNameChar(c) || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}

// The PHP variable name at AAt ("$" then a name), or "".
std::string_view VariableAt(std::string_view AText, std::size_t AAt) {
  if (AAt >= AText.size() || AText[AAt] != '$') return {};
  std::size_t end = AAt + 1;
  while (end < AText.size() && IsVarChar(AText[end])) ++end;
  return AText.substr(AAt, end - AAt);
}

// True when the read at AAt of AExpr stands inside the arguments of a safe call, or right
// after a cast.
// True when a cast stands right before AAt of AExpr (blanks between).
bool CastBefore(std::string_view AExpr, std::size_t AAt) {
  while (AAt > 0 && (AExpr[AAt - 1] == ' ' || AExpr[AAt - 1] == '\t')) --AAt;
  for (const std::string_view cast : kCasts)
    if (AAt >= cast.size() && SameText(AExpr.substr(AAt - cast.size(), cast.size()), cast))
      return true;
  return false;
}

bool Wrapped(std::string_view AExpr, std::size_t AAt) {
  if (CastBefore(AExpr, AAt)) return true;
  std::vector<bool> open;  // per "(" open before AAt: a safe call's
  for (std::size_t i = 0; i < AAt; ++i) {
    const char c = AExpr[i];
    if (c == '\'' || c == '"') {
      i = ClosingQuote(AExpr, i);
      continue;
    }
    if (c == ')' && !open.empty()) open.pop_back();
    if (c != '(') continue;
    std::size_t end = i;
    while (end > 0 && (AExpr[end - 1] == ' ' || AExpr[end - 1] == '\t')) --end;
    std::size_t start = end;
    while (start > 0 && (IsNameChar(AExpr[start - 1]) || AExpr[start - 1] == '_')) --start;
    const std::string_view name = AExpr.substr(start, end - start);
    bool safe = CastBefore(AExpr, i);  // "(int)(...)"
    for (const std::string_view call : kSafeCalls) safe = safe || SameText(name, call);
    open.push_back(safe);
  }
  return std::find(open.begin(), open.end(), true) != open.end();
}

// The first AByte in [AFrom, ATo) of AText, or ATo: short stretches (the line ends between two
// statement lines) a byte at a time, long ones by memchr.
std::size_t FindByte(std::string_view AText, char AByte, std::size_t AFrom, std::size_t ATo) {
  if (ATo - AFrom < 16) {
    while (AFrom < ATo && AText[AFrom] != AByte) ++AFrom;
    return AFrom;
  }
  const void* at = std::memchr(AText.data() + AFrom, AByte, ATo - AFrom);
  return at ? static_cast<std::size_t>(static_cast<const char*>(at) - AText.data()) : ATo;
}

// "$_" in AExpr, which every superglobal starts with: where 17 bytes of AText (which AExpr views)
// follow a position, the 16 "$" there and the 16 "_" a byte on are compared at once.
bool ReadsSuperglobal(std::string_view AText, std::string_view AExpr) {
  std::size_t at = static_cast<std::size_t>(AExpr.data() - AText.data());
  const std::size_t end = at + AExpr.size();
#if defined(__SSE2__) || defined(_M_X64)
  const __m128i dollar = _mm_set1_epi8('$'), underscore = _mm_set1_epi8('_');
  for (; at + 1 < end && AText.size() - at >= 17; at += 16) {
    const char* const p = AText.data() + at;
    const auto hits = [](const char* AAt, __m128i AByte) {
      return static_cast<unsigned>(_mm_movemask_epi8(
          _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(AAt)), AByte)));
    };
    unsigned pairs = hits(p, dollar) & hits(p + 1, underscore);
    if (end - at - 1 < 16) pairs &= (1u << (end - at - 1)) - 1;  // the "_" within AExpr
    if (pairs) return true;
  }
#endif
  for (; at + 1 < end; ++at)
    if (AText[at] == '$' && AText[at + 1] == '_') return true;
  return false;
}

// The variables that assignments took from the request (false: taken, then assigned anew).
using TTainted = std::unordered_map<std::string_view, bool>;

// The first read of request data in AExpr that nothing wraps: a superglobal of the request, a
// request field of $_SERVER, or a variable of ATainted (null: none is). The offset, or npos.
std::size_t RawRequestRead(std::string_view AExpr, const TTainted* ATainted) {
  static constexpr std::string_view kRequest[] = {"$_GET", "$_POST", "$_REQUEST", "$_COOKIE",
                                                  "$_FILES"};
  static constexpr std::string_view kServer[] = {"REQUEST_URI", "QUERY_STRING", "PHP_SELF",
                                                 "PATH_INFO", "HTTP_"};
  // Every superglobal starts "$_": without one and without a tainted variable, nothing reads
  // the request (the common binding, read once).
  if (!ATainted && AExpr.find("$_") == std::string_view::npos) return std::string_view::npos;
  for (std::size_t at = AExpr.find('$'); at != std::string_view::npos;
       at = AExpr.find('$', at + 1)) {
    const std::string_view var = VariableAt(AExpr, at);
    bool request = false;
    for (const std::string_view r : kRequest) request = request || var == r;
    if (var == "$_SERVER") {
      std::size_t key = at + var.size();
      while (key < AExpr.size() &&
             (AExpr[key] == '[' || AExpr[key] == ' ' || AExpr[key] == '\'' || AExpr[key] == '"'))
        ++key;
      for (const std::string_view field : kServer)
        request = request || AExpr.substr(key, field.size()) == field;
    }
    if (!request && ATainted) {
      const auto it = ATainted->find(var);
      request = it != ATainted->end() && it->second;
    }
    if (request && !Wrapped(AExpr, at)) return at;
  }
  return std::string_view::npos;
}

}  // namespace

namespace check_detail {

// A binding that prints request data unescaped, read directly or through a variable that an
// assignment above the binding took from the request.
void TChecker::CheckRequestData() {
  const std::string_view text = Script.Text;
  // The assignments "$name = ..." and "$name .= ..." of the script's PHP, in order: each "$"
  // between the statements' lines.
  struct TAssignment {
    std::size_t At;
    std::string_view Name;
    bool Append;
    std::string_view Value;  // to the ";" or the line's end
  };
  std::vector<TAssignment> assignments;
  std::size_t from = 0;  // the gap before statement s starts here
  for (std::size_t s = 0; s <= Lines.size(); ++s) {
    const std::size_t until = s < Lines.size() ? Lines[s].Line.Begin : text.size();
    for (std::size_t at = from; at < until; ++at) {
      at = FindByte(text, '$', at, until);
      if (at == until) break;
      const std::string_view name = VariableAt(text, at);
      if (name.size() < 2) continue;
      std::size_t op = at + name.size();
      while (op < text.size() && (text[op] == ' ' || text[op] == '\t')) ++op;
      const bool append = text.compare(op, 2, ".=") == 0;
      if (append) ++op;
      if (op >= text.size() || text[op] != '=' || text.compare(op, 2, "==") == 0 ||
          text.compare(op, 2, "=>") == 0)
        continue;
      const std::size_t value = op + 1;
      const std::size_t end = std::min(text.find(';', value), text.find('\n', value));
      assignments.push_back({at, name, append, text.substr(value, end - value)});
    }
    if (s < Lines.size())
      from = std::max(from, std::size_t{Lines[s].Line.End} + 1);  // "$" on its end too
  }
  TTainted tainted;
  bool any_tainted = false;  // some assignment took the request (the map is asked only then)
  std::size_t next = 0;
  // Once a binding needs them: the placeholders, their contexts, and the printed ones ("{name}",
  // not "{!name}") ordered by name up to case, then by position.
  std::optional<TTemplateContexts> places;
  std::span<const TSpan> spans;
  std::vector<std::size_t> by_name;
  const auto name_of = [&](std::size_t p) {
    return spans[p].Of(Template.Text).substr(1, spans[p].Size() - 2);
  };
  const auto name_less = [](std::string_view A, std::string_view B) {
    return std::lexicographical_compare(A.begin(), A.end(), B.begin(), B.end(), [](char a, char b) {
      return static_cast<unsigned char>(UpCase(a)) < static_cast<unsigned char>(UpCase(b));
    });
  };
  for (const TStatement& binding : Lines) {
    if (!Binds(binding) || !binding.Separated) continue;
    for (; next < assignments.size() && assignments[next].At < binding.Line.Begin; ++next) {
      const TAssignment& a = assignments[next];
      const bool raw =
          RawRequestRead(a.Value, any_tainted ? &tainted : nullptr) != std::string_view::npos;
      bool& taint = tainted[a.Name];
      taint = raw || (a.Append && taint);
      any_tainted = any_tainted || taint;
    }
    const std::string_view expr = ExprOf(binding);
    if (!any_tainted && !ReadsSuperglobal(text, expr))
      continue;  // the common binding, without a call
    const std::size_t read = RawRequestRead(expr, any_tainted ? &tainted : nullptr);
    if (read == std::string_view::npos) continue;
    if (!places) {
      spans = places.emplace(Template.Text).Spans();
      for (std::size_t p = 0; p < spans.size(); ++p)
        if (Template.Text[spans[p].Begin + 1] != '!') by_name.push_back(p);
      std::stable_sort(by_name.begin(), by_name.end(), [&](std::size_t A, std::size_t B) {
        return name_less(name_of(A), name_of(B));
      });
    }
    // The first placeholder that prints the binding: of its name, in its scope.
    const std::size_t block = binding.Block;
    if (binding.Kind == TStatementKind::BlockVar && block == kNowhere) continue;
    const std::string_view bound = NameOf(binding);
    std::size_t place = kNowhere;
    for (auto it = std::lower_bound(
             by_name.begin(), by_name.end(), bound,
             [&](std::size_t p, std::string_view AName) { return name_less(name_of(p), AName); });
         it != by_name.end() && SameText(name_of(*it), bound) && place == kNowhere; ++it)
      if (Model.ScopeAt(spans[*it].Begin) == block) place = *it;
    if (place == kNowhere) continue;
    const THtmlContext& context = places->Context(place);
    if (IsRefused(context)) continue;
    const std::size_t at = binding.Expr.Begin + read;
    TDiagnostic* d =
        Warn(TWarning::UnescapedRequest, Script.PlaceOf(at, at + VariableAt(expr, read).size()),
             Quoted(bound) +
                 " prints request data unescaped, which lets a link run script in "
                 "the visitor's browser; escape it for " +
                 DescribeContext(context) + ", or translate with --escape");
    Note(d, Template.PlaceOf(spans[place].Begin, spans[place].End),
         "printed here, in " + DescribeContext(context));
    Fix(d, Script.PlaceOf(binding.Expr.Begin, binding.Expr.End), EscapedExpression(context, expr));
  }
}

// "{!name}" prints raw only under --escape; without it the page shows it as written.
void TChecker::CheckRawPlaceholders() {
  if (Model.RawOpenings == 0) return;  // the usual template: no search of it again
  const std::string_view text = Template.Text;
  // Only "{!" can open one, found by its "!": markup has a "{" at every placeholder, but a "!"
  // mostly in its comments.
  for (std::size_t bang = text.find('!', 1); bang != std::string_view::npos;
       bang = text.find('!', bang + 1)) {
    if (text[bang - 1] != '{') continue;
    const std::size_t idx = bang - 1;
    bool raw = false;
    const std::size_t length = PrintedPlaceholderAt(text, idx, raw);
    if (!length) continue;
    const TSpan span{idx, idx + length};
    const std::string_view name = text.substr(span.Begin + 2, span.Size() - 3);
    TDiagnostic* d = Warn(TWarning::RawPlaceholder, Template.PlaceOf(span.Begin, span.End),
                          "'{!" + std::string(name) +
                              "}' prints its value unescaped only under --escape; without it the "
                              "page shows it as written: translate with --escape, or write '{" +
                              std::string(name) + "}'");
    Fix(d, Template.PlaceOf(span.Begin + 1, span.Begin + 2), "");
  }
}

}  // namespace check_detail

namespace {

// The end of the regular expression whose "/" stands at AAt of AText (with its flags), or
// kNowhere when it does not end on its line.
std::size_t RegexEnd(std::string_view AText, std::size_t AAt) {
  bool in_class = false;
  for (std::size_t i = AAt + 1; i < AText.size(); ++i) {
    const char c = AText[i];
    if (c == '\n' || c == '\r') return kNowhere;
    if (c == '\\')
      ++i;
    else if (c == '[')
      in_class = true;
    else if (c == ']')
      in_class = false;
    else if (c == '/' && !in_class) {
      while (i + 1 < AText.size() && IsNameChar(AText[i + 1])) ++i;
      return i + 1;
    }
  }
  return kNowhere;
}

// The message and fix-it of a refused place that the markup around it, not the place's kind,
// explains: JavaScript or a URL scheme zoqc cannot read, or an iframe's srcdoc. False for the
// others.
bool RefusedWhy(std::string_view AText, TSpan ASpan, const THtmlContext& AContext,
                const TSource& ATemplate, TDiagnostic& ADiag) {
  const std::string name = "'" + std::string(AText.substr(ASpan.Begin, ASpan.Size())) + "'";
  const bool js = AContext.Js == TJsPlace::Unsure && (AContext.Place == THtmlPlace::Script ||
                                                      AContext.Attribute == THtmlAttribute::Event ||
                                                      AContext.Url == TUrlPlace::Script);
  if (js && AContext.Value.Size() == 1 && AText[AContext.Value.Begin] == '/') {
    const std::size_t slash = AContext.Value.Begin;
    ADiag.Message = "under --escape zoqc cannot tell whether the '/' before " + name +
                    " divides or starts a regular expression (the token before it leaves it "
                    "open), so it does not know where the value stands; put a regular "
                    "expression in parentheses, or a division's left side";
    ADiag.Notes.push_back({ATemplate.PlaceOf(slash, slash + 1), "this '/'"});
    if (const std::size_t end = RegexEnd(AText, slash); end != kNowhere) {
      ADiag.FixIts.push_back({ATemplate.PlaceOf(slash, slash), "("});
      ADiag.FixIts.push_back({ATemplate.PlaceOf(end, end), ")"});
    }
    return true;
  }
  if (js && AContext.Value.Size() == 1 && AText[AContext.Value.Begin] == '{') {
    const std::size_t brace = AContext.Value.Begin;
    ADiag.Message = "under --escape " + name +
                    " cannot be printed after a template string's '$', a value and '{': "
                    "empty, the value would let '${' open code; write '\\$' for the '$'";
    ADiag.Notes.push_back({ATemplate.PlaceOf(brace, brace + 1), "this '{'"});
    const std::size_t dollar = AText.rfind('$', brace);
    if (dollar != std::string_view::npos)
      ADiag.FixIts.push_back({ATemplate.PlaceOf(dollar, dollar), "\\"});
    return true;
  }
  if (js && AContext.Value.Size() > 1) {  // a value split "<!--", "-->" or "<script" earlier
    ADiag.Message = "under --escape " + name +
                    " cannot be printed: a value before it in this script stands inside '<!--', "
                    "'-->' or '<script', so zoqc does not know where the script ends; put a blank "
                    "after that value";
    ADiag.Notes.push_back(
        {ATemplate.PlaceOf(AContext.Value.Begin, AContext.Value.End), "this value"});
    ADiag.FixIts.push_back({ATemplate.PlaceOf(AContext.Value.End, AContext.Value.End), " "});
    return true;
  }
  if (AContext.Place == THtmlPlace::Attribute && AContext.Url == TUrlPlace::Unknown &&
      AContext.Attribute == THtmlAttribute::Url) {
    const std::string scheme(AContext.Value.Of(AText));
    ADiag.Message = "under --escape " + name + " cannot be printed safely after the URL scheme '" +
                    scheme +
                    "': a scheme that runs or shows script (vbscript:, data: but images), or "
                    "one written with a value or a character reference, is refused; write the "
                    "scheme in plain letters, or make the whole URL in the script";
    ADiag.Notes.push_back(
        {ATemplate.PlaceOf(AContext.Value.Begin, AContext.Value.End), "the scheme"});
    return true;
  }
  if (AContext.Place == THtmlPlace::Attribute && AContext.Attribute == THtmlAttribute::Srcdoc) {
    ADiag.Message =
        AContext.Inner
            ? "under --escape nothing can make a value safe in " + DescribeContext(AContext) +
                  "; write it in the template, or make the srcdoc document in the script"
            : "under --escape " + name +
                  " cannot be printed in this srcdoc: zoqc cannot read a character reference in "
                  "it (or one makes '{' or '}'); write the character itself, or &quot;, &amp;, "
                  "&lt;, &gt; or a numeric reference";
    return true;
  }
  return false;
}

}  // namespace

void CheckEscapes(const TPageModel& AModel, const TLeftovers& ALeftovers, const TSource& ATemplate,
                  const TTemplateContexts* AContexts, std::vector<TDiagnostic>& AOut) {
  const std::string_view text = ATemplate.Text;
  std::optional<TTemplateContexts> own;
  if (!AContexts) AContexts = &own.emplace(text);
  const std::span<const TSpan> spans = AContexts->Spans();
  const std::span<const std::uint32_t> kinds = AContexts->Kinds();
  std::vector<std::size_t> left;  // the placeholders printed as written
  for (const TLeftPlaceholder& l : ALeftovers.Left) left.push_back(l.Name.Begin - 1);
  std::sort(left.begin(), left.end());
  // The copies after the first of their block, which the page replaces, in order: only a
  // placeholder inside one of them can repeat another.
  std::vector<TSpan> later;
  for (const TBlockCopy& copy : AModel.Copies)
    if (copy.Same && &copy != &AModel.Copies[AModel.Blocks[copy.Block].Copies[0]])
      later.push_back(copy.Span);
  if (later.empty() && !AContexts->AnyRefused()) return;  // the usual case: nothing to say
  std::size_t next_later = 0, later_end = 0;  // later before next_later end by later_end
  for (std::size_t p = 0; p < spans.size(); ++p) {
    const THtmlContext& c = AContexts->Context(p);
    const TSpan span = spans[p];
    if (text[span.Begin + 1] == '!') continue;
    for (; next_later < later.size() && later[next_later].Begin < span.Begin; ++next_later)
      later_end = std::max(later_end, later[next_later].End);
    // The placeholder of the first copy that this one repeats: the page prints one buffer,
    // made from the first copy, wherever a copy of the block stood.
    const std::size_t copy = span.Begin < later_end ? AModel.CopyAt(span.Begin) : kNowhere;
    std::size_t twin = p;
    if (copy != kNowhere) {
      const TBlockCopy& in = AModel.Copies[copy];
      const TBlockCopy& first = AModel.Copies[AModel.Blocks[in.Block].Copies[0]];
      twin = AContexts->IndexAt(first.Span.Begin + (span.Begin - in.Span.Begin));
      if (twin == kNowhere) twin = p;
    }
    if (twin == p && !IsRefused(c)) continue;  // the usual case: nothing to say
    if (std::binary_search(left.begin(), left.end(), spans[twin].Begin)) continue;
    const THtmlContext& first = AContexts->Context(twin);
    if (!IsRefused(c) && twin != p && kinds[twin] != kinds[p] && !IsRefused(first) &&
        EscapedExpression(c, "$v") != EscapedExpression(first, "$v")) {
      const std::string name(text.substr(span.Begin, span.Size()));
      const std::string block(AModel.Blocks[AModel.ScopeAt(span.Begin)].Name);
      TDiagnostic& d = AOut.emplace_back();
      d.Severity = TSeverity::Error;
      d.Place = ATemplate.PlaceOf(span.Begin, span.End);
      d.Message = "under --escape every copy of block '" + block +
                  "' prints the one text made from its first copy, where '" + name +
                  "' is escaped for " + DescribeContext(first) + ", but here it stands in " +
                  DescribeContext(c) +
                  "; put the copies in the same context, or give this one a "
                  "block of its own";
      d.Notes.push_back({ATemplate.PlaceOf(spans[twin].Begin, spans[twin].End),
                         "the first copy's '" + name + "', in " + DescribeContext(first)});
      continue;
    }
    if (!IsRefused(c)) continue;
    TDiagnostic& d = AOut.emplace_back();
    d.Severity = TSeverity::Error;
    d.Place = ATemplate.PlaceOf(span.Begin, span.End);
    if (c.Place == THtmlPlace::Unquoted) {
      const char quote = c.Value.Of(text).find('"') == std::string_view::npos ? '"' : '\'';
      d.Message =
          "under --escape a value cannot be printed safely in an unquoted attribute value; "
          "quote the value";
      d.FixIts.push_back({ATemplate.PlaceOf(c.Value.Begin, c.Value.Begin), std::string(1, quote)});
      d.FixIts.push_back({ATemplate.PlaceOf(c.Value.End, c.Value.End), std::string(1, quote)});
      continue;
    }
    if (RefusedWhy(text, span, c, ATemplate, d)) continue;
    d.Message = "under --escape nothing can make a value safe in " + DescribeContext(c) +
                "; write it in the template, or print markup you trust with '{!" +
                std::string(text.substr(span.Begin + 1, span.Size() - 2)) + "}'";
  }
}

}  // namespace zoqc
