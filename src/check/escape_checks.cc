// The checks of safe output: request data printed unescaped, "{!name}" without --escape, and
// under --escape the placeholders where nothing can make a value safe.
#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "src/check/checker.h"
#include "src/html/html_escape.h"
#include "src/text/bytes.h"
#include "src/text/text.h"

namespace zoqc {

namespace {

// The functions whose result prints no markup of the request's, in three groups that KindOf
// tells apart: escapers, URL encoders, and functions that yield a number, a boolean or a hash.
constexpr std::string_view kSafeCalls[] = {
    "htmlspecialchars", "htmlentities", "json_encode",  // escapers
    "urlencode", "rawurlencode", "http_build_query",    // URL encoders
    // a number, a boolean or a hash
    "intval", "floatval", "boolval", "abs", "round", "floor", "ceil", "number_format", "count",
    "strlen", "mb_strlen", "isset", "empty", "is_numeric", "ctype_digit", "in_array",
    "array_key_exists", "md5", "sha1", "crc32", "hash", "preg_match", "filter_var"};
constexpr std::size_t kEscapersEnd = 3, kUrlEncodersEnd = 6;  // in kSafeCalls
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

// True when a cast stands right before AAt of AExpr (blanks between): its offset, or npos.
std::size_t CastBefore(std::string_view AExpr, std::size_t AAt) {
  while (AAt > 0 && (AExpr[AAt - 1] == ' ' || AExpr[AAt - 1] == '\t')) --AAt;
  for (const std::string_view cast : kCasts)
    if (AAt >= cast.size() && SameText(AExpr.substr(AAt - cast.size(), cast.size()), cast))
      return AAt - cast.size();
  return std::string_view::npos;
}

// The safe calls and casts around the read at AAt of AExpr, innermost last, each as its text
// from its name (or the cast) to its ")": what the read goes through on its way to the page.
void Wrappers(std::string_view AExpr, std::size_t AAt, std::vector<std::string_view>& AOut) {
  struct TOpen {
    std::size_t At;     // the "("
    std::size_t Start;  // the call's name or the cast; npos: not a safe call
  };
  std::vector<TOpen> open;
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
    std::size_t from = CastBefore(AExpr, i);  // "(int)(...)"
    for (const std::string_view call : kSafeCalls)
      if (from == std::string_view::npos && SameText(name, call)) from = start;
    open.push_back({i, from});
  }
  for (const TOpen& o : open)
    if (o.Start != std::string_view::npos) {
      const std::size_t close = ClosingParen(AExpr, o.At);
      AOut.push_back(AExpr.substr(o.Start, std::min(close + 1, AExpr.size()) - o.Start));
    }
  if (const std::size_t cast = CastBefore(AExpr, AAt); cast != std::string_view::npos)
    AOut.push_back(AExpr.substr(cast, AAt - cast));
}

// True in JavaScript code: a script's, or an event handler's, outside strings and comments.
bool InJsCode(const THtmlContext& AContext) {
  const bool js =
      AContext.Where == THtmlPlace::Script ||
      ((AContext.Where == THtmlPlace::Attribute || AContext.Where == THtmlPlace::Unquoted) &&
       AContext.Attribute == THtmlAttribute::Event);
  return js && AContext.Js == TJsPlace::Code;
}

// True when what AWrapper (a safe call or a cast, as Wrappers gives it) makes of a value is
// safe in AContext: a number, a boolean or a hash anywhere; what a URL encoder yields anywhere
// but in JavaScript code; an escaper's value only where the page model says it escapes for
// the place.
enum class TWrapperKind { Value, Url, Escaper };

TWrapperKind KindOf(std::string_view AWrapper) {
  if (AWrapper.starts_with("(")) return TWrapperKind::Value;  // a cast
  const std::string_view name = AWrapper.substr(0, AWrapper.find_first_of("( \t"));
  const std::size_t call =
      std::find_if(std::begin(kSafeCalls), std::end(kSafeCalls),
                   [&](std::string_view ACall) { return SameText(name, ACall); }) -
      std::begin(kSafeCalls);
  return call < kEscapersEnd      ? TWrapperKind::Escaper
         : call < kUrlEncodersEnd ? TWrapperKind::Url
                                  : TWrapperKind::Value;
}

bool SafeIn(std::string_view AWrapper, const THtmlContext& AContext) {
  switch (KindOf(AWrapper)) {
    case TWrapperKind::Escaper:
      return EscapedExpression(AContext, AWrapper) == AWrapper;
    case TWrapperKind::Url:
      return !InJsCode(AContext);
    case TWrapperKind::Value:
      break;
  }
  return true;
}

// One way request data takes to the page: the safe calls and casts it goes through, in the
// assignments and the expression that print it.
using TPath = std::vector<std::string_view>;

// The ways request data took into each variable that an assignment took it into (none: taken,
// then assigned anew).
using TTainted = std::unordered_map<std::string_view, std::vector<TPath>>;

// At most this many ways are kept per variable ("$a .= $a" doubles them), and this many calls
// of each way: one that is longer is judged by its first ones (a warning too many at worst),
// so a long chain of assignments costs no more than a short one.
constexpr std::size_t kMaxPaths = 16;
constexpr std::size_t kMaxWrappers = 8;

// A read of request data in an expression: where it stands, and the way it took.
struct TRequestRead {
  std::size_t At;
  TPath Path;
};

// The reads of request data in AExpr: a superglobal of the request, a request field of
// $_SERVER, or a variable of ATainted (null: none is), each with its ways.
std::vector<TRequestRead> RequestReads(std::string_view AExpr, const TTainted* ATainted) {
  static constexpr std::string_view kRequest[] = {"$_GET", "$_POST", "$_REQUEST", "$_COOKIE",
                                                  "$_FILES"};
  static constexpr std::string_view kServer[] = {"REQUEST_URI", "QUERY_STRING", "PHP_SELF",
                                                 "PATH_INFO", "HTTP_"};
  std::vector<TRequestRead> reads;
  // Every superglobal starts "$_": without one and without a tainted variable, nothing reads
  // the request (the common binding, read once).
  if (!ATainted && AExpr.find("$_") == std::string_view::npos) return reads;
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
    const std::vector<TPath>* through = nullptr;
    if (!request && ATainted) {
      const auto it = ATainted->find(var);
      if (it != ATainted->end() && !it->second.empty()) through = &it->second;
    }
    if (!request && !through) continue;
    TPath around;
    Wrappers(AExpr, at, around);
    // A number, a boolean or a hash of the request is safe anywhere: no longer request data.
    if (std::any_of(around.begin(), around.end(), [](std::string_view AWrapper) {
          return KindOf(AWrapper) == TWrapperKind::Value;
        }))
      continue;
    if (request) {
      if (around.size() > kMaxWrappers) around.resize(kMaxWrappers);
      reads.push_back({at, around});
    }
    if (through)
      for (const TPath& before : *through) {
        TPath path = before;
        for (const std::string_view w : around)
          if (path.size() < kMaxWrappers) path.push_back(w);
        reads.push_back({at, std::move(path)});
      }
  }
  return reads;
}

