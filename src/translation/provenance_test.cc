// Tests of the page's provenance: every byte maps back to where it came from.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "src/translation/compile.h"

namespace zoqc {
namespace {

std::string Load(const std::filesystem::path& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The 1-based line of AOffset in AText.
std::size_t LineOf(std::string_view AText, std::size_t AOffset) {
  return 1 + static_cast<std::size_t>(std::count(AText.begin(), AText.begin() + AOffset, '\n'));
}

// Checks the provenance of one page: the segments cover the page in order; script and template
// bytes are the bytes of their source; a spliced expression lies in the expression of a binding
// of its placeholder's name.
void ExpectMapped(std::string AScript, std::string ATemplate, const std::string& ALabel) {
  const TCompileResult result =
      Compile(std::move(AScript), std::move(ATemplate), {.Provenance = true});
  if (!result.Ok()) return;
  const std::string page = result.Pieces.Joined();
  const TProvenance& origins = *result.Provenance;
  const TPageModel& model = *result.Model;
  ASSERT_EQ(page.size(), origins.PageSize()) << ALabel;
  const auto segments = origins.Segments();
  if (page.empty()) return;
  ASSERT_FALSE(segments.empty()) << ALabel;
  EXPECT_EQ(0u, segments.front().Page) << ALabel;
  for (std::size_t s = 0; s < segments.size(); ++s) {
    const TSegment& seg = segments[s];
    const std::size_t end = s + 1 < segments.size() ? segments[s + 1].Page : page.size();
    ASSERT_LT(seg.Page, end) << ALabel << " segment " << s;
    const std::string_view bytes = std::string_view(page).substr(seg.Page, end - seg.Page);
    if (seg.From == TOrigin::Generated) continue;
    const std::string_view source =
        seg.From == TOrigin::Script ? model.Script.Text : model.Template;
    EXPECT_EQ(source.substr(seg.Offset, bytes.size()), bytes) << ALabel << " segment " << s;
    if (seg.From != TOrigin::Script || seg.TemplateCause == kNowhere) continue;
    const std::size_t binding = model.Script.StatementAt(seg.Offset);
    ASSERT_NE(kNowhere, binding) << ALabel;
    const TStatement& st = model.Script.Statements[binding];
    EXPECT_TRUE(st.Expr.Holds(seg.Offset)) << ALabel;
    const std::string_view placeholder = model.Template.substr(seg.TemplateCause);
    EXPECT_TRUE(SameText(placeholder.substr(1, st.Name.Size() + 1),
                         std::string(st.Name.Of(model.Script.Text)) + "}"))
        << ALabel;
  }
}

TEST(Provenance, EveryByteOfTheGoldenPagesMapsBack) {
  const std::filesystem::path root = std::filesystem::path(ZOQC_SOURCE_DIR) / "tests" / "cases";
  std::size_t pages = 0;
  for (const auto& entry : std::filesystem::directory_iterator(root)) {
    ExpectMapped(Load(entry.path() / "page.zoq"), Load(entry.path() / "page.zot"),
                 entry.path().filename().string());
    ++pages;
  }
  EXPECT_GT(pages, 40u);
  // Generated pages: nested and repeated blocks, escapes, case variants, LF and CR LF.
  const char* const scripts[] = {
      "<?php\n<<t<<$t\n<<*in\n<<<v<<$v\n<<*out\n<<<w<<$w\n<<+in\n<<+out\n",
      "<?php\r\n<<*row\r\n<<<name<<$r['n']\r\n<<+ROW\r\n<<x<<1\r\n"};
  const char* const templates[] = {
      "{T}<!--BEGIN out-->\"$\\{w}<!--BEGIN in-->{V}{t}<!--END in-->\n<!--END out-->{t}",
      "<!--BEGIN row-->{name}<!--END row--><!--begin row-->{NAME}<!--END row-->{x}{name}"};
  for (const char* script : scripts)
    for (const char* templ : templates) ExpectMapped(script, templ, script);
}

TEST(Provenance, BlogLineLeadsToTheStatementTheMarkupAndTheBinding) {
  const std::filesystem::path blog =
      std::filesystem::path(ZOQC_SOURCE_DIR) / "examples" / "blog" / "blog";
  const TCompileResult result =
      Compile(Load(blog.string() + ".zoq"), Load(blog.string() + ".zot"), {.Provenance = true});
  ASSERT_TRUE(result.Ok());
  const std::string_view script = result.Model->Script.Text, templ = result.Model->Template;
  std::set<std::size_t> causes, markup, expressions;  // script, template, script lines
  for (const TLineSource& source : result.Provenance->OnLine(45)) {
    if (source.ScriptCause != kNowhere) causes.insert(LineOf(script, source.ScriptCause));
    if (source.Kind == TLineSource::TKind::Markup) markup.insert(LineOf(templ, source.Span.Begin));
    if (source.Kind == TLineSource::TKind::Expression)
      expressions.insert(LineOf(script, source.Span.Begin));
  }
  EXPECT_EQ(std::set<std::size_t>{39}, causes);  // "<<+entry"
  EXPECT_TRUE(markup.count(11));                 // <h2><a href="{url}" ...>{headline}
  EXPECT_TRUE(expressions.count(30));            // <<<headline<<htmlspecialchars(...)
  EXPECT_EQ(nullptr, result.Provenance->At(result.Provenance->PageSize()));
}

// Page lines are PHP's: a lone CR ends one, as LF and CR LF do, so PHP's "line 2" is found.
TEST(Provenance, PageLinesAreCountedAsPhpCountsThem) {
  const TCompileResult result =
      Compile("<?php\r$a = 1;\r\n$b = 2;\n<<t<<$a\n", "x\r{t}\r", {.Provenance = true});
  ASSERT_TRUE(result.Ok());
  const std::string page = result.Pieces.Joined();
  const TProvenance& origins = *result.Provenance;
  EXPECT_EQ(6u, origins.LineStart(2));                          // after the lone CR
  EXPECT_EQ(page.find("$b"), origins.LineStart(3));             // after CR LF
  EXPECT_EQ(page.find("x\r"), origins.LineStart(7));            // after "?>" CR LF
  EXPECT_EQ(page.find("<?php echo $a"), origins.LineStart(8));  // after "x" CR
  EXPECT_EQ(kNowhere, origins.LineStart(9));                    // the trailing CR starts none
}

}  // namespace
}  // namespace zoqc
