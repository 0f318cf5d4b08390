// The HTML contexts of a template's placeholders: the states of a browser's HTML tokenizer (data,
// RCDATA, RAWTEXT, script data, tag open, tag name, attribute name, before/after attribute value,
// attribute value double/single/unquoted, comment, ...), with a small JavaScript lexer inside
// scripts and event handlers and a small CSS lexer inside style sheets and style attributes.
#include "src/model/html_context.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <unordered_map>

#include "src/model/html_escape.h"
#include "src/text/text.h"

namespace zoqc {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// The tokenizer's white space; CR counts, as the input stream turns it into LF.
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

// Where JavaScript stands, fed one character at a time. A "/" decides between a comment, a
// regular expression and a division only with the character after it.
class TJsLexer {
 public:
  TJsPlace Place() const {
    if (State == TState::Slash) return RegexOk ? TJsPlace::Regex : TJsPlace::Code;
    switch (State) {
      case TState::Single:
        return TJsPlace::SingleString;
      case TState::Double:
        return TJsPlace::DoubleString;
      case TState::Template:
        return TJsPlace::TemplateString;
      case TState::Line:
      case TState::Block:
        return TJsPlace::Comment;
      case TState::Regex:
        return TJsPlace::Regex;
      default:
        return TJsPlace::Code;
    }
  }
  // A value printed here: in code it is one literal, after which "/" divides.
  void Value() {
    if (State == TState::Slash) State = RegexOk ? TState::Regex : TState::Code;
    if (State == TState::Code) RegexOk = false;
    Escaped = false;
  }
  void Reset() { *this = TJsLexer(); }
  void Feed(char c) {
    if (Escaped) {
      Escaped = false;
      return;
    }
    switch (State) {
      case TState::Slash:
        if (c == '/') {
          State = TState::Line;
          return;
        }
        if (c == '*') {
          State = TState::Block, Star = false;
          return;
        }
        State = RegexOk ? TState::Regex : TState::Code;
        if (State == TState::Code) RegexOk = true;  // after a division an operand follows
        return Feed(c);
      case TState::Code:
        return Code(c);
      case TState::Single:
      case TState::Double:
        if (c == '\\') Escaped = true;
        if (c == (State == TState::Single ? '\'' : '"') || c == '\n')
          State = TState::Code, RegexOk = false;
        return;
      case TState::Template:
        if (c == '\\') Escaped = true;
        if (c == '`') State = TState::Code, RegexOk = false;
        if (c == '{' && Dollar) State = TState::Code, RegexOk = true, Braces.push_back(0);
        Dollar = c == '$';
        return;
      case TState::Line:
        if (c == '\n' || c == '\r') State = TState::Code;
        return;
      case TState::Block:
        if (c == '/' && Star) State = TState::Code;
        Star = c == '*';
        return;
      case TState::Regex:
        if (c == '\\') Escaped = true;
        if (c == '[') Class = true;
        if (c == ']') Class = false;
        if ((c == '/' && !Class) || c == '\n') State = TState::Code, RegexOk = false, Class = false;
        return;
    }
  }

 private:
  enum class TState : unsigned char { Code, Slash, Single, Double, Template, Line, Block, Regex };
  void Code(char c) {
    switch (c) {
      case '\'':
        State = TState::Single;
        return;
      case '"':
        State = TState::Double;
        return;
      case '`':
        State = TState::Template, Dollar = false;
        return;
      case '/':
        State = TState::Slash;
        return;
      case '{':
        if (!Braces.empty()) ++Braces.back();
        RegexOk = true;
        return;
      case '}':
        if (!Braces.empty() && Braces.back()-- == 0) {
          Braces.pop_back();
          State = TState::Template, Dollar = false;
          return;
        }
        RegexOk = true;
        return;
      case ')':
      case ']':
        RegexOk = false;
        return;
      default:
        if (IsSpace(c)) return;
        // After a name, a number or a closing bracket "/" divides; after an operator it opens a
        // regular expression. (A keyword such as "return" before a regular expression reads as
        // a name: the value printed there is escaped as a string all the same.)
        RegexOk = !(IsNameChar(c) || c == '_' || c == '$' || c == '.' ||
                    static_cast<unsigned char>(c) >= 0x80);
    }
  }

  TState State = TState::Code;
  bool RegexOk = true;  // a "/" here opens a regular expression
  bool Escaped = false;
  bool Star = false, Dollar = false, Class = false;
  std::vector<int> Braces;  // per "${" open in a template string: the "{" open inside it
};

// Where CSS stands, fed one character at a time.
class TCssLexer {
 public:
  TCssPlace Place() const {
    switch (State) {
      case TState::Double:
        return TCssPlace::DoubleString;
      case TState::Single:
        return TCssPlace::SingleString;
      case TState::Comment:
        return TCssPlace::Comment;
      case TState::UrlOpen:
      case TState::Url:
        return TCssPlace::Url;
      default:
        return TCssPlace::Code;
    }
  }
  void Value() {
    if (State == TState::Slash) State = TState::Code;
    if (State == TState::UrlOpen) State = TState::Url;
    Escaped = false;
    Word = 0;
  }
  void Reset() { *this = TCssLexer(); }
  void Feed(char c) {
    if (Escaped) {
      Escaped = false;
      return;
    }
    switch (State) {
      case TState::Slash:
        State = TState::Code;
        if (c == '*') {
          State = TState::Comment, Star = false;
          return;
        }
        return Feed(c);
      case TState::Code:
        if (c == '"') State = TState::Double;
        if (c == '\'') State = TState::Single;
        if (c == '/') State = TState::Slash;
        if (c == '\\') Escaped = true;
        // "url(" opens a URL token, which runs to ")" unless it is quoted.
        if (c == '(' && Word == 3) State = TState::UrlOpen;
        Word = (Word < 3 && Lower(c) == "url"[Word]) ? Word + 1 : (Lower(c) == 'u' ? 1 : 0);
        return;
      case TState::Double:
      case TState::Single:
        if (c == '\\') Escaped = true;
        if (c == (State == TState::Double ? '"' : '\'') || c == '\n') State = TState::Code;
        return;
      case TState::Comment:
        if (c == '/' && Star) State = TState::Code;
        Star = c == '*';
        return;
      case TState::UrlOpen:
        if (IsSpace(c)) return;
        State = TState::Url;
        if (c == '"' || c == '\'') State = c == '"' ? TState::Double : TState::Single;
        if (c == ')') State = TState::Code;
        return;
      case TState::Url:
        if (c == '\\') Escaped = true;
        if (c == ')') State = TState::Code;
        return;
    }
  }

