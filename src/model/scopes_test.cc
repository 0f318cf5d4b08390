// Tests of the model's answers about scopes: which copy and block an offset of the template
// stands in, and what each scope binds.
#include <gtest/gtest.h>

#include <string>

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
  EXPECT_EQ(model.ScopeAt(templ.find("{x}")), model.ScopeOf(model.Placeholders[4]));
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
    EXPECT_EQ(1u, result.Model->Placeholders.size());
  }
}

TEST(TPageModel, BindingsOf) {
  const TCompileResult result =
      Compile("<?php\n<<t<<$t\n<<*row\n<<<n<<$n\n<<u<<$u\n<<<m<<$m\n<<row<<$r\n", "");
  const TPageModel& model = *result.Model;
  const std::size_t row = model.BlockNamed("row");
  EXPECT_EQ((std::vector<std::size_t>{0, 3, 5}), model.BindingsOf(kNowhere));  // "<<" lines
  EXPECT_EQ((std::vector<std::size_t>{2, 4}), model.BindingsOf(row));          // after "<<*row"
  EXPECT_EQ(row, model.BlockOf(model.Script.Statements[1]));                   // "<<*row" itself
  EXPECT_EQ(kNowhere, model.BlockOf(model.Script.Statements[5]));  // "<<row<<": no block's
}

}  // namespace
}  // namespace zoqc