// The first read of AReads that nothing makes safe in AContext, or null.
const TRequestRead* UnsafeRead(const std::vector<TRequestRead>& AReads,
                               const THtmlContext& AContext) {
  for (const TRequestRead& read : AReads)
    if (std::none_of(read.Path.begin(), read.Path.end(),
                     [&](std::string_view AWrapper) { return SafeIn(AWrapper, AContext); }))
      return &read;
  return nullptr;
}

// The expression that prints AExpr safely in AContext, as a fix-it offers it: an HTML escaper
// where one is fit (text, quoted attributes), rawurlencode(...) in a URL after its scheme,
// json_encode(...) in script code; "" where no one call does (a URL's start, JavaScript
// strings and handlers, CSS, the refused places).
std::string FixFor(const THtmlContext& AContext, std::string_view AExpr) {
  if (IsRefused(AContext)) return "";
  if (AContext.Where == THtmlPlace::Attribute && AContext.Attribute == THtmlAttribute::Url)
    return AContext.Url == TUrlPlace::Start ? "" : "rawurlencode(" + std::string(AExpr) + ")";
  const std::string html = EscapedExpression(THtmlContext(), AExpr);
  if (EscapedExpression(AContext, html) == html) return html;
  const std::string own = EscapedExpression(AContext, AExpr);
  return EscapedExpression(AContext, own) == own ? own : "";
}

// What PHP written in a template prints: the expression of a "<?=" and of each echo or print
// statement of a "<?php", and the "<?" ... "?>" around it (to the template's end when unclosed).
struct TPhpOutput {
  TSpan Block;
  TSpan Expr;
};

constexpr std::string_view kBlockBuffer = "$ZOQBLOCK_";

