// Tests of the HTML contexts: each tokenizer state a placeholder can stand in, and the edges
// where the state changes.
#include "src/html/html_context.h"
#include "src/model/page_model.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace zoqc {
namespace {

// The context of every "{name}" and "{!name}" of ATemplate, in order.
std::vector<THtmlContext> HtmlContexts(std::string_view ATemplate) {
  const TTemplateContexts contexts(ATemplate);
  std::vector<THtmlContext> all;
  for (std::size_t p = 0; p < contexts.Spans().size(); ++p) all.push_back(contexts.Context(p));
  return all;
}

// The spans of every "{" name "}" and "{!" name "}" of ATemplate.
std::vector<TSpan> Spans(std::string_view ATemplate) {
  std::vector<TSpan> spans;
  for (std::size_t i = ATemplate.find('{'); i != std::string_view::npos;
       i = ATemplate.find('{', i + 1)) {
    std::size_t end = i + 1 + (ATemplate.substr(i + 1, 1) == "!");
    const std::size_t name = end;
    while (end < ATemplate.size() && std::isalnum(static_cast<unsigned char>(ATemplate[end])))
      ++end;
    if (end > name && ATemplate.substr(end, 1) == "}") spans.push_back({i, end + 1});
  }
  return spans;
}

// The context of the last placeholder of ATemplate, in words.
std::string Last(std::string_view ATemplate) {
  return DescribeContext(HtmlContexts(ATemplate).back());
}

TEST(HtmlContexts, MarkupStates) {
  EXPECT_EQ("text", Last("<p>{x}</p>"));
  EXPECT_EQ("text", Last("<p>a < b {x}"));                  // "< " opens no tag
  EXPECT_EQ("text", Last("<!--BEGIN row--><li>{x}</li>"));  // a block marker is a comment
  EXPECT_EQ("text", Last("<title>t</title>{x}"));           // the end tag closes RCDATA
  EXPECT_EQ("text in <title> or <textarea>", Last("<TITLE>{x}</TITLE>"));
  EXPECT_EQ("text in <title> or <textarea>", Last("<textarea></textareax>{x}"));  // no end tag
  // Markup in raw text opens nothing, and only the element's own end tag leaves it.
  for (const std::string name : {"xmp", "iframe", "noembed", "noframes", "noscript"}) {
    EXPECT_EQ("raw text (no character references)", Last("<" + name + "><b title='{x}")) << name;
    EXPECT_EQ("text", Last("<" + name + "><script></" + name + ">{x}")) << name;
  }
  EXPECT_EQ("text", Last("<plaintext></plaintext><p>{x}"));  // nothing ends plaintext
  EXPECT_EQ("an HTML comment", Last("<!-- {x} -->"));
  EXPECT_EQ("text", Last("<!-->{x}"));             // closed at once
  EXPECT_EQ("text", Last("<!-- a --!>{x}"));       // "--!>" ends a comment too
  EXPECT_EQ("an HTML comment", Last("<!x {x}>"));  // a bogus comment
  EXPECT_EQ("a declaration or PHP code", Last("<!DOCTYPE {x}>"));
  EXPECT_EQ("a declaration or PHP code", Last("<?php if ($a > 1) { {x} ?>"));
  EXPECT_EQ("text", Last("<?php if ($a > 1) ?><b>{x}"));  // the markup goes on after "?>"
}

// In SVG and MathML no tag switches the tokenizer, CDATA sections exist, a few HTML tags end
// the foreign content, and integration points hold HTML again.
TEST(HtmlContexts, SvgAndMathMl) {
  const struct {
    std::string_view Template, Context;
  } cases[] = {
      {"<svg><script>var a = {x}", "a JavaScript value in <script>"},
      {"<svg><script>var a = &quot;{x}", "a JavaScript string in <script>"},  // decoded
      {"<svg><style>a { content: '{x}' }", "a CSS string in <style>"},
      {"<svg><textarea><a href=\"{x}\">", "a URL attribute"},
      {"<svg><font><xmp><a href=\"{x}\">", "a URL attribute"},
      {"<svg><set attributeName=href to=\"{x}\"/>", "a URL attribute"},
      {"<svg><![CDATA[<b>{x}]]>", "a CDATA section"},
      {"<svg><![CDATA[]]>{x}", "text"},
      {"<![CDATA[{x}]]>", "an HTML comment"},  // outside SVG and MathML
      {"<svg><p><textarea>{x}", "text in <title> or <textarea>"},
      {"<svg><font color=red><textarea>{x}", "text in <title> or <textarea>"},
      {"<svg/><textarea>{x}", "text in <title> or <textarea>"},
      {"<svg><g></g></svg><textarea>{x}", "text in <title> or <textarea>"},
      {"<svg><foreignObject><textarea>{x}", "text in <title> or <textarea>"},
      {"<math><mi><xmp>{x}", "raw text (no character references)"},
      {"<math><mi><mglyph><xmp>{x}", "text"},
      {"<math><ms><![CDATA[{x}]]></ms></math>", "a CDATA section"},  // the current node: <ms>
      {"<svg><foreignObject><![CDATA[{x}]]>", "a CDATA section"},
      {"<math><ms><b><![CDATA[{x}]]>", "an HTML comment"},  // the current node: <b>
  };
  for (const auto& c : cases) EXPECT_EQ(c.Context, Last(c.Template)) << c.Template;
}

TEST(HtmlContexts, Tags) {
  EXPECT_EQ("a tag name", Last("<{x}>"));
  EXPECT_EQ("a tag name", Last("</{x}>"));
  EXPECT_EQ("a tag name", Last("<div{x}>"));
  EXPECT_EQ("an attribute name", Last("<div {x}>"));
  EXPECT_EQ("an attribute name", Last("<div data-{x}=1>"));
  EXPECT_EQ("an attribute name", Last("<a href=\"\"{x}>"));  // right after a quoted value
  EXPECT_EQ("an attribute name", Last("<br/{x}>"));
  EXPECT_EQ("an unquoted attribute value", Last("<a title={x}>"));
  EXPECT_EQ("an unquoted attribute value", Last("<a title = a{x}>"));
  EXPECT_EQ("an attribute value", Last("<a title=\"{x}\">"));
  EXPECT_EQ("an attribute value", Last("<a title='{x}'>"));
  EXPECT_EQ("an attribute value", Last("<a title='\"' alt=\"{x}\">"));  // the other quote
  EXPECT_EQ("text", Last("<a title=\">\">{x}"));  // ">" in a quoted value ends no tag
  EXPECT_EQ("text", Last("<a title=x>{x}"));
}

// Tags read at once in HTML content must end where the tag states end them, and leave the tags
// that switch the tokenizer, and those that hold a placeholder, to the states.
TEST(HtmlContexts, TagsReadAtOnce) {
  const struct {
    std::string_view Template, Context;
  } cases[] = {
      {"<p title=\"a>b\">{x}", "text"},
      {"<p title='a>b' {x}>", "an attribute name"},
      {"<p title='{x}>'", "an attribute value"},
      {"<p a=\"1\"='>'{x}", "text"},  // "=" after a value starts a name: "'" ends nothing
      {"<p a = '>'{x}", "an attribute name"},
      {"<p a=b'>'{x}", "text"},  // a quote inside an unquoted value
      {"<p/title='>'{x}", "an attribute name"},
      {"<p>a<b>c</b\n>{x}", "text"},
      {"<scripts>{x}", "text"},
      {"</script><style></scripts>{x}", "a CSS value in <style>"},
      {"<SCRIPT>{x}", "a JavaScript value in <script>"},
      {"<TextArea\ttitle='>'>{x}", "text in <title> or <textarea>"},
      {"<Svg><script>{x}", "a JavaScript value in <script>"},
      {"<td{x}>", "a tag name"},
      {"<td class=\"a\" {x}>", "an attribute name"},
      {"</td {x}>", "an attribute name"},
      {"<td title=a{x}>", "an unquoted attribute value"},
      {"<script></script><l><{y}><{x}", "a tag name"},
      {"<b>{x}<p title='", "text"},  // a tag cut at the end
      {"<b>{x}</b", "text"},         // a name that runs to the end
      {"{x}<b", "text"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Context, Last(c.Template)) << c.Template;
}

TEST(HtmlContexts, UnquotedValueSpanForTheFix) {
  const std::string_view tmpl = "<a title=a{x}b c>";
  const THtmlContext c = HtmlContexts(tmpl).back();
  EXPECT_EQ("a{x}b", c.Value.Of(tmpl));
  EXPECT_EQ("title", c.Name.Of(tmpl));
}

TEST(HtmlContexts, UrlAttributes) {
  const auto url = [](std::string_view ATemplate) { return HtmlContexts(ATemplate).back(); };
  EXPECT_EQ(THtmlAttribute::Url, url("<a HREF=\"{x}\">").Attribute);
  EXPECT_EQ(THtmlAttribute::Plain, url("<a hreflang=\"{x}\">").Attribute);
  EXPECT_EQ(TUrlPlace::Start, url("<a href=\" \t{x}\">").Url);  // blanks are stripped
  EXPECT_EQ(TUrlPlace::Unsettled, url("<a href=\"java{x}\">").Url);
  EXPECT_EQ(TUrlPlace::Unsettled, url("<a href=\"{y}{x}\">").Url);     // after another value
  EXPECT_EQ(TUrlPlace::Unsettled, url("<a href=\"&#106;{x}\">").Url);  // "&#" settles nothing
  EXPECT_EQ(TUrlPlace::Settled, url("<a href=\"/u/{x}\">").Url);
  EXPECT_EQ(TUrlPlace::Settled, url("<a href=\"?q={x}\">").Url);
  EXPECT_EQ(TUrlPlace::Settled, url("<form action='mailto:{x}'>").Url);
  EXPECT_EQ("script:", url("<a href=\"{x}scr\tipt:{\">").UrlTail);  // a tab is stripped
  EXPECT_EQ("", url("<a href=\"{x}/a:b\">").UrlTail);               // "/" comes first: no scheme
  EXPECT_EQ(":", url("<a href=\"{x}&#58;\">").UrlTail);             // a reference may be ':'
}

TEST(HtmlContexts, Scripts) {
  EXPECT_EQ("a JavaScript value in <script>", Last("<script>var a = {x};"));
  EXPECT_EQ("a JavaScript string in <script>", Last("<script>var a = '{x}';"));
  EXPECT_EQ("a JavaScript string in <script>", Last("<script>var a = \"it\\\"s {x}\";"));
  EXPECT_EQ("a JavaScript value in <script>", Last("<script>var a = 'it\\\\' + {x};"));
  EXPECT_EQ("a JavaScript template string in <script>", Last("<script>`a ${b} {x}`"));
  EXPECT_EQ("a JavaScript value in <script>", Last("<script>`a ${ f({}) + {x} }`"));
  EXPECT_EQ("a JavaScript comment in <script>", Last("<script>// {x}"));
  EXPECT_EQ("a JavaScript value in <script>", Last("<script>// c\n{x}"));
  EXPECT_EQ("a JavaScript comment in <script>", Last("<script>/* '{x}"));
  EXPECT_EQ("a JavaScript regular expression in <script>", Last("<script>s.match(/{x}/)"));
  EXPECT_EQ("a JavaScript value in <script>", Last("<script>a = b / {x}"));  // a division
  EXPECT_EQ("a JavaScript value in <script>", Last("<script>a = {y} / {x}"));
  EXPECT_EQ("text", Last("<script>'</script>{x}"));  // the end tag wins over the string
  EXPECT_EQ("a JavaScript value in <script>", Last("<script>'</scripts>'; {x}"));
  EXPECT_EQ("a JavaScript string in an event-handler attribute", Last("<b onclick=\"f('{x}')\">"));
  EXPECT_EQ("a JavaScript value in an event-handler attribute",  // "&#39;" is a quote
            Last("<b onclick=\"f(&#39;a&#39;, {x})\">"));
}

TEST(HtmlContexts, Styles) {
  EXPECT_EQ("a CSS value in <style>", Last("<style>p { color: {x} }"));
  EXPECT_EQ("a CSS string in <style>", Last("<style>p::after { content: \"{x}\" }"));
  EXPECT_EQ("a CSS comment in <style>", Last("<style>/* {x}"));
  EXPECT_EQ("a CSS url() in <style>", Last("<style>p { background: URL( {x}) }"));
  EXPECT_EQ("a CSS string in <style>", Last("<style>p { background: url('{x}') }"));
  EXPECT_EQ("text", Last("<style>p{}</style >{x}"));
  EXPECT_EQ("a CSS value in a style attribute", Last("<p style=\"color: {x}\">"));
  EXPECT_EQ("a CSS string in a style attribute", Last("<p style='font-family: \"{x}\"'>"));
  EXPECT_EQ("a CSS string in a style attribute",  // "&quot;" opens the string
            Last("<p style=\"font-family: &quot;{x}\">"));
}

TEST(HtmlContexts, EveryPlaceholderInOnePass) {
  const std::string_view tmpl = "<a href=\"{u}\" title='{t}'>{b}</a><script>f({s})</script>";
  const std::vector<THtmlContext> all = HtmlContexts(tmpl);
  ASSERT_EQ(4u, all.size());
  EXPECT_EQ("a URL attribute", DescribeContext(all[0]));
  EXPECT_EQ('\'', all[1].Quote);
  EXPECT_EQ(THtmlPlace::Text, all[2].Where);
  EXPECT_EQ(THtmlPlace::Script, all[3].Where);
  EXPECT_TRUE(IsRefused(HtmlContexts("<{x}>").back()));
  EXPECT_FALSE(IsRefused(all[0]));
}

// Each distinct context gets one number, text 0; a URL tail tells contexts apart, and each
// refused placeholder keeps a context of its own (with its spans, for the fix).
TEST(HtmlContexts, ContextsNumberedOnce) {
  std::string t = "{t}<p title=\"{a}\">{t}<script>f('{s}')</script><p title='{a}'>";
  for (int k = 0; k < 300; ++k) t += "<a href=\"{u}x" + std::to_string(k) + ":\"><td{r}>";
  t += "<b title=\"{a}\" class=\"{a}\">{t}";
  const TTemplateContexts contexts(t);
  const std::span<const std::uint32_t> kinds = contexts.Kinds();
  ASSERT_EQ(5u + 600 + 3, kinds.size());
  EXPECT_EQ(0u, kinds[0]);
  EXPECT_EQ(0u, kinds[2]);
  EXPECT_EQ(0u, kinds.back());
  EXPECT_EQ(kinds[1], kinds[kinds.size() - 2]);  // title="", far apart
  EXPECT_EQ(kinds[1], kinds[kinds.size() - 3]);
  EXPECT_NE(kinds[1], kinds[4]);  // title='' is another quote
  EXPECT_EQ(THtmlPlace::Script, contexts.Context(3).Where);
  EXPECT_TRUE(contexts.AnyRefused());
  for (std::size_t k = 0; k < 300; ++k) {
    const THtmlContext& url = contexts.Context(5 + 2 * k);
    EXPECT_EQ("x" + std::to_string(k) + ":", url.UrlTail);
    EXPECT_EQ(TUrlPlace::Start, url.Url);
    const THtmlContext& tag = contexts.Context(6 + 2 * k);
    EXPECT_EQ(THtmlPlace::TagName, tag.Where);
    EXPECT_EQ(t.find("{r}", contexts.Spans()[5 + 2 * k].End) - 2, tag.Name.Begin);
  }
  // text, the two titles, the script string, 300 URL tails, 300 refused tag names
  EXPECT_EQ(1u + 2 + 1 + 300 + 300, contexts.Distinct().size());
  EXPECT_FALSE(TTemplateContexts("<p>{a}</p>").AnyRefused());
}

// The listing reads 16 bytes at a time where it can: placeholders, names and stray braces on
// either side of those windows and at the template's end are found as one byte at a time would;
// and the tokenizer, which finds them itself in text and tags read at once, finds the same ones
// in every state (tags, attribute values, comments, scripts).
TEST(HtmlContexts, PlaceholdersListedAcrossEveryWindow) {
  const std::string_view bits[] = {"{a}",
                                   "{!b}",
                                   "{v0000000000000042}",
                                   "{0123456789abcdef}",
                                   "{",
                                   "{!",
                                   "{!}",
                                   "{{c}",
                                   "{d",
                                   "}",
                                   "{e}{f}",
                                   "{g_h}",
                                   "{\xc3\xa9}",
                                   "<td>",
                                   "\r\n",
                                   "<p title='",
                                   "' a=\"",
                                   ">",
                                   "<td",
                                   "<!--",
                                   "<script>'",
                                   "</"};
  for (std::size_t pad = 0; pad < 20; ++pad)
    for (const std::string_view a : bits)
      for (const std::string_view b : bits) {
        const std::string t = std::string(pad, 'x') + std::string(a) + std::string(b);
        const std::vector<TSpan> want = Spans(t);
        TPageModel model;
        ReadTemplate(model, t);
        const std::vector<TPlaceholder>& got = model.Placeholders();
        const std::span<const TSpan> found = model.Contexts().Spans();
        ASSERT_EQ(want.size(), got.size()) << t;
        ASSERT_EQ(want.size(), found.size()) << t;
        for (std::size_t i = 0; i < want.size(); ++i) {
          const TPlaceholder& p = got[i];
          EXPECT_TRUE(want[i].Begin == p.Span.Begin && want[i].End == p.Span.End) << t;
          EXPECT_EQ(t[want[i].Begin + 1] == '!', p.Raw) << t;
          EXPECT_EQ(want[i].End - 1, p.Name.End) << t;
          EXPECT_EQ(want[i].Begin + 1 + p.Raw, p.Name.Begin) << t;
          EXPECT_TRUE(want[i].Begin == found[i].Begin && want[i].End == found[i].End) << t;
        }
      }
}

// Text and tags that switch nothing are read by blocks of 64 bytes; inside an SVG
// <foreignObject> the same markup is read state by state. Tags, placeholders and stray bytes on
// either side of a block's edge and at the template's end get the same contexts both ways, and
// a tag the same as the last one or sharing its first bytes is read as the first was.
TEST(HtmlContexts, BlocksReadAsStateByState) {
  // The contexts of the placeholders at or after AFrom, offsets taken from there.
  const auto read = [](const std::string& ATemplate, std::size_t AFrom) {
    // A copy of its own size: the sanitizers see any byte read past the template's end.
    const std::unique_ptr<char[]> copy(new char[ATemplate.size()]);
    std::memcpy(copy.get(), ATemplate.data(), ATemplate.size());
    const TTemplateContexts contexts(std::string_view(copy.get(), ATemplate.size()));
    const auto at = [&](TSpan ASpan) {
      return ASpan.Begin < AFrom || ASpan.End == ASpan.Begin
                 ? std::string("-")
                 : ATemplate.substr(ASpan.Begin, ASpan.End - ASpan.Begin) + "@" +
                       std::to_string(ASpan.Begin - AFrom);
    };
    std::string all;
    for (std::size_t p = 0; p < contexts.Spans().size(); ++p) {
      const THtmlContext& c = contexts.Context(p);
      all += at(contexts.Spans()[p]) + " " + DescribeContext(c) + " " + at(c.Name) + " " +
             at(c.Value) + c.UrlTail + "\n";
    }
    return all;
  };
  const std::string_view bits[] = {"<td>",
                                   "</td>\n",
                                   "{a}",
                                   "{!v0000}",
                                   "<a<b>",
                                   "{",
                                   "<",
                                   "<p title='<i>' id=x>",
                                   "<title>{t}</title>",
                                   "<{y}>",
                                   "<td\n>",
                                   "<!-- {c} -->",
                                   "<b",
                                   "lorem ipsum {",
                                   "<tdx>",
                                   "<t>",
                                   "<title>",
                                   "</td >"};
  const std::string island = "<svg><foreignObject>";
  for (std::size_t pad = 50; pad < 140; ++pad)
    for (const std::string_view a : bits)
      for (const std::string_view b : bits) {
        const std::string t = std::string(pad, 'x') + std::string(a) + std::string(b);
        ASSERT_EQ(read(island + t, island.size()), read(t, 0)) << t;
      }
}

// A "/" is a division or opens a regular expression as the token before it says; where that
// token leaves it open the places after it are refused. A quote inside a regular expression
// opens no string.
TEST(HtmlContexts, RegularExpressionOrDivision) {
  const struct {
    std::string_view Template, Context;
  } cases[] = {
      {"<script>function hasQuote(s){return /'/.test(s)}var user={x};", "a JavaScript value"},
      {"<script>if (a) /'/.test(s); var u = {x}", "a JavaScript value"},
      {"<script>while (a) /\"/.exec(s); var u = {x}", "a JavaScript value"},
      {"<script>x = typeof /'/; y = {x}", "a JavaScript value"},
      {"<script>x = void /`/; y = {x}", "a JavaScript value"},
      {"<script>if (a) {} else /'/.test(s); y = {x}", "a JavaScript value"},
      {"<script>{ } /'/.test(s); y = {x}", "a JavaScript value"},
      {"<script>x = a in /'/; y = {x}", "a JavaScript value"},
      {"<script>a = b / 2; c = '{x}'", "a JavaScript string"},
      {"<script>a = (b) / 2 + '{x}'", "a JavaScript string"},
      {"<script>a = x.return / 2 + '{x}'", "a JavaScript string"},
      {"<script>x = a++ / 2; y = '{x}'", "a JavaScript string"},
      {"<script>var o = {a: 1} / 2; y = '{x}'", "a JavaScript string"},
      {"<script>a = 1.5 / 2; y = '{x}'", "a JavaScript string"},
      {"<script>a = /[/]'/; y = {x}", "a JavaScript value"},  // "/" in a class ends nothing
      {"<script><!-- it's old\nvar a = {x}", "a JavaScript value"},
      {"<script>\n--> it's old\nvar a = {x}", "a JavaScript value"},
      {"<script>function f(){}\n/'/.test(s); var u = {x}", "JavaScript that zoqc cannot read"},
      {"<script>a = yield /'/; b = {x}", "JavaScript that zoqc cannot read"},
      {"<script>do x(); while (a) /'/; b = {x}", "JavaScript that zoqc cannot read"},
      {"<b onclick=\"if (a) /'/.test(s); f({x})\">", "a JavaScript value"},
      {"<script>a = `${x}{ 1 }`; b = {y}", "JavaScript that zoqc cannot read"},  // "$", value, "{"
      {"<script>a = `${x}`; b = {y}", "a JavaScript value"},
  };
  for (const auto& c : cases)
    EXPECT_TRUE(Last(c.Template).starts_with(c.Context)) << c.Template << ": " << Last(c.Template);
  const THtmlContext lost = HtmlContexts("<script>function f(){}\n/'/; {x}").back();
  EXPECT_TRUE(IsRefused(lost));
  EXPECT_EQ(23u, lost.Value.Begin);  // the "/"
}

// "<!--" then "<script" inside a script: the next "</script>" does not end it.
TEST(HtmlContexts, ScriptEscapedStates) {
  const struct {
    std::string_view Template, Context;
  } cases[] = {
      {"<script>// <!--<script> old\n// </script>\nvar a = '{x}'",
       "a JavaScript string in <script>"},
      {"<script><!--<script></script></script>{x}", "text"},
      {"<script><!-- </script>{x}", "text"},
      {"<script><!--<script>--></script>{x}", "text"},  // "-->" leaves both states
      {"<script><!--<scripts></script>{x}", "text"},    // not "<script"
      {"<script>a = '<!-{x}-<script>'; b = '{y}'", "JavaScript that zoqc cannot read in <script>"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Context, Last(c.Template)) << c.Template;
  EXPECT_TRUE(HtmlContexts("<script>a = '<{x}'").back().AfterLt);
  EXPECT_TRUE(HtmlContexts("<script>a = '</scr{x}'").back().AfterLt);
  EXPECT_FALSE(HtmlContexts("<script>a = 'b{x}'").back().AfterLt);
}

// An iframe's srcdoc is a document: the context inside it, read from the decoded value.
TEST(HtmlContexts, SrcdocDocuments) {
  const struct {
    std::string_view Template, Context;
  } cases[] = {
      {"<iframe srcdoc=\"<p>{x}</p>\">", "text in an iframe's srcdoc"},
      {"<iframe srcdoc='<a href=\"{x}\">'>", "a URL attribute in an iframe's srcdoc"},
      {"<iframe srcdoc=\"<script>a = &quot;{x}&quot;</script>\">",
       "a JavaScript string in <script> in an iframe's srcdoc"},
      {"<iframe srcdoc=\"<p title=&#39;{x}'>\">", "an attribute value in an iframe's srcdoc"},
      {"<iframe srcdoc=\"<b {x}>\">", "an attribute name in an iframe's srcdoc"},
      {"<iframe srcdoc=\"&hellip;{x}\">", "an iframe's srcdoc that zoqc cannot read"},
      {"<iframe srcdoc=\"<p>{y}&lcub;x}{x}\">", "an iframe's srcdoc that zoqc cannot read"},
      {"<div srcdoc=\"<p>{x}\">", "an attribute value"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Context, Last(c.Template)) << c.Template;
  EXPECT_TRUE(IsRefused(HtmlContexts("<iframe srcdoc=\"<b {x}>\">").back()));
  EXPECT_FALSE(IsRefused(HtmlContexts("<iframe srcdoc=\"<b>{y}{x}\">").back()));
}

// A URL's scheme as the markup writes it: "javascript:" holds JavaScript; script-showing
// schemes and ones written with values or unread references are refused.
TEST(HtmlContexts, SchemesWrittenByTheMarkup) {
  const struct {
    std::string_view Template, Context;
  } cases[] = {
      {"<a href=\"javascript:show('{x}')\">", "a JavaScript string in a javascript: URL"},
      {"<a href=\" Java\tScript:f({x})\">", "a JavaScript value in a javascript: URL"},
      {"<a href=\"javascript:f(%27{x}%27)\">", "a JavaScript string in a javascript: URL"},
      {"<a href=\"&#106;avascript:f('{x}')\">", "a JavaScript string in a javascript: URL"},
      {"<a href=\"javascript&colon;f('{x}')\">", "a JavaScript string in a javascript: URL"},
      {"<a href=\"vbscript:{x}\">", "a URL whose scheme may run script or is not the markup's own"},
      {"<a href=\"data:text/html,{x}\">",
       "a URL whose scheme may run script or is not the markup's own"},
      {"<a href=\"&jopf;avascript:{x}\">",
       "a URL whose scheme may run script or is not the markup's own"},
      {"<a href=\"ja{y}script:{x}\">",
       "a URL whose scheme may run script or is not the markup's own"},
      {"<a href=\"ja{x}script:\">", "a URL whose scheme may run script or is not the markup's own"},
      {"<a href=\"data:image/png;base64,{x}\">", "a URL attribute"},
      {"<a href=\"https://e.com/{x}\">", "a URL attribute"},
      {"<a href=\"{y}script:{x}\">", "a URL attribute"},  // the first value's check holds it
  };
  for (const auto& c : cases) EXPECT_EQ(c.Context, Last(c.Template)) << c.Template;
}

// The markup right before a value: "&" and a name (a reference the value could complete), and
// the start tags after which the browser drops a line end.
TEST(HtmlContexts, WhatTheMarkupBeforeAsks) {
  const auto amp = [](std::string_view ATemplate) {
    return HtmlContexts(ATemplate).back().AfterAmp;
  };
  EXPECT_TRUE(amp("<b onclick=\"f('&{x}')\">"));
  EXPECT_TRUE(amp("<p>&{x}"));
  EXPECT_TRUE(amp("<p>&#{x}"));
  EXPECT_TRUE(amp("<p title=\"&am{x}\">"));
  EXPECT_TRUE(amp("<p>&{y}{x}"));  // the first value may be empty
  EXPECT_FALSE(amp("<p>& {x}"));
  EXPECT_FALSE(amp("<p>a{x}"));
  const auto leading = [](std::string_view ATemplate) {
    return HtmlContexts(ATemplate).back().LeadingNewline;
  };
  EXPECT_TRUE(leading("<pre>{x}"));
  EXPECT_TRUE(leading("<PRE class=a>{x}"));
  EXPECT_TRUE(leading("<listing>{x}"));
  EXPECT_TRUE(leading("<textarea name=t>{x}"));
  EXPECT_TRUE(leading("<p><pre>{x}"));
  EXPECT_FALSE(leading("<pre> {x}"));
  EXPECT_FALSE(leading("<pre>a{x}"));
  EXPECT_FALSE(leading("</pre>{x}"));
  EXPECT_FALSE(leading("<prex>{x}"));
}

}  // namespace
}  // namespace zoqc
