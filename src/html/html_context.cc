// The HTML contexts of a template's placeholders: the states of a browser's HTML tokenizer (data,
// RCDATA, RAWTEXT, script data, tag open, tag name, attribute name, before/after attribute value,
// attribute value double/single/unquoted, comment, ...), with a small JavaScript lexer inside
// scripts and event handlers and a small CSS lexer inside style sheets and style attributes.
#include "src/html/html_context.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <unordered_map>

#include "src/text/bytes.h"
#include "src/text/placeholder.h"
#include "src/text/text.h"

namespace zoqc {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// The tokenizer's white space; CR counts, as the input stream turns it into LF.
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

// Where JavaScript stands, fed one character at a time. A "/" decides between a comment, a
// regular expression and a division only with the character after it, and between the last two
// as a JavaScript parser does, by the token before it: after a name, a literal, ")" or "]" it
// divides; after an operator, a keyword such as "return", the ")" of "if (...)" or the "}" of a
// block it opens a regular expression. Where the token before leaves it open (the "}" of a
// function, "yield", ...), the lexer is lost from that "/" on: later places are Unsure.
class TJsLexer {
 public:
  TJsPlace Where() const {
    switch (State) {
      case TState::Lost:
        return TJsPlace::Unsure;
      case TState::Slash:
        return Next == TSlash::Regex    ? TJsPlace::Regex
               : Next == TSlash::Divide ? TJsPlace::Code
                                        : TJsPlace::Unsure;
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
  // Where the lexer got lost: the "/" it could not read (at the offset the walker gave).
  std::size_t LostAt() const { return SlashAt; }
  // A value printed here: in code it is one literal, after which "/" divides.
  void Value() {
    if (State == TState::Slash) Slash();
    if (State == TState::Code) EndWord(), Literal(), Last = 0, Html = 0, Arrow = 0;
    if (State == TState::Template && Dollar) MaybeSubst = true;
    Escaped = false;
  }
  void Reset() { *this = TJsLexer(); }
  void Feed(char c, std::size_t AAt) {
    if (Escaped) {
      Escaped = false;
      return;
    }
    switch (State) {
      case TState::Lost:
        return;
      case TState::Slash:
        if (c == '/') {
          State = TState::Line;
          return;
        }
        if (c == '*') {
          State = TState::Block, Star = false;
          return;
        }
        Slash();
        if (State == TState::Code) Prev = TTok::Operator, Next = TSlash::Regex;
        return Feed(c, AAt);
      case TState::Code:
        return Code(c, AAt);
      case TState::Single:
      case TState::Double:
        if (c == '\\') Escaped = true;
        if (c == (State == TState::Single ? '\'' : '"') || c == '\n') State = TState::Code;
        if (State == TState::Code) Literal();
        return;
      case TState::Template:
        if (c == '\\') Escaped = true;
        if (c == '`') State = TState::Code, Literal();
        if (c == '{' && MaybeSubst) {  // "${" if the value was empty, else text
          State = TState::Lost, SlashAt = AAt;
          return;
        }
        if (c == '{' && Dollar)
          State = TState::Code, Prev = TTok::Operator, Next = TSlash::Regex,
          Braces.push_back(TBrace::Substitution);
        Dollar = c == '$', MaybeSubst = false;
        return;
      case TState::Line:
        if (c == '\n' || c == '\r') State = TState::Code, LineStart = true;
        return;
      case TState::Block:
        if (c == '/' && Star) State = TState::Code;
        Star = c == '*';
        return;
      case TState::Regex:
        if (c == '\\') Escaped = true;
        if (c == '[') Class = true;
        if (c == ']') Class = false;
        if ((c == '/' && !Class) || c == '\n') State = TState::Code, Literal(), Class = false;
        return;
    }
  }

 private:
  enum class TState : unsigned char {
    Code,
    Slash,
    Single,
    Double,
    Template,
    Line,
    Block,
    Regex,
    Lost
  };
  // What a "/" after the last token is.
  enum class TSlash : unsigned char { Regex, Divide, Open };
  // The kinds of the last token that tell what a "{" after it opens.
  enum class TTok : unsigned char {
    Start,       // nothing yet, or ";": a statement starts
    BlockOpen,   // a "{" that opens a block (or a function's body)
    BlockClose,  // the "}" of a block
    Control,     // the ")" of if, while, for, with, switch, catch; else, do, try, finally
    Operator,    // an operator, "(", "[", ",", or a keyword such as "return"
    Other,       // a name, a literal, ")", "]", ":", "=>", the "}" of an object or a function
  };
  // What a "{" opened, which its "}" ends.
  enum class TBrace : unsigned char { Block, Object, Unknown, Substitution };

  // A "/" in code (its next character read): a regular expression, a division, or lost.
  void Slash() {
    if (Next == TSlash::Regex)
      State = TState::Regex;
    else
      State = Next == TSlash::Divide ? TState::Code : TState::Lost;
  }
  void Literal() { Prev = TTok::Other, Next = TSlash::Divide; }

  // The name or number being read is done: a keyword tells what follows.
  void EndWord() {
    if (Word.empty()) return;
    const std::string_view w = Word;
    if (WordAfterDot || (w[0] >= '0' && w[0] <= '9')) {
      Literal();
    } else if (w == "return" || w == "typeof" || w == "void" || w == "in" || w == "case" ||
               w == "delete" || w == "throw" || w == "instanceof" || w == "new") {
      Prev = TTok::Operator, Next = TSlash::Regex;
    } else if (w == "else" || w == "do" || w == "try" || w == "finally") {
      Prev = TTok::Control, Next = TSlash::Regex;
      SawDo = SawDo || w == "do";
    } else if (w == "yield" || w == "await" || w == "of" || w == "let") {
      // Keywords only in some functions or statements, names elsewhere.
      Prev = TTok::Other, Next = TSlash::Open;
    } else {
      Literal();
    }
    LastWord = w.size() <= 6 ? Word : std::string();
    Word.clear();
  }

  void Code(char c, std::size_t AAt) {
    const bool word = IsNameChar(c) || c == '_' || c == '$' ||
                      static_cast<unsigned char>(c) >= 0x80 ||
                      (c == '.' && !Word.empty() && Word[0] >= '0' && Word[0] <= '9');
    if (word) {
      if (Word.empty()) WordAfterDot = AfterDot, LastWord.clear();
      if (Word.size() < 16) Word += c;
      AfterDot = false, LineStart = false, Last = 0, Html = 0, Arrow = 0;
      return;
    }
    EndWord();
    const char before = Last;
    Last = c;
    if (IsSpace(c)) {
      if (c == '\n' || c == '\r') LineStart = true;
      Html = 0, Arrow = 0;
      return;
    }
    const bool line_start = LineStart;
    LineStart = false;
    // "<!--" anywhere and "-->" at the start of a line are comments to the line's end in a
    // classic script.
    if (c == '-' && Html == 2) {
      Html = 0, State = TState::Line;
      return;
    }
    if (c == '>' && Arrow == 2) {
      Arrow = 0, State = TState::Line;
      return;
    }
    Html = (c == '!' && before == '<') ? 1 : (c == '-' && Html == 1) ? 2 : 0;
    Arrow = c != '-' ? 0 : line_start ? 1 : (Arrow == 1 && before == '-') ? 2 : 0;
    const bool dot = AfterDot;
    AfterDot = false;
    std::string last_word;
    last_word.swap(LastWord);
    switch (c) {
      case '\'':
        State = TState::Single;
        return;
      case '"':
        State = TState::Double;
        return;
      case '`':
        State = TState::Template, Dollar = false, MaybeSubst = false;
        return;
      case '/':
        State = TState::Slash, SlashAt = AAt;
        return;
      case '.':
        AfterDot = true;
        Prev = TTok::Operator, Next = TSlash::Regex;
        return;
      case '{': {
        TBrace kind = TBrace::Unknown;
        if (Prev == TTok::Start || Prev == TTok::BlockOpen || Prev == TTok::BlockClose ||
            Prev == TTok::Control)
          kind = TBrace::Block;
        else if (Prev == TTok::Operator)
          kind = TBrace::Object;
        Braces.push_back(kind);
        Prev = kind == TBrace::Object ? TTok::Operator : TTok::BlockOpen;
        Next = TSlash::Regex;
        return;
      }
      case '}': {
        const TBrace kind = Braces.empty() ? TBrace::Unknown : Braces.back();
        if (!Braces.empty()) Braces.pop_back();
        if (kind == TBrace::Substitution) {
          State = TState::Template, Dollar = false, MaybeSubst = false;
          return;
        }
        if (kind == TBrace::Block)
          Prev = TTok::BlockClose, Next = TSlash::Regex;
        else
          Prev = TTok::Other, Next = kind == TBrace::Object ? TSlash::Divide : TSlash::Open;
        return;
      }
      case '(': {
        // The ")" of "if (...)" and its kin ends no value: "/" opens a regular expression.
        TSlash after = TSlash::Divide;
        if (!dot && (last_word == "if" || last_word == "for" || last_word == "with" ||
                     last_word == "switch" || last_word == "catch"))
          after = TSlash::Regex;
        if (!dot && last_word == "while") after = SawDo ? TSlash::Open : TSlash::Regex;
        Parens.push_back(after);
        Prev = TTok::Operator, Next = TSlash::Regex;
        return;
      }
      case ')':
        Next = Parens.empty() ? TSlash::Divide : Parens.back();
        if (!Parens.empty()) Parens.pop_back();
        Prev = Next == TSlash::Regex ? TTok::Control : TTok::Other;
        return;
      case ']':
        Literal();
        return;
      case ';':
        Prev = TTok::Start, Next = TSlash::Regex;
        return;
      case ':':
        Prev = TTok::Other, Next = TSlash::Regex;  // a label, a case, a key, "?:"
        return;
      case '+':
      case '-':
        // "a++ / b": the operand is done. (A "++" before a regular expression is an error.)
        if (before == c) {
          Prev = TTok::Other, Next = TSlash::Divide, Last = 0;
          return;
        }
        break;
      case '>':
        if (before == '=') {  // "=>": a body follows
          Prev = TTok::Other, Next = TSlash::Regex;
          return;
        }
        break;
      default:
        break;
    }
    Prev = TTok::Operator, Next = TSlash::Regex;
  }

  TState State = TState::Code;
  TSlash Next = TSlash::Regex;  // a "/" here
  TTok Prev = TTok::Start;
  bool Escaped = false;
  bool Star = false, Dollar = false, Class = false;
  bool AfterDot = false, WordAfterDot = false;  // a "." before: the name is a property
  bool LineStart = true;                        // only blanks since the line began
  bool SawDo = false;                           // a "do" was read: "while (...)" may end it
  bool MaybeSubst = false;  // "$" then a value in a template string: a "{" may open code
  char Arrow = 0;           // "-", "--" read at a line's start
  char Html = 0;            // "<!", "<!-" read
  char Last = 0;            // the last character read in code
  std::size_t SlashAt = 0;
  std::string Word, LastWord;  // the name or number being read; the last one (short ones)
  std::vector<TBrace> Braces;  // the "{" open, innermost last
  std::vector<TSlash> Parens;  // per "(" open: what a "/" after its ")" is
};

// Where CSS stands, fed one character at a time.
class TCssLexer {
 public:
  TCssPlace Where() const {
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

// The character that a character reference at AAt of AText stands for, with its length in
// ALength: a numeric one (a non-ASCII character as the byte 0x80), or a named one that stands
// for an ASCII character ("&quot;", "&lpar;", ...; "&quot", "&amp", "&lt" and "&gt" without
// ";" too, but in an attribute value not before a letter, a digit or "="). 0 when none stands
// there ("&" itself, or a name zoqc does not read, which AUnknown then says).
char SmallReference(std::string_view AText, std::size_t AAt, std::size_t& ALength,
                    bool AAttribute = true, bool* AUnknown = nullptr) {
  static constexpr struct {
    std::string_view Name;
    char Char;
  } names[] = {{"quot", '"'},         {"QUOT", '"'},     {"apos", '\''},
               {"amp", '&'},          {"AMP", '&'},      {"lt", '<'},
               {"LT", '<'},           {"gt", '>'},       {"GT", '>'},
               {"sol", '/'},          {"ast", '*'},      {"midast", '*'},
               {"bsol", '\\'},        {"NewLine", '\n'}, {"Tab", '\t'},
               {"colon", ':'},        {"grave", '`'},    {"DiacriticalGrave", '`'},
               {"lpar", '('},         {"rpar", ')'},     {"lcub", '{'},
               {"lbrace", '{'},       {"rcub", '}'},     {"rbrace", '}'},
               {"lsqb", '['},         {"lbrack", '['},   {"rsqb", ']'},
               {"rbrack", ']'},       {"semi", ';'},     {"comma", ','},
               {"period", '.'},       {"equals", '='},   {"plus", '+'},
               {"excl", '!'},         {"num", '#'},      {"dollar", '$'},
               {"percnt", '%'},       {"quest", '?'},    {"commat", '@'},
               {"lowbar", '_'},       {"verbar", '|'},   {"vert", '|'},
               {"VerticalLine", '|'}, {"Hat", '^'}};
  if (AUnknown) *AUnknown = false;
  if (AAt + 1 >= AText.size() || AText[AAt] != '&') return 0;
  std::size_t at = AAt + 1;
  if (AText[at] == '#') {
    const bool hex = at + 1 < AText.size() && (AText[at + 1] == 'x' || AText[at + 1] == 'X');
    std::size_t digits = at + 1 + hex, end = digits;
    std::uint32_t code = 0;
    for (; end < AText.size(); ++end) {
      const char d = AText[end];
      const int v = d >= '0' && d <= '9'                            ? d - '0'
                    : hex && (d | 0x20) >= 'a' && (d | 0x20) <= 'f' ? (d | 0x20) - 'a' + 10
                                                                    : -1;
      if (v < 0) break;
      code =
          std::min<std::uint32_t>(code * (hex ? 16 : 10) + static_cast<std::uint32_t>(v), 0x110000);
    }
    if (end == digits) return 0;  // "&#" alone is text
    ALength = end - AAt + (end < AText.size() && AText[end] == ';');
    return code >= 0x80 || code == 0 ? '\x80' : static_cast<char>(code);
  }
  std::size_t end = at;
  while (end < AText.size() && IsNameChar(AText[end])) ++end;
  if (end == at) return 0;
  const std::string_view name = AText.substr(at, end - at);
  const bool semicolon = end < AText.size() && AText[end] == ';';
  for (const auto& n : names) {
    if (semicolon && name == n.Name) {
      ALength = end + 1 - AAt;
      return n.Char;
    }
    // The legacy forms without ";" (a longer run may name another reference: unknown).
    if (!semicolon && name == n.Name && n.Name.size() <= 4 &&
        (n.Char == '"' || n.Char == '&' || n.Char == '<' || n.Char == '>')) {
      if (AAttribute && end < AText.size() && AText[end] == '=') return 0;
      ALength = end - AAt;
      return n.Char;
    }
  }
  if (AUnknown) *AUnknown = true;
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
    const TSpan next = NextPlaceholder(Text, AFrom);
    Limit = next.Begin, LimitEnd = next.End;
  }

  // The escaping of a context is told by these fields and the URL tail.
  static std::uint64_t KeyOf(const THtmlContext& c) {
    return std::uint64_t{static_cast<unsigned char>(c.Where)} |
           std::uint64_t{static_cast<unsigned char>(c.Attribute)} << 8 |
           std::uint64_t{static_cast<unsigned char>(c.Quote)} << 16 |
           std::uint64_t{static_cast<unsigned char>(c.Js)} << 24 |
           std::uint64_t{static_cast<unsigned char>(c.Css)} << 32 |
           std::uint64_t{static_cast<unsigned char>(c.Url)} << 40 |
           std::uint64_t{c.AfterAmp} << 48 | std::uint64_t{c.AfterLt} << 49 |
           std::uint64_t{c.LeadingNewline} << 50;
  }

  // Notes the placeholder at ASpan, which stands at the current position, with its context's
  // number: a refused context gets one of its own (its spans are its own), equal others alike.
  void Note(TSpan ASpan) {
    THtmlContext c;
    Here(ASpan, c);
    Spans.push_back(ASpan);
    Kinds.resize(Spans.size() - 1);  // the placeholders in text since the last one: 0
    const std::uint32_t number = static_cast<std::uint32_t>(Table.size());
    if (IsRefused(c) || c.Inner) {
      Refused = Refused || IsRefused(c);
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
        c.Where = State == TState::CData ? THtmlPlace::CData : THtmlPlace::Text;
        if (const char lexer = ForeignLexer()) {  // an SVG <script> or <style>
          c.Where = lexer == 's' ? THtmlPlace::Script : THtmlPlace::Style;
          c.Js = Js.Where(), c.Css = Css.Where();
          if (c.Js == TJsPlace::Unsure) c.Value = {Js.LostAt(), Js.LostAt() + 1};
        }
        if (State == TState::Data) {
          c.AfterAmp = AfterAmp(ASpan.Begin);
          c.LeadingNewline = Leading || LeadsContent(ASpan.Begin, "pre", "listing");
        }
        break;
      case TState::RcData:
        c.Where = THtmlPlace::RcData;
        c.AfterAmp = AfterAmp(ASpan.Begin);
        c.LeadingNewline = LeadsContent(ASpan.Begin, "textarea", "textarea");
        break;
      case TState::RawText:
        c.Where = Special == "style" ? THtmlPlace::Style : THtmlPlace::RawText;
        c.Css = Css.Where();
        if (Special == "xmp") c.ShownRaw = true, c.Name = SpecialName;
        break;
      case TState::ScriptData:
        c.Where = THtmlPlace::Script;
        c.Js = Js.Where();
        if (c.Js == TJsPlace::Unsure) c.Value = {Js.LostAt(), Js.LostAt() + 1};
        if (ScriptLost != kNowhere)  // a value earlier split "<!--", "-->" or "<script"
          c.Js = TJsPlace::Unsure, c.Value = {ScriptLost, Text.find('}', ScriptLost) + 1};
        c.AfterLt = AfterLt(ASpan.Begin);
        break;
      case TState::TagOpen:
      case TState::EndTagOpen:
      case TState::TagName:
        c.Where = THtmlPlace::TagName;
        break;
      case TState::BeforeAttrName:
      case TState::AttrName:
      case TState::AfterAttrName:
      case TState::AfterAttrValueQuoted:
      case TState::SelfClosingStartTag:
        c.Where = THtmlPlace::AttributeName;
        break;
      case TState::BeforeAttrValue:
      case TState::AttrValueUnquoted: {
        c.Where = THtmlPlace::Unquoted;
        c.Attribute = Kind();
        c.Name = Attr;
        std::size_t end = ASpan.Begin;
        while (end < Text.size() && !IsSpace(Text[end]) && Text[end] != '>') ++end;
        c.Value = {ValueStart == kNowhere ? ASpan.Begin : ValueStart, end};
        break;
      }
      case TState::AttrValueDouble:
      case TState::AttrValueSingle:
        c.Where = THtmlPlace::Attribute;
        c.Quote = State == TState::AttrValueDouble ? '"' : '\'';
        c.Attribute = ValueKind;
        c.Name = Attr;
        c.Js = Js.Where();
        c.Css = Css.Where();
        c.AfterAmp = AfterAmp(ASpan.Begin);
        if (c.Js == TJsPlace::Unsure) c.Value = {Js.LostAt(), Js.LostAt() + 1};
        if (c.Attribute == THtmlAttribute::Url) {
          c.Url = UrlSettled ? TUrlPlace::Settled
                  : UrlStart ? TUrlPlace::Start
                             : TUrlPlace::Unsettled;
          if (UrlScheme == TScheme::Script) c.Url = TUrlPlace::Script;
          if (UrlScheme == TScheme::Unknown) c.Url = TUrlPlace::Unknown, c.Value = SchemeSpan;
          if (c.Url == TUrlPlace::Start) c.UrlTail = Tail(ASpan, c.Quote);
          // Inside a scheme after markup: the value and the markup write it together.
          if (c.Url == TUrlPlace::Unsettled && !Tail(ASpan, c.Quote).empty())
            c.Url = TUrlPlace::Unknown,
            c.Value = {SchemeBegin == kNowhere ? ASpan.Begin : SchemeBegin, ASpan.End};
        }
        if (c.Attribute == THtmlAttribute::Srcdoc) {
          if (!Srcdoc) ReadSrcdoc(c.Quote);
          if (Srcdoc->Known && SrcdocNext < Srcdoc->Places.Spans().size())
            c.Inner = std::make_shared<const THtmlContext>(Srcdoc->Places.Context(SrcdocNext));
          ++SrcdocNext;
        }
        break;
      case TState::Comment:
      case TState::BogusComment:
        c.Where = THtmlPlace::Comment;
        break;
      case TState::Doctype:
      case TState::Php:
        c.Where = THtmlPlace::Declaration;
        break;
    }
  }

  // How many bytes a lookback reads at most: further back, it assumes the worst.
  static constexpr std::size_t kLookback = 64;

  // At, back over the placeholder that ends there: its "{" (or at, when none ends there).
  std::size_t BeforePlaceholder(std::size_t at) const {
    if (at < 3 || Text[at - 1] != '}') return at;
    std::size_t open = at - 2;
    while (open > 0 && at - open < kLookback && Text[open] != '{') --open;
    return Text[open] == '{' && PlaceholderEnd(Text, open) == at ? open : at;
  }

  // True when the markup before AAt (values printed there taken as empty) ends in "&", "&#" or
  // "&" and letters or digits: a value's first character could complete a character reference.
  bool AfterAmp(std::size_t at) const {
    const std::size_t from = at;
    while (at > 0 && from - at < kLookback) {
      const char p = Text[at - 1];
      if (IsNameChar(p) || p == '#') {
        --at;
        continue;
      }
      const std::size_t open = BeforePlaceholder(at);
      if (open == at) return p == '&';
      at = open;
    }
    return at > 0;
  }

  // True when the script's markup before AAt ends in "<", then "/" or "!" or nothing, then
  // letters, or in "<!-" (values printed there taken as empty): a value's first character
  // could go on to make "<!--" or "<script".
  bool AfterLt(std::size_t at) const {
    const std::size_t from = at;
    while (at > 0 && from - at < kLookback) {
      const char p = Text[at - 1];
      if (IsAlpha(p)) {
        --at;
        continue;
      }
      const std::size_t open = BeforePlaceholder(at);
      if (open != at) {
        at = open;
        continue;
      }
      if ((p == '/' || p == '!') && at > 1 && Text[at - 2] == '<') return true;
      if (p == '-' && at > 2 && Text[at - 2] == '!' && Text[at - 3] == '<') return true;
      return p == '<';
    }
    return at > 0;
  }

  // True when AAt stands right after the ">" of a start tag <AOne> or <ATwo>, after which
  // the browser drops one line end.
  bool LeadsContent(std::size_t at, std::string_view AOne, std::string_view ATwo) const {
    if (EndTag || at == 0 || TagCloseAt != at - 1) return false;
    const std::string_view name = Text.substr(Tag.Begin, Tag.End - Tag.Begin);
    return SameText(name, AOne) || SameText(name, ATwo);
  }

  // The markup after span ASpan in a quoted URL value up to its first ':', '/', '?' or '#'
  // (kept when it is ':'), other placeholders left out. A character reference may be any of
  // those: it counts as ':'.
  std::string Tail(TSpan ASpan, char AQuote) const {
    std::string tail;
    for (std::size_t i = ASpan.End; i < Text.size() && Text[i] != AQuote; ++i) {
      if (const std::size_t end = Text[i] == '{' ? PlaceholderEnd(Text, i) : 0) {
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
        if (SplitsScriptMarkup(Limit, LimitEnd) && ScriptLost == kNowhere) ScriptLost = Limit;
        Js.Value(), Dashes = 0;
        break;
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
        // A value after markup in a URL's scheme may write any scheme with it.
        if (ValueKind == THtmlAttribute::Url && !UrlSettled && !UrlStart) SchemeUnsure = true;
        if (UrlStart) SchemeBegin = Limit;
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

  // The script data's escaped and double-escaped states at i, before the byte there is read:
  // "<!--" escapes, "<script" then double-escapes (where "</script>" ends nothing), "</script"
  // escapes again, "-->" leaves both.
  void ScriptEscapes(std::size_t i) {
    if (i < EscapesSkip) return;
    const char c = Text[i];
    if (Escapes == TEscapes::None) {
      if (c == '<' && Text.compare(i, 4, "<!--") == 0)
        Escapes = TEscapes::Escaped, Dashes = 2, EscapesSkip = i + 4;
      return;
    }
    if (c == '-') {
      ++Dashes;
      return;
    }
    const bool end = c == '>' && Dashes >= 2;
    Dashes = 0;
    if (end) {
      Escapes = TEscapes::None;
      return;
    }
    if (c != '<') return;
    const bool close = Escapes == TEscapes::DoubleEscaped;
    const std::size_t name = i + 1 + close;
    if (name + 6 >= Text.size() || (close && Text[name - 1] != '/') ||
        !SameText(Text.substr(name, 6), "script"))
      return;
    const char after = Text[name + 6];
    if (!IsSpace(after) && after != '/' && after != '>') return;
    Escapes = close ? TEscapes::Escaped : TEscapes::DoubleEscaped;
    EscapesSkip = name + 6;
  }

  // A value printed in a script at [ABegin, AEnd): when the bytes around it would read as
  // part of "<!--", "-->", "<script" or "</script" only while the value is empty, the states
  // after it are unknown.
  bool SplitsScriptMarkup(std::size_t ABegin, std::size_t AEnd) const {
    if (ABegin == 0 || AEnd >= Text.size()) return false;
    const char next = Text[AEnd];
    const char prev = Text[ABegin - 1];
    if (next == '{') return prev == '<' || prev == '!' || prev == '-' || IsAlpha(prev);
    if (prev == '<') return next == '!' || next == '/' || IsAlpha(next);
    if (prev == '!') return ABegin >= 2 && Text[ABegin - 2] == '<' && next == '-';
    if (prev == '-') return next == '-' || next == '>';
    if (!IsAlpha(prev)) return false;
    std::size_t at = ABegin - 1;
    while (at > 0 && ABegin - at < 8 && IsAlpha(Text[at])) --at;
    if (Text[at] == '/' && at > 0) --at;
    return Text[at] == '<' && (IsAlpha(next) || IsSpace(next) || next == '/' || next == '>');
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
    TagCloseAt = StepAt;
    IslandDirect = false;
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
        IslandDirect = island;
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
    Special = TagLower, SpecialName = Tag;
    if (Special == "script") {
      State = TState::ScriptData, Js.Reset();
      Escapes = TEscapes::None, EscapesSkip = 0, Dashes = 0, ScriptLost = kNowhere;
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
    if (!Foreign() && std::string_view(AttrLower) == "srcdoc" &&
        std::string_view(TagLower) == "iframe")
      return THtmlAttribute::Srcdoc;
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
    if (ValueKind == THtmlAttribute::Url) {
      UrlScheme = TScheme::Plain, Scheme.clear(), SchemeUnsure = false, SchemeBegin = kNowhere;
    }
    if (ValueKind == THtmlAttribute::Srcdoc) Srcdoc.reset(), SrcdocNext = 0;
  }

  // Feeds a byte of a quoted attribute value to the lexer of its attribute.
  std::size_t ValueByte(std::size_t i) {
    const char c = Text[i];
    const THtmlAttribute kind = ValueKind;
    std::size_t length = 1;
    char decoded = c;
    bool unknown = false;
    if (c == '&') {
      const char ref = SmallReference(Text, i, length, true, &unknown);
      if (ref)
        decoded = ref;
      else
        length = 1;
    }
    if (kind == THtmlAttribute::Event) Js.Feed(decoded, i);
    if (kind == THtmlAttribute::Style) Css.Feed(decoded);
    if (kind != THtmlAttribute::Url || ValuesItems) return i + length;
    if (UrlScheme == TScheme::Script) {  // JavaScript, once its "%XX" are decoded
      if (decoded == '%' && c == '%' && i + 2 < Text.size() && IsHex(Text[i + 1]) &&
          IsHex(Text[i + 2])) {
        Js.Feed(static_cast<char>(HexValue(Text[i + 1]) * 16 + HexValue(Text[i + 2])), i);
        return i + 3;
      }
      if (decoded == '%' || unknown)  // a "%" or a character zoqc does not read
        UrlScheme = TScheme::Unknown, SchemeSpan = {i, i + length};
      Js.Feed(decoded, i);
      return i + length;
    }
    if (UrlSettled) return i + length;
    // The browser strips leading blanks and control characters, and tabs and line ends
    // anywhere. A reference zoqc does not read may stand for any character.
    if (unknown) {
      UrlStart = false, SchemeUnsure = true;
      return NameEnd(Text, i + 1) + 1;
    }
    if (decoded == ':') {
      UrlSettled = true;
      Settle(i + length);
    } else if (decoded == '/' || decoded == '?' || decoded == '#') {
      UrlSettled = true;
    } else if (static_cast<unsigned char>(decoded) > 0x20) {
      if (UrlStart) SchemeBegin = i;
      UrlStart = false;
      if (decoded != '\t' && decoded != '\n' && decoded != '\r' && Scheme.size() < 16)
        Scheme += Lower(decoded);
    }
    return i + length;
  }

  static bool IsHex(char c) { return HexValue(c) >= 0; }
  static int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') return (c | 0x20) - 'a' + 10;
    return -1;
  }

  // The scheme of a URL value ends at AAfter (its ":" before it): JavaScript follows, or a
  // scheme that shows script, or one zoqc cannot read, or a harmless one.
  void Settle(std::size_t AAfter) {
    SchemeSpan = {SchemeBegin == kNowhere ? AAfter - 1 : SchemeBegin, AAfter};
    if (SchemeUnsure) {
      UrlScheme = TScheme::Unknown;
    } else if (Scheme == "javascript") {
      UrlScheme = TScheme::Script;
    } else if (Scheme == "vbscript") {
      UrlScheme = TScheme::Unknown;
    } else if (Scheme == "data") {
      // An image shows no script; any other type may be a document.
      std::size_t end = AAfter;
      while (end < Text.size() && end - AAfter < 16 && Text[end] != ';' && Text[end] != ',' &&
             Text[end] != '{')
        ++end;
      const std::string_view type = Text.substr(AAfter, end - AAfter);
      const bool image = end < Text.size() && Text[end] != '{' &&
                         (SameText(type, "image/png") || SameText(type, "image/gif") ||
                          SameText(type, "image/jpeg") || SameText(type, "image/jpg") ||
                          SameText(type, "image/webp") || SameText(type, "image/avif"));
      if (!image) UrlScheme = TScheme::Unknown;
    }
  }

  // The document of an <iframe>'s srcdoc, from the value's start to its closing AQuote, its
  // character references decoded, and the contexts of its placeholders. A reference zoqc does
  // not read, or one that makes a "{" or "}" (a placeholder the template does not hold), leaves
  // the document unknown.
  void ReadSrcdoc(char AQuote) {
    Srcdoc = std::make_unique<TSrcdoc>();
    const std::size_t end = std::min(Text.find(AQuote, ValueStart), Text.size());
    std::string inner;
    for (std::size_t i = ValueStart; i < end;) {
      std::size_t length = 1;
      bool unknown = false;
      const char ref = Text[i] == '&' ? SmallReference(Text, i, length, true, &unknown) : 0;
      if (unknown || ref == '{' || ref == '}' || ref == '\x80') return;
      inner += ref ? ref : Text[i];
      i += ref ? length : 1;
    }
    Srcdoc->Text = std::move(inner);
    Srcdoc->Places = TTemplateContexts(Srcdoc->Text);
    Srcdoc->Known = true;
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
        if (const std::size_t end = PlaceholderEnd({text, size}, i)) {
          // Right after <pre> or <listing>, or after "&" and a name: a context of its own.
          const char p = i > 0 ? text[i - 1] : ' ';
          if ((p == '>' ||
               ((IsNameChar(p) || p == '#' || p == '&' || p == '}') && !PlainBefore(text, i))) &&
              NoteOddText(i, end, last))
            ;
          else
            NoteText(i, end);
        }
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
      TagCloseAt = kNowhere;
      EndTag = text[last + 1] == '/';
      std::size_t name_end = last + 1 + EndTag;
      while (!kTagNameStop[static_cast<unsigned char>(text[name_end])]) ++name_end;
      Tag = {last + 1 + EndTag, name_end};
      SelfClosing = FontAttr = HtmlEncoding = false;
      PlainLast = true;
    }
    return i;
  }

  // True when the 8 bytes before AAt of AText (at least 8 there) hold no "&", "#" or "}" but
  // a byte below "0" (a blank, a comma, ...): the name before AAt, if any, follows no "&".
  static bool PlainBefore(const char* AText, std::size_t AAt) {
    if (AAt < 8) return false;
    std::uint64_t x;
    std::memcpy(&x, AText + AAt - 8, 8);
    constexpr std::uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
    const auto zero = [](std::uint64_t v) { return (v - ones) & ~v & highs; };
    const bool odd = zero(x ^ (ones * '&')) | zero(x ^ (ones * '#')) | zero(x ^ (ones * '}'));
    return !odd && ((x - ones * '0') & ~x & highs) != 0;
  }

  // A placeholder in text at [AAt, AEnd) after ">" or a name: noted with a context of its
  // own when it stands right after <pre> or <listing> (whose "<" is at ALast) or after "&" and
  // a name. False when it is plain text after all.
  [[gnu::noinline]] bool NoteOddText(std::size_t AAt, std::size_t AEnd, std::size_t ALast) {
    const char* const text = Text.data();
    std::size_t k = AAt;
    while (k > 0 && AAt - k < kLookback && IsNameChar(text[k - 1])) --k;
    const char before = k > 0 ? text[k - 1] : ' ';
    if (k == AAt && before == '>') {
      if (!LeadsPlain(ALast, AAt)) return false;
      Leading = true;
      Note({AAt, AEnd});
      Leading = false;
      return true;
    }
    if ((before != '&' && before != '#' && before != '}' && AAt - k < kLookback) || !AfterAmp(AAt))
      return false;
    Note({AAt, AEnd});
    return true;
  }

  // True when the tag whose "<" is at ALast is <pre> or <listing> and ends right before AAt.
  bool LeadsPlain(std::size_t ALast, std::size_t AAt) const {
    if (ALast == kNowhere || Text[ALast + 1] == '/') return false;
    std::size_t name_end = ALast + 1;
    while (name_end < Text.size() && !kTagNameStop[static_cast<unsigned char>(Text[name_end])])
      ++name_end;
    const std::string_view name = Text.substr(ALast + 1, name_end - ALast - 1);
    if (!SameText(name, "pre") && !SameText(name, "listing")) return false;
    const std::size_t close = Text[name_end] == '>' ? name_end : TagEnd(name_end);
    return close == AAt - 1;
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
    const TBytes<2> stops('<', '{');
    std::uint64_t bits = 0;
    for (int k = 0; k < 4; ++k) bits |= std::uint64_t{stops.In16(AAt + 16 * k)} << (16 * k);
    return bits;
  }

  // The first byte at or after AFrom that is AOne or ATwo, or the template's size.
  std::size_t NextOf(std::size_t AFrom, char AOne, char ATwo) const {
    return TBytes<2>(AOne, ATwo).Next(Text, AFrom);
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
    StepAt = end;
    EmitTag();
    i = end + 1;
    return true;
  }

  // Reads the byte (or the few) at i in the current state; returns where to go on.
  std::size_t Step(std::size_t i) {
    const char c = Text[i];
    StepAt = i;
    switch (State) {
      case TState::Data:
        if (c == '<') {
          State = TState::TagOpen;
          return i + 1;
        }
        if (const char lexer = ForeignLexer()) {  // the text of an SVG script or style sheet
          std::size_t length = 1;
          const char ref = c == '&' ? SmallReference(Text, i, length, false) : 0;
          (lexer == 's' ? Js.Feed(ref ? ref : c, i) : Css.Feed(ref ? ref : c));
          return i + (ref ? length : 1);
        }
        return i + 1;
      case TState::CData:
        if (Text.compare(i, 3, "]]>") == 0) {
          State = TState::Data;
          return i + 3;
        }
        if (ForeignLexer() == 's') Js.Feed(c, i);
        if (ForeignLexer() == 'c') Css.Feed(c);
        return i + 1;
      case TState::PlainText:
        return i + 1;
      case TState::RcData:
      case TState::RawText:
      case TState::ScriptData:
        if (c == '<' && EndTagAt(i) &&
            (State != TState::ScriptData || Escapes != TEscapes::DoubleEscaped)) {
          Tag = {i + 2, i + 2};
          TagLower.clear();
          PlainLast = false;
          EndTag = true;
          State = TState::TagName;
          return i + 2;
        }
        if (State == TState::ScriptData) ScriptEscapes(i), Js.Feed(c, i);
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
    // A CDATA section where the current node is an SVG or MathML element, integration points
    // (<ms>, <foreignObject>, ...) with no HTML element opened in them yet included.
    if ((Foreign() || (!Open.empty() && IslandDirect)) && Text.compare(i, 7, "[CDATA[") == 0) {
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
  TSpan SpecialName;       // its start tag's name as written
  enum class TEscapes : unsigned char { None, Escaped, DoubleEscaped };
  TEscapes Escapes = TEscapes::None;  // a script's escaped states
  std::size_t EscapesSkip = 0;        // the bytes before it were read as "<!--" or "<script"
  std::size_t Dashes = 0;             // the "-" read in a row in an escaped state
  std::size_t ScriptLost = kNowhere;  // the value after which the escaped states are unknown
  TSpan Attr;                         // the attribute's name as written
  std::string AttrLower;              // and lower-cased
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
  // A URL value's scheme: read so far (lower-cased, blanks left out), where it starts, and
  // whether a value or a reference zoqc does not read helped write it.
  enum class TScheme : unsigned char { Plain, Script, Unknown };
  TScheme UrlScheme = TScheme::Plain;
  std::string Scheme;
  bool SchemeUnsure = false;
  std::size_t SchemeBegin = kNowhere;
  TSpan SchemeSpan;
  struct TSrcdoc {
    std::string Text;  // the document, decoded
    TTemplateContexts Places{std::string_view()};
    bool Known = false;
  };
  std::unique_ptr<TSrcdoc> Srcdoc;    // the srcdoc being read, once a placeholder asked for it
  std::size_t SrcdocNext = 0;         // the number of its placeholder to come
  std::size_t StepAt = 0;             // the byte Step reads
  std::size_t TagCloseAt = kNowhere;  // the ">" of the last tag Step read
  bool Leading = false;               // PlainRun notes a placeholder right after <pre> or <listing>
  bool IslandDirect = false;          // the last tag opened an integration point
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

std::size_t TTemplateContexts::Find(std::size_t AAt) const {
  if (Last < PlaceSpans.size() && PlaceSpans[Last].Begin == AAt) return Last;
  const auto it = std::lower_bound(PlaceSpans.begin(), PlaceSpans.end(), AAt,
                                   [](const TSpan& s, std::size_t at) { return s.Begin < at; });
  if (it == PlaceSpans.end() || it->Begin != AAt) return kNowhere;
  return Last = static_cast<std::size_t>(it - PlaceSpans.begin());
}

// The words for each place, in the order of its enum (Script, Style and Attribute say more).
constexpr const char* kJsWords[] = {"a JavaScript value",
                                    "a JavaScript string",
                                    "a JavaScript string",
                                    "a JavaScript template string",
                                    "a JavaScript comment",
                                    "a JavaScript regular expression",
                                    "JavaScript that zoqc cannot read"};
constexpr const char* kCssWords[] = {"a CSS value", "a CSS string", "a CSS string", "a CSS comment",
                                     "a CSS url()"};
constexpr const char* kHtmlWords[] = {"text",
                                      "text in <title> or <textarea>",
                                      "raw text (no character references)",
                                      "an HTML comment",
                                      "a CDATA section",
                                      "",
                                      "",
                                      "",
                                      "an unquoted attribute value",
                                      "a tag name",
                                      "an attribute name",
                                      "a declaration or PHP code"};
static_assert(std::size(kJsWords) == static_cast<std::size_t>(TJsPlace::Unsure) + 1);
static_assert(std::size(kCssWords) == static_cast<std::size_t>(TCssPlace::Url) + 1);
static_assert(std::size(kHtmlWords) == static_cast<std::size_t>(THtmlPlace::Declaration) + 1);

std::string DescribeContext(const THtmlContext& AContext) {
  const std::string js = kJsWords[static_cast<std::size_t>(AContext.Js)];
  const std::string css = kCssWords[static_cast<std::size_t>(AContext.Css)];
  if (AContext.Where == THtmlPlace::Script) return js + " in <script>";
  if (AContext.Where == THtmlPlace::Style) return css + " in <style>";
  if (AContext.Where != THtmlPlace::Attribute)
    return kHtmlWords[static_cast<std::size_t>(AContext.Where)];
  switch (AContext.Attribute) {
    case THtmlAttribute::Plain:
      return "an attribute value";
    case THtmlAttribute::Url:
      if (AContext.Url == TUrlPlace::Script) return js + " in a javascript: URL";
      if (AContext.Url == TUrlPlace::Unknown)
        return "a URL whose scheme may run script or is not the markup's own";
      return "a URL attribute";
    case THtmlAttribute::Srcdoc:
      return AContext.Inner ? DescribeContext(*AContext.Inner) + " in an iframe's srcdoc"
                            : "an iframe's srcdoc that zoqc cannot read";
    case THtmlAttribute::Event:
      return js + " in an event-handler attribute";
    case THtmlAttribute::Style:
      return css + " in a style attribute";
  }
  return "";
}

}  // namespace zoqc
