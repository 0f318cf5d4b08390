// Tests of placeholder matching and template variable substitution.
#include "src/template/variables.h"

#include <gtest/gtest.h>

namespace zoqc {
namespace {

// Substitutes the bindings (name, expression), put in this order, into ATemplate: with the
// echo texts built, and with them viewed (written as prefix, expression, suffix), alike.
std::string Substitute(std::initializer_list<std::pair<const char*, const char*>> ABindings,
                       std::string_view ATemplate) {
  THashTable VarList(256);
  TPlaceholderIndex viewed("<?php echo ", ";?>", true);
  for (const auto& [name, expr] : ABindings) VarList.Put(name, expr), viewed.Bind(name, expr);
  const TPlaceholderIndex built(&VarList, "<?php echo ", ";?>");  // the page views its texts
  std::string texts[2];
  for (const TPlaceholderIndex* vars : {&built, static_cast<const TPlaceholderIndex*>(&viewed)}) {
    const std::string_view pieces[] = {ATemplate};
    TPieces page;
    page.Append("<?php ?>");
    TPageBuilder builder(page, nullptr);
    std::vector<std::size_t> left;
    SubstituteVariables(pieces, *vars, builder, ATemplate, left);
    const std::string text = page.Joined();
    EXPECT_EQ("<?php ?>", text.substr(0, 8));  // appended after what the page holds
    texts[vars == &viewed] = text.substr(8);
  }
  EXPECT_EQ(texts[0], texts[1]) << ATemplate;
  return texts[0];
}

TEST(SubstituteVariables, Placeholders) {
  const struct {
    std::initializer_list<std::pair<const char*, const char*>> Bindings;
    const char* Template;
    const char* Result;
  } cases[] = {
      {{}, "<h1>{title}</h1>", "<h1>{title}</h1>"},  // nothing bound: unchanged
      {{{"title", "$t"}}, "<h1>{title}</h1>", "<h1><?php echo $t;?></h1>"},
      {{{"title", "$t"}}, "{Title}{TITLE}", "<?php echo $t;?><?php echo $t;?>"},  // any case
      {{{"title", "$t"}}, "{ title }{title }{titles}", "{ title }{title }{titles}"},
      {{{"title", "$t"}}, "{other}", "{other}"},  // unbound stays
      {{{"a", "$a"}}, "{{a}}", "{<?php echo $a;?>}"},
      {{{"a", "$a"}}, "{a", "{a"},             // never closed
      {{{"a", ""}}, "{a}", "<?php echo ;?>"},  // empty expression
      // Inserted text is never searched again, whichever name comes first.
      {{{"a", "{b}"}, {"b", "$b"}}, "{a}|{b}", "<?php echo {b};?>|<?php echo $b;?>"},
      {{{"b", "{a}"}, {"a", "$a"}}, "{b}|{a}", "<?php echo {a};?>|<?php echo $a;?>"},
      // Keys differing in case: the one listed first ("Name", newest in its bucket) wins both.
      {{{"name", "$lower"}, {"Name", "$upper"}},
       "{name}{NAME}",
       "<?php echo $upper;?><?php echo $upper;?>"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.Result, Substitute(c.Bindings, c.Template)) << c.Template;
  }
  // Bytes such as NUL and 0xFF pass through.
  EXPECT_EQ(std::string("\0<?php echo $x;?>\xFF", 18),
            Substitute({{"x", "$x"}}, std::string_view("\0{x}\xFF", 5)));
}

TEST(TPlaceholderIndex, MatchesFirstKeyUpToCase) {
  THashTable table(256);
  table.Put("", "$empty");
  table.Put("row", "$r");
  const TPlaceholderIndex names(&table);
  std::size_t length = 0;
  ASSERT_TRUE(names.Match("x{ROW}", 1, length));
  EXPECT_EQ("$r", *names.Match("x{ROW}", 1, length));
  EXPECT_EQ(5u, length);
  ASSERT_TRUE(names.Match("{}", 0, length));  // the empty key
  EXPECT_EQ("$empty", *names.Match("{}", 0, length));
  ASSERT_TRUE(names.Match("{}                ", 0, length));  // 16 bytes follow
  EXPECT_EQ("$empty", *names.Match("{}                ", 0, length));
  EXPECT_FALSE(names.Match("{rows}", 0, length));
  EXPECT_FALSE(names.Match("{row", 0, length));
  EXPECT_TRUE(TPlaceholderIndex(nullptr).Empty());
}

// Names shorter than 16 are matched by their folded bytes where 16 bytes follow the "{", by a
// byte loop near the text's end; longer ones always by the loop. Both must agree.
TEST(TPlaceholderIndex, ShortAndLongNamesAnywhere) {
  THashTable table(256);
  const std::string names[] = {
      "a", "abcdefghijklmno", "abcdefghijklmnop", "Abcdefghijklmnopqrstu", "x9", "X9y"};
  for (const std::string& n : names) table.Put(n, "=" + n);
  for (int i = 0; i < 300; ++i) table.Put("k" + std::to_string(i), "=k" + std::to_string(i));
  const TPlaceholderIndex index(&table);
  const auto upper = [](std::string AText) {
    for (char& c : AText) c = UpCase(c);
    return AText;
  };
  const std::string pad(20, ' ');
  for (const std::string& n : names) {
    for (const std::string& spelled : {n, upper(n)})
      for (const std::string& after : {pad, std::string()}) {  // fast path, then the text's end
        const std::string text = "{" + spelled + "}" + after;
        std::size_t length = 0;
        const std::optional<std::string_view> found = index.Match(text, 0, length);
        ASSERT_TRUE(found) << text;
        EXPECT_EQ("=" + n, *found) << text;
        EXPECT_EQ(n.size() + 2, length);
        // One byte short or one byte more is another name, or none.
        EXPECT_FALSE(index.Match("{" + spelled + "q}" + after, 0, length)) << text;
      }
  }
  for (int i = 0; i < 300; ++i) {  // many keys: every probe sequence ends on its own key
    const std::string k = "K" + std::to_string(i);
    std::size_t length = 0;
    const std::optional<std::string_view> found = index.Match("{" + k + "}" + pad, 0, length);
    ASSERT_TRUE(found) << k;
    EXPECT_EQ("=k" + std::to_string(i), *found);
  }
  std::size_t length = 0;
  EXPECT_FALSE(index.Match("{abcdefghijklmnopq}" + pad, 0, length));
  EXPECT_FALSE(index.Match("{a b}" + pad, 0, length));
  EXPECT_FALSE(index.Match("{a\xC1}" + pad, 0, length));  // bytes past 127 are no names
  const THashTable none(256);
  EXPECT_TRUE(TPlaceholderIndex(&none).Empty());
  EXPECT_FALSE(TPlaceholderIndex(&none).Match("{a}" + pad, 0, length));
}

// Bound binding after binding, the index matches what the index of a THashTable holding the
// same bindings matches, and lists the unused keys in that table's order: names differing only
// in case in one bucket ("name", "Name") and in two ("a" at 97, "A" at 65), rebound before and
// after another spelling came, long names, the empty name, and many keys.
TEST(TPlaceholderIndex, BoundInOrderAsATableListsThem) {
  using TBindings = std::vector<std::pair<std::string, std::string>>;
  const std::string long_name(40, 'L');
  TBindings many = {{long_name + "M", "long"}};  // found again after the slots grew
  for (int i = 0; i < 200; ++i) many.push_back({"k" + std::to_string(i % 150), std::to_string(i)});
  // Every length around the short names' two words, in two spellings, and keys that are no names.
  const std::string mixed = "aB3dE5gH9jKlMnOpQr";
  TBindings lengths = {{"a-b", "-"}, {"A-B", "+"}, {"abcdefg\xC1", "c1"}, {"abcdefghijklmn ", " "}};
  for (std::size_t n = 1; n <= 17; ++n) {
    std::string upper = mixed.substr(0, n);
    for (char& ch : upper) ch = UpCase(ch);
    lengths.push_back({mixed.substr(0, n), std::to_string(n)});
    lengths.push_back({upper, "U" + std::to_string(n)});
  }
  const TBindings cases[] = {
      {},
      {{"name", "1"}, {"Name", "2"}},
      {{"Name", "1"}, {"name", "2"}, {"NAME", "3"}},
      {{"a", "1"}, {"A", "2"}, {"a", "3"}},
      {{"A", "1"}, {"a", "2"}, {"A", "3"}, {"a", "4"}},
      {{"name", "1"}, {"Name", "2"}, {"name", "3"}, {"Name", "4"}},
      {{long_name, "1"}, {"l" + long_name.substr(1), "2"}, {long_name, "3"}},
      {{"", "1"}, {"x", "2"}, {"", "3"}},
      many,
      lengths,
  };
  const std::string pad(20, ' ');
  for (const TBindings& c : cases) {
    THashTable table(256);
    TPlaceholderIndex bound("<", ">");
    for (const auto& [key, value] : c) {
      table.Put(key, value);
      bound.Bind(key, value);
    }
    const TPlaceholderIndex listed(&table, "<", ">");
    std::vector<std::string> probes = {"", "name", "a", long_name, "x", "k7"};
    for (const auto& binding : c) probes.push_back(binding.first);
    for (const std::string& probe : probes) {
      for (const std::string& after : {pad, std::string()}) {
        std::string spelled = probe;  // at the text's end, another spelling
        for (char& ch : spelled) ch = after.empty() && ch == 'a' ? 'A' : ch;
        const std::string text = "{" + spelled + "}" + after;
        std::size_t length = 0, bound_length = 0;
        std::string_view key, bound_key;
        const auto want = listed.Match(text, 0, length, &key);
        const auto got = bound.Match(text, 0, bound_length, &bound_key);
        ASSERT_EQ(want.has_value(), got.has_value()) << text;
        if (!want) continue;
        EXPECT_EQ(*want, *got) << text;
        EXPECT_EQ(key, bound_key) << text;
        EXPECT_EQ(want->substr(1, want->size() - 2), bound.ValueOf(spelled));
      }
    }
    std::vector<std::string_view> want_unused, got_unused;
    THashTable fresh(256);
    for (const auto& [key, value] : c) fresh.Put(key, value);
    TPlaceholderIndex again("<", ">");
    for (const auto& [key, value] : c) again.Bind(key, value);
    TPlaceholderIndex(&fresh).ForEachUnused([&](std::string_view k) { want_unused.push_back(k); });
    again.ForEachUnused([&](std::string_view k) { got_unused.push_back(k); });
    EXPECT_EQ(want_unused, got_unused);
  }
}

}  // namespace
}  // namespace zoqc