// True when ATemplate holds a "<?": found by its "?", which markup holds far less often than "<".
bool HoldsPhp(std::string_view ATemplate) {
  return FindPairBySecond(ATemplate, 0, '<', '?') != std::string_view::npos;
}

// True at a blank of PHP, and at the text's end.
bool BlankAt(std::string_view AText, std::size_t AAt) {
  return AAt >= AText.size() || AText[AAt] == ' ' || AText[AAt] == '\t' || AText[AAt] == '\n' ||
         AText[AAt] == '\r';
}

// Adds AText[AFrom, ATo), trimmed, as what the PHP block at ABlock prints: unless it is empty or
// a block's buffer, "$ZOQBLOCK_name", which holds what the page made of the block, its own.
void AddPhpOutput(std::string_view AText, std::size_t ABlock, std::size_t AFrom, std::size_t ATo,
                  std::vector<TPhpOutput>& AOut) {
  while (AFrom < ATo && BlankAt(AText, AFrom)) ++AFrom;
  while (ATo > AFrom && BlankAt(AText, ATo - 1)) --ATo;
  const std::string_view printed = AText.substr(AFrom, ATo - AFrom);
  const bool buffer = printed.starts_with(kBlockBuffer) &&
                      std::all_of(printed.begin() + kBlockBuffer.size(), printed.end(), IsNameChar);
  if (AFrom < ATo && !buffer) AOut.push_back({{ABlock, AText.size()}, {AFrom, ATo}});
}

// Reads the PHP of the block at ABlock from AAt to its "?>" (or the text's end), adding what
// its echo and print statements print to AOut; AEcho: a "<?=", whose expression starts at AAt.
// The block's end.
std::size_t ReadPhpBlock(std::string_view AText, std::size_t ABlock, std::size_t AAt, bool AEcho,
                         std::vector<TPhpOutput>& AOut) {
  const std::size_t size = AText.size();
  bool open = AEcho;  // an expression is being read, from expr
  std::size_t expr = AAt, i = AAt;
  const auto close = [&](std::size_t ATo) {
    if (open) AddPhpOutput(AText, ABlock, expr, ATo, AOut);
    open = false;
  };
  while (i < size) {
    const char c = AText[i];
    const char n = i + 1 < size ? AText[i + 1] : '\0';
    if (c == '?' && n == '>') {
      close(i);
      return i + 2;
    }
    if (c == '\'' || c == '"') {
      i = ClosingQuote(AText, i) + 1;
    } else if (c == '/' && n == '*') {
      const std::size_t stop = AText.find("*/", i + 2);
      i = stop == std::string_view::npos ? size : stop + 2;
    } else if (c == '#' || (c == '/' && n == '/')) {  // to the line's end or the "?>"
      while (i < size && AText[i] != '\n' && AText.compare(i, 2, "?>") != 0) ++i;
    } else if (c == ';') {
      close(i++);
    } else if (IsNameChar(c) || c == '_') {
      const std::size_t word = i;
      while (i < size && (IsNameChar(AText[i]) || AText[i] == '_')) ++i;
      const std::string_view name = AText.substr(word, i - word);
      const char before = word > 0 ? AText[word - 1] : ' ';
      if (!open && (SameText(name, "echo") || SameText(name, "print")) && before != '$' &&
          before != '>' && before != ':')
        open = true, expr = i;
    } else {
      ++i;
    }
  }
  close(size);
  return size;
}

std::vector<TPhpOutput> TemplatePhpOutputs(std::string_view AText) {
  std::vector<TPhpOutput> outputs;
  for (std::size_t at = AText.find("<?"); at != std::string_view::npos; at = AText.find("<?", at)) {
    const bool echo = at + 2 < AText.size() && AText[at + 2] == '=';
    if (!echo && !(SameText(AText.substr(at + 2, 3), "php") && BlankAt(AText, at + 5))) {
      at += 2;
      continue;
    }
    const std::size_t first = outputs.size();
    const std::size_t end = ReadPhpBlock(AText, at, at + (echo ? 3 : 5), echo, outputs);
    for (std::size_t o = first; o < outputs.size(); ++o) outputs[o].Block.End = end;
    at = end;
  }
  return outputs;
}

