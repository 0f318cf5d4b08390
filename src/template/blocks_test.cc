// Tests of block strings and the generated texts of a block.
#include "src/template/blocks.h"

#include <gtest/gtest.h>

#define LF "\n"
#define CRLF "\r\n"

namespace zoqc {
namespace {

std::string BlockString(std::string_view AInner,
                        std::initializer_list<std::pair<const char*, const char*>> AVars = {}) {
  THashTable table(256);
  for (const auto& [name, expr] : AVars) table.Put(name, expr);
  std::vector<std::size_t> placeholders;
  for (TSpan p = NextPlaceholder(AInner, 0); p.Begin < AInner.size();
       p = NextPlaceholder(AInner, p.End))
    placeholders.push_back(p.Begin);
  return MakeBlockString(AInner, placeholders, TPlaceholderIndex(&table, "\".", ".\""));
}

TEST(BlockTexts, GeneratedTexts) {
  EXPECT_EQ("$ZOQBLOCK_row=\"\";", BlockInitText("row"));
  EXPECT_EQ("$ZOQBLOCK_row=$ZOQBLOCK_row.\"x\";" CRLF, BlockAppendText("row", "\"x\""));
  EXPECT_EQ("<?php echo $ZOQBLOCK_row;?>" CRLF, BlockEchoText("row"));
  EXPECT_EQ("$ZOQBLOCK_=\"\";", BlockInitText(""));
}

TEST(MakeBlockString, MarkupIsLiteral) {
  const struct {
    const char* Inner;
    const char* Literal;
  } cases[] = {
      {"", "\"\""},
      {"<li>x</li>", "\"<li>x</li>\""},
      {"<tr class=\"odd\">", "\"<tr class=\\\"odd\\\">\""},
      {"$12.50 {$x} ${y}", "\"\\$12.50 {\\$x} \\${y}\""},
      {"C:\\dir\\n", "\"C:\\\\dir\\\\n\""},
      {"{unbound}{}", "\"{unbound}{}\""},
      {"<<+row", "\"<<+row\""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Literal, BlockString(c.Inner)) << c.Inner;
}

TEST(MakeBlockString, SplicesVariables) {
  EXPECT_EQ("\"" CRLF "<li>\".$row['title'].\"</li>" CRLF "\"",
            BlockString(CRLF "<li>{title}</li>" CRLF, {{"title", "$row['title']"}}));
  EXPECT_EQ("\"\".$t.\"\".$t.\"\"", BlockString("{TITLE}{Title}", {{"title", "$t"}}));
  // The expression is never escaped, and never searched for placeholders.
  EXPECT_EQ("\"\\\"\".\"a\\\"{b}\".\"\"",
            BlockString("\"{a}", {{"a", "\"a\\\"{b}\""}, {"b", "$b"}}));
  EXPECT_EQ("\"\".$e.\"\"", BlockString("{}", {{"", "$e"}}));  // the empty name
  // Keys differing in case: the first listed ("Name") wins every case variant.
  EXPECT_EQ("\"\".$u.\"\".$u.\"\"", BlockString("{name}{NAME}", {{"name", "$l"}, {"Name", "$u"}}));
}

TEST(MakeBlockString, InnerBlockEchoBecomesSplice) {
  const struct {
    const char* Inner;
    const char* Literal;
  } cases[] = {
      {"<p><?php echo $ZOQBLOCK_tag;?>" CRLF CRLF "</p>", "\"<p>\".$ZOQBLOCK_tag.\"" CRLF "</p>\""},
      {"<?php echo $ZOQBLOCK_tag;?>" LF LF, "\"\".$ZOQBLOCK_tag.\"" LF "\""},
      {"<?php echo $ZOQBLOCK_t1;?></p>", "\"\".$ZOQBLOCK_t1.\"</p>\""},
      {"<?php echo $ZOQBLOCK_;?>", "\"\".$ZOQBLOCK_.\"\""},
      // Anything else that looks like PHP stays literal text.
      {"<?php echo $ZOQBLOCK_a_b;?>", "\"<?php echo \\$ZOQBLOCK_a_b;?>\""},
      {"<?php echo $x;?>", "\"<?php echo \\$x;?>\""},
      {"<?php echo $ZOQBLOCK_a", "\"<?php echo \\$ZOQBLOCK_a\""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Literal, BlockString(c.Inner)) << c.Inner;
}

}  // namespace
}  // namespace zoqc

#undef LF
#undef CRLF