 private:
  enum class TState : unsigned char { Code, Slash, Double, Single, Comment, UrlOpen, Url };
  TState State = TState::Code;
  bool Escaped = false, Star = false;
  int Word = 0;  // how much of "url" the last letters spelled
};

// The tokenizer's states that the contexts need.
enum class TState : unsigned char {
  Data,
  RcData,
  RawText,
  ScriptData,
  PlainText,
  TagOpen,
  EndTagOpen,
  TagName,
  BeforeAttrName,
  AttrName,
  AfterAttrName,
  BeforeAttrValue,
  AttrValueDouble,
  AttrValueSingle,
  AttrValueUnquoted,
  AfterAttrValueQuoted,
  SelfClosingStartTag,
  Comment,
  BogusComment,
  Doctype,
  Php,
  CData,  // "<![CDATA[" ... "]]>" in SVG or MathML
};

// The bytes that end a tag's name: white space, "/" and ">"; and "{", which may open a
// placeholder.
constexpr auto kTagNameStop = [] {
  std::array<bool, 256> stop{};
  for (const unsigned char c : {' ', '\t', '\n', '\f', '\r', '/', '>', '{'}) stop[c] = true;
  return stop;
}();

// The same and "<", where the plain run stops to look at a name.
constexpr auto kTagNameEnd = [] {
  std::array<bool, 256> stop = kTagNameStop;
  stop['<'] = true;
  return stop;
}();

// The start tags that end SVG and MathML content: the element is HTML again.
constexpr std::array<std::string_view, 45> kBreakouts = {
    "b",      "big",  "blockquote", "body",  "br",   "center", "code",    "dd",   "div",
    "dl",     "dt",   "em",         "embed", "h1",   "h2",     "h3",      "h4",   "h5",
    "h6",     "head", "hr",         "i",     "img",  "li",     "listing", "menu", "meta",
    "nobr",   "ol",   "p",          "pre",   "ruby", "s",      "small",   "span", "strong",
    "strike", "sub",  "sup",        "table", "tt",   "u",      "ul",      "var",  "font"};

template <std::size_t N>
bool OneOf(std::string_view AName, const std::array<std::string_view, N>& AList) {
  return std::find(AList.begin(), AList.end(), AName) != AList.end();
}

// An open SVG or MathML element, as the tree construction keeps it on its stack.
struct TForeign {
  bool Svg;          // SVG, else MathML
  std::string Name;  // lower-cased
  bool Island;       // an integration point: start tags and text inside it are HTML again
  char Lexer = 0;    // 's': a <script> (JavaScript), 'c': a <style> (CSS), 0: neither
};

constexpr std::array<std::string_view, 20> kUrlAttributes = {
    "action", "archive",    "background", "cite", "classid",  "codebase",  "data",
    "dynsrc", "formaction", "href",       "icon", "longdesc", "lowsrc",    "manifest",
    "ping",   "poster",     "profile",    "src",  "usemap",   "xlink:href"};

THtmlAttribute AttributeKind(std::string_view ALowerName) {
  if (ALowerName.empty()) return THtmlAttribute::Plain;
  if (ALowerName.size() > 2 && ALowerName.starts_with("on")) return THtmlAttribute::Event;
  if (ALowerName == "style") return THtmlAttribute::Style;
  for (const std::string_view url : kUrlAttributes)
    if (url == ALowerName) return THtmlAttribute::Url;
  return THtmlAttribute::Plain;
}

// The character that a reference "&quot;", "&#39;", ... at AAt of AText stands for, with its
// length in ALength; 0 when AAt holds none of those that can end a string or a comment.
char SmallReference(std::string_view AText, std::size_t AAt, std::size_t& ALength) {
  static constexpr struct {
    std::string_view Text;
    char Char;
  } refs[] = {{"&quot;", '"'},  {"&#34;", '"'},   {"&#x22;", '"'},     {"&apos;", '\''},
              {"&#39;", '\''},  {"&#x27;", '\''}, {"&amp;", '&'},      {"&lt;", '<'},
              {"&gt;", '>'},    {"&sol;", '/'},   {"&#47;", '/'},      {"&ast;", '*'},
              {"&bsol;", '\\'}, {"&#92;", '\\'},  {"&NewLine;", '\n'}, {"&#10;", '\n'}};
  for (const auto& r : refs)
    if (SameText(AText.substr(AAt, r.Text.size()), r.Text)) {
      ALength = r.Text.size();
      return r.Char;
    }
  return 0;
}

// The plain run is compiled apart from the walker's other states, which would otherwise keep
// its block and its tag on the stack.
#if defined(__GNUC__) || defined(__clang__)
#define PLAIN_RUN_APART [[gnu::noinline]]
#else
#define PLAIN_RUN_APART
#endif

class TWalker {
 public:
  explicit TWalker(std::string_view ATemplate) : Text(ATemplate) {}

  // Finds the placeholders and notes each one's context.
  void Run() {
    Table.emplace_back();  // number 0: text
    Keys.emplace(KeyOf(Table[0]), 0);
    LastKey = KeyOf(Table[0]);
    const std::size_t size = Text.size();
    // Placeholders most often stand tens of bytes apart: room for one per 48 bytes at first.
    Spans.reserve(size / 48);
    // The last byte that ends a tag's name: the name runs before it need no test of the size.
    StopGuard = size;
    while (StopGuard > 0 && !kTagNameStop[static_cast<unsigned char>(Text[StopGuard - 1])])
      --StopGuard;
    StopGuard = StopGuard > 0 ? StopGuard - 1 : 0;
    FindNext(0);
    std::size_t i = 0;
    while (i < size) {
      if (Limit <= i) {  // a placeholder
        Note({Limit, LimitEnd});
        Value();
        i = std::max(i, LimitEnd);
        FindNext(i);
        continue;
      }
      if (State == TState::Data && Open.empty()) {
        i = PlainRun(i);
        if (i > Limit) FindNext(i);  // PlainRun noted the placeholders it passed
        if (i >= Limit) continue;
      }
      i = Skip(i, Limit);
      if (i < Limit && !SimpleTag(i)) i = Step(i);
    }
    for (; Limit < size; FindNext(LimitEnd)) Note({Limit, LimitEnd});
    Kinds.resize(Spans.size());
  }

