// Tests of the scan loop and its reading routines, with CR LF and LF line ends.
#include "src/script/scanner.h"
#include "src/script/scan.h"

#include <memory>

#include "src/template/page_tables.h"
#include "src/translation/compile.h"

#include <gtest/gtest.h>

#define CR "\r"
#define LF "\n"
#define CRLF "\r\n"

namespace zoqc {
namespace {

struct TScanned {
  bool Ok;
  std::string PhpStr;
  std::string_view Error;
  TScriptModel Run;
};

// Scans AScript; the model stays alive in the result for inspection.
std::unique_ptr<TScanned> Scan(std::string_view AScript) {
  auto scan = std::make_unique<TScanned>();
  scan->Run.Text = AScript;
  const TCompileError error = ScanScript(scan->Run);
  scan->Ok = error == TCompileError::None;
  scan->Error = ErrorLine(error);
  scan->PhpStr = scan->Run.PhpText();
  return scan;
}

TEST(ScanScript, WhatPhpStrReceives) {
  const struct {
    const char* Script;
    const char* PhpStr;
  } cases[] = {
      {"", ""},                                            // no pass runs
      {"echo 1;", "echo 1;"},                              // one line without a line end
      {"<<title<<\"x\"" LF, "<<title<<\"x\"" LF},          // the first line is never a statement
      {"<?php" LF " <<a<<1" LF, "<?php" LF " <<a<<1" LF},  // not at the start of a line
      {"x" CR CR CR, "x" CR CR CR},                        // trailing CRs copied once
      {"<?php" CR "<<a<<1" CR "x", "<?php" CR "<<a<<1" CR "x"},  // CR alone breaks no line
      // A template statement leaves one line end behind; the next line is examined.
      {"<?php" CRLF "<<a<<1" CRLF "<<b<<2" CRLF "echo 1;" CRLF, "<?php" CRLF LF LF "echo 1;" CRLF},
      {"<?php" LF "<<a<<1" LF "<<b<<2" LF "echo 1;" LF, "<?php" LF LF LF "echo 1;" LF},
      // Block lines are copied whole and followed by one more LF.
      {"<?php" CRLF "<<*row" CRLF "<<<n<<$n" CRLF "<<+row" CRLF "?>",
       "<?php" CRLF "<<*row" CRLF LF LF "<<+row" CRLF LF "?>"},
      {"<?php" LF "<<*row" LF "<<<n<<$n" LF "<<+row" LF "?>",
       "<?php" LF "<<*row" LF LF LF "<<+row" LF LF "?>"},
      // A stray CR ends the expression; the rest of the line is copied as text.
      {"<?php" LF "<<a<<x" CR "y" LF, "<?php" LF "y" LF},
      // A statement on the last line without a line end leaves nothing.
      {"<?php" LF "<<a<<1", "<?php" LF},
      // "<<" as the last two bytes is no statement.
      {"<?php" LF "<<", "<?php" LF "<<"},
      // "<<*list<<x": the line is copied, then its rest after "<<" once more.
      {"<?php" CRLF "<<*list<<x" CRLF, "<?php" CRLF "<<*list<<x" CRLF "x" CRLF},
  };
  for (const auto& c : cases) {
    const auto scan = Scan(c.Script);
    EXPECT_TRUE(scan->Ok) << c.Script;
    EXPECT_EQ(c.PhpStr, scan->PhpStr) << c.Script;
  }
}

TEST(ScanScript, LfScriptExecutesEveryStatementLine) {
  const auto crlf = Scan("<?php" CRLF "<<a<<1" CRLF "<<b<<2" CRLF "echo 1;" CRLF);
  const auto lf = Scan("<?php" LF "<<a<<1" LF "<<b<<2" LF "echo 1;" LF);
  for (const auto* scan : {crlf.get(), lf.get()}) {
    const TPageTables tables(scan->Run, false);
    EXPECT_EQ("1", tables.Vars.ValueOf("a"));
    EXPECT_EQ("2", tables.Vars.ValueOf("b"));
  }
  const auto blocks = Scan("<?php" LF "<<*row" LF "<<<n<<$n" LF "<<+row" LF "<<*col" LF);
  const TPageTables tables(blocks->Run, false);
  const TStatement& col = blocks->Run.Statements.back();  // the last line, ended by LF alone
  EXPECT_EQ(TStatementKind::BlockDef, col.Kind);
  EXPECT_EQ("col", col.Name.Of(blocks->Run.Text));
  ASSERT_NE(nullptr, tables.BlockVarList.Get("row"));
  EXPECT_EQ("$n", tables.BlockVarList.Get("row")->Get("n"));
}

TEST(ScanScript, StatementRecognisedWhenEnoughBytesRemain) {
  // "<<*" as the last three bytes is taken as a template statement, which then fails.
  EXPECT_EQ("Error(2):need <<", Scan("<?php" LF "<<*")->Error);
  EXPECT_EQ("Error(2):need <<", Scan("<?php" LF "<<<")->Error);
  // With four bytes "<<*x" is a block definition.
  const auto x = Scan("<?php" LF "<<*x");
  ASSERT_EQ(1u, x->Run.Statements.size());
  EXPECT_EQ(TStatementKind::BlockDef, x->Run.Statements[0].Kind);
}

TEST(ScanScript, StatementPartsAcrossSixteenByteRuns) {
  // Names and expressions read 16 bytes at a time: lengths around those runs, every line end.
  const struct {
    const char* End;
    const char* PhpRest;  // what the PHP part keeps of the line
  } ends[] = {{LF, LF}, {CRLF, LF}, {CR "tail" LF, "tail" LF}, {"", ""}};
  for (const std::size_t name_size : {1, 15, 16, 17, 33})
    for (const std::size_t expr_size : {0, 13, 14, 15, 16, 17, 40})
      for (const auto& end : ends) {
        const std::string name(name_size, 'n'), expr(expr_size, '$');
        const std::string script = "<?php" LF "<<" + name + "<<" + expr + end.End;
        const auto scan = Scan(script);
        if (expr.empty() && !*end.End) {  // "<<" as the script's last two bytes separates nothing
          EXPECT_EQ("Error(2):need <<", scan->Error);
          continue;
        }
        ASSERT_TRUE(scan->Ok) << script;
        ASSERT_EQ(1u, scan->Run.Statements.size()) << script;
        const TStatement& s = scan->Run.Statements[0];
        EXPECT_EQ(name, s.Name.Of(script)) << script;
        EXPECT_EQ(expr, s.Expr.Of(script)) << script;
        EXPECT_EQ("<<" + name + "<<" + expr, s.Line.Of(script)) << script;
        EXPECT_EQ(std::string("<?php" LF) + end.PhpRest, scan->PhpStr) << script;
      }
}

TEST(Predicates, NeedBytesToRemain) {
  EXPECT_TRUE(IsTemplateStmt("<<a", 1));
  EXPECT_FALSE(IsTemplateStmt("<<", 1));   // two bytes are not enough
  EXPECT_FALSE(IsTemplateStmt("<<a", 4));  // past the end
  EXPECT_FALSE(IsTemplateStmt("", 1));
  EXPECT_TRUE(IsTemplateBlockStmtDef("<<*a", 1));
  EXPECT_FALSE(IsTemplateBlockStmtDef("<<*", 1));
}

TEST(ReadingRoutines, Positions) {
  std::int64_t p = 1;
  EXPECT_EQ(" $x <<y", ReadScriptVar(" $x <<y" CRLF "z", p));
  EXPECT_EQ(9, p);  // past the CR, on the LF
  p = 1;
  EXPECT_EQ("x", ReadScriptVar("x" LF "z", p));
  EXPECT_EQ(2, p);  // on the LF, which the scan loop copies
  p = 1;
  EXPECT_EQ("x", ReadScriptVar("x", p));
  EXPECT_EQ(2, p);

  p = 1;
  EXPECT_TRUE(SkipLittle2("<<x", p));
  EXPECT_EQ(3, p);
  p = 1;
  EXPECT_FALSE(SkipLittle2("<<", p));  // no byte after it
  EXPECT_EQ(1, p);

  p = 1;
  SkipPastLineBreak("ab" CR LF, p);
  EXPECT_EQ(4, p);
  p = 1;
  SkipPastLineBreak("ab" LF, p);
  EXPECT_EQ(3, p);
  p = 1;
  SkipPastLineBreak("ab", p);
  EXPECT_EQ(3, p);
}

TEST(CopyLine, CopiesWithoutMoving) {
  TScriptModel Model;
  Model.Text = "ab" CRLF "cd";
  TScan Scan{Model};
  CopyLine(Scan, Model.Text, 2);
  EXPECT_EQ("b" CRLF, Model.PhpText());
  std::int64_t p = 5;
  GotoNewLine(Scan, Model.Text, p);
  EXPECT_EQ("b" CRLF "cd", Model.PhpText());
  EXPECT_EQ(7, p);
}

}  // namespace
}  // namespace zoqc

#undef CR
#undef LF
#undef CRLF
