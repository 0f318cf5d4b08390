// In what HTML context each placeholder of a template stands: the state a browser's HTML
// tokenizer is in at its first byte, and inside a script or a style sheet the state of the
// JavaScript or CSS around it. The escaped translation asks it which escaper a value needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "src/text/large_blocks.h"
#include "src/text/span.h"

namespace zoqc {

// Where in the markup a value is printed.
enum class THtmlPlace : unsigned char {
  Text,           // element content (the data state), also after <plaintext>
  RcData,         // inside <title> or <textarea>: text, character references decoded
  RawText,        // inside <xmp>, <iframe>, <noembed>, <noframes>, <noscript>: nothing decoded
                  // (in <xmp>, ShownRaw: refused)
  Comment,        // inside "<!--" ... "-->" (or a bogus comment "<!x ...>")
  CData,          // inside "<![CDATA[" ... "]]>" in SVG or MathML: nothing decoded
  Attribute,      // a quoted attribute value (Quote says which quote)
  Script,         // inside <script>: JavaScript (Js says where)
  Style,          // inside <style>: CSS (Css says where)
  Unquoted,       // an unquoted attribute value: refused, the value should be quoted
  TagName,        // "<{x}", "</{x}", "<div{x}": refused
  AttributeName,  // "<div {x}>", "<a href=\"\"{x}>": refused
  Declaration,    // "<!DOCTYPE {x}>", "<?php ... {x} ... ?>": refused
};

// The kind of an attribute by its name (lower-cased).
enum class THtmlAttribute : unsigned char {
  Plain,   // any other attribute
  Url,     // href, src, action, formaction, ...: a URL
  Event,   // on*: JavaScript (Js says where)
  Style,   // style: CSS declarations (Css says where)
  Srcdoc,  // an <iframe>'s srcdoc: an HTML document (Inner says where in it)
};

enum class TJsPlace : unsigned char {
  Code,            // where an expression may stand
  SingleString,    // '...'
  DoubleString,    // "..."
  TemplateString,  // `...`
  Comment,         // "// ..." or "/* ... */"
  Regex,           // /.../
  Unsure,          // after a "/" that may divide or open a regular expression: refused
};

enum class TCssPlace : unsigned char {
  Code,          // a property value, a selector, ...
  DoubleString,  // "..."
  SingleString,  // '...'
  Comment,       // "/* ... */"
  Url,           // url(...) without quotes
};

// How far the scheme of a URL attribute's value is settled where the value is printed.
enum class TUrlPlace : unsigned char {
  Start,      // at the value's start (after blanks): the value chooses the scheme
  Unsettled,  // after markup or other values that hold no ':', '/', '?' or '#' yet
  Settled,    // after a ':', '/', '?' or '#' of the markup: the scheme is chosen
  Script,     // after "javascript:" written by the markup: JavaScript (Js says where)
  Unknown,    // after a scheme that runs or shows script ("vbscript:", "data:text/html,"), or
              // one that a value or a character reference zoqc does not read helped write:
              // refused
};

struct THtmlContext {
  THtmlPlace Where = THtmlPlace::Text;
  THtmlAttribute Attribute = THtmlAttribute::Plain;  // Attribute and Unquoted
  char Quote = 0;                                    // Attribute: '"' or '\''
  TJsPlace Js = TJsPlace::Code;                      // Script, or an Event attribute
  TCssPlace Css = TCssPlace::Code;                   // Style, or a Style attribute
  TUrlPlace Url = TUrlPlace::Settled;                // a Url attribute
  std::string UrlTail;    // Url Start: the markup after the value up to its first ':', '/', '?'
                          // or '#' (through a ':'; "" otherwise), which the scheme check
                          // reads with the value: "{x}script:" makes "java" a script URL
  bool AfterAmp = false;  // a "&" of the markup (then "#" or letters) stands right before:
                          // the value's first character could complete a reference
  bool AfterLt = false;   // in a <script>, "<" (then "!", "/" or letters) stands right before
  bool LeadingNewline = false;  // right after <pre>, <listing> or <textarea>: the browser drops
                                // one line end there
  bool ShownRaw = false;  // RawText in <xmp>, which shows its text as written: an escaped value
                          // would show its escapes, a raw one could end the element
  std::shared_ptr<const THtmlContext> Inner;  // Srcdoc: the context in the inner document
                                              // (none: zoqc cannot read it; refused)
  TSpan Value;  // Unquoted: the attribute value's bytes in the template; Js Unsure:
                // the "/" that leaves it open; Url Unknown: the scheme
  TSpan Name;   // Attribute, Unquoted: the attribute's name; TagName and the
                // refused others: the tag's name read so far; ShownRaw: the start tag's name
};

// The contexts of every "{name}" and "{!name}" of a template, found by one pass of the HTML
// tokenizer that also finds the placeholders: each placeholder gets a context number, equal
// contexts alike (a refused one its own), and the contexts are kept once per number. A
// placeholder in text between simple tags is noted by its number alone.
class TTemplateContexts {
 public:
  explicit TTemplateContexts(std::string_view ATemplate);
  std::span<const TSpan> Spans() const { return PlaceSpans; }
  // Per placeholder of Spans, its context number: an index of Distinct.
  std::span<const std::uint32_t> Kinds() const { return PlaceKinds; }
  // The distinct contexts; number 0 is text (also for a placeholder the template does not hold).
  std::span<const THtmlContext> Distinct() const { return Table; }
  // The context of the placeholder at AIndex of Spans.
  const THtmlContext& Context(std::size_t AIndex) const { return Table[PlaceKinds[AIndex]]; }
  // True when some placeholder stands where IsRefused.
  bool AnyRefused() const { return Refused; }
  // The index in Spans of the placeholder at template offset AAt, or kNowhere. Quick when the
  // offsets are asked in order.
  std::size_t IndexAt(std::size_t AAt) const {
    if (Last + 1 < PlaceSpans.size() && PlaceSpans[Last + 1].Begin == AAt) return ++Last;
    return Find(AAt);
  }

 private:
  std::size_t Find(std::size_t AAt) const;  // IndexAt, by a search
  TLargeVector<TSpan> PlaceSpans;
  TLargeVector<std::uint32_t> PlaceKinds;
  std::vector<THtmlContext> Table;
  bool Refused = false;
  mutable std::size_t Last = 0;  // the index answered last
};

// True for the contexts where no escaping can make a value safe (or, Unquoted, where the
// attribute should be quoted first).
inline bool IsRefused(const THtmlContext& AContext) {
  switch (AContext.Where) {
    case THtmlPlace::Unquoted:
    case THtmlPlace::TagName:
    case THtmlPlace::AttributeName:
    case THtmlPlace::Declaration:
      return true;
    case THtmlPlace::RawText:
      return AContext.ShownRaw;
    case THtmlPlace::Script:
      return AContext.Js == TJsPlace::Unsure;
    case THtmlPlace::Attribute:
      if (AContext.Attribute == THtmlAttribute::Srcdoc)
        return !AContext.Inner || IsRefused(*AContext.Inner);
      if (AContext.Attribute == THtmlAttribute::Url)
        return AContext.Url == TUrlPlace::Unknown ||
               (AContext.Url == TUrlPlace::Script && AContext.Js == TJsPlace::Unsure);
      return AContext.Attribute == THtmlAttribute::Event && AContext.Js == TJsPlace::Unsure;
    default:
      return false;
  }
}

// The context in words, for hover and messages: "a URL attribute", "a JavaScript string", ...
std::string DescribeContext(const THtmlContext& AContext);

}  // namespace zoqc
