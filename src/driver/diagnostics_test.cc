// Tests of what runs say on standard error: JSON, colour, the -W options, file failures.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "src/check/check.h"
#include "src/driver/driver.h"
#include "src/driver/options.h"
#include "tests/run_zoqc.h"

#define LF "\n"

namespace zoqc {
namespace {

using test_support::WriteFile;

using test_support::RunZoqc;
using test_support::TRun;

class DiagnosticsTest : public test_support::TScratchCwdTest {
 protected:
};

TEST_F(DiagnosticsTest, JsonIsOneArrayForAllPages) {
  WriteFile("warn.zoq", "<?php" LF "<<*r" LF "<<<a<<$x ?? 1" LF "<<+r" LF);
  WriteFile("warn.zot", "<!--BEGIN r-->{a}<!--END r-->" LF);
  WriteFile("bad.zoq", "<?php" LF "<<page_title<<$t" LF);
  WriteFile("bad.zot", "");
  const TRun run = RunZoqc({"--diagnostics-format=json", "-q", "warn", "bad"});
  EXPECT_EQ(1, run.ExitCode);
  EXPECT_EQ("Error(2):need <<\n", run.Out);  // standard output as without the option
  const nlohmann::json all = nlohmann::json::parse(run.Err);
  ASSERT_TRUE(all.is_array());
  ASSERT_EQ(2u, all.size()) << run.Err;
  const nlohmann::json& warning = all[0];
  EXPECT_EQ("warn.zoq", warning["file"]);
  EXPECT_EQ(3, warning["line"]);
  EXPECT_EQ(10, warning["column"]);  // the "??"
  EXPECT_EQ(12, warning["end_column"]);
  EXPECT_EQ("warning", warning["severity"]);
  EXPECT_EQ("loose-operator", warning["warning"]);
  ASSERT_EQ(2u, warning["fixits"].size());  // "(" before the expression, ")" after it
  EXPECT_EQ("(", warning["fixits"][0]["text"]);
  EXPECT_EQ(7, warning["fixits"][0]["column"]);
  EXPECT_EQ(")", warning["fixits"][1]["text"]);
  EXPECT_EQ(14, warning["fixits"][1]["column"]);  // just past the expression
  const nlohmann::json& error = all[1];
  EXPECT_EQ("bad.zoq", error["file"]);
  EXPECT_EQ("error", error["severity"]);
  EXPECT_TRUE(error["warning"].is_null());
  EXPECT_EQ(2, error["line"]);
  EXPECT_EQ(7, error["column"]);  // the "_"
}

TEST_F(DiagnosticsTest, JsonSurvivesBytesThatAreNotUtf8) {
  WriteFile("caf\xE9.zoq", "\xff<<?php" LF);  // not "<?php", and not UTF-8 either
  WriteFile("caf\xE9.zot", "");
  const TRun run = RunZoqc({"--diagnostics-format=json", "--check", "caf\xE9"});
  const nlohmann::json all = nlohmann::json::parse(run.Err);
  ASSERT_EQ(1u, all.size());
  EXPECT_EQ("missing-php-tag", all[0]["warning"]);
  EXPECT_EQ("caf\uFFFD.zoq", all[0]["file"]);     // readable
  EXPECT_EQ("caf%E9.zoq", all[0]["file_bytes"]);  // and recoverable
}

TEST_F(DiagnosticsTest, ControlBytesInNamesAreEscaped) {
  const TRun run = RunZoqc({"-q", "a\x1b]0;t\x07\nb"});  // a window title, a line break
  EXPECT_EQ("Error(1):a\\x1b]0;t\\x07\\nb.zoq and a\\x1b]0;t\\x07\\nb.zot file not found\n",
            run.Out);
  EXPECT_EQ(
      "zoqc: cannot find the script 'a\\x1b]0;t\\x07\\nb.zoq'\n"
      "zoqc: cannot find the template 'a\\x1b]0;t\\x07\\nb.zot'\n"
      "zoqc: note: looked in '" +
          Dir.substr(0, Dir.size() - 1) + "'\n",
      run.Err);
  EXPECT_EQ("Error(1):caf\xE9.zoq and caf\xE9.zot file not found\n",  // other bytes as they are
            RunZoqc({"-q", "caf\xE9"}).Out);
}

TEST_F(DiagnosticsTest, LongUnknownNamesTranslateAtOnce) {
  // A did-you-mean between two names of 30,000 letters: no table of their lengths' product.
  const std::string defined(30000, 'a'), appended(30000, 'b');
  WriteFile("page.zoq", "<?php" LF "<<*" + defined + LF "<<+" + appended + LF);
  WriteFile("page.zot", "");
  const TRun run = RunZoqc({"-q", "page"});
  EXPECT_EQ(0, run.ExitCode) << run.Out;
  EXPECT_TRUE(std::filesystem::exists("page.php"));
  EXPECT_NE(std::string::npos, run.Err.find("[-Wunknown-block]"));
}

TEST_F(DiagnosticsTest, ColourFollowsTheOption) {
  WriteFile("page.zoq", "<?php" LF "<<+nope" LF);
  WriteFile("page.zot", "");
  setenv("NO_COLOR", "1", 1);
  const TRun always = RunZoqc({"--check", "--color=always", "page"});
  unsetenv("NO_COLOR");
  EXPECT_NE(std::string::npos, always.Err.find("\033[1;35mwarning:\033[0m")) << always.Err;
  const TRun never = RunZoqc({"--check", "--color=never", "page"});
  EXPECT_EQ(std::string::npos, never.Err.find('\033'));
  EXPECT_NE(std::string::npos, never.Err.find("page.zoq:2:1: warning: "));
}

// --color=auto colours when standard error is a terminal (here a real pseudo-terminal) and
// NO_COLOR is unset or empty; a NO_COLOR with any text turns it off.
TEST(ColourDecision, AutoFollowsTheTerminalAndNoColor) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(0, grantpt(master));
  ASSERT_EQ(0, unlockpt(master));
  const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
  const int null = open("/dev/null", O_WRONLY);
  ASSERT_GE(terminal, 0);
  ASSERT_GE(null, 0);
  struct TCase {
    const char* Option;
    bool Terminal;
    const char* NoColor;  // null: unset
    bool Color;
  };
  const TCase cases[] = {
      {"--color=auto", true, nullptr, true},
      {"--color=auto", true, "", true},  // empty: as if unset
      {"--color=auto", true, "1", false},
      {"--color=auto", false, nullptr, false},  // a file or a pipe
      {"--color=never", true, nullptr, false},
  };
  std::vector<bool> colored;
  const int saved = dup(STDERR_FILENO);
  for (const TCase& c : cases) {
    dup2(c.Terminal ? terminal : null, STDERR_FILENO);
    if (c.NoColor)
      setenv("NO_COLOR", c.NoColor, 1);
    else
      unsetenv("NO_COLOR");
    const char* argv[] = {"zoqc", c.Option, "page"};
    TOptions options;
    std::string error;
    colored.push_back(ParseOptions(3, argv, options, error) && options.Color);
  }
  dup2(saved, STDERR_FILENO);
  unsetenv("NO_COLOR");
  for (const int fd : {saved, null, terminal, master}) close(fd);
  for (std::size_t idx = 0; idx < colored.size(); ++idx) {
    const TCase& c = cases[idx];
    EXPECT_EQ(c.Color, colored[idx]) << c.Option << (c.Terminal ? " on a terminal" : "")
                                     << ", NO_COLOR=" << (c.NoColor ? c.NoColor : "(unset)");
  }
}

TEST_F(DiagnosticsTest, WarningSwitches) {
  // A binding never placed (-Wall only) and a placeholder nothing binds (-Wall only).
  WriteFile("page.zoq", "<?php" LF "<<spare<<1" LF "<<+nope" LF);
  WriteFile("page.zot", "{titel}" LF);
  const auto names = [](const std::vector<std::string>& AArgs) {
    std::vector<std::string> args = {"--check", "--diagnostics-format=json"};
    args.insert(args.end(), AArgs.begin(), AArgs.end());
    args.push_back("page");
    std::string found;
    for (const auto& d : nlohmann::json::parse(RunZoqc(args).Err))
      found += d["warning"].get<std::string>() + " ";
    return found;
  };
  EXPECT_EQ("unknown-block ", names({}));
  EXPECT_EQ("unused-binding unknown-block unbound-placeholder ", names({"-Wall"}));
  // An explicit -Wno-name wins over -Wall wherever it stands; -w silences everything.
  EXPECT_EQ("unknown-block unbound-placeholder ", names({"-Wno-unused-binding", "-Wall"}));
  EXPECT_EQ("unused-binding ", names({"-Wno-unknown-block", "-Wunused-binding"}));
  EXPECT_EQ("", names({"-Wall", "-Wunknown-block", "-w"}));
  // -Wno-all undoes an earlier -Wall, and -Wall undoes an earlier -Wno-all.
  EXPECT_EQ("unknown-block ", names({"-Wall", "-Wno-all"}));
  EXPECT_EQ("unused-binding unknown-block unbound-placeholder ", names({"-Wno-all", "-Wall"}));
}

// Of several pages, each "-Werror" line names its page, and the summary counts errors as errors.
TEST_F(DiagnosticsTest, WerrorNamesThePageAndCountsErrors) {
  for (const char* page : {"a", "b"}) {
    WriteFile(std::string(page) + ".zoq", "<?php" LF "<<+nope" LF);
    WriteFile(std::string(page) + ".zot", "");
  }
  WriteFile("c.zoq", "<?php" LF "<<+nope" LF);
  WriteFile("c.zot", "");
  const TRun run = RunZoqc({"-Werror", "-Wno-error=unknown-block", "a", "c"});
  EXPECT_TRUE(run.Lines.back().starts_with("2 pages: 2 translated, 0 failed, 2 warnings, 0."))
      << run.Out;  // as ever without -Werror's errors
  const TRun werror = RunZoqc({"-Werror", "a", "b"});
  EXPECT_EQ(1, werror.ExitCode);
  ASSERT_EQ(5u, werror.Lines.size()) << werror.Out;
  EXPECT_EQ("a: Error:warnings are errors (-Werror)", werror.Lines[2]);
  EXPECT_EQ("b: Error:warnings are errors (-Werror)", werror.Lines[3]);
  EXPECT_TRUE(werror.Lines[4].starts_with(
      "2 pages: 0 translated, 2 failed, 0 warnings, 2 errors (-Werror), 0."))
      << werror.Lines[4];
  // A single page says it as ever.
  EXPECT_EQ("Error:warnings are errors (-Werror)", RunZoqc({"-Werror", "a"}).Lines[2]);
}

TEST_F(DiagnosticsTest, NoErrorUndoesWerror) {
  WriteFile("page.zoq", "<?php" LF "<<+nope" LF);
  WriteFile("page.zot", "");
  EXPECT_EQ(1, RunZoqc({"-q", "-Werror", "page"}).ExitCode);
  EXPECT_FALSE(std::filesystem::exists("page.php"));
  EXPECT_EQ(0, RunZoqc({"-q", "-Werror", "-Wno-error", "page"}).ExitCode);
  EXPECT_TRUE(std::filesystem::exists("page.php"));
  EXPECT_EQ(1, RunZoqc({"-q", "-Wno-error", "-Werror", "page"}).ExitCode);  // the last one counts
  // Per warning, as compilers take them: -Werror=name also turns the warning on, and
  // -Wno-error=name keeps it a warning under -Werror, wherever it stands.
  WriteFile("page.zot", "{titel}" LF);  // a placeholder nothing binds: -Wall only
  const struct {
    std::vector<std::string> Args;
    int ExitCode;
  } cases[] = {
      {{"-Werror=unknown-block"}, 1},
      {{"-Werror=bom"}, 0},
      {{"-Werror=unbound-placeholder"}, 1},
      {{"-Werror", "-Wno-error=unknown-block"}, 0},
      {{"-Wno-error=unknown-block", "-Werror"}, 0},
      {{"-Werror", "-Wall", "-Wno-error=unknown-block"}, 1},
      {{"-Werror=unknown-block", "-Wno-error=unknown-block"}, 0},
  };
  for (const auto& c : cases) {
    std::filesystem::remove("page.php");
    std::vector<std::string> args = {"-q"};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    args.push_back("page");
    const TRun run = RunZoqc(args);
    EXPECT_EQ(c.ExitCode, run.ExitCode) << c.Args[0] << " " << c.Args.back() << "\n" << run.Err;
    EXPECT_EQ(c.ExitCode == 0, std::filesystem::exists("page.php")) << c.Args[0];
  }
}

TEST_F(DiagnosticsTest, BadOptionValuesAreUsageErrors) {
  const char* const cases[][2] = {
      {"-Wfrobnicate", "zoqc: unknown warning option '-Wfrobnicate'\n"},
      {"-Wno-unknown-blok",
       "zoqc: unknown warning option '-Wno-unknown-blok'; did you mean '-Wno-unknown-block'?\n"},
      {"--color=sometimes", "zoqc: --color takes 'auto', 'always' or 'never', not 'sometimes'\n"},
      {"--diagnostics-format=xml",
       "zoqc: --diagnostics-format takes 'text' or 'json', not 'xml'\n"},
      {"-fmax-diagnostics=-1",
       "zoqc: -fmax-diagnostics takes a whole number (0: no limit), not '-1'\n"},
      {"-fno-such", "zoqc: unknown option '-fno-such'\n"},
      {"--frobnicate=1", "zoqc: unknown option '--frobnicate'\n"},  // named without its value
      {"-Werror=bmo", "zoqc: unknown warning option '-Werror=bmo'; did you mean '-Werror=bom'?\n"},
      {"-Wno-error=frobnicate", "zoqc: unknown warning option '-Wno-error=frobnicate'\n"},
      {"-Werror=", "zoqc: unknown warning option '-Werror='; did you mean '-Werror'?\n"},
  };
  for (const auto& [arg, message] : cases) {
    const TRun run = RunZoqc({arg, "page"});
    EXPECT_EQ(2, run.ExitCode) << arg;
    EXPECT_EQ("", run.Out) << arg;
    EXPECT_EQ(0u, run.Err.find(message)) << run.Err;
  }
  EXPECT_EQ(0u, RunZoqc({"page", "-o"}).Err.find("zoqc: option '-o' needs a value\n"));
}

TEST_F(DiagnosticsTest, FileFailuresGiveTheSystemsReason) {
  test_support::MakeSocket(Dir + "page.zoq");  // exists, but cannot be opened
  WriteFile("page.zot", "");
  const TRun run = RunZoqc({"-q", "page"});
  EXPECT_EQ(217, run.ExitCode);
  EXPECT_EQ("zoqc: cannot open 'page.zoq': No such device or address\n", run.Err);
  std::filesystem::remove("page.zoq");
  WriteFile("page.zoq", "<?php" LF);
  std::filesystem::create_directory("page.php");  // no system call fails: no reason to give
  EXPECT_EQ("zoqc: cannot create 'page.php': not a regular file but a directory\n",
            RunZoqc({"-q", "page"}).Err);
}

TEST_F(DiagnosticsTest, MissingInputsAreNamed) {
  WriteFile("a.zot", "");
  std::filesystem::create_directory("b.zoq");
  WriteFile("b.zot", "");
  std::filesystem::create_directory("site");  // a folder of pages, named as a page
  const TRun run = RunZoqc({"-q", "a", "b", "site", "site/"});
  EXPECT_EQ(1, run.ExitCode);
  const std::string here = "zoqc: note: looked in '" + Dir.substr(0, Dir.size() - 1) + "'\n";
  EXPECT_EQ("zoqc: cannot find the script 'a.zoq'\n" + here +
                "zoqc: the script 'b.zoq' is a directory\n" + here +
                "zoqc: 'site' is a folder; to translate the pages under it, use -r site\n"
                "zoqc: 'site/' is a folder; to translate the pages under it, use -r site/\n",
            run.Err);
  EXPECT_EQ("Error(1):site.zoq and site.zot file not found", run.Lines[2]);
}

// After the Error(1) line, what stands in the folder instead: on standard error only.
TEST_F(DiagnosticsTest, MissingInputsSuggestAWayForward) {
  for (const char* file : {"index.zoq", "index.zot", "Blog.zoq", "Blog.zot", "about.zoq",
                           "about.html", "docs/page.zoq", "docs/page.zot"}) {
    std::filesystem::create_directories(std::filesystem::path(Dir + file).parent_path());
    WriteFile(file, "");
  }
  const struct {
    const char* Page;
    const char* Hint;
  } cases[] = {
      {"Index", "did you mean 'index'? 'index.zoq' is there"},  // letter case
      {"indx", "did you mean 'index'? 'index.zoq' is there"},   // an edit away
      {"docs/Index", ""},                                       // nothing near in docs/
      {"blog", "did you mean 'Blog'? 'Blog.zoq' is there"},
      {"about",
       "the template must be named 'about.zot', and 'about.html' is there: rename it "
       "if it is the template"},
      {"page", "did you mean 'docs/page'? 'docs/page.zoq' is there"},  // one folder down
      {"xy", ""},
  };
  for (const auto& c : cases) {
    const TRun run = RunZoqc({c.Page});
    SCOPED_TRACE(c.Page);
    EXPECT_EQ(1, run.ExitCode);
    ASSERT_EQ(3u, run.Lines.size());  // the Error(1) line alone on standard output
    EXPECT_TRUE(run.Lines[2].starts_with("Error(1):")) << run.Lines[2];
    const std::string page = c.Page;
    const std::string folder =
        Dir + (page.find('/') == std::string::npos ? "" : page.substr(0, page.find('/') + 1));
    const std::string looked =
        "zoqc: note: looked in '" + folder.substr(0, folder.size() - 1) + "'\n";
    EXPECT_NE(std::string::npos, run.Err.find(looked)) << run.Err;
    const std::string tail =
        std::string(c.Hint).empty() ? "" : "zoqc: note: " + std::string(c.Hint) + "\n";
    EXPECT_TRUE(run.Err.ends_with(looked + tail)) << run.Err;
  }
}

// Each line: an expression, then the operator the check must find ("" for none).
TEST(FindLooseOperator, FollowsPhpPrecedence) {
  const char* const cases[][2] = {
      {"$r['a'] ?? 'none'", "??"},
      {"$a ?: $b", "?:"},
      {"$a ? 1 : 2", "?"},
      {"$a == 1", "=="},
      {"$a <=> $b", "<=>"},
      {"$a && $b", "&&"},
      {"$a AND $b", "AND"},
      {"$a xor $b", "xor"},
      {"$a = 1", "="},
      {"$a .= 'x'", ".="},
      {"$a | 1", "|"},
      {"$a < 2", "<"},
      {"$a // note", "// note"},
      {"$a # note", "# note"},
      {"f($a # note", ""},  // inside brackets the comment hides the rest: nothing to say
      {"($a ?? 1)", ""},
      {"$a['x ?? y']", ""},
      {"f($a == $b)", ""},
      {"$a->or . $b", ""},
      {"$a?->b", ""},
      {"A::B . $c", ""},
      {"$a + $b * 2 - 1", ""},
      {"$a << 2", ""},
      {"\"a \\\" ?? b\" . $x", ""},
      {"$order", ""},
      {"$a /* == */ . $b", ""},
  };
  for (const auto& [expr, want] : cases) {
    const std::string_view e = expr;
    const auto found = FindLooseOperator(e);
    EXPECT_EQ(std::string(want), found ? std::string(e.substr(found->Offset, found->Length)) : "")
        << expr;
  }
}

}  // namespace
}  // namespace zoqc

#undef LF