// The HTML context at the start of each of AOutputs in ATemplate: the template with each
// block of PHP in it replaced by a placeholder, as the browser sees what the PHP prints there.
std::vector<THtmlContext> PhpOutputContexts(std::string_view ATemplate,
                                            const std::vector<TPhpOutput>& AOutputs) {
  std::string shown;
  std::vector<std::size_t> at;  // per output, its placeholder's offset in shown
  std::size_t copied = 0;
  for (const TPhpOutput& o : AOutputs) {
    if (o.Block.Begin >= copied) {
      shown.append(ATemplate.substr(copied, o.Block.Begin - copied));
      at.push_back(shown.size());
      shown += "{zoqcphp}";
      copied = o.Block.End;
    } else {
      at.push_back(at.back());
    }
  }
  shown.append(ATemplate.substr(std::min(copied, ATemplate.size())));
  const TTemplateContexts contexts(shown);
  std::vector<THtmlContext> found;
  for (const std::size_t a : at) {
    const std::size_t idx = contexts.IndexAt(a);
    found.push_back(idx == kNowhere ? THtmlContext() : contexts.Context(idx));
  }
  return found;
}

// An assignment "$name = ..." or "$name .= ..." of the script's PHP.
struct TAssignment {
  std::size_t At;
  std::string_view Name;
  bool Append;
  std::string_view Value;  // to the ";" or the line's end
};

// The assignments of the script AText, in order: each "$" between the statement lines ALines.
std::vector<TAssignment> Assignments(std::string_view AText,
                                     const TLargeVector<TStatement>& ALines) {
  std::vector<TAssignment> assignments;
  std::size_t from = 0;  // the gap before statement s starts here
  const TBytes<1> dollar('$');
  for (std::size_t s = 0; s <= ALines.size(); ++s) {
    const std::size_t until = s < ALines.size() ? ALines[s].Line.Begin : AText.size();
    for (std::size_t at = from; at < until; ++at) {
      at = dollar.Next(AText.substr(0, until), at);
      if (at == until) break;
      const std::string_view name = VariableAt(AText, at);
      if (name.size() < 2) continue;
      std::size_t op = at + name.size();
      while (op < AText.size() && (AText[op] == ' ' || AText[op] == '\t')) ++op;
      const bool append = AText.compare(op, 2, ".=") == 0;
      if (append) ++op;
      if (op >= AText.size() || AText[op] != '=' || AText.compare(op, 2, "==") == 0 ||
          AText.compare(op, 2, "=>") == 0)
        continue;
      const std::size_t value = op + 1;
      const std::size_t end = std::min(AText.find(';', value), AText.find('\n', value));
      assignments.push_back({at, name, append, AText.substr(value, end - value)});
    }
    if (s < ALines.size())
      from = std::max(from, std::size_t{ALines[s].Line.End} + 1);  // "$" on its end too
  }
  return assignments;
}

// Request data on its way through the script's assignments: Take files those above an offset,
// and Reads finds the request data in an expression, read directly or through a variable
// that an assignment filed so far took from the request.
class TRequestFlow {
 public:
  TRequestFlow() = default;
  explicit TRequestFlow(std::vector<TAssignment> AAssignments)
      : Assignments(std::move(AAssignments)) {}

  std::vector<TRequestRead> Reads(std::string_view AExpr) const {
    return RequestReads(AExpr, AnyTainted ? &Tainted : nullptr);
  }
  bool Any() const { return AnyTainted; }

  // Files the assignments before AUntil (a script offset).
  void Take(std::size_t AUntil) {
    for (; Next < Assignments.size() && Assignments[Next].At < AUntil; ++Next) {
      const TAssignment& a = Assignments[Next];
      std::vector<TRequestRead> reads = Reads(a.Value);
      if (reads.empty() && !AnyTainted) continue;
      std::vector<TPath>& paths = Tainted[a.Name];
      if (!a.Append) paths.clear();
      for (TRequestRead& read : reads)
        if (paths.size() < kMaxPaths &&
            std::find(paths.begin(), paths.end(), read.Path) == paths.end())
          paths.push_back(std::move(read.Path));
      AnyTainted = AnyTainted || !paths.empty();
    }
  }

 private:
  std::vector<TAssignment> Assignments;
  std::size_t Next = 0;  // the first not filed yet
  TTainted Tainted;
  bool AnyTainted = false;  // some assignment took the request (the map is asked only then)
};

// How a warning of request data goes on after what prints it: how it prints the data, and
// what that lets a link do.
std::string PrintsRequest(const TRequestRead& ARead, const std::string& AWhere) {
  return std::string(" prints request data ") +
         (ARead.Path.empty() ? "unescaped" : "escaped for another place than " + AWhere) +
         ", which lets a link run script in the visitor's browser; ";
}