  TLargeVector<TSpan> Spans;          // the placeholders, in order
  TLargeVector<std::uint32_t> Kinds;  // per placeholder, its context's number (after Run; while
                                      // it runs, up to the last one not noted as text)
  std::vector<THtmlContext> Table;    // per context number, the context
  bool Refused = false;               // some context IsRefused

 private:
  // The next placeholder at or after AFrom becomes [Limit, LimitEnd) ({size, size}: none).
  void FindNext(std::size_t AFrom) {
    const TSpan next = NextPrintedPlaceholder(Text, AFrom);
    Limit = next.Begin, LimitEnd = next.End;
  }

  // The escaping of a context is told by these fields and the URL tail.
  static std::uint64_t KeyOf(const THtmlContext& c) {
    return std::uint64_t{static_cast<unsigned char>(c.Place)} |
           std::uint64_t{static_cast<unsigned char>(c.Attribute)} << 8 |
           std::uint64_t{static_cast<unsigned char>(c.Quote)} << 16 |
           std::uint64_t{static_cast<unsigned char>(c.Js)} << 24 |
           std::uint64_t{static_cast<unsigned char>(c.Css)} << 32 |
           std::uint64_t{static_cast<unsigned char>(c.Url)} << 40;
  }

  // Notes the placeholder at ASpan, which stands at the current position, with its context's
  // number: a refused context gets one of its own (its spans are its own), equal others alike.
  void Note(TSpan ASpan) {
    THtmlContext c;
    Here(ASpan, c);
    Spans.push_back(ASpan);
    Kinds.resize(Spans.size() - 1);  // the placeholders in text since the last one: 0
    const std::uint32_t number = static_cast<std::uint32_t>(Table.size());
    if (IsRefused(c)) {
      Refused = true;
      Table.push_back(std::move(c));
      Kinds.push_back(number);
      return;
    }
    const std::uint64_t key = KeyOf(c);
    std::uint32_t kind;
    if (!c.UrlTail.empty()) {
      std::string tail(reinterpret_cast<const char*>(&key), sizeof key);
      kind = Tails.try_emplace(tail.append(c.UrlTail), number).first->second;
    } else if (key == LastKey) {
      kind = LastKind;
    } else {
      kind = LastKind = Keys.try_emplace(key, number).first->second;
      LastKey = key;
    }
    if (kind == number) Table.push_back(std::move(c));
    Kinds.push_back(kind);
  }
  // Notes a placeholder at [ABegin, AEnd) in HTML text: number 0, filled in later.
  void NoteText(std::size_t ABegin, std::size_t AEnd) { Spans.push_back({ABegin, AEnd}); }

  // The context at the span ASpan, which stands at the current position, into c (new).
  void Here(TSpan ASpan, THtmlContext& c) {
    c.Name = Tag;
    switch (State) {
      case TState::Data:
      case TState::PlainText:
      case TState::CData:
        c.Place = State == TState::CData ? THtmlPlace::CData : THtmlPlace::Text;
        if (const char lexer = ForeignLexer()) {  // an SVG <script> or <style>
          c.Place = lexer == 's' ? THtmlPlace::Script : THtmlPlace::Style;
          c.Js = Js.Place(), c.Css = Css.Place();
        }
        break;
      case TState::RcData:
        c.Place = THtmlPlace::RcData;
        break;
      case TState::RawText:
        c.Place = Special == "style" ? THtmlPlace::Style : THtmlPlace::RawText;
        c.Css = Css.Place();
        break;
      case TState::ScriptData:
        c.Place = THtmlPlace::Script;
        c.Js = Js.Place();
        break;
      case TState::TagOpen:
      case TState::EndTagOpen:
      case TState::TagName:
        c.Place = THtmlPlace::TagName;
        break;
      case TState::BeforeAttrName:
      case TState::AttrName:
      case TState::AfterAttrName:
      case TState::AfterAttrValueQuoted:
      case TState::SelfClosingStartTag:
        c.Place = THtmlPlace::AttributeName;
        break;
      case TState::BeforeAttrValue:
      case TState::AttrValueUnquoted: {
        c.Place = THtmlPlace::Unquoted;
        c.Attribute = Kind();
        c.Name = Attr;
        std::size_t end = ASpan.Begin;
        while (end < Text.size() && !IsSpace(Text[end]) && Text[end] != '>') ++end;
        c.Value = {ValueStart == kNowhere ? ASpan.Begin : ValueStart, end};
        break;
      }
      case TState::AttrValueDouble:
      case TState::AttrValueSingle:
        c.Place = THtmlPlace::Attribute;
        c.Quote = State == TState::AttrValueDouble ? '"' : '\'';
        c.Attribute = ValueKind;
        c.Name = Attr;
        c.Js = Js.Place();
        c.Css = Css.Place();
        if (c.Attribute == THtmlAttribute::Url) {
          c.Url = UrlSettled ? TUrlPlace::Settled
                  : UrlStart ? TUrlPlace::Start
                             : TUrlPlace::Unsettled;
          if (c.Url == TUrlPlace::Start) c.UrlTail = Tail(ASpan, c.Quote);
        }
        break;
      case TState::Comment:
      case TState::BogusComment:
        c.Place = THtmlPlace::Comment;
        break;
      case TState::Doctype:
      case TState::Php:
        c.Place = THtmlPlace::Declaration;
        break;
    }
  }

  // The markup after span ASpan in a quoted URL value up to its first ':', '/', '?' or '#'
  // (kept when it is ':'), other placeholders left out. A character reference may be any of
  // those: it counts as ':'.
  std::string Tail(TSpan ASpan, char AQuote) const {
    std::string tail;
    for (std::size_t i = ASpan.End; i < Text.size() && Text[i] != AQuote; ++i) {
      if (const std::size_t end =
              Text[i] == '{' ? PrintedPlaceholderEnd(Text.data(), Text.size(), i) : 0) {
        i = end - 1;
        continue;
      }
      const char c = Text[i];
      if (c == '/' || c == '?' || c == '#') return "";
      if (c == ':' || c == '&') return tail + ':';
      if (c != '\t' && c != '\n' && c != '\r') tail += c;
    }
    return "";
  }

