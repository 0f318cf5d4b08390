// The sequential reference pinned on hand-checked pages, then compared with the translator on
// many generated scripts and templates.
#include "tests/reference.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "src/text/text.h"
#include "src/translation/compile.h"

#define CRLF "\r\n"
#define LF "\n"

namespace zoqc::reference {
namespace {

constexpr std::string_view kError4 = "Error(4):block define error BEGIN block after END block";

// A script and template with the exact bytes they must translate to (or the error line).
struct TPinnedCase {
  const char* Name;
  std::string Script;
  std::string Template;
  int ExitCode;
  std::string Expected;  // the output when ExitCode is 0, otherwise the error line
};

// Every expected text below was worked out by hand from the translation rules.
const std::vector<TPinnedCase>& PinnedCases() {
  static const std::vector<TPinnedCase> cases = {
      {"hello page, CR LF script",
       "<?php" CRLF "<<title<<$title" CRLF "<<*row" CRLF "<<<name<<$r['name']" CRLF
       "foreach ($rows as $r) {" CRLF "<<+row" CRLF "}" CRLF,
       "<h1>{title}</h1>" CRLF "<ul>" CRLF "<!--BEGIN row--><li>{name}</li><!--END row-->" CRLF
       "</ul>" CRLF,
       0,
       "<?php" CRLF LF "$ZOQBLOCK_row=\"\";" CRLF LF LF "foreach ($rows as $r) {" CRLF
       "$ZOQBLOCK_row=$ZOQBLOCK_row.\"<li>\".$r['name'].\"</li>\";" CRLF CRLF LF "}" CRLF CRLF
       "?>" CRLF "<h1><?php echo $title;?></h1>" CRLF "<ul>" CRLF
       "<?php echo $ZOQBLOCK_row;?>" CRLF CRLF "</ul>" CRLF},
      {"hello page, LF script",  // each statement line keeps its LF, block lines one more
       "<?php" LF "<<title<<$title" LF "<<*row" LF "<<<name<<$r['name']" LF
       "foreach ($rows as $r) {" LF "<<+row" LF "}" LF,
       "<h1>{title}</h1>" CRLF "<ul>" CRLF "<!--BEGIN row--><li>{name}</li><!--END row-->" CRLF
       "</ul>" CRLF,
       0,
       "<?php" LF LF "$ZOQBLOCK_row=\"\";" LF LF LF "foreach ($rows as $r) {" LF
       "$ZOQBLOCK_row=$ZOQBLOCK_row.\"<li>\".$r['name'].\"</li>\";" CRLF LF LF "}" LF CRLF "?>" CRLF
       "<h1><?php echo $title;?></h1>" CRLF "<ul>" CRLF "<?php echo $ZOQBLOCK_row;?>" CRLF CRLF
       "</ul>" CRLF},
      {"block over several lines",
       "<?php" CRLF "<<*item" CRLF "<<<title<<$row['title']" CRLF "foreach ($rows as $row) {" CRLF
       "<<+item" CRLF "}" CRLF,
       "<ul>" CRLF "<!--BEGIN item-->" CRLF "<li>{title}</li>" CRLF "<!--END item-->" CRLF
       "</ul>" CRLF,
       0,
       "<?php" CRLF "$ZOQBLOCK_item=\"\";" CRLF LF LF "foreach ($rows as $row) {" CRLF
       "$ZOQBLOCK_item=$ZOQBLOCK_item.\"" CRLF "<li>\".$row['title'].\"</li>" CRLF
       "\";" CRLF CRLF LF "}" CRLF CRLF "?>" CRLF "<ul>" CRLF
       "<?php echo $ZOQBLOCK_item;?>" CRLF CRLF "</ul>" CRLF},
      {"markup escaped, expression spliced as written",
       "<?php" LF "<<*a" LF "<<<v<<$o[\"k\"]" LF "<<+a" LF,
       R"(<!--BEGIN a--><tr class="odd">\{$x}{V} $5</tr><!--END a-->)", 0,
       "<?php" LF "$ZOQBLOCK_a=\"\";" LF LF LF
       R"($ZOQBLOCK_a=$ZOQBLOCK_a."<tr class=\"odd\">\\{\$x}".$o["k"]." \$5</tr>";)" CRLF LF LF CRLF
       "?>" CRLF "<?php echo $ZOQBLOCK_a;?>" CRLF},
      {"row and rows each get their own text; no block variables",
       "<?php" LF "<<*row" LF "<<*rows" LF "<<+rows" LF "<<+ROW" LF,
       "<!--BEGIN rows-->s<!--END rows--><!--BEGIN row-->r<!--END row-->", 0,
       "<?php" LF "$ZOQBLOCK_row=\"\";" LF LF "$ZOQBLOCK_rows=\"\";" LF LF
       "$ZOQBLOCK_rows=$ZOQBLOCK_rows.\"s\";" CRLF LF LF
       "$ZOQBLOCK_row=$ZOQBLOCK_row.\"r\";" CRLF LF LF CRLF "?>" CRLF
       "<?php echo $ZOQBLOCK_rows;?>" CRLF "<?php echo $ZOQBLOCK_row;?>" CRLF},
      {"rows defined before row", "<?php" LF "<<*rows" LF "<<*row" LF "<<+row" LF "<<+rows" LF,
       "<!--BEGIN row-->r<!--END row--><!--BEGIN rows-->s<!--END rows-->", 0,
       "<?php" LF "$ZOQBLOCK_rows=\"\";" LF LF "$ZOQBLOCK_row=\"\";" LF LF
       "$ZOQBLOCK_row=$ZOQBLOCK_row.\"r\";" CRLF LF LF
       "$ZOQBLOCK_rows=$ZOQBLOCK_rows.\"s\";" CRLF LF LF CRLF "?>" CRLF
       "<?php echo $ZOQBLOCK_row;?>" CRLF "<?php echo $ZOQBLOCK_rows;?>" CRLF},
      {"block missing from the template, and a block defined twice",
       "<?php" LF "<<*gone" LF "<<+gone" LF "<<*b" LF "<<+b" LF "<<*b" LF "<<+b" LF,
       "<!--END gone-->x<!--BEGIN b-->y<!--END b-->", 0,
       "<?php" LF "$ZOQBLOCK_gone=\"\";" LF LF "$ZOQBLOCK_gone=$ZOQBLOCK_gone.\"\";" CRLF LF LF
       "$ZOQBLOCK_b=\"\";" LF LF "$ZOQBLOCK_b=$ZOQBLOCK_b.\"y\";" CRLF LF LF
       "$ZOQBLOCK_b=\"\";" LF LF "$ZOQBLOCK_b=$ZOQBLOCK_b.\"y\";" CRLF LF LF CRLF "?>" CRLF
       "<!--END gone-->x<?php echo $ZOQBLOCK_b;?>" CRLF},
      {"nested block, inner defined first, renders the inner buffer",
       "<?php" LF "<<*in" LF "<<<v<<$v" LF "<<*out" LF "<<+in" LF "<<+out" LF,
       "<!--BEGIN out--><ul>" LF "<!--BEGIN in--><li>{v}</li><!--END in-->" LF
       "</ul><!--END out-->",
       0,
       "<?php" LF "$ZOQBLOCK_in=\"\";" LF LF LF "$ZOQBLOCK_out=\"\";" LF LF
       "$ZOQBLOCK_in=$ZOQBLOCK_in.\"<li>\".$v.\"</li>\";" CRLF LF LF
       "$ZOQBLOCK_out=$ZOQBLOCK_out.\"<ul>" LF "\".$ZOQBLOCK_in.\"" LF "</ul>\";" CRLF LF LF CRLF
       "?>" CRLF "<?php echo $ZOQBLOCK_out;?>" CRLF},
      {"nested block, outer defined first, keeps the inner markup literal",
       "<?php" LF "<<*out" LF "<<*in" LF "<<<v<<$v" LF "<<+in" LF "<<+out" LF,
       "<!--BEGIN out--><!--BEGIN in-->{v}<!--END in--><!--END out-->", 0,
       "<?php" LF "$ZOQBLOCK_out=\"\";" LF LF "$ZOQBLOCK_in=\"\";" LF LF LF
       "$ZOQBLOCK_in=$ZOQBLOCK_in.\"\";" CRLF LF LF
       "$ZOQBLOCK_out=$ZOQBLOCK_out.\"<!--BEGIN in-->{v}<!--END in-->\";" CRLF LF LF CRLF "?>" CRLF
       "<?php echo $ZOQBLOCK_out;?>" CRLF},
      {"statement text inside markup is printed, not rewritten", "<?php" LF "<<*row" LF "<<+row" LF,
       "<!--BEGIN row--><<+row<!--END row-->", 0,
       "<?php" LF "$ZOQBLOCK_row=\"\";" LF LF
       "$ZOQBLOCK_row=$ZOQBLOCK_row.\"<<+row\";" CRLF LF LF CRLF "?>" CRLF
       "<?php echo $ZOQBLOCK_row;?>" CRLF},
      {"copies of a block up to case are all replaced; empty block name",
       "<?php" LF "<<*a" LF "<<+A" LF "<<*" LF "<<+" LF,
       "<!--BEGIN a-->x<!--END a-->|<!--begin A-->X<!--end A-->|<!--BEGIN --><!--END -->", 0,
       "<?php" LF "$ZOQBLOCK_a=\"\";" LF LF "$ZOQBLOCK_a=$ZOQBLOCK_a.\"x\";" CRLF LF LF
       "$ZOQBLOCK_=\"\";" LF LF "$ZOQBLOCK_=$ZOQBLOCK_.\"\";" CRLF LF LF CRLF "?>" CRLF
       "<?php echo $ZOQBLOCK_a;?>" CRLF "|<?php echo $ZOQBLOCK_a;?>" CRLF
       "|<?php echo $ZOQBLOCK_;?>" CRLF},
      {"placeholders: case, first listed key, no rescan, unmatched kept",
       // "Name" shares a bucket with "name" and is newer, so it is listed first and wins.
       "<?php" LF "<<name<<$a" LF "<<Name<<$b" LF "<<t<<{name}" LF,
       "{name}|{NAME}|{ name }|{T}|{zz}|{}|{{t}}", 0,
       "<?php" LF LF LF LF CRLF "?>" CRLF
       "<?php echo $b;?>|<?php echo $b;?>|{ name }|<?php echo {name};?>|{zz}|{}|"
       "{<?php echo {name};?>}"},
      {"END before BEGIN", "<?php" LF "<<*a" LF, "<!--END a--><!--BEGIN a--><!--END a-->", 1,
       std::string(kError4)},
      {"BEGIN without an exact END", "<?php" LF "<<*a" LF, "<!--BEGIN a-->x<!--end a-->", 1,
       std::string(kError4)},
  };
  return cases;
}

TEST(CompileSequential, PinnedPages) {
  for (const TPinnedCase& c : PinnedCases()) {
    SCOPED_TRACE(c.Name);
    const TOutcome ref = CompileSequential(c.Script, c.Template);
    EXPECT_EQ(c.ExitCode, ref.ExitCode);
    EXPECT_EQ(c.Expected, c.ExitCode == 0 ? ref.Output : ref.Message);
    if (c.ExitCode != 0) {
      EXPECT_EQ("", ref.Output);
    }
    // The translator must give the same bytes.
    const TOutcome fast = OutcomeOf(zoqc::Compile(c.Script, c.Template));
    EXPECT_EQ(c.ExitCode, fast.ExitCode);
    EXPECT_EQ(c.Expected, c.ExitCode == 0 ? fast.Output : fast.Message);
  }
}

TEST(CompileSequential, ScriptErrorsPassThrough) {
  const TOutcome r = CompileSequential("<?php" LF "<<title <<x" LF, "");
  EXPECT_EQ(1, r.ExitCode);
  EXPECT_EQ("Error(2):need <<", r.Message);
}

// A C++ string literal of AText, so a failing case can be pasted back into a test.
std::string Escaped(std::string_view AText) {
  std::string out = "\"";
  for (const char ch : AText) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (ch == '\r') {
      out += "\\r";
    } else if (ch == '\n') {
      out += "\\n";
    } else if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X\"\"", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

// Builds scripts and templates from fragments that hit the hard cases of block expansion.
class TCaseGenerator {
 public:
  explicit TCaseGenerator(unsigned ASeed) : Rng(ASeed) {}

  void Next(std::string& AScript, std::string& ATemplate) {
    Eol = Chance(50) ? CRLF : LF;
    Blocks.clear();
    const int count = Below(3) + 1;
    for (int k = 0; k < count; ++k) Blocks.push_back(Pick(kBlockNames));
    AScript = Script();
    Made.clear();
    ATemplate.clear();
    const int pieces = Below(5) + 1;
    for (int k = 0; k < pieces; ++k) ATemplate += TemplatePiece();
  }

 private:
  static inline const std::vector<std::string> kBlockNames = {"row", "rows", "Row", "ROW",
                                                              "a",   "A1",   ""};
  static inline const std::vector<std::string> kBlockVars = {"name", "Name", "NAME", "x",
                                                             "",     "v",    "a"};
  static inline const std::vector<std::string> kTemplateVars = {"title", "Title", "name",
                                                                "t",     "x",     "a"};
  static inline const std::vector<std::string> kExprs = {
      "$x", "$r['name']", "\"q\\\"{x}\"", "{title}", "$t<<y", "", "\"a$b\"", "{name}"};
  static inline const std::vector<std::string> kPhpLines = {"foreach ($rows as $r) {",
                                                            "}",
                                                            "echo \"{name}\";",
                                                            " <<+row",
                                                            "$s = '<<*a';",
                                                            "$u = \"<<+Rows\";",
                                                            "<<title<<$t",
                                                            "<<<name<<$x",
                                                            "<<<Name<<{other}"};
  static inline const std::vector<std::string> kNoise = {
      "<p>",      "\"",   "\\",  "$",    "{$x}", "<tr class=\"odd\">", "<<+row", "<<*a", " ", "x",
      "\xC3\xA9", "<!--", "-->", "\r\n", "\n"};
  static inline const std::vector<std::string> kPlaceholders = {
      "{name}", "{NAME}",  "{Name}",  "{}",  "{ x }", "{{a}}",
      "{x}",    "{title}", "{TITLE}", "{t}", "{v}",   "{a}"};

  bool Chance(int APercent) { return Below(100) < APercent; }
  int Below(int AN) { return std::uniform_int_distribution<int>(0, AN - 1)(Rng); }
  const std::string& Pick(const std::vector<std::string>& AItems) {
    return AItems[static_cast<std::size_t>(Below(static_cast<int>(AItems.size())))];
  }
  // AText with some ASCII letters flipped in case.
  std::string Vary(std::string AText) {
    for (char& c : AText)
      if (((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) && Chance(30)) c ^= 0x20;
    return AText;
  }
  std::string Line(const std::string& AText) { return AText + (Chance(8) ? CRLF : Eol); }

  std::string Script() {
    std::string s = Line("<?php");
    for (const std::string& name : Blocks) {
      if (Chance(30)) s += Line("<<" + Pick(kTemplateVars) + "<<" + Pick(kExprs));
      if (Chance(20)) s += Line(Pick(kPhpLines));
      s += Line("<<*" + name + (Chance(5) ? "<<x" : Chance(10) ? " // rows" : ""));
      const int vars = name.empty() ? (Chance(5) ? 1 : 0) : Below(3);
      for (int k = 0; k < vars; ++k) s += Line("<<<" + Pick(kBlockVars) + "<<" + Pick(kExprs));
      if (Chance(30)) s += Line("foreach ($rows as $r) {");
      s += Line("<<+" + (Chance(70) ? Vary(Pick(Blocks)) : Pick(kBlockNames)));
      if (Chance(20)) s += Line("<<+" + Pick(Blocks) + (Chance(50) ? "s" : "<<x"));
    }
    if (Chance(40)) s += Line("<<" + Pick(kTemplateVars) + "<<" + Pick(kExprs));
    s += "}";
    if (Chance(80)) s += Eol;
    return s;
  }

  std::string Echo() {
    const std::string name = Chance(70) ? Pick(Blocks) : Pick(kBlockNames);
    const int end = Below(3);
    const std::string echo = "<?php echo $ZOQBLOCK_" + name + ";?>";
    return (Chance(15) ? Vary(echo) : echo) + (end == 0 ? CRLF : end == 1 ? LF : "");
  }

  std::string Inner(int ADepth) {
    std::string s;
    const int pieces = Below(5);
    for (int k = 0; k < pieces; ++k) {
      const int kind = Below(10);
      if (kind < 4)
        s += Pick(kNoise);
      else if (kind < 7)
        s += Pick(kPlaceholders);
      else if (kind < 8)
        s += Echo();
      else if (ADepth < 2)
        s += Block(Pick(Blocks), ADepth + 1);
    }
    return s;
  }

  std::string Block(const std::string& AName, int ADepth) {
    const std::string begin = "<!--BEGIN " + AName + "-->";
    const std::string end = "<!--END " + AName + "-->";
    const std::string inner = Inner(ADepth);
    std::string s;
    if (Chance(3))
      s = end + inner + begin;  // reversed
    else if (Chance(3))
      s = begin + inner + (Chance(50) ? Vary(end) : "<!--END  " + AName + "-->");  // wrong END
    else
      s = begin + inner + end;
    Made.push_back(s);
    return s;
  }

  std::string TemplatePiece() {
    const int kind = Below(20);
    if (kind < 9) return Block(Pick(Blocks), 0);
    if (kind < 12) return Pick(kNoise);
    if (kind < 15) return Pick(kPlaceholders);
    if (kind < 16) return Echo();
    if (kind < 18 && !Made.empty()) return Chance(50) ? Pick(Made) : Vary(Pick(Made));  // copy
    const std::string name = Pick(kBlockNames);  // a stray marker, exact or in other case
    const std::string marker = Chance(50) ? "<!--BEGIN " + name + "-->" : "<!--END " + name + "-->";
    return Chance(50) ? marker : Vary(marker);
  }

  std::mt19937 Rng;
  std::string Eol;                  // the line end of most lines of this case
  std::vector<std::string> Blocks;  // the block names of this case, in definition order
  std::vector<std::string> Made;    // the blocks written so far, for identical copies
};

// True when some buffer gets a non-empty block string appended, i.e. a block was expanded.
bool AppendsMarkup(std::string_view AOutput) {
  constexpr std::string_view kBuffer = "=$ZOQBLOCK_";
  for (std::size_t at = AOutput.find(kBuffer); at != std::string_view::npos;
       at = AOutput.find(kBuffer, at + 1)) {
    std::size_t idx = at + kBuffer.size();
    while (idx < AOutput.size() && IsNameChar(AOutput[idx])) ++idx;
    if (AOutput.substr(idx, 2) == ".\"" && AOutput.substr(idx + 2, 1) != "\"") return true;
  }
  return false;
}

TEST(CompileSequential, AgreesWithTranslatorOnGeneratedPages) {
  constexpr int kCasesPerSeed = 1000;
  const unsigned seeds[] = {1, 7, 2024, 31337};
  int total = 0, succeeded = 0, expanded = 0, failures = 0;
  for (const unsigned seed : seeds) {
    TCaseGenerator gen(seed);
    for (int n = 0; n < kCasesPerSeed && failures < 3; ++n) {
      std::string script, tmpl;
      gen.Next(script, tmpl);
      const TOutcome ref = CompileSequential(script, tmpl);
      const TOutcome fast = OutcomeOf(zoqc::Compile(script, tmpl));
      ++total;
      if (ref.ExitCode == 0) ++succeeded;
      if (ref.ExitCode == 0 && AppendsMarkup(ref.Output)) ++expanded;
      if (ref.ExitCode != fast.ExitCode || ref.Message != fast.Message ||
          ref.Output != fast.Output) {
        ++failures;
        ADD_FAILURE() << "seed " << seed << " case " << n << "\nscript:   " << Escaped(script)
                      << "\ntemplate: " << Escaped(tmpl) << "\nreference: " << ref.ExitCode << " "
                      << Escaped(ref.Message) << " " << Escaped(ref.Output)
                      << "\ntranslator: " << fast.ExitCode << " " << Escaped(fast.Message) << " "
                      << Escaped(fast.Output);
      }
    }
  }
  // The generator must keep producing pages that translate and that expand blocks.
  EXPECT_GE(succeeded * 2, total) << succeeded << " of " << total << " succeeded";
  EXPECT_GE(expanded * 4, total) << expanded << " of " << total << " expanded a block";
}

}  // namespace
}  // namespace zoqc::reference

#undef CRLF
#undef LF
