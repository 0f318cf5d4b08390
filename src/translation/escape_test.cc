// Tests of the escaped translation and of the checks of safe output, through Compile.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "src/check/check.h"
#include "src/html/html_escape.h"
#include "src/translation/compile.h"
#include "tests/room_sink.h"

#define LF "\n"
#define HTML(x) "htmlspecialchars((string)(" x "), ENT_QUOTES | ENT_SUBSTITUTE, 'UTF-8')"

namespace zoqc {
namespace {

// The template part of the page (after the closing tag) of AScript and ATemplate.
std::string TemplatePart(std::string_view AScript, std::string_view ATemplate, bool AEscape) {
  const TCompileResult result =
      Compile(std::string(AScript), std::string(ATemplate), {.Escape = AEscape});
  EXPECT_TRUE(result.Ok());
  const std::string page = result.Pieces.Joined();
  return page.substr(page.find("?>\r\n") + 4);
}

// The whole page.
std::string Page(std::string_view AScript, std::string_view ATemplate) {
  return Compile(std::string(AScript), std::string(ATemplate), {.Escape = true}).Pieces.Joined();
}

TEST(EscapedCompile, PlaceholdersAndRawOnes) {
  const std::string script = "<?php" LF "<<t<<$t" LF "<<h<<htmlspecialchars($t)" LF;
  // Without --escape "{!t}" is text, as before.
  EXPECT_EQ("<?php echo $t;?>{!t}", TemplatePart(script, "{t}{!t}", false));
  EXPECT_EQ("<?php echo " HTML("$t") ";?><?php echo $t;?>", TemplatePart(script, "{t}{!t}", true));
  EXPECT_EQ("<?php echo htmlspecialchars($t);?>",  // already escaped: not twice
            TemplatePart(script, "{h}", true));
  EXPECT_EQ("{!x}{x}", TemplatePart(script, "{!x}{x}", true));  // unbound: as written
  // In script code an HTML escaper's value is decoded before it becomes a JavaScript value.
  EXPECT_NE(std::string::npos, TemplatePart(script, "<script>f({h})</script>", true)
                                   .find("json_encode(html_entity_decode(htmlspecialchars($t)"));
}

// A sink that lends a small room gets the escaped page written in place: text echoes in the
// room, other contexts, raw placeholders, names left as written and echoes longer than the
// inline copies beside them, rooms that run out and a sink that lends none: the listed page byte
// for byte.
TEST(EscapedCompile, PageWrittenInPlace) {
  using test_support::TRoomSink;
  const std::string script = "<?php" LF "<<a<<$a" LF "<<long<<$" + std::string(70, 'x') +
                             LF "<<h<<htmlspecialchars($a)" LF;
  std::string templ;
  for (int at = 0; at < 40; ++at)
    templ += std::string(static_cast<std::size_t>(at), '.') + "<td>{a}</td>" +
             (at % 4 == 0   ? "<p title=\"{a}\">{long}"
              : at % 4 == 1 ? "{!a}{x}{h}"
              : at % 4 == 2 ? "<script>f({a})</script>"
                            : "{") +
             "\n";
  const std::string listed = Page(script, templ);
  for (const std::size_t room : {0, 1, 100, 4096}) {
    SCOPED_TRACE(room);
    TRoomSink sink(room);
    const TCompileResult result =
        Compile({script, nullptr}, {templ, nullptr}, {.Escape = true}, &sink);
    EXPECT_TRUE(result.Ok());
    EXPECT_TRUE(listed == sink.Text);
  }
}

// Each name's text is made once per context and found again for its later placeholders, many
// names at once.
TEST(EscapedCompile, ManyNamesInTwoContexts) {
  std::string script = "<?php" LF, templ, wanted;
  for (int n = 0; n < 100; ++n) {
    const std::string name = "v" + std::to_string(n), value = "$" + name;
    script += "<<" + name + "<<" + value + LF;
    templ += "<p title=\"{" + name + "}\">{" + name + "}</p><b>{" + name + "}</b>";
    const std::string html = "<?php echo htmlspecialchars((string)(" + value +
                             "), ENT_QUOTES | ENT_SUBSTITUTE, 'UTF-8');?>";
    wanted += "<p title=\"" + html + "\">" + html + "</p><b>" + html + "</b>";
  }
  EXPECT_EQ(wanted, TemplatePart(script, templ, true));
}

TEST(EscapedCompile, BlockVariablesEscapedAndBuffersAsTheyAre) {
  const std::string script = "<?php" LF "<<*row" LF "<<<c<<$c" LF "<<<r<<$c" LF
                             "foreach ($cs as $c) {" LF "<<+row" LF "}" LF;
  const std::string page =
      Page(script, "<ul><!--BEGIN row--><li title='{c}'>{c}{!r}</li><!--END row--></ul>");
  EXPECT_NE(std::string::npos,
            page.find("\"<li title='\"." HTML("$c") ".\"'>\"." HTML("$c") ".\"\".$c.\"</li>\""))
      << page;
  EXPECT_NE(std::string::npos, page.find("<ul><?php echo $ZOQBLOCK_row;?>\r\n</ul>"));
}

// The pieces left around block copies take the placeholders that stand in them, in order; a
// copy's own are the block's, and those printed as written are reported as without --escape.
TEST(EscapedCompile, PiecesAroundBlockCopies) {
  const std::string script = "<?php" LF "<<t<<$t" LF "<<*row" LF "<<<c<<$c" LF "<<+row" LF;
  const std::string templ =
      "{t}<!--BEGIN row-->{c}{t}<!--END row-->{x}{!t}<!--BEGIN row-->{c}{t}<!--END row-->{t}{c}";
  for (const bool provenance : {false, true}) {
    const TCompileResult plain =
        Compile(script, templ, {.Provenance = provenance, .Escape = false});
    const TCompileResult escaped =
        Compile(script, templ, {.Provenance = provenance, .Escape = true});
    std::string want = plain.Pieces.Joined();
    const std::string echo = "<?php echo $t;?>";
    for (std::size_t at = want.find(echo); at != std::string::npos; at = want.find(echo, at))
      want.replace(at, echo.size(), "<?php echo " HTML("$t") ";?>"), at += 1;
    want.replace(want.find("{!t}"), 4, echo);
    want.replace(want.find(".$c."), 4, "." HTML("$c") ".");
    EXPECT_EQ(want, escaped.Pieces.Joined());
    const auto left = [&](const TCompileResult& AResult) {
      std::vector<std::size_t> at;
      for (const TLeftPlaceholder& l : AResult.Leftovers.Left) at.push_back(l.Name.Begin);
      return at;
    };
    EXPECT_EQ(left(plain), left(escaped));
    EXPECT_EQ(3u, left(escaped).size());  // "{t}" in the block, "{x}" and the last "{c}"
  }
}

TEST(EscapedCompile, EachContextItsEscaper) {
  const std::string script = "<?php" LF "<<t<<$t" LF;
  const auto has = [&](std::string_view ATemplate, std::string_view AWanted) {
    const std::string part = TemplatePart(script, ATemplate, true);
    EXPECT_NE(std::string::npos, part.find(AWanted)) << ATemplate << "\n" << part;
  };
  has("<p>{t}", HTML("$t"));
  has("<a href='{t}'>", "'#zoqc-unsafe-url'");
  has("<a href='{t}script:x'>", "ltrim($v . 'script:'");  // the markup completes the scheme
  has("<a href='x{t}'>", "str_replace(':', '%3A', (string)($t))");
  has("<a href='/x?q={t}'>", "echo " HTML("$t"));
  has("<script>a = {t}</script>", "echo json_encode((string)($t), JSON_HEX_TAG");
  // In a script no "-" of a value helps make "<!--" or "-->"; in a template string "`", "$"
  // and "{" (after the markup's "$") are escaped.
  has("<script>a = '{t}'</script>",
      "echo strtr(substr(json_encode((string)($t)"
      ", JSON_HEX_TAG | JSON_HEX_AMP | JSON_HEX_APOS "
      "| JSON_HEX_QUOT | JSON_INVALID_UTF8_SUBSTITUTE), 1, -1), ['-' => '\\u002d'])");
  has("<script>a = `Total: ${t}`</script>",
      "['`' => '\\u0060', '$' => '\\u0024', '{' => '\\u007b', '-' => '\\u002d']");
  has("<script>a = /x{t}/</script>", "['[' => '\\\\[', ']' => '\\\\]', '(' => '\\\\('");
  has("<script>a = '<{t}'</script>", "preg_replace_callback('/\\A[A-Za-z\\/!]/'");
  // JavaScript in a URL: "%" as "%25", then as an attribute value.
  has("<a href=\"javascript:show('{t}')\">",
      "echo htmlspecialchars(str_replace('%', '%25', substr(json_encode((string)($t)");
  // A srcdoc document: for the inner context, then for the attribute.
  has("<iframe srcdoc=\"<p>{t}</p>\">", "echo htmlspecialchars(" HTML("$t") ", ENT_QUOTES");
  // After "&" the value's first character cannot complete a reference.
  has("<b onclick=\"f('&{t}')\">", "preg_replace_callback('/\\A[A-Za-z0-9#=]/'");
  // After <pre> a line end goes first: the browser drops it, not the value's own.
  has("<pre>{t}</pre>", "echo \"\\n\" . " HTML("$t"));
  has("<textarea>{t}</textarea>", "echo \"\\n\" . " HTML("$t"));
  has("<b onclick=\"f({t})\">", "echo htmlspecialchars(json_encode((string)($t)");
  has("<style>p{color:{t}}</style>", "'zoqc-unsafe'");
  has("<p style='content:\"{t}\"'>", "preg_replace_callback(");
  has("<!-- {t} -->", "str_replace('-', '&#45;'");
  has("<svg><![CDATA[{t}]]></svg>", "str_replace(']]>', ']]]]><![CDATA[>', (string)($t))");
  has("<svg><animate values=\"a/b;{t}\"/>", "str_replace(':', '%3A'");  // any item a URL
}

// The diagnostics of a page that translated: the checks with the default warnings (as they
// are under AEscape), and under AEscape the refused places; with the inputs they point into.
struct TDiagnosed {
  TCompileResult Result;
  std::unique_ptr<TSource> Script, Template;
  std::vector<TDiagnostic> Diags;
};
TDiagnosed Diagnose(std::string_view AScript, std::string_view ATemplate, bool AEscape) {
  TDiagnosed d{Compile(std::string(AScript), std::string(ATemplate), {.Escape = AEscape}),
               nullptr,
               nullptr,
               {}};
  EXPECT_TRUE(d.Result.Ok());
  d.Script = std::make_unique<TSource>("p.zoq", d.Result.Model->Script.Text);
  d.Template = std::make_unique<TSource>("p.zot", d.Result.Model->Template);
  CheckPage(*d.Result.Model, d.Result.Leftovers, *d.Script, *d.Template,
            EscapeWarnings(DefaultWarnings(), AEscape), d.Diags);
  if (AEscape) CheckEscapes(*d.Result.Model, d.Result.Leftovers, *d.Template, d.Diags);
  return d;
}

// The warnings' names, joined.
std::string Names(const TDiagnosed& ADiagnosed) {
  std::string names;
  for (const TDiagnostic& d : ADiagnosed.Diags) names += (names.empty() ? "" : " ") + d.Warning;
  return names;
}

TEST(UnescapedRequest, DirectlyThroughOneAssignmentNotWhenWrapped) {
  const auto warned = [](std::string_view AScript) {
    return Names(Diagnose(std::string("<?php" LF) + std::string(AScript), "<p>{q}</p>", false));
  };
  EXPECT_EQ("unescaped-request", warned("<<q<<$_GET['q']" LF));
  EXPECT_EQ("unescaped-request", warned("<<q<<$_SERVER['REQUEST_URI']" LF));
  EXPECT_EQ("unescaped-request", warned("<<q<<$_SERVER[\"HTTP_REFERER\"]" LF));
  EXPECT_EQ("", warned("<<q<<$_SERVER['SERVER_NAME']" LF));  // not the request's
  EXPECT_EQ("unescaped-request", warned("$a = trim($_POST['a'] ?? '');" LF "<<q<<$a" LF));
  EXPECT_EQ("unescaped-request", warned("$a = 'x';" LF "$a .= $_COOKIE['c'];" LF "<<q<<$a" LF));
  EXPECT_EQ("", warned("<<q<<$a" LF "$a = $_GET['a'];" LF));  // assigned after the binding
  EXPECT_EQ("", warned("$a = $_GET['a'];" LF "$a = htmlspecialchars($a);" LF "<<q<<$a" LF));
  EXPECT_EQ("", warned("<<q<<(int)$_GET['n']" LF));
  EXPECT_EQ("", warned("<<q<<(int) ($_GET['n'] ?? 0)" LF));
  EXPECT_EQ("", warned("<<q<<htmlspecialchars($_REQUEST['q'] ?? '')" LF));
  EXPECT_EQ("", warned("<<q<<intval($_GET['n'])" LF));
  EXPECT_EQ("", warned("<<x<<$_GET['q']" LF));  // printed nowhere
  EXPECT_EQ("",                                 // silent under --escape
            Names(Diagnose("<?php" LF "<<q<<$_GET['q']" LF, "<p>{q}</p>", true)));
}

// "$_" is looked for 16 bytes at a time: at every offset around those runs, and on a last line.
TEST(UnescapedRequest, FoundAtAnyOffsetOfTheExpression) {
  for (const std::size_t pad : {0, 1, 13, 14, 15, 16, 17, 31, 32})
    for (const char* end : {LF, ""}) {
      const std::string script = "<?php" LF "<<q<<" + std::string(pad, ' ') + "$_GET['q']" + end;
      EXPECT_EQ("unescaped-request", Names(Diagnose(script, "<p>{q}</p>", false))) << script;
    }
}

// One warning per place, each with the fix-it for its own context where one call makes the
// value safe there (and the fix-it taken silences it), none where only --escape does.
TEST(UnescapedRequest, EachPlaceWithTheFixItOfItsContext) {
  const std::string script = "<?php" LF "$q = $_GET['q'];" LF "<<q<<$q" LF;
  const struct {
    const char* Template;
    const char* Fix;  // "": no fix-it
  } cases[] = {
      {"<p>{q}</p>", HTML("$q")},
      {"<p title='{q}'>", HTML("$q")},
      {"<script>var q = {q};</script>",
       "json_encode((string)($q), JSON_HEX_TAG | JSON_HEX_AMP | JSON_HEX_APOS | JSON_HEX_QUOT | "
       "JSON_INVALID_UTF8_SUBSTITUTE)"},
      {"<a href=\"/find?q={q}\">", "rawurlencode($q)"},
      {"<a href=\"{q}\">", ""},  // the value chooses the scheme
      {"<script>var q = '{q}';</script>", ""},
      {"<b onclick=\"f({q})\">", ""},
      {"<p style=\"color: {q}\">", ""},
  };
  for (const auto& c : cases) {
    const std::vector<TDiagnostic> d = Diagnose(script, c.Template, false).Diags;
    ASSERT_EQ(1u, d.size()) << c.Template;
    EXPECT_EQ(std::string_view(c.Fix).empty() ? 0u : 1u, d[0].FixIts.size()) << c.Template;
    if (d[0].FixIts.empty()) continue;
    EXPECT_EQ(c.Fix, d[0].FixIts[0].Text) << c.Template;
    const std::string fixed = "<?php" LF "$q = $_GET['q'];" LF "<<q<<" + d[0].FixIts[0].Text + LF;
    EXPECT_EQ("", Names(Diagnose(fixed, c.Template, false))) << c.Template;
  }
}

// A binding printed in text and in a script gets a warning at each, and no fix-it that mends
// one place and leaves the other open; an HTML escaper in the script is still warned.
TEST(UnescapedRequest, EveryPlaceOfTheBinding) {
  const std::string templ = "<p>{q}</p><script>var q = {q};</script>";
  const TDiagnosed d = Diagnose("<?php" LF "$q = $_GET['q'];" LF "<<q<<$q" LF, templ, false);
  ASSERT_EQ(2u, d.Diags.size());
  for (std::size_t i = 0; i < 2; ++i) {
    ASSERT_EQ(1u, d.Diags[i].Notes.size());
    EXPECT_EQ(i == 0 ? 3u : 26u, d.Diags[i].Notes[0].Place.From);
    EXPECT_TRUE(d.Diags[i].FixIts.empty()) << d.Diags[i].FixIts[0].Text;
    EXPECT_NE(std::string::npos, d.Diags[i].Message.find("translate with --escape"));
  }
  const TDiagnosed escaped =
      Diagnose("<?php" LF "<<q<<htmlspecialchars($_GET['q'])" LF, templ, false);
  ASSERT_EQ(1u, escaped.Diags.size());
  EXPECT_EQ(26u, escaped.Diags[0].Notes[0].Place.From);
}

// Whether a call makes request data safe depends on where it is printed: an HTML escaper in
// text and quoted attributes, json_encode with its flags in script code, a URL encoder
// anywhere but in script code; also through an assignment.
TEST(UnescapedRequest, EscapersOnlyWhereTheyFit) {
  const auto warned = [](std::string_view ABinding, std::string_view ATemplate) {
    return Names(Diagnose(
        "<?php" LF "$h = htmlspecialchars($_GET['q']);" LF "<<q<<" + std::string(ABinding) + LF,
        ATemplate, false));
  };
  const std::string html = "htmlspecialchars($_GET['q'])";
  EXPECT_EQ("", warned(html, "<p>{q}</p>"));
  EXPECT_EQ("", warned(html, "<p title=\"{q}\">"));
  EXPECT_EQ("", warned("$h", "<p>{q}</p>"));
  EXPECT_EQ("unescaped-request", warned(html, "<script>f({q})</script>"));
  EXPECT_EQ("unescaped-request", warned("$h", "<script>f({q})</script>"));
  EXPECT_EQ("unescaped-request", warned(html, "<a href=\"{q}\">"));
  EXPECT_EQ("unescaped-request", warned(html, "<p style=\"width: {q}\">"));
  EXPECT_EQ("unescaped-request", warned(html, "<b onclick=\"f('{q}')\">"));
  EXPECT_EQ("unescaped-request", warned("json_encode($_GET['q'])", "<script>f({q})</script>"));
  EXPECT_EQ("", warned("json_encode($_GET['q'], JSON_HEX_TAG | JSON_HEX_AMP)",
                       "<script>f({q})</script>"));
  EXPECT_EQ("", warned("urlencode($_GET['q'])", "<a href=\"?q={q}\">"));
  EXPECT_EQ("unescaped-request", warned("urlencode($_GET['q'])", "<script>f({q})</script>"));
  EXPECT_EQ("", warned("(int)$_GET['q']", "<script>f({q})</script>"));
}

// PHP written in the template is looked at too: what it prints of the request is warned at the
// template, in its own context; under --escape every output of it gets a note.
TEST(UnescapedRequest, PhpWrittenInTheTemplate) {
  const std::string script = "<?php" LF "$q = $_GET['q'];" LF "<<t<<1" LF;
  const std::string templ = "<p><?= $q ?></p>" LF "<?php if ($t) { echo $t; } ?>" LF
                            "<script>f(<?php echo htmlspecialchars($_GET['x']); ?>)</script>" LF
                            "<?php print htmlspecialchars($q) ?><?php /* echo $q; */ ?>" LF;
  const TDiagnosed d = Diagnose(script, templ, false);
  ASSERT_EQ(2u, d.Diags.size()) << (d.Diags.empty() ? "" : d.Diags[0].Message);
  EXPECT_EQ("p.zot", d.Diags[0].Place.FileName());
  EXPECT_EQ(7u, d.Diags[0].Place.From);  // "$q" of "<?= $q ?>"
  ASSERT_EQ(1u, d.Diags[0].FixIts.size());
  EXPECT_EQ(HTML("$q"), d.Diags[0].FixIts[0].Text);
  EXPECT_EQ(templ.find("$_GET['x']"), d.Diags[1].Place.From);  // HTML-escaped, in a script
  const TDiagnosed escaped = Diagnose(script, templ, true);
  ASSERT_EQ(4u, escaped.Diags.size());
  for (const TDiagnostic& note : escaped.Diags) {
    EXPECT_EQ(TSeverity::Note, note.Severity);
    EXPECT_NE(std::string::npos, note.Message.find("zoqc does not escape"));
  }
  EXPECT_EQ("", Names(Diagnose(script, "<?xml version=\"1.0\"?><p>{t}</p>", true)));
}

// A note points at each placeholder of the name up to case in the binding's scope; an
// assignment between two statement lines is read, one on a statement's own line is not.
TEST(UnescapedRequest, PlacesOfTheNameAndAssignmentsBetweenStatements) {
  const std::string page = "<p>{x}</p><a href=\"{Q}\">{q}</a>";
  const TDiagnosed d =
      Diagnose("<?php" LF "<<x<<1" LF "$a = $_GET['a'];" LF "<<q<<$a" LF, page, false);
  ASSERT_EQ(2u, d.Diags.size());
  ASSERT_EQ(1u, d.Diags[0].Notes.size());
  EXPECT_EQ(page.find("{Q}"), d.Diags[0].Notes[0].Place.From);
  EXPECT_EQ(page.find("{q}"), d.Diags[1].Notes[0].Place.From);
  EXPECT_EQ("", Names(Diagnose("<?php" LF "<<y<<$a = $_GET['a'];" LF "<<q<<$a" LF, page, false)));
}

// "{!name}" is found at the template's start and end, and not where no name follows.
TEST(EscapeChecks, RawPlaceholdersAtTheEdges) {
  const std::string script = "<?php" LF "<<q<<$q" LF;
  EXPECT_EQ("raw-placeholder raw-placeholder", Names(Diagnose(script, "{!q}!{!q}", false)));
  EXPECT_EQ("", Names(Diagnose(script, "!{!}{!", false)));
  // Counted while the markers are read: after a comment, and right after an opener.
  EXPECT_EQ("raw-placeholder raw-placeholder",
            Names(Diagnose(script, "<!-- c -->{!q}<!--{!q}", false)));
}

TEST(EscapeChecks, RefusedPlacesAreErrors) {
  const std::string script = "<?php" LF "<<q<<$q" LF;
  EXPECT_EQ("raw-placeholder", Names(Diagnose(script, "{!q}", false)));
  EXPECT_TRUE(Diagnose(script, "{!q}<div {!q}>", true).Diags.empty());  // raw on purpose
  EXPECT_TRUE(Diagnose(script, "<div {x}>", true).Diags.empty());  // unbound: printed as written
  const TDiagnosed named = Diagnose(script, "<div {q}>", true);
  const std::vector<TDiagnostic>& name = named.Diags;
  ASSERT_EQ(1u, name.size());
  EXPECT_EQ(TSeverity::Error, name[0].Severity);
  EXPECT_NE(std::string::npos, name[0].Message.find("an attribute name"));
  const TDiagnosed quoted = Diagnose(script, "<a title=x{q}>", true);
  const std::vector<TDiagnostic>& unquoted = quoted.Diags;
  ASSERT_EQ(1u, unquoted.size());
  ASSERT_EQ(2u, unquoted[0].FixIts.size());  // quotes around "x{q}"
  EXPECT_EQ(9u, unquoted[0].FixIts[0].Place.From);
  EXPECT_EQ(13u, unquoted[0].FixIts[1].Place.From);
}

// The page prints one buffer, made from a block's first copy, wherever a copy stood: a copy
// whose placeholder needs another escaper is refused, pointing at the first copy.
TEST(EscapeChecks, CopiesOfABlockMustAgree) {
  const std::string script =
      "<?php" LF "<<*r" LF "<<<c<<$c" LF "foreach ($cs as $c) {" LF "<<+r" LF "}" LF;
  const std::string copy = "<!--BEGIN r--><i>{c}</i>{x}<!--END r-->";
  EXPECT_TRUE(Diagnose(script, copy + "<textarea>" + copy + "</textarea>", true).Diags.empty());
  const std::string text = "<p>" + copy + "</p><script>" + copy + "</script>";
  const TDiagnosed d = Diagnose(script, text, true);
  ASSERT_EQ(1u, d.Diags.size());  // "{x}" is printed as written in both
  EXPECT_EQ(TSeverity::Error, d.Diags[0].Severity);
  EXPECT_EQ(text.rfind("{c}"), d.Diags[0].Place.From);
  ASSERT_EQ(1u, d.Diags[0].Notes.size());
  EXPECT_EQ(text.find("{c}"), d.Diags[0].Notes[0].Place.From);
  EXPECT_TRUE(Diagnose(script, text, false).Diags.empty());  // one text for both, as always
}

// An HTML escaper counts as escaped only where its flags escape what the place needs: the
// quote in use (PHP's default flags differ by version: only '"' counts), "<" and "&" in text;
// elsewhere its value is decoded, where that gives it back, and escaped for the place.
TEST(EscapedCompile, EscapersTrustedByTheirFlags) {
  const struct {
    std::string_view Expr, Template;
    bool Kept;
  } cases[] = {
      {"htmlspecialchars($t)", "<p>{h}", true},
      {"htmlspecialchars($t, ENT_NOQUOTES)", "<p>{h}", true},
      {"htmlspecialchars($t)", "<p title=\"{h}\">", true},
      {"htmlspecialchars($t)", "<p title='{h}'>", false},
      {"htmlspecialchars($t, ENT_NOQUOTES)", "<p title=\"{h}\">", false},
      {"htmlspecialchars($t, ENT_COMPAT)", "<p title='{h}'>", false},
      {"htmlspecialchars($t, ENT_QUOTES | ENT_SUBSTITUTE, 'UTF-8')", "<p title='{h}'>", true},
      {"\\htmlspecialchars($t, \\ENT_QUOTES)", "<a href='/p?q={h}'>", true},
      {"htmlentities($t, ENT_HTML5)", "<p title=\"{h}\">", false},
      {"htmlentities($t, ENT_QUOTES | ENT_HTML5)", "<p title=\"{h}\">", true},
      {"htmlspecialchars($t, $flags)", "<p title=\"{h}\">", false},
      {"htmlspecialchars($t, ENT_QUOTES, 'Shift_JIS')", "<p title=\"{h}\">", false},
      {"htmlspecialchars($t, ENT_QUOTES)", "<!-- {h} -->", false},
      {"htmlspecialchars($t, ENT_QUOTES)", "<p>&{h}", false},
      {"htmlspecialchars($t, ENT_QUOTES)", "<a href='{h}'>", false},
      {"htmlspecialchars($t, ENT_QUOTES)", "<iframe srcdoc='{h}'>", false},
  };
  for (const auto& c : cases) {
    const std::string script = "<?php" LF "<<h<<" + std::string(c.Expr) + LF;
    const std::string part = TemplatePart(script, c.Template, true);
    EXPECT_EQ(c.Kept, part.starts_with(c.Template.substr(0, c.Template.find('{'))) &&
                          part.find("echo " + std::string(c.Expr) + ";") != std::string::npos)
        << c.Expr << " in " << c.Template << ": " << part;
    const TTemplateContexts contexts(c.Template);  // the one placeholder's
    EXPECT_EQ(c.Kept, EscapesFor(contexts.Context(0), c.Expr)) << c.Expr;
    if (!c.Kept && c.Expr.find("Shift_JIS") == std::string::npos) {
      EXPECT_NE(std::string::npos, part.find("html_entity_decode(" + std::string(c.Expr))) << part;
    }
  }
  // A JavaScript literal is kept only with flags zoqc reads, JSON_HEX_TAG among them.
  const auto script_part = [](std::string_view AExpr) {
    return TemplatePart("<?php" LF "<<h<<" + std::string(AExpr) + LF, "<script>a = {h}</script>",
                        true);
  };
  EXPECT_EQ("<script>a = <?php echo json_encode($t, JSON_HEX_TAG | JSON_HEX_AMP);?></script>",
            script_part("json_encode($t, JSON_HEX_TAG | JSON_HEX_AMP)"));
  EXPECT_NE(std::string::npos,
            script_part("json_encode($t, $f ?: JSON_HEX_TAG)").find("json_encode((string)("));
}

// The refused places of this round: each a located error with its fix-it.
TEST(EscapeChecks, UnreadableJavaScriptAndSchemesAreErrors) {
  const std::string script = "<?php" LF "<<x<<$x" LF "<<y<<$y" LF;
  const auto errors = [&](std::string_view ATemplate) {
    TDiagnosed d = Diagnose(script, ATemplate, true);
    std::string all;
    for (const TDiagnostic& e : d.Diags) {
      if (e.Severity != TSeverity::Error) continue;
      all += e.Message.substr(0, 40) + "|";
      for (const TFixIt& f : e.FixIts) all += "fix@" + std::to_string(f.Place.From) + f.Text + "|";
    }
    return all;
  };
  EXPECT_EQ("under --escape zoqc cannot tell whether |fix@22(|fix@25)|",
            errors("<script>function f(){}/'/.test(s); var u = {x}</script>"));
  EXPECT_EQ("", errors("<script>function f(){};/'/.test(s); var u = {x}</script>"));
  EXPECT_EQ("under --escape '{y}' cannot be printed a|fix@13\\|",
            errors("<script>a = `${x}{ 1 }`; b = {y}</script>"));
  EXPECT_EQ("under --escape '{y}' cannot be printed: |fix@19 |",
            errors("<script>a = '<!-{x}-<script>'; b = '{y}'</script>"));
  EXPECT_EQ("under --escape '{x}' cannot be printed s|", errors("<a href=\"vbscript:{x}\">"));
  // An SVG image is a document that runs its scripts; a raster image runs none.
  EXPECT_EQ("under --escape '{x}' cannot be printed s|",
            errors("<object data=\"data:image/svg+xml,{x}\">"));
  EXPECT_EQ("", errors("<img src=\"data:image/png;base64,{x}\">"));
  EXPECT_EQ("under --escape nothing can make a value |", errors("<iframe srcdoc=\"<b {x}>\">"));
  // <xmp> shows its text as written: no escaped value arrives as it was. "</XMPs" ends nothing.
  EXPECT_EQ("under --escape '{x}' cannot be printed i|fix@1pre|fix@19pre|",
            errors("<XMP>{x} </XMPs> </Xmp\n>"));
  EXPECT_EQ("under --escape '{x}' cannot be printed i|fix@1pre|", errors("<xmp>{x}"));
  EXPECT_EQ("", errors("<pre>{x}</pre><noscript>{x}</noscript>"));
}

}  // namespace
}  // namespace zoqc

#undef LF
#undef HTML