// A placeholder's name and its index in the template's contexts.
using TNamed = std::pair<std::string_view, std::size_t>;

bool NameLess(const TNamed& A, const TNamed& B) {
  return std::lexicographical_compare(
      A.first.begin(), A.first.end(), B.first.begin(), B.first.end(), [](char a, char b) {
        return static_cast<unsigned char>(UpCase(a)) < static_cast<unsigned char>(UpCase(b));
      });
}

// Request data printed unescaped: by a binding, read directly or through a variable that an
// assignment above the binding took from the request, and by PHP written in the template.
class TRequestCheck {
 public:
  using TWarn = std::function<TDiagnostic&(TPlace APlace, std::string AMessage)>;
  TRequestCheck(const TPageModel& AModel, const TSource& AScript, const TSource& ATemplate,
                TWarn AWarn)
      : Model(AModel), Script(AScript), Template(ATemplate), Warn(std::move(AWarn)) {}
  void Run();

 private:
  const std::vector<std::size_t>& Printing(const TStatement& ABinding);
  void CheckBinding(const TStatement& ABinding, const std::vector<TRequestRead>& AReads);
  void CheckTemplatePhp();

  const TPageModel& Model;
  const TSource& Script;
  const TSource& Template;
  TWarn Warn;
  TRequestFlow Flow;
  const TTemplateContexts* Contexts = nullptr;  // once a binding needs them
  std::vector<TNamed> ByName;        // the printed placeholders by name up to case, then position
  std::vector<std::size_t> Printed;  // Printing's answer
};

void TRequestCheck::Run() {
  const std::string_view text = Script.Text;
  const TLargeVector<TStatement>& statements = Model.Script.Statements;
  // Every superglobal starts "$_": a script without one reads no request data (the usual
  // script, searched once), and the next "$_" from a binding on says whether it reads one.
  constexpr std::size_t kNone = std::string_view::npos;
  std::size_t superglobal = FindPair(text, 0, '$', '_');
  const bool reads_request = superglobal != kNone;
  if (reads_request) Flow = TRequestFlow(Assignments(text, statements));
  for (const TStatement& binding : statements) {
    if (!reads_request) break;
    if (!binding.IsBinding() || !binding.Separated) continue;
    Flow.Take(binding.Line.Begin);
    if (superglobal < binding.Expr.Begin)
      superglobal = FindPair(text, binding.Expr.Begin, '$', '_');
    if (!Flow.Any() && (superglobal == kNone || superglobal + 1 >= binding.Expr.End))
      continue;  // the common binding, without a call
    const std::vector<TRequestRead> reads = Flow.Reads(binding.Expr.Of(text));
    if (!reads.empty() && (binding.Kind != TStatementKind::BlockVar || binding.Block != kNowhere))
      CheckBinding(binding, reads);
  }
  // PHP written in the template prints after the script's PHP has run: what it prints of the
  // request is warned at the template.
  if (!HoldsPhp(Template.Text)) return;
  Flow.Take(text.size());
  CheckTemplatePhp();
}

// The placeholders that print ABinding: "{name}" (not "{!name}") of its name, in its scope.
const std::vector<std::size_t>& TRequestCheck::Printing(const TStatement& ABinding) {
  if (!Contexts) {
    Contexts = &Model.Contexts();
    const std::span<const TSpan> spans = Contexts->Spans();
    for (std::size_t p = 0; p < spans.size(); ++p)
      if (Template.Text[spans[p].Begin + 1] != '!')
        ByName.push_back({spans[p].Of(Template.Text).substr(1, spans[p].Size() - 2), p});
    std::stable_sort(ByName.begin(), ByName.end(), NameLess);
  }
  const std::size_t block = ABinding.Block;
  const auto [first, last] = std::equal_range(ByName.begin(), ByName.end(),
                                              TNamed{ABinding.Name.Of(Script.Text), 0}, NameLess);
  Printed.clear();
  for (auto it = first; it != last; ++it)
    if (Model.ScopeAt(Contexts->Spans()[it->second].Begin) == block) Printed.push_back(it->second);
  return Printed;
}

