// Tests of the whole translation, script and template in, page out.
#include "src/translation/compile.h"

#include <gtest/gtest.h>

#include "tests/room_sink.h"

#define LF "\n"
#define CRLF "\r\n"
#define CLOSE CRLF "?>" CRLF

namespace zoqc {
namespace {

// Joins lines, each followed by AEnd.
std::string Lines(std::initializer_list<const char*> ALines, const char* AEnd = CRLF) {
  std::string text;
  for (const char* line : ALines) text.append(line).append(AEnd);
  return text;
}

std::string Page(std::string_view AScript, std::string_view ATemplate) {
  const TCompileResult result = Compile(std::string(AScript), std::string(ATemplate));
  EXPECT_TRUE(result.Ok()) << ErrorLine(result.Error);
  return result.Pieces.Joined();
}

const char* const kHelloScript[] = {"<?php",
                                    "<<title<<$title",
                                    "<<*row",
                                    "<<<name<<$r['name']",
                                    "foreach ($rows as $r) {",
                                    "<<+row",
                                    "}"};

std::string HelloScript(const char* AEnd) {
  std::string text;
  for (const char* line : kHelloScript) text.append(line).append(AEnd);
  return text;
}

const std::string kHelloTemplate =
    Lines({"<h1>{title}</h1>", "<ul>", "<!--BEGIN row--><li>{name}</li><!--END row-->", "</ul>"});

TEST(Compile, HelloWithCrLfScript) {
  EXPECT_EQ("<?php" CRLF LF "$ZOQBLOCK_row=\"\";" CRLF LF LF "foreach ($rows as $r) {" CRLF
            "$ZOQBLOCK_row=$ZOQBLOCK_row.\"<li>\".$r['name'].\"</li>\";" CRLF CRLF LF "}" CRLF CLOSE
            "<h1><?php echo $title;?></h1>" CRLF "<ul>" CRLF "<?php echo $ZOQBLOCK_row;?>" CRLF CRLF
            "</ul>" CRLF,
            Page(HelloScript(CRLF), kHelloTemplate));
}

TEST(Compile, HelloWithLfScript) {
  EXPECT_EQ("<?php" LF LF "$ZOQBLOCK_row=\"\";" LF LF LF "foreach ($rows as $r) {" LF
            "$ZOQBLOCK_row=$ZOQBLOCK_row.\"<li>\".$r['name'].\"</li>\";" CRLF LF LF "}" LF CLOSE
            "<h1><?php echo $title;?></h1>" CRLF "<ul>" CRLF "<?php echo $ZOQBLOCK_row;?>" CRLF CRLF
            "</ul>" CRLF,
            Page(HelloScript(LF), kHelloTemplate));
}

TEST(Compile, WorkedBlockExample) {
  const std::string page =
      Page(Lines({"<?php", "<<*item", "<<<title<<$row['title']", "foreach ($rows as $row) {",
                  "<<+item", "}"}),
           Lines({"<ul>", "<!--BEGIN item-->", "<li>{title}</li>", "<!--END item-->", "</ul>"}));
  EXPECT_EQ("<?php" CRLF "$ZOQBLOCK_item=\"\";" CRLF LF LF "foreach ($rows as $row) {" CRLF
            "$ZOQBLOCK_item=$ZOQBLOCK_item.\"" CRLF "<li>\".$row['title'].\"</li>" CRLF
            "\";" CRLF CRLF LF "}" CRLF CLOSE "<ul>" CRLF "<?php echo $ZOQBLOCK_item;?>" CRLF CRLF
            "</ul>" CRLF,
            page);
}

TEST(Compile, EmptyInputs) {
  EXPECT_EQ(CLOSE, Page("", ""));
  EXPECT_EQ("<?php" LF CLOSE, Page("<?php" LF, ""));
  EXPECT_EQ("x" CLOSE "{a}<!--BEGIN a-->", Page("x", "{a}<!--BEGIN a-->"));
  EXPECT_EQ(std::string("x" CLOSE "\0\xFF" LF, 10), Page("x", std::string_view("\0\xFF" LF, 3)));
}

TEST(Compile, Errors) {
  const struct {
    std::string Script;
    std::string Template;
    const char* Message;
  } cases[] = {
      {"<?php" LF "<<t <<x" LF, "", "Error(2):need <<"},
      {"<?php" LF "<<<x<<1" LF, "", "Error(3):have not set current block"},
      {"<?php" LF "<<*r" LF "<<<x 1" LF, "", "Error(5):need <<"},
      {"<?php" LF "<<*r" LF, "<!--BEGIN r-->x",
       "Error(4):block define error BEGIN block after END block"},
      {"<?php" LF "<<*r" LF, "<!--END r--><!--BEGIN r-->x<!--END r-->",
       "Error(4):block define error BEGIN block after END block"},
      // The END marker must be exact: another case or an extra space is no END marker.
      {"<?php" LF "<<*r" LF, "<!--BEGIN r-->x<!--end r-->",
       "Error(4):block define error BEGIN block after END block"},
      {"<?php" LF "<<*r" LF, "<!--BEGIN r-->x<!--END  r-->",
       "Error(4):block define error BEGIN block after END block"},
      // A later block's error stops the run after earlier blocks went well.
      {"<?php" LF "<<*a" LF "<<*b" LF, "<!--BEGIN a--><!--END a--><!--BEGIN b-->",
       "Error(4):block define error BEGIN block after END block"},
  };
  for (const auto& c : cases) {
    const TCompileResult result = Compile(c.Script, c.Template);
    EXPECT_FALSE(result.Ok()) << c.Script;
    EXPECT_EQ(c.Message, ErrorLine(result.Error)) << c.Script;
    EXPECT_EQ("", result.Pieces.Joined());
  }
}

// The PHP part of a page for a script and template: everything before the closing tag.
std::string PhpPart(std::string_view AScript, std::string_view ATemplate) {
  const std::string page = Page(AScript, ATemplate);
  return page.substr(0, page.find(CLOSE));
}
std::string TemplatePart(std::string_view AScript, std::string_view ATemplate) {
  const std::string page = Page(AScript, ATemplate);
  return page.substr(page.find(CLOSE) + 6);
}

TEST(Compile, NameBoundaries) {
  const std::string tmpl = "<!--BEGIN row-->r<!--END row--><!--BEGIN rows-->s<!--END rows-->";
  const std::string expected = "<?php" LF "$ZOQBLOCK_row=\"\";" LF LF "$ZOQBLOCK_rows=\"\";" LF LF
                               "$ZOQBLOCK_row=$ZOQBLOCK_row.\"r\";" CRLF LF LF
                               "$ZOQBLOCK_rows=$ZOQBLOCK_rows.\"s\";" CRLF LF LF;
  EXPECT_EQ(expected, PhpPart("<?php" LF "<<*row" LF "<<*rows" LF "<<+row" LF "<<+rows" LF, tmpl));
  const std::string reversed = "<?php" LF "$ZOQBLOCK_rows=\"\";" LF LF "$ZOQBLOCK_row=\"\";" LF LF
                               "$ZOQBLOCK_row=$ZOQBLOCK_row.\"r\";" CRLF LF LF
                               "$ZOQBLOCK_rows=$ZOQBLOCK_rows.\"s\";" CRLF LF LF;
  EXPECT_EQ(reversed, PhpPart("<?php" LF "<<*rows" LF "<<*row" LF "<<+row" LF "<<+rows" LF, tmpl));
}

TEST(Compile, StatementRewrites) {
  const std::string tmpl = "<!--BEGIN item-->i<!--END item-->";
  // Any case of the name, rewritten with the name as defined; text after the name stays.
  EXPECT_EQ("<?php" LF "$ZOQBLOCK_item=\"\"; // list" LF LF
            "$ZOQBLOCK_item=$ZOQBLOCK_item.\"i\";" CRLF " x" LF LF,
            PhpPart("<?php" LF "<<*item // list" LF "<<+ITEM x" LF, tmpl));
  // A block without variables appends its markup all the same.
  EXPECT_EQ("<?php" LF "$ZOQBLOCK_item=\"\";" LF LF
            "$ZOQBLOCK_item=$ZOQBLOCK_item.\"i\";" CRLF LF LF,
            PhpPart("<?php" LF "<<*item" LF "<<+item" LF, tmpl));
  // Markup holding "<<+item" is printed as written, never rewritten.
  EXPECT_EQ(
      "<?php" LF "$ZOQBLOCK_item=\"\";" LF LF
      "$ZOQBLOCK_item=$ZOQBLOCK_item.\"<<+item\";" CRLF LF LF,
      PhpPart("<?php" LF "<<*item" LF "<<+item" LF, "<!--BEGIN item--><<+item<!--END item-->"));
  // Statements of unknown blocks stay as written.
  EXPECT_EQ("<?php" LF "$ZOQBLOCK_item=\"\";" LF LF "<<+other" LF LF,
            PhpPart("<?php" LF "<<*item" LF "<<+other" LF, tmpl));
}

TEST(Compile, BlockMissingFromTemplate) {
  // The definition initialises the buffer and each parse statement appends "".
  EXPECT_EQ("<?php" LF "$ZOQBLOCK_gone=\"\";" LF LF LF
            "$ZOQBLOCK_gone=$ZOQBLOCK_gone.\"\";" CRLF LF LF,
            PhpPart("<?php" LF "<<*gone" LF "<<<x<<$x" LF "<<+gone" LF, "<p>{x}</p>"));
  EXPECT_EQ("<p>{x}</p><!--END gone-->",
            TemplatePart("<?php" LF "<<*gone" LF, "<p>{x}</p><!--END gone-->"));
}

TEST(Compile, BlockDefinedTwice) {
  // The second pass finds no BEGIN marker any more; both definitions initialise.
  EXPECT_EQ("<?php" LF "$ZOQBLOCK_r=\"\";" LF LF LF "$ZOQBLOCK_r=\"\";" LF LF
            "$ZOQBLOCK_r=$ZOQBLOCK_r.\"\".$v.\"\";" CRLF LF LF,
            PhpPart("<?php" LF "<<*r" LF "<<<v<<$v" LF "<<*r" LF "<<+r" LF,
                    "<!--BEGIN r-->{v}<!--END r-->"));
}

// A page whose lists take 128 KiB and more shares one arena among them: listed and streamed
// (where the echoes are written around the expressions), each placeholder gets its binding,
// and everything the page keeps goes before the arena does.
TEST(Compile, ListsInOneArena) {
  class TStringSink final : public TPageSink {
   public:
    std::string Text;

   private:
    void Put(std::string_view APiece) override { Text.append(APiece); }
  };
  constexpr int kNames = 3000;
  std::string script = "<?php" LF, templ, want;
  for (int i = 0; i < kNames; ++i) {
    const std::string n = std::to_string(i);
    script += "<<v" + n + "<<$a[" + n + "]" LF;
    templ += "{V" + n + "}|";
    want += "<?php echo $a[" + n + "];?>|";
  }
  const std::string listed = Page(script, templ);
  ASSERT_GE(listed.size(), want.size());
  EXPECT_EQ(want, listed.substr(listed.size() - want.size()));
  TStringSink streamed;
  {
    const TCompileResult result = Compile({script, nullptr}, {templ, nullptr}, {}, &streamed);
    EXPECT_TRUE(result.Ok());
  }
  EXPECT_EQ(listed, streamed.Text);
}

// The LFs that statement lines leave, in runs of every length around the 64 appended at once,
// as with provenance recorded (each from its own line).
TEST(Compile, RunsOfStatementLines) {
  std::string script = "<?php" LF, want = "<?php" LF;
  for (const std::size_t run : {1, 63, 64, 65, 130}) {
    for (std::size_t i = 0; i < run; ++i) script += "<<a<<" + std::to_string(i) + LF;
    want += std::string(run, '\n') + "x;" LF;
    script += "x;" LF;
  }
  EXPECT_EQ(want + CLOSE, Page(script, ""));
  EXPECT_EQ(want + CLOSE, Compile(script, "", {.Provenance = true}).Pieces.Joined());
}

// A sink that lends a small room, as a page's output stream lends its buffer: the page written
// in place, with placeholders at every offset of the 32-byte rounds, names left as written,
// stray braces, expressions longer than the inline copies, rooms that run out and a sink that
// lends none, is the listed page byte for byte.
TEST(Compile, PageWrittenInPlace) {
  using test_support::TRoomSink;
  std::string script = "<?php" LF "<<a<<$a" LF "<<long<<" + std::string(17, 'x') + LF + "<<huge<<" +
                       std::string(300, 'y') + LF "<<Mid<<$m" LF;
  std::string templ;
  for (int at = 0; at < 70; ++at) {
    templ += std::string(static_cast<std::size_t>(at), '.') + "{a}";
    templ += at % 3 == 0 ? "{long}" : at % 3 == 1 ? "{ {x}{ }" : "{huge}{mid}";
    templ += at % 2 ? "\n" : "{";
  }
  // Names too many for the caches are looked up a stretch ahead: runs of placeholders longer
  // than a look-ahead, across its stretches' ends.
  std::string many = "<?php" LF, crowded;
  for (int i = 0; i < 14000; ++i)
    many += "<<n" + std::to_string(i) + "<<$a[" + std::to_string(i) + "]" LF;
  for (int i = 0; i < 3000; ++i) {
    crowded += "{N" + std::to_string(i * 7 % 14000) + "}" +
               std::string(static_cast<std::size_t>(i % 41), '-');
    crowded += i % 5 == 0   ? "{zz}{"
               : i % 5 == 1 ? "{n" + std::to_string(i) + "}{" + std::string(20, 'q') + "}"
                            : "";
  }
  // Stretches longer than a room, and a page that binds no names.
  const std::string wide = std::string(5000, '.') + "{a}{b}" + std::string(5000, ',');
  for (const auto& [page, text] :
       {std::pair{script, templ}, std::pair{many, crowded}, std::pair{script, wide},
        std::pair{std::string("<?php" LF), wide}}) {
    const std::string listed = Page(page, text);
    for (const std::size_t room : {0, 1, 100, 4096}) {
      SCOPED_TRACE(room);
      TRoomSink sink(room);
      const TCompileResult result = Compile({page, nullptr}, {text, nullptr}, {}, &sink);
      EXPECT_TRUE(result.Ok());
      EXPECT_TRUE(listed == sink.Text);
    }
  }
}

TEST(Compile, CopiesOfABlock) {
  const std::string script = "<?php" LF "<<*r" LF;
  // Copies equal up to case are all replaced; a copy with other text stays.
  EXPECT_EQ("<?php echo $ZOQBLOCK_r;?>" CRLF "|<?php echo $ZOQBLOCK_r;?>" CRLF
            "|"
            "<!--BEGIN r-->y<!--END r-->",
            TemplatePart(script,
                         "<!--BEGIN r-->x<!--END r-->|<!--begin R-->X<!--end R-->|"
                         "<!--BEGIN r-->y<!--END r-->"));
  // Letters outside ASCII are not folded: a copy differing in them stays.
  EXPECT_EQ("<?php echo $ZOQBLOCK_r;?>" CRLF "<!--BEGIN r-->\xC9<!--END r-->",
            TemplatePart(script, "<!--BEGIN r-->\xE9<!--END r--><!--BEGIN r-->\xC9<!--END r-->"));
  // Many different copies: each definition takes the next one, and those equal to it up to
  // case (the second hundred repeats the first in capitals).
  std::string many_script = "<?php" LF, many, echoes;
  for (int i = 0; i < 300; ++i) {
    if (i < 200) many_script += "<<*r" LF;
    many += (i < 200 ? "<!--BEGIN r-->x" : "<!--BEGIN R-->X") + std::to_string(i % 200) +
            "<!--END r-->";
    echoes += "<?php echo $ZOQBLOCK_r;?>" CRLF;
  }
  EXPECT_EQ(echoes, TemplatePart(many_script, many));
  // A copy in which an inner block was cut after the copies were first compared: the second
  // definition of r takes the copy with the inner echo, and the same copy in other case.
  const std::string copy = "<!--BEGIN r-->2<!--BEGIN i-->y<!--END i--><!--END r-->";
  EXPECT_EQ("<?php echo $ZOQBLOCK_r;?>" CRLF "<?php echo $ZOQBLOCK_r;?>" CRLF
            "<?php echo $ZOQBLOCK_r;?>" CRLF "<!--BEGIN r-->2<!--END r-->",
            TemplatePart("<?php" LF "<<*r" LF "<<*i" LF "<<*r" LF,
                         "<!--BEGIN r-->1<!--END r-->" + copy + "<!--begin R-->2<!--BEGIN i-->Y" +
                             "<!--END i--><!--END R--><!--BEGIN r-->2<!--END r-->"));
  // An END of the name in other case inside the block text: the copy runs past it.
  EXPECT_EQ("<?php echo $ZOQBLOCK_r;?>" CRLF "<?php echo $ZOQBLOCK_r;?>" CRLF,
            TemplatePart(script,
                         "<!--BEGIN r-->a<!--end r-->b<!--END r-->"
                         "<!--BEGIN R-->A<!--END r-->B<!--END r-->"));
}

TEST(Compile, EmptyBlockAppendsEmptyString) {
  EXPECT_EQ("<?php" LF "$ZOQBLOCK_e=\"\";" LF LF "$ZOQBLOCK_e=$ZOQBLOCK_e.\"\";" CRLF LF LF,
            PhpPart("<?php" LF "<<*e" LF "<<+e" LF, "<!--BEGIN e--><!--END e-->"));
}

TEST(Compile, NestedBlocks) {
  const std::string tmpl = Lines({"<!--BEGIN entry--><h2>{title}</h2>",
                                  "<!--BEGIN tag--><i>{tag}</i><!--END tag-->", "<!--END entry-->"},
                                 LF);
  // Inner block first: the outer block's string splices the inner buffer.
  EXPECT_EQ("<?php" LF "$ZOQBLOCK_tag=\"\";" LF LF LF "$ZOQBLOCK_entry=\"\";" LF LF LF
            "$ZOQBLOCK_tag=\"\";" LF LF
            "$ZOQBLOCK_tag=$ZOQBLOCK_tag.\"<i>\".$t.\"</i>\";" CRLF LF LF
            "$ZOQBLOCK_entry=$ZOQBLOCK_entry.\"<h2>\".$e.\"</h2>" LF "\".$ZOQBLOCK_tag.\"" LF
            "\";" CRLF LF LF,
            PhpPart("<?php" LF "<<*tag" LF "<<<tag<<$t" LF "<<*entry" LF "<<<title<<$e" LF
                    "<<*tag" LF "<<+tag" LF "<<+entry" LF,
                    tmpl));
  EXPECT_EQ("<?php echo $ZOQBLOCK_entry;?>" CRLF LF,
            TemplatePart("<?php" LF "<<*tag" LF "<<*entry" LF, tmpl));
  // Outer block first: the inner markup stays literal and the inner block appends "".
  EXPECT_EQ("<?php" LF "$ZOQBLOCK_entry=\"\";" LF LF "$ZOQBLOCK_tag=\"\";" LF LF
            "$ZOQBLOCK_tag=$ZOQBLOCK_tag.\"\";" CRLF LF LF
            "$ZOQBLOCK_entry=$ZOQBLOCK_entry.\"<h2>{title}</h2>" LF
            "<!--BEGIN tag--><i>{tag}</i><!--END tag-->" LF "\";" CRLF LF LF,
            PhpPart("<?php" LF "<<*entry" LF "<<*tag" LF "<<+tag" LF "<<+entry" LF, tmpl));
}

TEST(Compile, TemplateVariablesAndBlocks) {
  // Template variables are not filled in inside blocks; the PHP part is never searched.
  EXPECT_EQ("<?php" LF LF "$ZOQBLOCK_b=\"\";" LF LF "$s = '{t}';" LF
            "$ZOQBLOCK_b=$ZOQBLOCK_b.\"{t}\";" CRLF LF LF,
            PhpPart("<?php" LF "<<t<<$t" LF "<<*b" LF "$s = '{t}';" LF "<<+b" LF,
                    "{t}<!--BEGIN b-->{t}<!--END b-->"));
  EXPECT_EQ("<?php echo $t;?><?php echo $ZOQBLOCK_b;?>" CRLF,
            TemplatePart("<?php" LF "<<t<<$t" LF "<<*b" LF, "{t}<!--BEGIN b-->{t}<!--END b-->"));
}

TEST(Compile, MarkerKeywordsLongerThanTheirs) {
  // A word that "END" or "BEGIN" starts is no marker: it stays markup (read as a near miss only
  // up to the keyword's end).
  const std::string markup = "<!--ENDS row--><!--BEGINS row-->";
  EXPECT_NE(std::string::npos, Page("<?php" LF "<<*row" LF, markup).find(markup));
}

}  // namespace
}  // namespace zoqc

#undef LF
#undef CRLF
#undef CLOSE