  // A value printed at the current position.
  void Value() {
    switch (State) {
      case TState::ScriptData:
      case TState::RawText:
        Js.Value(), Css.Value();
        break;
      case TState::Data:
      case TState::CData:
        if (ForeignLexer()) Js.Value(), Css.Value();
        break;
      case TState::AttrValueDouble:
      case TState::AttrValueSingle:
        Js.Value(), Css.Value();
        UrlStart = false;
        break;
      case TState::BeforeAttrValue:
        State = TState::AttrValueUnquoted;
        break;
      case TState::TagOpen:
      case TState::EndTagOpen:
        // A name that starts with a value goes on from the last tag's lower-cased name.
        if (PlainLast) TagLower.clear(), AppendLower(TagLower, Tag.Begin, Tag.End);
        PlainLast = false;
        State = TState::TagName;
        break;
      case TState::BeforeAttrName:
      case TState::AfterAttrName:
      case TState::AfterAttrValueQuoted:
        State = TState::AttrName, Attr = {}, AttrLower.clear();
        break;
      default:
        break;
    }
  }

  // "</" + the open element's name, then white space, "/" or ">": its end tag.
  bool EndTagAt(std::size_t i) const {
    if (Text.compare(i, 2, "</") != 0) return false;
    const std::size_t end = i + 2 + Special.size();
    if (end >= Text.size() || !SameText(Text.substr(i + 2, Special.size()), Special)) return false;
    return IsSpace(Text[end]) || Text[end] == '/' || Text[end] == '>';
  }

  // The start or end tag just read is done: the element's content begins (or goes on).
  void EmitTag() {
    State = TState::Data;
    const bool self_closing = SelfClosing, font = FontAttr, html_encoding = HtmlEncoding;
    SelfClosing = FontAttr = HtmlEncoding = false;
    if (EndTag) return EndForeign();
    if (Foreign()) {
      // In SVG and MathML no tag switches the tokenizer: <script>, <style>, <textarea>, ...
      // hold markup. A few HTML tags end the foreign content.
      if (!OneOf(TagLower, kBreakouts) || (std::string_view(TagLower) == "font" && !font)) {
        const bool svg =
            Open.back().Svg || (std::string_view(TagLower) == "svg" &&
                                std::string_view(Open.back().Name) == "annotation-xml");
        const bool island =
            svg ? std::string_view(TagLower) == "foreignobject" ||
                      std::string_view(TagLower) == "desc" || std::string_view(TagLower) == "title"
                : std::string_view(TagLower) == "mi" || std::string_view(TagLower) == "mo" ||
                      std::string_view(TagLower) == "mn" || std::string_view(TagLower) == "ms" ||
                      std::string_view(TagLower) == "mtext" ||
                      (std::string_view(TagLower) == "annotation-xml" && html_encoding);
        if (self_closing) return;
        const char lexer = std::string_view(TagLower) == "script"  ? 's'
                           : std::string_view(TagLower) == "style" ? 'c'
                                                                   : 0;
        if (lexer) Js.Reset(), Css.Reset();
        Open.push_back({svg, TagLower, island, lexer});
        return;
      }
      while (Foreign()) Open.pop_back();
    }
    if (std::string_view(TagLower) == "svg" || std::string_view(TagLower) == "math" ||
        (!Open.empty() && !Open.back().Svg &&
         std::string_view(Open.back().Name) != "annotation-xml" &&
         (std::string_view(TagLower) == "mglyph" ||
          std::string_view(TagLower) == "malignmark"))) {  // MathML inside MathML text
      if (!self_closing) Open.push_back({std::string_view(TagLower) == "svg", TagLower, false});
      return;
    }
    if (TagLower.size() < 3 || TagLower.size() > 9) return;  // "xmp" to "plaintext"
    Special = TagLower;
    if (Special == "script") {
      State = TState::ScriptData, Js.Reset();
    } else if (Special == "style") {
      State = TState::RawText, Css.Reset();
    } else if (Special == "xmp" || Special == "iframe" || Special == "noembed" ||
               Special == "noframes" || Special == "noscript") {
      State = TState::RawText, Css.Reset();
    } else if (Special == "title" || Special == "textarea") {
      State = TState::RcData;
    } else if (Special == "plaintext") {
      State = TState::PlainText;
    }
  }

  // True where the tree construction reads tags as SVG or MathML: an element of theirs is open
  // and it is no integration point.
  bool Foreign() const { return !Open.empty() && !Open.back().Island; }
  // The lexer of an open SVG <script> or <style> whose text is read here.
  char ForeignLexer() const { return Foreign() ? Open.back().Lexer : 0; }

  // An end tag: in SVG or MathML "</br>" and "</p>" end the foreign content, and any other end
  // tag closes the innermost open foreign element of its name (with the ones inside it).
  void EndForeign() {
    if (Foreign() && (std::string_view(TagLower) == "br" || std::string_view(TagLower) == "p")) {
      while (Foreign()) Open.pop_back();
      return;
    }
    for (std::size_t f = Open.size(); f-- > 0;)
      if (Open[f].Name == TagLower) {
        Open.resize(f);
        return;
      }
  }

  // The kind of the attribute being read. In SVG the animation elements' "to", "from" and "by"
  // give another attribute (an "href") its value, and so does each item of their "values".
  THtmlAttribute Kind() const {
    if (Foreign() && Open.back().Svg &&
        (std::string_view(TagLower) == "set" || TagLower.starts_with("animate")) &&
        (std::string_view(AttrLower) == "to" || std::string_view(AttrLower) == "from" ||
         std::string_view(AttrLower) == "by" || std::string_view(AttrLower) == "values"))
      return THtmlAttribute::Url;
    return AttributeKind(AttrLower);
  }
  // The animation list "values": any item may start a URL, so no ':' of a value is kept.
  bool ValuesList() const {
    return Kind() == THtmlAttribute::Url && std::string_view(AttrLower) == "values";
  }

  // An attribute's value is done: a few of them change what the tag means.
  void EndValue(std::size_t AEnd) {
    if (std::string_view(AttrLower) == "encoding" && ValueStart != kNowhere && ValueStart <= AEnd) {
      const std::string_view v = Text.substr(ValueStart, AEnd - ValueStart);
      HtmlEncoding = SameText(v, "text/html") || SameText(v, "application/xhtml+xml");
    }
  }

  void StartAttr(std::size_t i) {
    Attr = {i, i};
    AttrLower.clear();
    State = TState::AttrName;
  }
  void StartValue(std::size_t i, TState AState) {
    State = AState;
    ValueStart = i;
    Js.Reset(), Css.Reset();
    ValueKind = Kind(), ValuesItems = ValuesList();
    UrlStart = !ValuesItems, UrlSettled = false;
  }