void TRequestCheck::CheckBinding(const TStatement& ABinding,
                                 const std::vector<TRequestRead>& AReads) {
  const std::string_view expr = ABinding.Expr.Of(Script.Text);
  const std::vector<std::size_t>& printed = Printing(ABinding);
  for (const std::size_t placeholder : printed) {
    const THtmlContext& context = Contexts->Context(placeholder);
    const TRequestRead* read = UnsafeRead(AReads, context);
    if (!read) continue;
    // The fix-it mends the binding, which every one of its placeholders prints: it is offered
    // only when its expression is safe in all of them.
    std::string fix = FixFor(context, expr);
    const THtmlContext* other = nullptr;  // a context the fix-it would leave unsafe
    if (!fix.empty()) {
      const std::vector<TRequestRead> fixed = Flow.Reads(fix);
      for (const std::size_t p : printed)
        if (!other && UnsafeRead(fixed, Contexts->Context(p))) other = &Contexts->Context(p);
    }
    const std::string where = DescribeContext(context);
    std::string message =
        check_detail::Quoted(ABinding.Name.Of(Script.Text)) + PrintsRequest(*read, where);
    if (other)
      message += "it is printed in " + DescribeContext(*other) +
                 " too, which needs other escaping: bind it once for each place, or translate "
                 "with --escape";
    else
      message += "escape it for " + where + ", or translate with --escape";
    const std::size_t at = ABinding.Expr.Begin + read->At;
    TDiagnostic& d = Warn(Script.PlaceOf(at, at + VariableAt(expr, read->At).size()), message);
    const TSpan span = Contexts->Spans()[placeholder];
    d.Notes.push_back({Template.PlaceOf(span.Begin, span.End), "printed here, in " + where});
    if (!fix.empty() && !other)
      d.FixIts.push_back({Script.PlaceOf(ABinding.Expr.Begin, ABinding.Expr.End), std::move(fix)});
  }
}

void TRequestCheck::CheckTemplatePhp() {
  const std::string_view text = Template.Text;
  const std::vector<TPhpOutput> outputs = TemplatePhpOutputs(text);
  if (outputs.empty()) return;
  const std::vector<THtmlContext> contexts = PhpOutputContexts(text, outputs);
  for (std::size_t o = 0; o < outputs.size(); ++o) {
    const std::string_view expr = outputs[o].Expr.Of(text);
    const std::vector<TRequestRead> reads = Flow.Reads(expr);
    const TRequestRead* read = UnsafeRead(reads, contexts[o]);
    if (!read) continue;
    const std::string where = DescribeContext(contexts[o]);
    const std::size_t at = outputs[o].Expr.Begin + read->At;
    TDiagnostic& d =
        Warn(Template.PlaceOf(at, at + VariableAt(expr, read->At).size()),
             "PHP in the template" + PrintsRequest(*read, where) + "escape it for " + where +
                 " (zoqc escapes only placeholders, even with --escape), or print "
                 "it with a placeholder and translate with --escape");
    std::string fix = FixFor(contexts[o], expr);
    if (!fix.empty())
      d.FixIts.push_back(
          {Template.PlaceOf(outputs[o].Expr.Begin, outputs[o].Expr.End), std::move(fix)});
  }
}

}  // namespace

