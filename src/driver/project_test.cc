// The project file: its errors located in it, the command line over it, where it is found,
// --init, and the language server reading it as the build does.
#include "src/driver/project.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "src/driver/language_server.h"
#include "src/driver/new_site.h"
#include "src/lsp/server.h"
#include "src/platform/files.h"
#include "tests/run_zoqc.h"
#include "tests/string_channel.h"

namespace zoqc {
namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;
using test_support::RunZoqc;
using test_support::TRun;
using test_support::WriteFile;

TEST(ProjectFile, ReadsEveryKey) {
  TProject project;
  std::string error;
  ASSERT_TRUE(
      ParseProject("source = 'src'\nout = \"www\"\nescape = true\n"
                   "warnings = [\"all\", \"no-unused-binding\"]\nwerror = true\n"
                   "lint = false\nphp = \"bin/php\"\nserve = 8080\n"
                   "exclude = [\"*.bak\"]\nbrowser_warnings = false\n",
                   "zoqc.toml", project, error))
      << error;
  project.Dir = "site";
  TOptions options;
  ApplyProject(project, options);
  EXPECT_EQ("site/src", project.SourceDir());
  EXPECT_EQ("site/www", project.OutDir());
  EXPECT_TRUE(options.Escape);
  EXPECT_EQ((std::vector<std::string>{"all", "no-unused-binding", "error"}), options.BaseWarnings);
  EXPECT_TRUE(options.NoLint);
  EXPECT_EQ("site/bin/php", options.Php);  // a path is the file's; a bare name stays for PATH
  EXPECT_EQ("8080", options.ServeAddress);
  EXPECT_EQ(std::vector<std::string>{"*.bak"}, options.Exclude);
  EXPECT_FALSE(options.BrowserWarnings);
}

TEST(ProjectFile, ErrorsAreLocatedInTheFile) {
  const struct {
    const char* Text;
    const char* Error;
  } cases[] = {
      {"escape = true\n\nescpe = true\n",
       "zoqc.toml:3:1: error: unknown key 'escpe'; did you mean 'escape'?"},
      {"escape = \"yes\"\n", "zoqc.toml:1:10: error: 'escape' takes true or false, not a string"},
      {"warnings = [\"all\", \"unused-bindng\"]\n",
       "zoqc.toml:1:20: error: unknown warning 'unused-bindng'; did you mean 'unused-binding'?"},
      {"warnings = \"all\"\n",
       "zoqc.toml:1:12: error: 'warnings' takes an array of strings, not a string"},
      {"warnings = [\"-Wall\"]\n", "zoqc.toml:1:13: error: write the warning without '-W': 'all'"},
      {"out = \"\"\n", "zoqc.toml:1:7: error: 'out' takes a path as a string, not an empty one"},
      {"serve = \"host:99999\"\n", "zoqc.toml:1:9: error: 'serve': "},
      {"[site]\nsource = \"src\"\n",
       "zoqc.toml:1:2: error: unknown key 'site' (the keys stand at the top, in no table)"},
      {"escape = tru\n", "zoqc.toml:1:13: error: "},  // toml++'s own words follow
  };
  for (const auto& c : cases) {
    TProject project;
    std::string error;
    EXPECT_FALSE(ParseProject(c.Text, "zoqc.toml", project, error)) << c.Text;
    EXPECT_EQ(c.Error, error.substr(0, std::string_view(c.Error).size())) << c.Text;
  }
}

class ProjectRunTest : public test_support::TScratchCwdTest {
 protected:
  void Page(const std::string& AStem, const std::string& ATemplate) {
    fs::create_directories(fs::path(AStem).parent_path());
    WriteFile(AStem + ".zoq", "<?php\n<<x<<$x\n");
    WriteFile(AStem + ".zot", ATemplate);
  }
};

TEST_F(ProjectRunTest, TheCommandLineOverridesTheFile) {
  WriteFile("zoqc.toml",
            "source = \"src\"\nout = \"www\"\nescape = true\n"
            "warnings = [\"no-raw-placeholder\"]\n");
  Page("src/a", "<p>{x}</p><p>{!x}</p>\n");
  TRun run = RunZoqc({"-q", "-r"});
  EXPECT_EQ(0, run.ExitCode) << run.Err;
  EXPECT_NE(std::string::npos, ReadFile("www/a.php").find("htmlspecialchars")) << "escape";
  EXPECT_EQ("", run.Err);
  // -o over out, --no-escape over escape, -W over warnings.
  run = RunZoqc({"-q", "-r", "src", "-o", "other", "--no-escape", "-Wraw-placeholder"});
  EXPECT_EQ(0, run.ExitCode) << run.Err;
  EXPECT_EQ(std::string::npos, ReadFile("other/a.php").find("htmlspecialchars"));
  EXPECT_NE(std::string::npos, run.Err.find("-Wraw-placeholder")) << run.Err;
  // --no-project: as if there were none.
  run = RunZoqc({"-q", "--no-project", "src/a"});
  EXPECT_EQ(0, run.ExitCode);
  EXPECT_EQ(std::string::npos, ReadFile("src/a.php").find("htmlspecialchars"));
  run = RunZoqc({"--no-project", "-r"});
  EXPECT_EQ(2, run.ExitCode);
  EXPECT_EQ("zoqc: option '-r' needs a value\nTry 'zoqc --help' for more information.\n", run.Err);
  // "zoqc" alone prints the usage text as ever; --help says which file a run reads.
  EXPECT_EQ(14u, RunZoqc({}).Lines.size());
  run = RunZoqc({"--help"});
  EXPECT_TRUE(run.Out.ends_with(
      "\n\nProject file: zoqc.toml (the options above override it; --no-project ignores it)\n"))
      << run.Out;
}

TEST_F(ProjectRunTest, FoundFromAFolderBelowAndABadOneIsAUsageError) {
  WriteFile("zoqc.toml", "source = \"src\"\nout = \"www\"\n");
  Page("src/blog/a", "{x}\n");
  fs::current_path("src/blog");
  TRun run = RunZoqc({"--check"});
  EXPECT_EQ(0, run.ExitCode) << run.Err;
  EXPECT_NE(std::string::npos, run.Out.find("\n1 page: 1 translated")) << run.Out;
  WriteFile("../../zoqc.toml", "source = \"src\"\nlint = 1\n");
  run = RunZoqc({"-q", "--watch"});
  EXPECT_EQ(2, run.ExitCode);
  EXPECT_EQ(
      "../../zoqc.toml:2:8: error: 'lint' takes true or false, not a whole number\n"
      "Try 'zoqc --no-project' to run without it.\n",
      run.Err);
  EXPECT_EQ("", run.Out);
  EXPECT_EQ(0, RunZoqc({"-q", "--no-project", "a"}).ExitCode);
}

TEST_F(ProjectRunTest, ExplainFindsThePagesWrittenUnderOut) {
  WriteFile("zoqc.toml", "source = \"src\"\nout = \"www\"\n");
  Page("src/a", "<p>\n{x}\n</p>\n");
  ASSERT_EQ(0, RunZoqc({"-q", "-r"}).ExitCode);
  const TRun run = RunZoqc({"--explain=www/a.php:5"});
  EXPECT_EQ(0, run.ExitCode) << run.Err;
  EXPECT_NE(std::string::npos, run.Out.find("src/a.zot:")) << run.Out;
  EXPECT_NE(0, RunZoqc({"--no-project", "--explain=www/a.php:5"}).ExitCode);
}

TEST_F(ProjectRunTest, InitLaysOutASiteAndWritesOverNothing) {
  TRun run = RunZoqc({"--init", "site", "--php=/nonexistent/php"});
  ASSERT_EQ(0, run.ExitCode) << run.Err;
  EXPECT_TRUE(run.Out.ends_with("\nServe it with: cd site && zoqc --serve\n")) << run.Out;
  for (const TSiteFile& file : NewSiteFiles()) {
    const std::string bytes = ReadFile("site/" + std::string(file.Name));
    if (file.Name == kProjectFileName)  // no PHP: no "lint = true"
      EXPECT_EQ(std::string::npos, bytes.find("\nlint = true")) << bytes;
    else
      EXPECT_EQ(file.Bytes, bytes) << file.Name;
  }
  // The site translates as it is, escaped, into www.
  fs::current_path("site");
  run = RunZoqc({"-q", "-r"});
  EXPECT_EQ(0, run.ExitCode) << run.Err;
  EXPECT_EQ("", run.Err);
  EXPECT_NE(std::string::npos, ReadFile("www/hello.php").find("htmlspecialchars((string)($name)"));
  // Anything that exists stops it before a file is written, and is named.
  fs::current_path("..");
  fs::create_directories("two/src");
  WriteFile("two/src/style.css", "mine");
  run = RunZoqc({"--init", "two"});
  EXPECT_EQ(2, run.ExitCode);
  EXPECT_EQ(
      "zoqc: two/src/style.css exists already; --init writes over nothing (name a new folder: "
      "zoqc --init mysite)\n",
      run.Err);
  EXPECT_EQ("mine", ReadFile("two/src/style.css"));
  EXPECT_EQ((std::vector<std::string>{"src"}), test_support::ListDir("two"));
}

// What the language server with the driver's loader and project files, as zoqc --lsp runs it,
// publishes for the page of APath once opened: every diagnostic of its two files.
nlohmann::json Diagnostics(const std::string& APath) {
  using lsp::TStringChannel;
  const auto framed = [](const nlohmann::json& AMessage) {
    const std::string body = AMessage.dump();
    return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  };
  TStringChannel channel(
      framed({{"jsonrpc", "2.0"},
              {"id", 1},
              {"method", "initialize"},
              {"params", nlohmann::json::object()}}) +
      framed(
          {{"jsonrpc", "2.0"}, {"method", "initialized"}, {"params", nlohmann::json::object()}}) +
      framed({{"jsonrpc", "2.0"},
              {"method", "workspace/didChangeConfiguration"},
              {"params", {{"settings", {{"zoqc", {{"escape", false}}}}}}}}) +
      framed({{"jsonrpc", "2.0"},
              {"method", "textDocument/didOpen"},
              {"params",
               {{"textDocument",
                 {{"uri", "file://" + APath}, {"text", ReadFile(APath)}, {"version", 1}}}}}}));
  (void)lsp::RunServer(
      channel,
      [](const std::string& AFile, std::string& AText) {
        TFileFailure failure;
        return LoadFile(AFile, AText, failure);
      },
      {}, ApplyProjectSettings);
  TStringChannel replies(channel.Output);
  lsp::TMessageReader reader(replies);
  std::map<std::string, nlohmann::json> last;  // by URI: the script's and the template's
  for (std::string body; reader.Next(body) == lsp::TReadStatus::Message;) {
    const nlohmann::json message = nlohmann::json::parse(body);
    if (message.value("method", "") == "textDocument/publishDiagnostics")
      last[message["params"]["uri"]] = message["params"]["diagnostics"];
  }
  nlohmann::json found = nlohmann::json::array();
  for (const auto& [uri, diagnostics] : last)
    found.insert(found.end(), diagnostics.begin(), diagnostics.end());
  return found;
}

TEST_F(ProjectRunTest, TheLanguageServerReadsTheFileAboveThePage) {
  Page("src/a", "<p>{!x}</p>\n");
  const std::string script = Dir + "src/a.zoq";
  // No project file: the editor's escape = false, and {!x} is a raw placeholder.
  nlohmann::json diagnostics = Diagnostics(script);
  ASSERT_EQ(1u, diagnostics.size()) << diagnostics.dump();
  EXPECT_EQ("raw-placeholder", diagnostics[0].value("code", "")) << diagnostics.dump();
  // The site escapes: the editor agrees with the build, whatever its own setting.
  WriteFile("zoqc.toml", "escape = true\n");
  EXPECT_EQ(nlohmann::json::array(), Diagnostics(script));
  // A bad file is said on the page.
  WriteFile("zoqc.toml", "escape = 1\n");
  diagnostics = Diagnostics(script);
  const std::string said =
      Dir + "zoqc.toml:1:10: error: 'escape' takes true or false, not a whole number";
  EXPECT_TRUE(std::any_of(diagnostics.begin(), diagnostics.end(), [&](const auto& AOne) {
    return AOne.value("message", "") == said;
  })) << diagnostics.dump();
}

}  // namespace
}  // namespace zoqc