  // Feeds a byte of a quoted attribute value to the lexer of its attribute.
  std::size_t ValueByte(std::size_t i) {
    const char c = Text[i];
    const THtmlAttribute kind = ValueKind;
    std::size_t length = 1;
    char decoded = c;
    if (c == '&') {
      const char ref = SmallReference(Text, i, length);
      if (ref)
        decoded = ref;
      else
        length = 1;
    }
    if (kind == THtmlAttribute::Event) Js.Feed(decoded);
    if (kind == THtmlAttribute::Style) Css.Feed(decoded);
    if (kind == THtmlAttribute::Url && !UrlSettled && !ValuesItems) {
      // The browser strips leading blanks and control characters, and tabs and line ends
      // anywhere; a reference may stand for any character, so it settles nothing.
      if (c == '&') {
        UrlStart = false;
        std::size_t end = i + 1;  // "&#106;", "&colon;": one character, whatever it is
        if (end < Text.size() && Text[end] == '#') ++end;
        end = NameEnd(Text, end);
        if (end < Text.size() && Text[end] == ';') ++end;
        return end;
      }
      if (c == ':' || c == '/' || c == '?' || c == '#')
        UrlSettled = true;
      else if (static_cast<unsigned char>(c) > 0x20)
        UrlStart = false;
    }
    return i + length;
  }

  // Where the first byte at or after i (before ALimit) stands that can change the state: most
  // of a template is text, which memchr passes over.
  std::size_t Skip(std::size_t i, std::size_t ALimit) const {
    char stop = 0;
    switch (State) {
      case TState::Data:
        if (!ForeignLexer()) stop = '<';
        break;
      case TState::RcData:
        stop = '<';
        break;
      case TState::CData:
        if (!ForeignLexer()) stop = ']';
        break;
      case TState::RawText:
        if (Special != "style") stop = '<';
        break;
      case TState::PlainText:
        return ALimit;
      case TState::Comment:
        stop = '-';
        break;
      case TState::AttrValueDouble:
      case TState::AttrValueSingle:
        // A plain attribute's value ends at its quote; no lexer reads it.
        if (ValueKind == THtmlAttribute::Plain)
          stop = State == TState::AttrValueDouble ? '"' : '\'';
        break;
      default:
        break;
    }
    if (!stop || i >= ALimit) return i;
    const void* at = std::memchr(Text.data() + i, stop, ALimit - i);
    return at ? static_cast<std::size_t>(static_cast<const char*>(at) - Text.data()) : ALimit;
  }

  // The end of the run of name bytes from i before Limit: up to white space, "/", ">" or a
  // byte of AAlso.
  std::size_t NameRun(std::size_t i, std::string_view AAlso) const {
    while (i < Limit) {
      const char c = Text[i];
      if (IsSpace(c) || c == '/' || c == '>' || AAlso.find(c) != std::string_view::npos) break;
      ++i;
    }
    return i;
  }
  // Appends Text's bytes [AFrom, ATo) lower-cased to ATo; returns ATo.
  std::size_t AppendLower(std::string& ATo, std::size_t AFrom, std::size_t AEnd) const {
    const std::size_t at = ATo.size();
    ATo.append(Text.substr(AFrom, AEnd - AFrom));
    for (std::size_t k = at; k < ATo.size(); ++k) ATo[k] = Lower(ATo[k]);
    return AEnd;
  }

  // Most of a page is text in HTML content (no SVG or MathML element open) and tags that
  // switch nothing: end tags, and start tags of no name of Switches. From i in the data state,
  // such text with its placeholders (noted as text) and such tags with their ">" are read at
  // once, as the tag states would read them: what those note of a tag's name and attributes is
  // read by no state after it. A tag with a "{" is left to the states. Returns where the rest
  // must be read state by state (a "<"), or the template's size.
  PLAIN_RUN_APART std::size_t PlainRun(std::size_t i) {
    const char* const text = Text.data();
    const std::size_t size = Text.size();
    const std::size_t guard = StopGuard;
    std::size_t last = kNowhere;  // the "<" of the last tag read
    // The bytes of the last short plain start tag and end tag (little-endian), and which of
    // the 8 bytes at a "<" they are; none at first.
    std::uint64_t seen[2] = {1, 1}, seen_mask[2] = {0, 0};
    // The text is read by blocks of 64 bytes: the bits of a block's "<" and "{" not read yet
    // say where the next tag or placeholder stands, also after a tag that ends in the block.
    std::size_t base = i;  // the block's first byte
    std::uint64_t stops = TextStops(text, size, base);
    for (;;) {
      while (!stops) {
        if ((base += 64) + 64 <= size) {
          stops = TextStops(text + base);
        } else if (base < size) {
          stops = TextStops(text, size, base);
        } else {
          i = size;
          goto done;
        }
      }
      i = base + static_cast<unsigned>(std::countr_zero(stops));
      if (text[i] == '{') {
        // A placeholder holds no "<" or "{": the bits after it hold, also where it runs on
        // into the next block.
        if (const std::size_t end = PrintedPlaceholderEnd(text, size, i)) NoteText(i, end);
        stops &= stops - 1;
        continue;
      }
      // A tag of up to 8 bytes the same as the last start (or end) tag read below: plain too.
      std::uint64_t bytes = 0;
      if (i + 8 <= size) {
        std::memcpy(&bytes, text + i, 8);
        if ((bytes & seen_mask[0]) == seen[0] || (bytes & seen_mask[1]) == seen[1]) {
          last = i;
          stops &= stops - 1;
          continue;
        }
      }
      std::size_t name = i + 1, name_end;
      bool end;
      // The name is read up to a "<" too: most often it holds none, and then the tag's bytes
      // hold no bit but its "<" when it ends at the name's ">".
      if (i + 3 <= guard) {  // a stop byte stands at StopGuard: no test of the size
        end = text[name] == '/';
        name += end;
        if (!IsAlpha(text[name])) break;
        const char* at = text + name + 1;
        while (!kTagNameEnd[static_cast<unsigned char>(*at)]) ++at;
        name_end = static_cast<std::size_t>(at - text);
      } else {
        end = name < size && text[name] == '/';
        name += end;
        if (name >= size || !IsAlpha(text[name])) break;
        for (name_end = name + 1;
             name_end < size && !kTagNameEnd[static_cast<unsigned char>(text[name_end])];)
          ++name_end;
        if (name_end >= size) break;
      }
      // (Only names of 3 to 9 letters switch: "xmp" to "plaintext".)
      if (text[name_end] == '>') {
        if (!end && name_end - name - 3 <= 6 && Switches({text + name, name_end - name})) break;
        last = i;
        stops &= stops - 1;
        if (name_end - i < 8 && i + 8 <= size && std::endian::native == std::endian::little) {
          seen_mask[end] = ~std::uint64_t{0} >> (56 - 8 * (name_end - i));
          seen[end] = bytes & seen_mask[end];
        }
        continue;
      }
      if (text[name_end] == '<') {  // a name that holds "<"
        while (name_end < size && !kTagNameStop[static_cast<unsigned char>(text[name_end])])
          ++name_end;
        if (name_end >= size) break;
      }
      if (!end && name_end - name - 3 <= 6 && Switches({text + name, name_end - name})) break;
      std::size_t close = name_end;
      if (text[name_end] != '>') {
        if (text[name_end] == '{' || (close = TagEnd(name_end)) == kNowhere) break;
      }
      last = i;
      // The bits of the tag's bytes go, also in the next block when the tag runs on into it.
      while (close + 1 - base >= 64) {
        if ((base += 64) >= size) {
          i = size;
          goto done;
        }
        stops = TextStops(text, size, base);
      }
      stops &= ~std::uint64_t{0} << (close + 1 - base);
    }
  done:
    if (last != kNowhere) {  // as the tag states leave them after the last tag
      EndTag = text[last + 1] == '/';
      std::size_t name_end = last + 1 + EndTag;
      while (!kTagNameStop[static_cast<unsigned char>(text[name_end])]) ++name_end;
      Tag = {last + 1 + EndTag, name_end};
      SelfClosing = FontAttr = HtmlEncoding = false;
      PlainLast = true;
    }
    return i;
  }