namespace check_detail {

void TChecker::CheckRequestData() {
  TRequestCheck(
      Model, Script, Template,
      [this](TPlace APlace, std::string AMessage) -> auto& {
        return *Warn(TWarning::UnescapedRequest, std::move(APlace), std::move(AMessage));
      })
      .Run();
}

// "{!name}" prints raw only under --escape; without it the page shows it as written.
void TChecker::CheckRawPlaceholders() {
  if (Model.RawOpenings == 0) return;  // the usual template: no list of its placeholders
  for (const TPlaceholder& placeholder : Model.Placeholders()) {
    if (!placeholder.Raw) continue;
    const TSpan span = placeholder.Span;
    const std::string_view name = placeholder.Name.Of(Template.Text);
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

// The message, note and fix-it of a place refused in JavaScript that zoqc cannot read, where
// the code around it explains why (AName: the placeholder, quoted). False for the others.
bool RefusedInJs(std::string_view AText, const std::string& AName, const THtmlContext& AContext,
                 const TSource& ATemplate, TDiagnostic& ADiag) {
  const bool js = AContext.Js == TJsPlace::Unsure && (AContext.Where == THtmlPlace::Script ||
                                                      AContext.Attribute == THtmlAttribute::Event ||
                                                      AContext.Url == TUrlPlace::Script);
  if (js && AContext.Value.Size() == 1 && AText[AContext.Value.Begin] == '/') {
    const std::size_t slash = AContext.Value.Begin;
    ADiag.Message = "under --escape zoqc cannot tell whether the '/' before " + AName +
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
    ADiag.Message = "under --escape " + AName +
                    " cannot be printed after a template string's '$', a value and '{': "
                    "empty, the value would let '${' open code; write '\\$' for the '$'";
    ADiag.Notes.push_back({ATemplate.PlaceOf(brace, brace + 1), "this '{'"});
    const std::size_t dollar = AText.rfind('$', brace);
    if (dollar != std::string_view::npos)
      ADiag.FixIts.push_back({ATemplate.PlaceOf(dollar, dollar), "\\"});
    return true;
  }
  if (js && AContext.Value.Size() > 1) {  // a value split "<!--", "-->" or "<script" earlier
    ADiag.Message = "under --escape " + AName +
                    " cannot be printed: a value before it in this script stands inside '<!--', "
                    "'-->' or '<script', so zoqc does not know where the script ends; put a blank "
                    "after that value";
    ADiag.Notes.push_back(
        {ATemplate.PlaceOf(AContext.Value.Begin, AContext.Value.End), "this value"});
    ADiag.FixIts.push_back({ATemplate.PlaceOf(AContext.Value.End, AContext.Value.End), " "});
    return true;
  }
  return false;
}

// The message, notes and fix-its of the refused placeholder at ASpan of AText.
void ExplainRefused(std::string_view AText, TSpan ASpan, const THtmlContext& AContext,
                    const TSource& ATemplate, TDiagnostic& ADiag) {
  const std::string name = "'" + std::string(ASpan.Of(AText)) + "'";
  if (AContext.Where == THtmlPlace::Unquoted) {
    const char quote = AContext.Value.Of(AText).find('"') == std::string_view::npos ? '"' : '\'';
    ADiag.Message =
        "under --escape a value cannot be printed safely in an unquoted attribute value; "
        "quote the value";
    for (const std::size_t at : {AContext.Value.Begin, AContext.Value.End})
      ADiag.FixIts.push_back({ATemplate.PlaceOf(at, at), std::string(1, quote)});
    return;
  }
  if (RefusedInJs(AText, name, AContext, ATemplate, ADiag)) return;
  if (AContext.Where == THtmlPlace::Attribute && AContext.Url == TUrlPlace::Unknown &&
      AContext.Attribute == THtmlAttribute::Url) {
    const std::string scheme(AContext.Value.Of(AText));
    ADiag.Message = "under --escape " + name + " cannot be printed safely after the URL scheme '" +
                    scheme +
                    "': a scheme that runs or shows script (vbscript:, data: but images), or "
                    "one written with a value or a character reference, is refused; write the "
                    "scheme in plain letters, or make the whole URL in the script";
    ADiag.Notes.push_back(
        {ATemplate.PlaceOf(AContext.Value.Begin, AContext.Value.End), "the scheme"});
    return;
  }
  if (AContext.Where == THtmlPlace::RawText && AContext.ShownRaw) {
    ADiag.Message = "under --escape " + name +
                    " cannot be printed in <xmp>, which shows its text as written: escaped, the "
                    "value would show its escapes, and raw it could end the element; use <pre> "
                    "instead";
    ADiag.FixIts.push_back({ATemplate.PlaceOf(AContext.Name.Begin, AContext.Name.End), "pre"});
    // The end tag that ends the element: "</xmp" in any case, then a blank, "/" or ">".
    for (std::size_t at = AText.find("</", ASpan.End); at != std::string_view::npos;
         at = AText.find("</", at + 2)) {
      const char after = at + 5 < AText.size() ? AText[at + 5] : '\0';
      if (SameText(AText.substr(at + 2, 3), "xmp") &&
          std::string_view(" \t\n\f\r/>").find(after) != std::string_view::npos) {
        ADiag.FixIts.push_back({ATemplate.PlaceOf(at + 2, at + 5), "pre"});
        break;
      }
    }
    return;
  }
  if (AContext.Where == THtmlPlace::Attribute && AContext.Attribute == THtmlAttribute::Srcdoc) {
    ADiag.Message =
        AContext.Inner
            ? "under --escape nothing can make a value safe in " + DescribeContext(AContext) +
                  "; write it in the template, or make the srcdoc document in the script"
            : "under --escape " + name +
                  " cannot be printed in this srcdoc: zoqc cannot read a character reference in "
                  "it (or one makes '{' or '}'); write the character itself, or &quot;, &amp;, "
                  "&lt;, &gt; or a numeric reference";
    return;
  }
  ADiag.Message = "under --escape nothing can make a value safe in " + DescribeContext(AContext) +
                  "; write it in the template, or print markup you trust with '{!" +
                  std::string(AText.substr(ASpan.Begin + 1, ASpan.Size() - 2)) + "}'";
}

// A note at each expression that PHP written in the template prints: it is its own.
void NoteTemplatePhp(const TSource& ATemplate, std::vector<TDiagnostic>& AOut) {
  const std::vector<TPhpOutput> outputs = TemplatePhpOutputs(ATemplate.Text);
  const std::vector<THtmlContext> contexts =
      outputs.empty() ? std::vector<THtmlContext>() : PhpOutputContexts(ATemplate.Text, outputs);
  for (std::size_t o = 0; o < outputs.size(); ++o) {
    TDiagnostic& d = AOut.emplace_back();
    d.Severity = TSeverity::Note;
    d.Place = ATemplate.PlaceOf(outputs[o].Expr.Begin, outputs[o].Expr.End);
    d.Message =
        "zoqc does not escape what PHP written in the template prints, not even with "
        "--escape; escape it for " +
        DescribeContext(contexts[o]) + " here, or print the value with a placeholder";
  }
}

}  // namespace

void CheckEscapes(const TPageModel& AModel, const TLeftovers& ALeftovers, const TSource& ATemplate,
                  std::vector<TDiagnostic>& AOut) {
  const std::string_view text = ATemplate.Text;
  // What PHP written in the template prints is its own: a note says so at each.
  if (HoldsPhp(text)) NoteTemplatePhp(ATemplate, AOut);
  const TTemplateContexts& contexts = AModel.Contexts();
  const std::span<const TSpan> spans = contexts.Spans();
  const std::span<const std::uint32_t> kinds = contexts.Kinds();
  std::vector<std::size_t> left;  // the placeholders printed as written
  for (const TLeftPlaceholder& l : ALeftovers.Left) left.push_back(l.Name.Begin - 1);
  std::sort(left.begin(), left.end());
  // The copies after the first of their block, which the page replaces, in order: only a
  // placeholder inside one of them can repeat another.
  std::vector<TSpan> later;
  for (const TBlockCopy& copy : AModel.Copies)
    if (copy.Same && &copy != &AModel.Copies[AModel.Blocks[copy.Block].Copies[0]])
      later.push_back(copy.Span);
  if (later.empty() && !contexts.AnyRefused()) return;  // the usual case: nothing to say
  std::size_t next_later = 0, later_end = 0;            // later before next_later end by later_end
  for (std::size_t p = 0; p < spans.size(); ++p) {
    const THtmlContext& c = contexts.Context(p);
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
      twin = contexts.IndexAt(first.Span.Begin + (span.Begin - in.Span.Begin));
      if (twin == kNowhere) twin = p;
    }
    if (twin == p && !IsRefused(c)) continue;  // the usual case: nothing to say
    if (std::binary_search(left.begin(), left.end(), spans[twin].Begin)) continue;
    const THtmlContext& first = contexts.Context(twin);
    const bool differs = !IsRefused(c) && twin != p && kinds[twin] != kinds[p] &&
                         !IsRefused(first) &&
                         EscapedExpression(c, "$v") != EscapedExpression(first, "$v");
    if (!differs && !IsRefused(c)) continue;
    TDiagnostic& d = AOut.emplace_back();
    d.Severity = TSeverity::Error;
    d.Place = ATemplate.PlaceOf(span.Begin, span.End);
    if (differs) {
      const std::string name(text.substr(span.Begin, span.Size()));
      const std::string block(AModel.Blocks[AModel.ScopeAt(span.Begin)].Name);
      d.Message = "under --escape every copy of block '" + block +
                  "' prints the one text made from its first copy, where '" + name +
                  "' is escaped for " + DescribeContext(first) + ", but here it stands in " +
                  DescribeContext(c) +
                  "; put the copies in the same context, or give this one a block of its own";
      d.Notes.push_back({ATemplate.PlaceOf(spans[twin].Begin, spans[twin].End),
                         "the first copy's '" + name + "', in " + DescribeContext(first)});
      continue;
    }
    ExplainRefused(text, span, c, ATemplate, d);
  }
}

}  // namespace zoqc
