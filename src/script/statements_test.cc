// Tests of the statement handlers: what each statement binds, records and reports.
#include "src/script/statements.h"

#include <gtest/gtest.h>

#include "src/script/scan.h"
#include "src/script/scanner.h"
#include "src/template/page_tables.h"
#include "src/translation/compile.h"

#define LF "\n"
#define CRLF "\r\n"

namespace zoqc {
namespace {

// Scans "<?php" and the given lines (CR LF ends) into ARun; yields the error line or "".
std::string ScanLines(TScriptModel& ARun, std::string& AScript,
                      std::initializer_list<const char*> ALines) {
  AScript = "<?php" CRLF;
  for (const char* line : ALines) AScript.append(line).append(CRLF);
  ARun.Text = AScript;
  return std::string(ErrorLine(ScanScript(ARun)));
}

// The block that "<<<" lines bind into after the scan: the name of the last "<<*" that set one.
// The names of the "<<*" lines that define a block, in script order.
std::vector<std::string_view> Definitions(const TScriptModel& ARun) {
  std::vector<std::string_view> names;
  for (const TStatement& s : ARun.Statements)
    if (s.Kind == TStatementKind::BlockDef && !s.Separated) names.push_back(s.Name.Of(ARun.Text));
  return names;
}

TEST(ProcessTemplateStmt, Bindings) {
  const struct {
    const char* Line;
    const char* Name;
    const char* Expression;
  } cases[] = {
      {"<<title<<\"Hello\"", "title", "\"Hello\""},  // quotes kept
      {"<<title<< $t", "title", " $t"},              // leading space kept
      {"<<a<<", "a", ""},                            // empty expression
      {"<<a<<x<<y", "a", "x<<y"},                    // "<<" inside the expression
  };
  for (const auto& c : cases) {
    TScriptModel run;
    std::string script;
    EXPECT_EQ("", ScanLines(run, script, {c.Line})) << c.Line;
    EXPECT_EQ(c.Expression, TPageTables(run, false).Vars.ValueOf(c.Name)) << c.Line;
  }
}

TEST(ProcessTemplateStmt, LastBindingWins) {
  TScriptModel run;
  std::string script;
  EXPECT_EQ("", ScanLines(run, script, {"<<a<<1", "<<a<<2"}));
  EXPECT_EQ("2", TPageTables(run, false).Vars.ValueOf("a"));
}

TEST(Statements, Errors) {
  const struct {
    std::initializer_list<const char*> Lines;
    const char* Error;
  } cases[] = {
      {{"<<title <<x"}, "Error(2):need <<"},    // space before the separator
      {{"<<my_title<<x"}, "Error(2):need <<"},  // the name ends at the underscore
      {{"<<<x<<1"}, "Error(3):have not set current block"},
      {{"<<<x 1"}, "Error(5):need <<"},  // separator tested before the block
      {{"<<*", "<<<x<<1"}, "Error(3):have not set current block"},  // empty block name
      {{"<<*row", "<<<x 1"}, "Error(5):need <<"},
  };
  for (const auto& c : cases) {
    TScriptModel run;
    std::string script;
    EXPECT_EQ(c.Error, ScanLines(run, script, c.Lines)) << *c.Lines.begin();
  }
}

TEST(ProcessTemplateBlockDef, RecordsBlocks) {
  TScriptModel run;
  std::string script;
  EXPECT_EQ("",
            ScanLines(run, script, {"<<*r", "<<*s", "<<*r", "<<<x<<1", "<<*list<<x", "<<<y<<2"}));
  const TPageTables tables(run, false);
  // Duplicates kept; "<<*list<<x" defines nothing.
  EXPECT_EQ((std::vector<std::string_view>{"r", "s", "r"}), Definitions(run));
  ASSERT_NE(nullptr, tables.BlockVarList.Get("r"));
  EXPECT_EQ("1", tables.BlockVarList.Get("r")->Get("x"));
  EXPECT_EQ("2", tables.BlockVarList.Get("r")->Get("y"));
  EXPECT_EQ(nullptr, tables.BlockVarList.Get("s"));  // no variables, no table
  EXPECT_EQ(nullptr, tables.BlockVarList.Get("list"));
}

TEST(ProcessTemplateBlockDef, TrailingTextStays) {
  TScriptModel run;
  std::string script;
  EXPECT_EQ("", ScanLines(run, script, {"<<*list // rows"}));
  EXPECT_EQ(std::vector<std::string_view>{"list"}, Definitions(run));
  EXPECT_EQ("<?php" CRLF "<<*list // rows" CRLF LF, run.PhpText());
}

TEST(ProcessTemplateBlockVar, BindsIntoCurrentBlock) {
  TScriptModel run;
  std::string script;
  EXPECT_EQ("", ScanLines(run, script,
                          {"<<*row", "<<<name<<$n", "<<+row", "<<t<<1", "<<<<<x", "<<<name<<$m"}));
  const TPageTables tables(run, false);
  const THashTable* hash = tables.BlockVarList.Get("row");
  ASSERT_NE(nullptr, hash);
  EXPECT_EQ("$m", hash->Get("name"));  // rebound
  EXPECT_EQ("x", hash->Get(""));       // "<<<<<x": the empty name
  EXPECT_EQ("", tables.Vars.ValueOf("name"));
  EXPECT_EQ("<?php" CRLF "<<*row" CRLF LF LF "<<+row" CRLF LF LF LF LF, run.PhpText());
}

TEST(ProcessTemplateBlockParse, RecordsNothing) {
  TScriptModel run;
  std::string script;
  EXPECT_EQ("", ScanLines(run, script, {"<<*a", "<<+b extra"}));
  EXPECT_EQ(std::vector<std::string_view>{"a"}, Definitions(run));
  EXPECT_EQ("<?php" CRLF "<<*a" CRLF LF "<<+b extra" CRLF LF, run.PhpText());
}

}  // namespace
}  // namespace zoqc

#undef LF
#undef CRLF