  // Of the 64 bytes at ABase of the size bytes at AText (fewer at the end, the rest taken as
  // zeros), a bit (bit I for byte ABase + I) for each "<" and "{".
  static std::uint64_t TextStops(const char* AText, std::size_t ASize, std::size_t ABase) {
    if (ABase + 64 <= ASize) return TextStops(AText + ABase);
    char last[64] = {};
    std::memcpy(last, AText + ABase, ASize - ABase);
    return TextStops(last);
  }
  static std::uint64_t TextStops(const char* AAt) {
    std::uint64_t bits = 0;
#if defined(__SSE2__) || defined(_M_X64)
    const __m128i lt = _mm_set1_epi8('<'), brace = _mm_set1_epi8('{');
    for (int k = 0; k < 4; ++k) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(AAt + 16 * k));
      bits |= std::uint64_t{static_cast<unsigned>(
                  _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_cmpeq_epi8(v, brace))))}
              << (16 * k);
    }
#else
    for (int k = 0; k < 64; ++k) bits |= std::uint64_t{AAt[k] == '<' || AAt[k] == '{'} << k;
#endif
    return bits;
  }

  // The first byte at or after AFrom that is AOne or ATwo, or the template's size. Between tags
  // and placeholders it is most often a few bytes away: 16 bytes are tested at once.
  std::size_t NextOf(std::size_t AFrom, char AOne, char ATwo) const {
    return NextOf(Text.data(), Text.size(), AFrom, AOne, ATwo);
  }
  // The same in text of size bytes (PlainRun keeps them in locals: its notes could change
  // members).
  static std::size_t NextOf(const char* text, std::size_t size, std::size_t AFrom, char AOne,
                            char ATwo) {
#if defined(__SSE2__) || defined(_M_X64)
    const __m128i one = _mm_set1_epi8(AOne), two = _mm_set1_epi8(ATwo);
    for (; AFrom + 16 <= size; AFrom += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + AFrom));
      const unsigned hit = static_cast<unsigned>(
          _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, one), _mm_cmpeq_epi8(v, two))));
      if (hit) return AFrom + static_cast<unsigned>(std::countr_zero(hit));
    }
