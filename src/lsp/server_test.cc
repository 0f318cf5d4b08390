// The language server driven in memory: framing and robustness, then the answers on one page.
#include "src/lsp/server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <nlohmann/json.hpp>

#include "src/check/check.h"
#include "src/check/render.h"
#include "src/lsp/queries.h"
#include "src/lsp/workspace.h"
#include "tests/string_channel.h"

namespace zoqc::lsp {
namespace {

using nlohmann::json;

std::string Framed(const std::string& ABody) {
  return "Content-Length: " + std::to_string(ABody.size()) + "\r\n\r\n" + ABody;
}
std::string Request(int AId, const std::string& AMethod, const json& AParams = json::object()) {
  return Framed(
      json{{"jsonrpc", "2.0"}, {"id", AId}, {"method", AMethod}, {"params", AParams}}.dump());
}
std::string Notify(const std::string& AMethod, const json& AParams = json::object()) {
  return Framed(json{{"jsonrpc", "2.0"}, {"method", AMethod}, {"params", AParams}}.dump());
}
std::string Initialize(const json& ACapabilities = json::object()) {
  return Request(1, "initialize", {{"capabilities", ACapabilities}}) + Notify("initialized");
}

// The files on "disk" of the tests.
const std::map<std::string, std::string> kDisk = {
    {"/site/blog.zot", "<h1>{title}</h1>\n<!--BEGIN row--><li>{name}</li><!--END row-->\n"},
    {"/site/bytes.zot",
     "<p>a\xF0"
     "bc{nope}</p>\n"},  // a stray lead byte: no JSON can carry it
};

struct TRun {
  int ExitCode;
  std::vector<json> Messages;
  // The answer to request AId.
  json Answer(int AId) const {
    for (const json& message : Messages)
      if (message.value("id", json()) == AId) return message;
    return nullptr;
  }
  // The last diagnostics published for AUri.
  json Diagnostics(const std::string& AUri) const {
    json found;
    for (const json& message : Messages)
      if (message.value("method", "") == "textDocument/publishDiagnostics" &&
          message["params"]["uri"] == AUri)
        found = message["params"]["diagnostics"];
    return found;
  }
};

TRun Serve(const std::string& AInput) {
  TStringChannel channel(AInput);
  TRun run;
  run.ExitCode = RunServer(channel, [](const std::string& APath, std::string& AText) {
    const auto it = kDisk.find(APath);
    if (it == kDisk.end()) return false;
    AText = it->second;
    return true;
  });
  TStringChannel replies(channel.Output);
  TMessageReader reader(replies);
  std::string body;
  while (reader.Next(body) == TReadStatus::Message) run.Messages.push_back(json::parse(body));
  return run;
}

int ErrorCode(const json& AMessage) { return AMessage["error"].value("code", 0); }

TEST(LanguageServer, SurvivesHostileInput) {
  const std::string init = Initialize();
  // Malformed JSON, a message that is no object, an unknown method: errors, then it goes on.
  TRun run = Serve(init + Framed("{\"id\":") + Framed("[1,2]") + Request(5, "no/such") +
                   Request(6, "shutdown") + Notify("exit"));
  EXPECT_EQ(0, run.ExitCode);  // shutdown, then exit
  EXPECT_EQ(-32700, ErrorCode(run.Messages[1]));
  EXPECT_EQ(-32600, ErrorCode(run.Messages[2]));
  EXPECT_EQ(-32601, ErrorCode(run.Answer(5)));
  EXPECT_TRUE(run.Answer(6).contains("result"));
  // A request before initialize; the end of the input without exit.
  run = Serve(Request(3, "textDocument/hover"));
  EXPECT_EQ(-32002, ErrorCode(run.Answer(3)));
  EXPECT_EQ(1, run.ExitCode);
  // A header without a length ends the session with an error.
  run = Serve(init + "Content-Type: x\r\n\r\n{}" + Request(4, "shutdown"));
  EXPECT_EQ(-32700, ErrorCode(run.Messages.back()));
  EXPECT_EQ(1, run.ExitCode);
  // A message over the limit is skipped, the next one answered.
  run = Serve(init + "Content-Length: 99999999999\r\n\r\n");
  EXPECT_EQ(-32600, ErrorCode(run.Messages.back()));
  // Parameters of the wrong shape, and a document that does not exist.
  run = Serve(init + Request(7, "textDocument/hover", {{"textDocument", 3}}) +
              Request(8, "textDocument/definition",
                      {{"textDocument", {{"uri", "file:///none/x.zoq"}}},
                       {"position", {{"line", -4}, {"character", 1e9}}}}));
  EXPECT_EQ(-32602, ErrorCode(run.Answer(7)));
  EXPECT_EQ(json::array(), run.Answer(8)["result"]);
}

const std::string kScript = "file:///site/blog.zoq";
const std::string kTemplate = "file:///site/blog.zot";
const std::string kScriptText =
    "<?php\n<<title<<$t\n<<*row\n<<<name<<$r\nforeach ($rs as $r) {\n<<+rows\n}\n";

json At(const std::string& AUri, int ALine, int ACharacter) {
  return {{"textDocument", {{"uri", AUri}}},
          {"position", {{"line", ALine}, {"character", ACharacter}}}};
}
std::string Open(const std::string& AUri, const std::string& AText) {
  return Notify(
      "textDocument/didOpen",
      {{"textDocument", {{"uri", AUri}, {"languageId", "zoq"}, {"version", 1}, {"text", AText}}}});
}

TEST(LanguageServer, DiagnosesBothFilesAndRechecksOnEdits) {
  const TRun run =
      Serve(Initialize() + Open(kScript, kScriptText) +
            Request(2, "textDocument/codeAction",
                    {{"textDocument", {{"uri", kScript}}},
                     {"range",
                      {{"start", {{"line", 5}, {"character", 3}}},
                       {"end", {{"line", 5}, {"character", 3}}}}}}) +
            // The template, opened with an edit in the editor, wins over the file on disk.
            Open(kTemplate, kDisk.at("/site/blog.zot")) +
            Notify("textDocument/didChange",
                   json::parse(R"({"textDocument": {"uri": "file:///site/blog.zot", "version": 2},
          "contentChanges": [{"range": {"start": {"line": 1, "character": 4}, "end": {"line": 1, "character": 13}},
                              "text": "BEGIN rox"}]})")));
  // "<<+rows" names no block: a warning on the script with its fix.
  json diagnostics = run.Messages[1]["params"]["diagnostics"];
  ASSERT_EQ(1u, diagnostics.size());
  EXPECT_EQ("unknown-block", diagnostics[0]["code"]);
  EXPECT_EQ(json({{"line", 5}, {"character", 0}}), diagnostics[0]["range"]["start"]);
  const json fix = run.Answer(2)["result"][0];
  EXPECT_EQ("Replace 'rows' with 'row'", fix["title"]);
  EXPECT_EQ("row", fix["edit"]["changes"][kScript][0]["newText"]);
  // The edited BEGIN marker breaks the block: both files' diagnostics are published again.
  diagnostics = run.Diagnostics(kTemplate);
  ASSERT_FALSE(diagnostics.empty());
  EXPECT_EQ("orphan-marker", diagnostics[0]["code"]);
  EXPECT_EQ(2, run.Messages.back()["params"]["version"]);
}

TEST(LanguageServer, AnswersFromTheModel) {
  const TRun run = Serve(
      Initialize({{"general", {{"positionEncodings", {"utf-8", "utf-16"}}}}}) +
      Open(kScript, kScriptText) +
      Request(2, "textDocument/hover", At(kTemplate, 0, 6)) +        // {title}
      Request(3, "textDocument/definition", At(kTemplate, 1, 21)) +  // {name} in row's copy
      Request(4, "textDocument/definition", At(kScript, 2, 4)) +     // <<*row
      Request(5, "textDocument/references", At(kTemplate, 1, 12)) +  // the BEGIN marker's name
      Request(6, "textDocument/rename",
              [] {
                json p = At(kScript, 2, 4);
                p["newName"] = "item";
                return p;
              }()) +
      Request(7, "textDocument/rename",
              [] {
                json p = At(kScript, 2, 4);
                p["newName"] = "two words";
                return p;
              }()) +
      Request(8, "textDocument/completion", At(kTemplate, 1, 21)));
  EXPECT_NE(std::string::npos,
            run.Answer(2)["result"]["contents"]["value"].get<std::string>().find("$t"));
  EXPECT_EQ(json({{"line", 3}, {"character", 3}}), run.Answer(3)["result"][0]["range"]["start"]);
  EXPECT_EQ(kTemplate, run.Answer(4)["result"][0]["uri"]);
  EXPECT_EQ(3u, run.Answer(5)["result"].size());  // "<<*row" and the two markers
  const json edits = run.Answer(6)["result"]["changes"];
  EXPECT_EQ(1u, edits[kScript].size());
  EXPECT_EQ(2u, edits[kTemplate].size());
  EXPECT_EQ(-32803, ErrorCode(run.Answer(7)));
  EXPECT_EQ("name", run.Answer(8)["result"][0]["label"]);
}

// Names that differ only in letter case fill the same placeholders, and the page prints one of
// their bindings: the hover shows the one the translated page prints, not simply the last.
TEST(LanguageServer, HoverShowsTheBindingThePagePrints) {
  const std::string script = "<?php\n<<name<<'a'\n<<Name<<'b'\n<<name<<'c'\n";
  const TCompileResult page = Compile(script, "{name}\n");
  ASSERT_TRUE(page.Ok());
  std::string text;
  for (const std::string_view piece : page.Page()) text += piece;
  const std::size_t echo = text.find("<?php echo ");
  ASSERT_NE(std::string::npos, echo) << text;
  const std::string printed = text.substr(echo + 11, 3);  // 'a', 'b' or 'c'
  const TRun run = Serve(Initialize() + Open(kScript, script) + Open(kTemplate, "{name}\n") +
                         Request(2, "textDocument/hover", At(kTemplate, 0, 2)));
  const std::string hover = run.Answer(2)["result"]["contents"]["value"];
  for (const char* expr : {"'a'", "'b'", "'c'"})
    EXPECT_EQ(expr == printed, hover.find(std::string("\n") + expr + "\n") != std::string::npos)
        << expr << " printed " << printed << ":\n"
        << hover;
}

// With "escape" the hover says how the page escapes the placeholder under the cursor: each
// placeholder is told by its own context, also where the contexts differ on one line.
TEST(LanguageServer, HoverShowsHowEachPlaceholderIsEscaped) {
  const std::string templ = "<a href=\"{title}\" onclick=\"f('{title}')\">{title}</a><{title}>\n";
  const struct {
    int Column;
    std::string_view Said;
  } cases[] = {{11, "escaped as a URL attribute"},
               {31, "escaped as a JavaScript string in an event-handler attribute"},
               {42, "escaped as text"},
               {55, "cannot be escaped in a tag name"}};
  std::string requests;
  for (int c = 0; c < 4; ++c)
    requests += Request(2 + c, "textDocument/hover", At(kTemplate, 0, cases[c].Column));
  const TRun run =
      Serve(Request(1, "initialize", {{"initializationOptions", {{"escape", true}}}}) +
            Notify("initialized") + Open(kScript, kScriptText) + Open(kTemplate, templ) + requests);
  for (int c = 0; c < 4; ++c) {
    const std::string hover = run.Answer(2 + c)["result"]["contents"]["value"];
    EXPECT_NE(std::string::npos, hover.find(std::string("\n\n") + std::string(cases[c].Said)))
        << cases[c].Column << ": " << hover;
  }
}

TEST(LanguageServer, CountsColumnsInTheClientsEncoding) {
  const std::string templ = "<p>\xC3\xA9\xF0\x9F\x98\x80{title}</p>\n";  // é and an emoji
  for (const bool utf8 : {false, true}) {
    const json capabilities =
        utf8 ? json{{"general", {{"positionEncodings", {"utf-8"}}}}} : json::object();
    const TRun run =
        Serve(Initialize(capabilities) + Open(kScript, kScriptText) + Open(kTemplate, templ) +
              Request(2, "textDocument/hover", At(kTemplate, 0, utf8 ? 10 : 7)));
    // the name after "{": in UTF-16 é is one unit, the emoji two; in UTF-8 two and four bytes
    EXPECT_EQ(utf8 ? 10 : 7, run.Answer(2)["result"]["range"]["start"]["character"]) << utf8;
  }
}

// In a copy that differs from the first, which prints as text, "{" offers the template's names.
TEST(LanguageServer, CompletesPlaceholdersOfTheScopeThePageFills) {
  const std::string templ =
      "<!--BEGIN row--><li>{name}</li><!--END row-->\n<!--BEGIN row--><p>{</p><!--END row-->\n";
  const TRun run = Serve(Initialize() + Open(kScript, kScriptText) + Open(kTemplate, templ) +
                         Request(2, "textDocument/completion", At(kTemplate, 0, 21)) +
                         Request(3, "textDocument/completion", At(kTemplate, 1, 20)));
  EXPECT_EQ("name", run.Answer(2)["result"][0]["label"]);   // in the copy the page fills
  EXPECT_EQ("title", run.Answer(3)["result"][0]["label"]);  // in the copy printed as text
  EXPECT_EQ(1u, run.Answer(3)["result"].size());
}

// After a byte that is not UTF-8 the server's columns are the JSON diagnostics' columns.
TEST(LanguageServer, CountsColumnsAsTheJsonDiagnosticsDo) {
  const std::string templ = kDisk.at("/site/bytes.zot");
  const TRun run =
      Serve(Request(1, "initialize",
                    {{"initializationOptions", {{"warnings", {"-Wunbound-placeholder"}}}}}) +
            Notify("initialized") + Open("file:///site/bytes.zoq", kScriptText));
  json served = json::array();
  for (const json& d : run.Diagnostics("file:///site/bytes.zot"))
    if (d.value("code", "") == "unbound-placeholder") served.push_back(d);
  ASSERT_EQ(1u, served.size()) << run.Diagnostics("file:///site/bytes.zot");
  const TCompileResult result = Compile(kScriptText, templ);
  const TSource script("blog.zoq", result.Model->Script.Text);
  const TSource source("blog.zot", result.Model->Template);
  TWarningSet warnings;
  warnings.On[static_cast<std::size_t>(TWarning::UnboundPlaceholder)] = true;
  std::vector<TDiagnostic> diagnostics;
  CheckPage(*result.Model, result.Leftovers, script, source, warnings, diagnostics);
  ASSERT_EQ(1u, diagnostics.size());
  const json rendered = json::parse(RenderJsonObjects(diagnostics)[0]);
  EXPECT_EQ(8, rendered["utf16_column"]);  // at "{": the stray byte is one unit
  EXPECT_EQ(rendered["utf16_column"].get<int>() - 1, served[0]["range"]["start"]["character"]);
  EXPECT_EQ(rendered["utf16_end_column"].get<int>() - 1, served[0]["range"]["end"]["character"]);
}

TEST(LanguageServer, ShowsThePageAndItsSources) {
  const json page = {{"command", "zoqc.page"}, {"arguments", {kScript}}};
  const std::string text = Serve(Initialize() + Open(kScript, kScriptText) +
                                 Request(2, "workspace/executeCommand", page))
                               .Answer(2)["result"]["text"];
  const std::size_t h1 = text.find("<h1><?php echo $t;?></h1>");
  ASSERT_NE(std::string::npos, h1) << text;
  // That line of the page: markup from the template, the expression from the script.
  const json origins = {
      {"command", "zoqc.origins"},
      {"arguments", {kTemplate, std::count(text.begin(), text.begin() + h1, '\n')}}};
  const json sources = Serve(Initialize() + Open(kScript, kScriptText) +
                             Request(3, "workspace/executeCommand", origins))
                           .Answer(3)["result"];
  ASSERT_GE(sources.size(), 3u) << sources;
  EXPECT_EQ(kTemplate, sources[0]["uri"]);  // "<h1>"
  EXPECT_EQ(json({{"line", 1}, {"character", 9}}), sources[2]["range"]["start"])
      << sources;  // "$t"
}

// With "escape" the page the commands show, and the line their sources are asked of, are the
// escaped page's, as the command line writes it with --escape.
TEST(LanguageServer, CommandsShowThePageAsEscaped) {
  const std::string init =
      Request(1, "initialize", {{"initializationOptions", {{"escape", true}}}}) +
      Notify("initialized") + Open(kScript, kScriptText);
  const json page = {{"command", "zoqc.page"}, {"arguments", {kScript}}};
  const std::string text =
      Serve(init + Request(2, "workspace/executeCommand", page)).Answer(2)["result"]["text"];
  const std::string escaped =
      "<h1><?php echo htmlspecialchars((string)($t), ENT_QUOTES | ENT_SUBSTITUTE, 'UTF-8');?>";
  const std::size_t h1 = text.find(escaped);
  ASSERT_NE(std::string::npos, h1) << text;
  const json origins = {
      {"command", "zoqc.origins"},
      {"arguments", {kTemplate, std::count(text.begin(), text.begin() + h1, '\n')}}};
  const json sources =
      Serve(init + Request(3, "workspace/executeCommand", origins)).Answer(3)["result"];
  // "<h1>", then the escaped echo, which the placeholder "{title}" made, then "</h1>"
  ASSERT_EQ(3u, sources.size()) << sources;
  EXPECT_EQ(kTemplate, sources[1]["uri"]);
  EXPECT_EQ(json({{"line", 0}, {"character", 5}}), sources[1]["range"]["start"]) << sources;
}

// Asks for a rename of the name at ALine:ACharacter of AUri to ANew.
std::string RenameAt(int AId, const std::string& AUri, int ALine, int ACharacter,
                     const std::string& ANew) {
  json params = At(AUri, ALine, ACharacter);
  params["newName"] = ANew;
  return Request(AId, "textDocument/rename", params);
}

TEST(LanguageServer, RefusesARenameOntoANameInUse) {
  const std::string script =
      "<?php\n<<a<<1\n<<b<<2\n<<*row\n<<<x<<3\n<<<y<<4\n<<*item\n<<+row\n<<+item\n";
  const std::string templ =
      "{a}{b}{free}\n<!--BEGIN row-->{x}{y}<!--END row--><!--BEGIN item--><!--END item-->\n";
  const TRun run = Serve(Initialize() + Open(kScript, script) + Open(kTemplate, templ) +
                         RenameAt(2, kScript, 1, 2, "B") +     // a template variable bound
                         RenameAt(3, kScript, 4, 3, "y") +     // a variable of the same block
                         RenameAt(4, kScript, 3, 3, "Item") +  // a block defined
                         RenameAt(5, kScript, 1, 2, "free") +  // a placeholder nothing binds
                         RenameAt(6, kScript, 4, 3, "b") +     // bound, but outside the block
                         RenameAt(7, kScript, 1, 2, "A"));     // the same name in capitals
  for (const auto& [id, reason] : std::vector<std::pair<int, std::string>>{
           {2, "'B' is already bound on line 3"},
           {3, "'y' is already bound on line 6"},
           {4, "the block 'Item' is already defined on line 7"},
           {5, "the template already has '{free}' on line 1"}}) {
    const json answer = run.Answer(id);
    EXPECT_EQ(-32803, ErrorCode(answer)) << id;
    EXPECT_NE(std::string::npos, answer["error"]["message"].get<std::string>().find(reason))
        << answer;
  }
  EXPECT_TRUE(run.Answer(6)["result"].contains("changes"));
  EXPECT_TRUE(run.Answer(7)["result"].contains("changes"));
}

TEST(LanguageServer, FollowsTheClientsSettingsAndCapabilities) {
  const std::string script = "<?php\n<<title<<$t\n<<*row\n<<<name<<$r\n<<+row\n";  // clean
  const std::string templ =
      "<h1>{title}</h1>{nothing}\n<!--BEGIN row--><li>{name}</li><!--END row-->\n";
  json references = At(kScript, 1, 3);  // "<<title"
  references["context"] = {{"includeDeclaration", false}};
  const TRun run =
      Serve(Initialize({{"textDocument", {{"hover", {{"contentFormat", {"plaintext"}}}}}}}) +
            Open(kScript, script) + Open(kTemplate, templ) +
            // -Wall turned on: the page is checked again, though nothing was edited.
            Notify("workspace/didChangeConfiguration",
                   {{"settings", {{"zoqc", {{"warnings", {"-Wall"}}}}}}}) +
            Request(2, "textDocument/references", references) +
            Request(3, "textDocument/hover", At(kTemplate, 0, 6)) +
            Open("file:///site/cut.zot", "<h1>{title}</h1>\n") +
            Open("file:///site/cut.zoq", "<?php\n<<title\n"));
  const json warnings = run.Diagnostics(kTemplate);
  ASSERT_EQ(1u, warnings.size()) << warnings;
  EXPECT_EQ("unbound-placeholder", warnings[0]["code"]);
  // The placeholder, without the binding.
  const json found = run.Answer(2)["result"];
  ASSERT_EQ(1u, found.size()) << found;
  EXPECT_EQ(kTemplate, found[0]["uri"]);
  const json hover = run.Answer(3)["result"]["contents"];
  EXPECT_EQ("plaintext", hover["kind"]);
  EXPECT_EQ(std::string::npos, hover["value"].get<std::string>().find('`')) << hover;
  EXPECT_NE(std::string::npos, hover["value"].get<std::string>().find("\n    $t\n")) << hover;
  // "<<title" and the line's end: the error stands at that end, zero wide, not over the LF.
  const json cut = run.Diagnostics("file:///site/cut.zoq");
  ASSERT_EQ(1u, cut.size()) << cut;
  EXPECT_EQ(json({{"line", 1}, {"character", 7}}), cut[0]["range"]["start"]);
  EXPECT_EQ(cut[0]["range"]["start"], cut[0]["range"]["end"]);
}

TEST(LanguageServer, KeepsItsSettingsWhenAClientSendsOthers) {
  // eglot: the switches in initializationOptions, then settings without a "zoqc" section.
  const TRun run =
      Serve(Request(1, "initialize",
                    {{"capabilities", json::object()},
                     {"initializationOptions", {{"warnings", {"-Wall"}}}}}) +
            Notify("initialized") +
            Notify("workspace/didChangeConfiguration", {{"settings", json::object()}}) +
            Open(kScript, "<?php\n<<title<<$t\n") + Open(kTemplate, "<h1>{title}</h1>{nothing}\n"));
  const json warnings = run.Diagnostics(kTemplate);
  ASSERT_EQ(1u, warnings.size()) << warnings;
  EXPECT_EQ("unbound-placeholder", warnings[0]["code"]);
}

TEST(LanguageServer, OffersTheTyposFixOnThePlaceholderFirst) {
  const std::string templ = "<h1>{titel}</h1>\n<!--BEGIN row--><li>{name}</li><!--END row-->\n";
  const auto actions = [](int AId, const std::string& AUri, int ALine, int ACharacter) {
    return Request(AId, "textDocument/codeAction",
                   {{"textDocument", {{"uri", AUri}}},
                    {"range",
                     {{"start", {{"line", ALine}, {"character", ACharacter}}},
                      {"end", {{"line", ALine}, {"character", ACharacter}}}}}});
  };
  const TRun run = Serve(Initialize() + Open(kScript, kScriptText) + Open(kTemplate, templ) +
                         actions(2, kScript, 1, 3) + actions(3, kTemplate, 0, 6));
  // One warning, at the placeholder, with the binding as its related place.
  const json script = run.Diagnostics(kScript);
  EXPECT_TRUE(std::none_of(script.begin(), script.end(), [](const json& d) {
    return d["code"] == "placeholder-typo";
  })) << script;
  const json templ_list = run.Diagnostics(kTemplate);
  ASSERT_EQ(1, std::count_if(templ_list.begin(), templ_list.end(),
                             [](const json& d) { return d["code"] == "placeholder-typo"; }))
      << templ_list;
  EXPECT_EQ(kScript, templ_list[0]["relatedInformation"][0]["location"]["uri"]) << templ_list;
  // At the binding and at the placeholder alike: "{titel}" to "{title}" first, then the binding.
  for (const int id : {2, 3}) {
    const json list = run.Answer(id)["result"];
    ASSERT_EQ(2u, list.size()) << list;
    EXPECT_EQ("Replace 'titel' with 'title'", list[0]["title"]);
    EXPECT_EQ(true, list[0]["isPreferred"]);
    EXPECT_EQ("Replace 'title' with 'titel'", list[1]["title"]);
    EXPECT_EQ(false, list[1]["isPreferred"]);
  }
}

// A page whose template nests ADepth blocks, each inside the one before.
std::pair<std::string, std::string> NestedPage(std::size_t ADepth) {
  std::string script = "<?php\n", templ;
  for (std::size_t idx = 0; idx < ADepth; ++idx) {
    script += "<<*b" + std::to_string(idx) + "\n";
    templ += "<!--BEGIN b" + std::to_string(idx) + "-->\n";
  }
  for (std::size_t idx = ADepth; idx-- > 0;) templ += "<!--END b" + std::to_string(idx) + "-->\n";
  return {script, templ};
}

// The deepest nesting of "children" in the symbols AList, and how many symbols it holds.
std::pair<std::size_t, std::size_t> DepthAndCount(const json& AList) {
  std::size_t depth = 0, count = 0;
  std::vector<std::pair<const json*, std::size_t>> todo;
  for (const json& item : AList) todo.emplace_back(&item, 1);
  while (!todo.empty()) {
    const auto [item, level] = todo.back();
    todo.pop_back();
    depth = std::max(depth, level), ++count;
    for (const json& child : (*item)["children"]) todo.emplace_back(&child, level + 1);
  }
  return {depth, count};
}

TEST(LanguageServer, OutlineOfDeepNestingIsBoundedAndLinear) {
  const auto outline = [](std::size_t ADepth) {
    const auto [script, templ] = NestedPage(ADepth);
    return Serve(
               Initialize() + Open(kScript, script) + Open(kTemplate, templ) +
               Request(2, "textDocument/documentSymbol", {{"textDocument", {{"uri", kTemplate}}}}))
        .Answer(2)["result"];
  };
  const auto timed = [&](std::size_t ADepth) {
    const auto start = std::chrono::steady_clock::now();
    const auto [depth, count] = DepthAndCount(outline(ADepth));
    EXPECT_EQ(ADepth, count);                                           // every copy is there
    EXPECT_EQ(std::min<std::size_t>(ADepth, kMaxOutlineDepth), depth);  // nested as deep as allowed
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  timed(10);  // shallow: nested as written
  const double small = timed(500), large = timed(2000);
  EXPECT_LT(large / small, 8.0) << small << " s, then " << large << " s for four times the depth";
}

TEST(LanguageServer, RefusesJsonNestedTooDeep) {
  // 200,000 arrays deep in a request's parameters (400 KB).
  const std::string deep = R"({"jsonrpc":"2.0","id":4,"method":"x","params":)" +
                           std::string(200000, '[') + std::string(200000, ']') + "}";
  // Brackets inside a string are text, not nesting.
  const std::string quoted =
      json{{"jsonrpc", "2.0"}, {"method", "x"}, {"params", {{"t", std::string(2000, '[')}}}}.dump();
  const TRun run =
      Serve(Initialize() + Framed(deep) + Framed(quoted) + Request(2, "shutdown") + Notify("exit"));
  ASSERT_EQ(3u, run.Messages.size());  // initialize, the refusal, shutdown
  EXPECT_EQ(-32700, ErrorCode(run.Messages[1]));
  EXPECT_TRUE(run.Answer(2).contains("result"));
  EXPECT_EQ(0, run.ExitCode);
}

TEST(LanguageServer, Utf16PositionsOnALongLineAreLinear) {
  // One template line of placeholders after two-byte letters: every token's column is counted
  // in UTF-16 units.
  const auto tokens = [](std::size_t ACount) {
    std::string templ;
    for (std::size_t idx = 0; idx < ACount; ++idx) templ += "\xC3\xA9{t}";
    const auto start = std::chrono::steady_clock::now();
    const TRun run = Serve(
        Initialize() + Open(kScript, "<?php\n<<t<<1\n") + Open(kTemplate, templ) +
        Request(2, "textDocument/semanticTokens/full", {{"textDocument", {{"uri", kTemplate}}}}));
    EXPECT_EQ(5 * ACount, run.Answer(2)["result"]["data"].size());  // one token each
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  const double small = tokens(5000), large = tokens(20000);
  EXPECT_LT(large / small, 8.0) << small << " s, then " << large << " s for four times the line";
}

TEST(PathOfUri, RefusesControlBytes) {
  EXPECT_EQ("/a b/p.zoq", PathOfUri("file:///a%20b/p.zoq"));
  EXPECT_EQ(std::nullopt, PathOfUri("file:///etc/passwd%00.zoq"));  // NUL would end the path
  EXPECT_EQ(std::nullopt, PathOfUri("file:///a%0Ab.zoq"));          // LF
  EXPECT_EQ(std::nullopt, PathOfUri("file:///a%7Fb.zoq"));          // DEL
}

}  // namespace
}  // namespace zoqc::lsp
