// Tests of the model's answers about scopes: which copy and block an offset of the template
// stands in, and what each scope binds.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "src/translation/compile.h"

namespace zoqc {
namespace {

TEST(TPageModel, ScopeAt) {
  const std::string templ =
      "{t}<!--BEGIN row-->{n}<!--BEGIN cell-->{c}<!--END cell-->{n2}<!--END row-->"
      "<!--BEGIN row-->{x}<!--END row--><!--END cell-->";
  const TCompileResult result =
      Compile("<?php\n<<t<<$t\n<<*cell\n<<<c<<$c\n<<*row\n<<<n<<$n\n", templ);
  const TPageModel& model = *result.Model;
  const std::size_t cell = model.BlockNamed("cell"), row = model.BlockNamed("row");
  const auto at = [&](std::string_view AText) { return model.ScopeAt(templ.find(AText)); };
  EXPECT_EQ(kNowhere, at("{t}"));            // the template's own text
  EXPECT_EQ(kNowhere, at("<!--BEGIN row"));  // a copy's first byte is not inside it
  EXPECT_EQ(row, at("{n}"));                 // in the first copy
  EXPECT_EQ(cell, at("{c}"));                // a nested copy: the innermost
  EXPECT_EQ(row, at("{n2}"));                // after the nested copy, back in the outer
  EXPECT_EQ(kNowhere, at("{x}"));            // a differing copy prints as text
  EXPECT_EQ(kNowhere, model.ScopeAt(templ.rfind("<!--END cell")));  // an unpaired END
  EXPECT_EQ(model.ScopeAt(templ.find("{x}")), model.ScopeOf(model.Placeholders()[4]));
}

// The scopes are the plan's, which the page carries out whichever block comes first: a
// placeholder the model finds unbound in its scope is one the page prints as written.
TEST(TPageModel, ScopesFollowThePlan) {
  const std::string outer = "<?php\n<<*outer\n<<<x<<$x\n<<*inner\n<<<y<<$y\n";
  const std::string inner = "<?php\n<<*inner\n<<<y<<$y\n<<*outer\n<<<x<<$x\n";
  const std::string nested =
      "<!--BEGIN outer-->{x}<!--BEGIN inner-->{x}{y}<!--END inner--><!--END outer-->";
  const struct {
    std::string Script, Template;
    const char* Scopes;  // each placeholder's block in order ("-": the template's own text)
  } cases[] = {
      // Outer first: its cut swallows the inner copy, whose {x} the outer bindings fill.
      {outer, nested, "outer outer outer"},
      {inner, nested, "outer inner inner"},
      // A differing inner copy: the one the inner step replaces once the outer one is gone,
      // and text when the inner step comes first.
      {outer, nested + "<!--BEGIN inner-->{y}!<!--END inner-->", "outer outer outer inner"},
      {inner, nested + "<!--BEGIN inner-->{y}!<!--END inner-->", "outer inner inner -"},
      // A copy in other letter case is cut with the first, and never found on its own.
      {inner, nested + "<!--BEGIN INNER-->{X}{Y}<!--END INNER-->", "outer inner inner inner inner"},
      {outer, nested + "<!--BEGIN INNER-->{X}{Y}<!--END INNER-->", "outer outer outer - -"},
      {outer, "<!--BEGIN outer-->{!x}{x}<!--END outer-->", "outer outer"},
  };
  for (const auto& c : cases) {
    const TCompileResult result = Compile(c.Script, c.Template);
    ASSERT_TRUE(result.Ok()) << c.Template;
    const TPageModel& model = *result.Model;
    std::string scopes;
    std::vector<std::pair<std::size_t, std::size_t>> unbound, left;  // (name offset, block)
    for (const TPlaceholder& p : model.Placeholders()) {
      const std::size_t block = model.ScopeOf(p);
      scopes += (scopes.empty() ? "" : " ") +
                (block == kNowhere ? std::string("-") : std::string(model.Blocks[block].Name));
      EXPECT_EQ(block, model.ScopeAt(p.Span.Begin));
      // The page reports what its buffers' texts left, which come from each block's first copy.
      if (p.Copy != kNowhere && p.Copy != model.Blocks[block].First) continue;
      if (model.BindingThatFills(block, p.Name.Of(c.Template)) == kNowhere)
        unbound.emplace_back(p.Name.Begin, block);
    }
    EXPECT_EQ(c.Scopes, scopes) << c.Template;
    // Each step substitutes the placeholders of either form whose replaced copy is the one it
    // reads.
    for (std::size_t step = 0; step < model.Plan.Steps.size(); ++step) {
      std::string listed, read;
      const TSpan run = model.Plan.Steps[step].Placeholders;
      for (std::size_t p = run.Begin; p < run.End; ++p)
        listed += c.Template.substr(
            model.Plan.Placeholders[p],
            PlaceholderEnd(c.Template, model.Plan.Placeholders[p]) - model.Plan.Placeholders[p]);
      for (const TPlaceholder& p : model.Placeholders())
        if (p.Copy != kNowhere && model.Copies[p.Copy].Begin == model.Plan.Steps[step].Begin)
          read += p.Span.Of(c.Template);
      EXPECT_EQ(read, listed) << c.Template << " " << model.Plan.Steps[step].Name;
    }
    for (const TLeftPlaceholder& l : result.Leftovers.Left)
      left.emplace_back(l.Name.Begin, l.Block);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(unbound, left) << c.Template;
  }
}

TEST(TPageModel, MarkersPairWithTheFirstEndAfter) {
  const std::string templ =
      "<!--END x--><!--BEGIN x-->{v}<!--BEGIN x--><!--END x--><!--BEGIN y--><!--end x-->";
  // Paired whatever the script defines, and after an error too (Error(3) here).
  for (const char* script : {"<?php\n", "<?php\n<<<v<<$v\n"}) {
    const TCompileResult result = Compile(script, templ);
    std::vector<std::size_t> matches;
    for (const TMarker& marker : result.Model->Markers) matches.push_back(marker.Match);
    EXPECT_EQ((std::vector<std::size_t>{kNowhere, 3, 3, kNowhere, kNowhere, kNowhere}), matches);
    EXPECT_EQ(1u, result.Model->Placeholders().size());
  }
}

TEST(TPageModel, BindingsOf) {
  const TCompileResult result =
      Compile("<?php\n<<t<<$t\n<<*row\n<<<n<<$n\n<<u<<$u\n<<<m<<$m\n<<row<<$r\n", "");
  const TPageModel& model = *result.Model;
  const std::size_t row = model.BlockNamed("row");
  EXPECT_EQ((std::vector<std::size_t>{0, 3, 5}), model.BindingsOf(kNowhere));  // "<<" lines
  EXPECT_EQ((std::vector<std::size_t>{2, 4}), model.BindingsOf(row));          // after "<<*row"
  EXPECT_EQ(row, model.Script.Statements[1].Block);                            // "<<*row" itself
  EXPECT_EQ(kNowhere, model.Script.Statements[5].Block);  // "<<row<<": no block's
}

TEST(TPageModel, BoundNamesFollowThePage) {
  const std::string templ =
      "{name}<!--BEGIN row-->{X}<!--END row--><!--BEGIN cell-->{z}<!--END cell-->";
  const TCompileResult result = Compile(
      "<?php\n<<name<<$a\n<<Name<<$b\n<<name<<$c\n<<*row\n<<<x<<1\n<<*row\n<<<y<<2\n<<<x<<3\n"
      "<<*cell\n",
      templ);
  const TPageModel& model = *result.Model;
  const std::size_t row = model.BlockNamed("row"), cell = model.BlockNamed("cell");
  ASSERT_EQ(2u, model.Blocks.size());  // "row" defined twice is one block
  EXPECT_EQ(row, model.Script.Statements[5].Block);
  EXPECT_EQ(row, model.Script.Statements[7].Block);
  // "Name" and "name" share a bucket, and the newer is listed first: it fills "{name}".
  EXPECT_NE(std::string::npos, result.Pieces.Joined().find("<?php echo $b;?>"));
  std::vector<std::string_view> names;
  for (const TBoundName& bound : model.BoundNames(kNowhere)) names.push_back(bound.Name);
  EXPECT_EQ((std::vector<std::string_view>{"Name", "name"}), names);
  EXPECT_TRUE(model.BoundNames(cell).empty());
  const struct {
    std::size_t Block;
    const char* Name;
    std::size_t Fills;  // statement index
  } cases[] = {{kNowhere, "NAME", 1}, {kNowhere, "name", 1}, {row, "X", 7},
               {row, "y", 6},         {cell, "x", kNowhere}, {kNowhere, "x", kNowhere}};
  for (const auto& c : cases) EXPECT_EQ(c.Fills, model.BindingThatFills(c.Block, c.Name)) << c.Name;
  // The leftovers name their blocks by the same index.
  ASSERT_EQ(1u, result.Leftovers.Left.size());
  EXPECT_EQ(cell, result.Leftovers.Left[0].Block);
  EXPECT_EQ("z", result.Leftovers.Left[0].Name.Of(templ));
}

}  // namespace
}  // namespace zoqc