#endif
    while (AFrom < size && text[AFrom] != AOne && text[AFrom] != ATwo) ++AFrom;
    return AFrom;
  }

  // The start tags that switch the tokenizer or open SVG or MathML content.
  static bool Switches(std::string_view AName) {
    static constexpr std::string_view kSwitches[] = {"script",   "style",     "xmp",      "iframe",
                                                     "noembed",  "noframes",  "noscript", "title",
                                                     "textarea", "plaintext", "svg",      "math"};
    if (AName.size() < 3 || AName.size() > 9) return false;
    for (const std::string_view name : kSwitches)
      if (SameText(AName, name)) return true;
    return false;
  }

  // The ">" that ends the tag whose name ends at i, or kNowhere, also where a "{" stands before
  // it (a placeholder, maybe): the attribute states folded into four. A quote opens a value only
  // after "=" (and blanks); a ">" inside the value ends nothing. "=" right after a value or "/"
  // starts an attribute's name.
  std::size_t TagEnd(std::size_t i) const {
    enum class TAt : unsigned char { Between, Name, BeforeValue, Unquoted } at = TAt::Between;
    const std::size_t size = Text.size();
    for (; i < size; ++i) {
      const char c = Text[i];
      if (c == '>') return i;
      if (c == '{') return kNowhere;
      if (IsSpace(c)) {
        if (at == TAt::Unquoted) at = TAt::Between;
        continue;
      }
      switch (at) {
        case TAt::Between:
          if (c != '/') at = TAt::Name;
          break;
        case TAt::Name:
          if (c == '=') at = TAt::BeforeValue;
          if (c == '/') at = TAt::Between;
          break;
        case TAt::BeforeValue:
          at = TAt::Unquoted;
          if (c == '"' || c == '\'') {
            i = NextOf(i + 1, c, '{');
            if (i >= size || Text[i] == '{') return kNowhere;
            at = TAt::Between;
          }
          break;
        case TAt::Unquoted:
          break;
      }
    }
    return kNowhere;
  }

  // Most tags of a page are "<name>" or "</name>": in the data state such a tag at i is read at
  // once (i moves past it), as the states from tag open through tag name would read it.
  bool SimpleTag(std::size_t& i) {
    if (State != TState::Data || Text[i] != '<') return false;
    std::size_t name = i + 1;
    const bool end_tag = name < Limit && Text[name] == '/';
    name += end_tag;
    if (name >= Limit || !IsAlpha(Text[name])) return false;
    const std::size_t end = NameRun(name, "");
    if (end >= Limit || Text[end] != '>') return false;
    Tag = {name, end};
    TagLower.clear();
    PlainLast = false;
    AppendLower(TagLower, name, end);
    EndTag = end_tag;
    EmitTag();
    i = end + 1;
    return true;
  }

  // Reads the byte (or the few) at i in the current state; returns where to go on.
  std::size_t Step(std::size_t i) {
    const char c = Text[i];
    switch (State) {
      case TState::Data:
        if (c == '<') {
          State = TState::TagOpen;
          return i + 1;
        }
        if (const char lexer = ForeignLexer()) {  // the text of an SVG script or style sheet
          std::size_t length = 1;
          const char ref = c == '&' ? SmallReference(Text, i, length) : 0;
          (lexer == 's' ? Js.Feed(ref ? ref : c) : Css.Feed(ref ? ref : c));
          return i + (ref ? length : 1);
        }
        return i + 1;
      case TState::CData:
        if (Text.compare(i, 3, "]]>") == 0) {
          State = TState::Data;
          return i + 3;
        }
        if (ForeignLexer() == 's') Js.Feed(c);
        if (ForeignLexer() == 'c') Css.Feed(c);
        return i + 1;
      case TState::PlainText:
        return i + 1;
      case TState::RcData:
      case TState::RawText:
      case TState::ScriptData:
        if (c == '<' && EndTagAt(i)) {
          Tag = {i + 2, i + 2};
          TagLower.clear();
          PlainLast = false;
          EndTag = true;
          State = TState::TagName;
          return i + 2;
        }
        if (State == TState::ScriptData) Js.Feed(c);
        if (State == TState::RawText && Special == "style") Css.Feed(c);
        return i + 1;
      case TState::TagOpen:
        if (IsAlpha(c)) {
          Tag = {i, i};
          TagLower.clear();
          PlainLast = false;
          EndTag = false;
          State = TState::TagName;
          return i;
        }
        if (c == '/') {
          State = TState::EndTagOpen;
          return i + 1;
        }
        if (c == '!') return MarkupDeclaration(i + 1);
        if (c == '?') {
          State = TState::Php;
          return i + 1;
        }
        State = TState::Data;
        return i;
      case TState::EndTagOpen:
        if (IsAlpha(c)) {
          Tag = {i, i};
          TagLower.clear();
          PlainLast = false;
          EndTag = true;
          State = TState::TagName;
          return i;
        }
        State = c == '>' ? TState::Data : TState::BogusComment;
        return c == '>' ? i + 1 : i;
      case TState::TagName:
        if (const std::size_t end = NameRun(i, ""); end > i) {
          Tag.End = end;
          return AppendLower(TagLower, i, end);
        }
        if (IsSpace(c))
          State = TState::BeforeAttrName;
        else if (c == '/')
          State = TState::SelfClosingStartTag;
        else if (c == '>')
          EmitTag();
        else
          TagLower += Lower(c), Tag.End = i + 1;
        return i + 1;
      case TState::BeforeAttrName:
        if (IsSpace(c)) return i + 1;
        if (c == '/' || c == '>') {
          State = TState::AfterAttrName;
          return i;
        }
        StartAttr(i);
        if (c == '=') AttrLower += c, Attr.End = i + 1;
        return c == '=' ? i + 1 : i;
      case TState::AttrName:
        if (IsSpace(c) || c == '/' || c == '>' || c == '=')
          FontAttr = FontAttr || std::string_view(AttrLower) == "color" ||
                     std::string_view(AttrLower) == "face" || std::string_view(AttrLower) == "size";
        if (IsSpace(c) || c == '/' || c == '>') {
          State = TState::AfterAttrName;
          return i;
        }
        if (c == '=') {
          State = TState::BeforeAttrValue;
          ValueStart = kNowhere;
          return i + 1;
        }
        Attr.End = NameRun(i + 1, "=");
        return AppendLower(AttrLower, i, Attr.End);
      case TState::AfterAttrName:
        if (IsSpace(c)) return i + 1;
        if (c == '/')
          State = TState::SelfClosingStartTag;
        else if (c == '=')
          State = TState::BeforeAttrValue, ValueStart = kNowhere;
        else if (c == '>')
          EmitTag();
        else {
          StartAttr(i);
          return i;
        }
        return i + 1;
      case TState::BeforeAttrValue:
        if (IsSpace(c)) return i + 1;
        if (c == '"' || c == '\'') {
          StartValue(i + 1, c == '"' ? TState::AttrValueDouble : TState::AttrValueSingle);
          return i + 1;
        }
        if (c == '>') {
          EmitTag();
          return i + 1;
        }
        StartValue(i, TState::AttrValueUnquoted);
        return i;
      case TState::AttrValueDouble:
      case TState::AttrValueSingle:
        if (c == (State == TState::AttrValueDouble ? '"' : '\'')) {
          EndValue(i);
          State = TState::AfterAttrValueQuoted;
          return i + 1;
        }
        return ValueByte(i);
      case TState::AttrValueUnquoted:
        if (IsSpace(c) || c == '>') EndValue(i);
        if (IsSpace(c))
          State = TState::BeforeAttrName;
        else if (c == '>')
          EmitTag();
        return i + 1;
      case TState::AfterAttrValueQuoted:
        if (IsSpace(c))
          State = TState::BeforeAttrName;
        else if (c == '/')
          State = TState::SelfClosingStartTag;
        else if (c == '>')
          EmitTag();
        else {
          State = TState::BeforeAttrName;
          return i;
        }
        return i + 1;
      case TState::SelfClosingStartTag:
        if (c == '>') {
          SelfClosing = true;
          EmitTag();
          return i + 1;
        }
        State = TState::BeforeAttrName;
        return i;
      case TState::Comment: {
        // Ends at "-->" or "--!>".
        if (Text.compare(i, 3, "-->") == 0) {
          State = TState::Data;
          return i + 3;
        }
        if (Text.compare(i, 4, "--!>") == 0) {
          State = TState::Data;
          return i + 4;
        }
        return i + 1;
      }
      case TState::BogusComment:
      case TState::Doctype:
        if (c == '>') State = TState::Data;
        return i + 1;
      case TState::Php:
        // PHP in the template: its output is unknown here, and the markup goes on after "?>".
        if (Text.compare(i, 2, "?>") == 0) {
          State = TState::Data;
          return i + 2;
        }
        return i + 1;
    }
    return i + 1;
  }

  // After "<!": a comment, a DOCTYPE, a CDATA section (in SVG and MathML) or a bogus comment.
  std::size_t MarkupDeclaration(std::size_t i) {
    if (Foreign() && Text.compare(i, 7, "[CDATA[") == 0) {
      State = TState::CData;
      return i + 7;
    }
    if (Text.compare(i, 2, "--") == 0) {
      i += 2;
      // "<!-->" and "<!--->" are closed at once.
      if (Text.compare(i, 1, ">") == 0) return State = TState::Data, i + 1;
      if (Text.compare(i, 2, "->") == 0) return State = TState::Data, i + 2;
      State = TState::Comment;
      return i;
    }
    State = SameText(Text.substr(i, 7), "DOCTYPE") ? TState::Doctype : TState::BogusComment;
    return i;
  }

  std::string_view Text;
  std::size_t Limit = 0;      // where the next placeholder stands (or the end): no step passes it
  std::size_t LimitEnd = 0;   // and where it ends
  std::size_t StopGuard = 0;  // a byte of kTagNameStop stands here (or none: 0)
  std::unordered_map<std::uint64_t, std::uint32_t> Keys;  // the numbers by KeyOf
  std::unordered_map<std::string, std::uint32_t> Tails;   // with a URL tail: by KeyOf and tail
  std::uint64_t LastKey = 0;                              // the key numbered last
  std::uint32_t LastKind = 0;                             // and its number
  TState State = TState::Data;
  TSpan Tag;               // the tag's name as written
  std::string TagLower;    // and lower-cased (unless PlainLast)
  bool PlainLast = false;  // the last tag was read by PlainRun, which leaves TagLower as it was
  bool EndTag = false;     // the tag is an end tag
  std::string Special;     // the open element whose end tag ends RCDATA, RAWTEXT or a script
  TSpan Attr;              // the attribute's name as written
  std::string AttrLower;   // and lower-cased
  std::size_t ValueStart = kNowhere;  // where the attribute's value starts
  bool UrlStart = true;               // a URL value holds nothing but blanks and controls so far
  bool UrlSettled = false;            // a URL value's markup holds ':', '/', '?' or '#'
  TJsLexer Js;                        // in a script or an event attribute
  TCssLexer Css;                      // in a style sheet or a style attribute
  std::vector<TForeign> Open;         // the open SVG and MathML elements, innermost last
  THtmlAttribute ValueKind = THtmlAttribute::Plain;  // the kind of the value's attribute
  bool ValuesItems = false;   // the value is an animation's "values": items that may be URLs
  bool SelfClosing = false;   // the tag ends in "/>"
  bool FontAttr = false;      // the tag has a "color", "face" or "size" attribute
  bool HtmlEncoding = false;  // the tag's "encoding" is an HTML one
};

}  // namespace

TTemplateContexts::TTemplateContexts(std::string_view ATemplate) {
  TWalker walker(ATemplate);
  walker.Run();
  PlaceSpans = std::move(walker.Spans);
  PlaceKinds = std::move(walker.Kinds);
  Table = std::move(walker.Table);
  Refused = walker.Refused;
}

std::vector<THtmlContext> HtmlContexts(std::string_view ATemplate) {
  const TTemplateContexts contexts(ATemplate);
  std::vector<THtmlContext> all;
  for (std::size_t p = 0; p < contexts.Spans().size(); ++p) all.push_back(contexts.Context(p));
  return all;
}

std::size_t TTemplateContexts::Find(std::size_t AAt) const {
  if (Last < PlaceSpans.size() && PlaceSpans[Last].Begin == AAt) return Last;
  const auto it = std::lower_bound(PlaceSpans.begin(), PlaceSpans.end(), AAt,
                                   [](const TSpan& s, std::size_t at) { return s.Begin < at; });
  if (it == PlaceSpans.end() || it->Begin != AAt) return kNowhere;
  return Last = static_cast<std::size_t>(it - PlaceSpans.begin());
}

std::string DescribeContext(const THtmlContext& AContext) {
  const auto js = [](TJsPlace APlace) -> std::string {
    switch (APlace) {
      case TJsPlace::Code:
        return "a JavaScript value";
      case TJsPlace::SingleString:
      case TJsPlace::DoubleString:
        return "a JavaScript string";
      case TJsPlace::TemplateString:
        return "a JavaScript template string";
      case TJsPlace::Comment:
        return "a JavaScript comment";
      case TJsPlace::Regex:
        return "a JavaScript regular expression";
    }
    return "";
  };
  const auto css = [](TCssPlace APlace) -> std::string {
    switch (APlace) {
      case TCssPlace::Code:
        return "a CSS value";
      case TCssPlace::DoubleString:
      case TCssPlace::SingleString:
        return "a CSS string";
      case TCssPlace::Comment:
        return "a CSS comment";
      case TCssPlace::Url:
        return "a CSS url()";
    }
    return "";
  };
  switch (AContext.Place) {
    case THtmlPlace::Text:
      return "text";
    case THtmlPlace::RcData:
      return "text in <title> or <textarea>";
    case THtmlPlace::RawText:
      return "raw text (no character references)";
    case THtmlPlace::Comment:
      return "an HTML comment";
    case THtmlPlace::CData:
      return "a CDATA section";
    case THtmlPlace::Script:
      return js(AContext.Js) + " in <script>";
    case THtmlPlace::Style:
      return css(AContext.Css) + " in <style>";
    case THtmlPlace::Attribute:
      switch (AContext.Attribute) {
        case THtmlAttribute::Plain:
          return "an attribute value";
        case THtmlAttribute::Url:
          return "a URL attribute";
        case THtmlAttribute::Event:
          return js(AContext.Js) + " in an event-handler attribute";
        case THtmlAttribute::Style:
          return css(AContext.Css) + " in a style attribute";
      }
      return "";
    case THtmlPlace::Unquoted:
      return "an unquoted attribute value";
    case THtmlPlace::TagName:
      return "a tag name";
    case THtmlPlace::AttributeName:
      return "an attribute name";
    case THtmlPlace::Declaration:
      return "a declaration or PHP code";
  }
  return "";
}

}  // namespace zoqc
