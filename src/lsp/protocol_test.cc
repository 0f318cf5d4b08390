// The language server as an editor meets it: a session of JSON messages in, the server's JSON
// messages out, one table per feature with the exact ranges and texts a user sees.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>

#include "src/lsp/server.h"
#include "tests/string_channel.h"

namespace zoqc::lsp {
namespace {

using nlohmann::json;
using TDisk = std::map<std::string, std::string>;  // the files on "disk", by local path

#define EMOJI "\xF0\x9F\x98\x80"  // U+1F600: four bytes, two UTF-16 units
#define E_ACUTE "\xC3\xA9"        // U+00E9: two bytes, one UTF-16 unit

// What a client sends, in order: Run() serves it all and keeps what the server sent back.
class TSession {
 public:
  explicit TSession(const json& ACapabilities = json::object(), const json& AOptions = nullptr) {
    json params = {{"capabilities", ACapabilities}};
    if (!AOptions.is_null()) params["initializationOptions"] = AOptions;
    Ask("initialize", params);
    Tell("initialized");
  }
  int Ask(const std::string& AMethod, const json& AParams) {
    Send({{"jsonrpc", "2.0"}, {"id", NextId}, {"method", AMethod}, {"params", AParams}});
    return NextId++;
  }
  TSession& Tell(const std::string& AMethod, const json& AParams = json::object()) {
    Send({{"jsonrpc", "2.0"}, {"method", AMethod}, {"params", AParams}});
    return *this;
  }
  TSession& Open(const std::string& AUri, const std::string& AText, int AVersion = 1) {
    return Tell("textDocument/didOpen",
                {{"textDocument",
                  {{"uri", AUri}, {"languageId", "zoq"}, {"version", AVersion}, {"text", AText}}}});
  }
  TSession& Close(const std::string& AUri) {
    return Tell("textDocument/didClose", {{"textDocument", {{"uri", AUri}}}});
  }
  TSession& Run(const TDisk& ADisk) {
    TStringChannel channel(Input);
    RunServer(channel, [&](const std::string& APath, std::string& AText) {
      const auto it = ADisk.find(APath);
      if (it == ADisk.end()) return false;
      AText = it->second;
      return true;
    });
    TStringChannel replies(channel.Output);
    TMessageReader reader(replies);
    for (std::string body; reader.Next(body) == TReadStatus::Message;)
      Messages.push_back(json::parse(body));
    return *this;
  }
  // The answer to request AId: its result, or its error.
  json Result(int AId) const { return Reply(AId).value("result", json()); }
  int ErrorCode(int AId) const {
    return Reply(AId).value("error", json::object()).value("code", 0);
  }
  // Each publication of diagnostics for AUri, in order.
  std::vector<json> Published(const std::string& AUri) const {
    std::vector<json> found;
    for (const json& message : Messages)
      if (message.value("method", "") == "textDocument/publishDiagnostics" &&
          message["params"]["uri"] == AUri)
        found.push_back(message["params"]["diagnostics"]);
    return found;
  }
  json Diagnostics(const std::string& AUri) const {
    const std::vector<json> all = Published(AUri);
    return all.empty() ? json() : all.back();
  }

  std::vector<json> Messages;

 private:
  void Send(const json& AMessage) {
    const std::string body = AMessage.dump();
    Input += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  }
  json Reply(int AId) const {
    for (const json& message : Messages)
      if (message.value("id", json()) == AId) return message;
    return json::object();
  }

  std::string Input;
  int NextId = 1;
};

json Position(int ALine, int ACharacter) { return {{"line", ALine}, {"character", ACharacter}}; }
json Range(int ALine, int AFrom, int AToLine, int ATo) {
  return {{"start", Position(ALine, AFrom)}, {"end", Position(AToLine, ATo)}};
}
json Range(int ALine, int AFrom, int ATo) { return Range(ALine, AFrom, ALine, ATo); }
json At(const std::string& AUri, int ALine, int ACharacter) {
  return {{"textDocument", {{"uri", AUri}}}, {"position", Position(ALine, ACharacter)}};
}

const std::string kScript = "file:///site/blog.zoq";
const std::string kTemplate = "file:///site/blog.zot";
// Two blocks that each bind "name", and a template variable used twice.
const std::string kScriptText =
    "<?php\n"                  // 0
    "<<title<<$t\n"            // 1
    "<<*row\n"                 // 2
    "<<<name<<$r\n"            // 3
    "foreach ($rs as $r) {\n"  // 4
    "<<+row\n"                 // 5
    "}\n"                      // 6
    "<<*tag\n"                 // 7
    "<<<name<<$g\n"            // 8
    "foreach ($gs as $g) {\n"  // 9
    "<<+tag\n"                 // 10
    "}\n";                     // 11
const std::string kTemplateText =
    "<h1>{title}</h1>\n"                               // 0
    "<!--BEGIN row--><li>{name}</li><!--END row-->\n"  // 1
    "<!--BEGIN tag--><b>{name}</b><!--END tag-->\n"    // 2
    "<p>{title}</p>\n";                                // 3
const TDisk kDisk = {{"/site/blog.zoq", kScriptText}, {"/site/blog.zot", kTemplateText}};

// A location as "S 1:2-1:7" (script) or "T 0:5-0:10" (template), for tables that read well.
std::string Where(const json& ALocation) {
  const json& range = ALocation["range"];
  auto at = [](const json& APosition) {
    return std::to_string(APosition["line"].get<int>()) + ":" +
           std::to_string(APosition["character"].get<int>());
  };
  const std::string uri = ALocation.value("uri", "");
  const std::string file = uri.ends_with(".zoq") ? "S " : uri.ends_with(".zot") ? "T " : "";
  return file + at(range["start"]) + "-" + at(range["end"]);
}
std::vector<std::string> Wheres(const json& ALocations) {
  std::vector<std::string> list;
  for (const json& location : ALocations) list.push_back(Where(location));
  return list;
}
// The ranges a workspace edit changes, as Where gives them, with the new text after "=".
std::vector<std::string> EditsOf(const json& AEdit) {
  std::vector<std::string> list;
  if (!AEdit.is_object()) return list;
  for (const std::string& uri : {kScript, kTemplate})
    for (const json& edit : AEdit.value("changes", json::object()).value(uri, json::array()))
      list.push_back(Where({{"uri", uri}, {"range", edit["range"]}}) + "=" +
                     edit["newText"].get<std::string>());
  return list;
}

TEST(ServerProtocol, NegotiatesThePositionEncodingAndCountsInIt) {
  const std::string templ = "<p>" E_ACUTE EMOJI "{title}</p>\n";
  const struct {
    json Offered;
    const char* Announced;
    int NameColumn;  // of "title", in the announced encoding
  } cases[] = {
      {nullptr, "utf-16", 7},                            // no offer: the protocol's default
      {json::array({"utf-8"}), "utf-8", 10},             // é is two bytes, the emoji four
      {json::array({"utf-32", "utf-16"}), "utf-16", 7},  // nothing the server counts but UTF-16
      {json::array({"utf-16", "utf-8"}), nullptr, 0},    // either, if it counts what it says
  };
  for (const auto& c : cases) {
    json capabilities = json::object();
    if (!c.Offered.is_null()) capabilities["general"]["positionEncodings"] = c.Offered;
    TSession session(capabilities);
    session.Open(kScript, kScriptText).Open(kTemplate, templ);
    const int utf16 = session.Ask("textDocument/hover", At(kTemplate, 0, 7));
    const int utf8 = session.Ask("textDocument/hover", At(kTemplate, 0, 10));
    session.Run(kDisk);
    const std::string announced = session.Result(1)["capabilities"]["positionEncoding"];
    if (c.Announced) {
      EXPECT_EQ(c.Announced, announced) << c.Offered;
    }
    const bool is_utf8 = announced == "utf-8";
    const int column = c.Announced ? c.NameColumn : is_utf8 ? 10 : 7;
    EXPECT_EQ(Range(0, column, column + 5), session.Result(is_utf8 ? utf8 : utf16)["range"])
        << c.Offered;
  }
}

// The server's copy of a script of PHP lines alone: the page up to the closing tag it adds.
std::string ScriptAfter(const std::string& AText, const json& AChanges, bool AUtf8) {
  const std::string uri = "file:///site/e.zoq";
  TSession session(AUtf8 ? json{{"general", {{"positionEncodings", {"utf-8"}}}}} : json::object());
  session.Open(uri, AText)
      .Tell("textDocument/didChange",
            {{"textDocument", {{"uri", uri}, {"version", 2}}}, {"contentChanges", AChanges}});
  const int id =
      session.Ask("workspace/executeCommand", {{"command", "zoqc.page"}, {"arguments", {uri}}});
  const std::string page = session.Run({{"/site/e.zot", "t\n"}}).Result(id).value("text", "");
  return page.substr(0, page.rfind("\r\n?>\r\n"));
}

TEST(ServerProtocol, AppliesIncrementalEditsInTheClientsEncoding) {
  // The script's line 1 has an emoji and an "é" before "$x".
  const std::string text = "<?php\n$s = \"" EMOJI E_ACUTE "\"; $x = 1;\n";
  auto edit = [](int ALine, int AFrom, int ATo, const char* AText) {
    return json{{"range", Range(ALine, AFrom, ATo)}, {"text", AText}};
  };
  const struct {
    bool Utf8;
    json Changes;
    const char* Script;  // the server's copy after them
  } cases[] = {
      // "$x" typed over after the emoji: columns 12-14 in UTF-16, 15-17 in UTF-8
      {false, {edit(1, 12, 14, "$y")}, "<?php\n$s = \"" EMOJI E_ACUTE "\"; $y = 1;\n"},
      {true, {edit(1, 15, 17, "$y")}, "<?php\n$s = \"" EMOJI E_ACUTE "\"; $y = 1;\n"},
      // two edits: the second counts in the text the first made ("é" more before "$x")
      {false,
       {edit(1, 6, 6, E_ACUTE), edit(1, 13, 15, "$y")},
       "<?php\n$s = \"" E_ACUTE EMOJI E_ACUTE "\"; $y = 1;\n"},
      {true,
       {edit(1, 6, 6, E_ACUTE), edit(1, 17, 19, "$y")},
       "<?php\n$s = \"" E_ACUTE EMOJI E_ACUTE "\"; $y = 1;\n"},
      // a line added above, then an edit on the line it pushed down
      {false,
       {edit(1, 0, 0, "$a = 0;\n"), edit(2, 12, 14, "$y")},
       "<?php\n$a = 0;\n$s = \"" EMOJI E_ACUTE "\"; $y = 1;\n"},
      // an edit across a line end, then one in the joined line
      {true,
       {json{{"range", Range(0, 5, 1, 0)}, {"text", " "}}, edit(0, 21, 23, "$y")},
       "<?php $s = \"" EMOJI E_ACUTE "\"; $y = 1;\n"},
      // the whole text replaced, then an edit in the new text after its emoji
      {false,
       {json{{"text", "<?php\n" EMOJI "$a;\n"}}, edit(1, 2, 4, "$b")},
       "<?php\n" EMOJI "$b;\n"},
      {true,
       {json{{"text", "<?php\n" EMOJI "$a;\n"}}, edit(1, 4, 6, "$b")},
       "<?php\n" EMOJI "$b;\n"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.Script, ScriptAfter(text, c.Changes, c.Utf8)) << c.Changes << " utf8=" << c.Utf8;
}

// Each publication for a URI as the codes of its diagnostics, "-" for an empty list.
std::vector<std::string> Codes(const std::vector<json>& APublished) {
  std::vector<std::string> list;
  for (const json& diagnostics : APublished) {
    std::string codes;
    for (const json& d : diagnostics)
      codes += (codes.empty() ? "" : ",") + d.value("code", std::string("error"));
    list.push_back(codes.empty() ? "-" : codes);
  }
  return list;
}

TEST(ServerProtocol, PublishesOnOpenAndClearsWhenThePageCloses) {
  std::string broken = kScriptText;
  broken.replace(broken.find("<<+tag"), 6, "<<+tags");  // line 10: an unknown block
  TSession session;
  session.Open(kScript, broken)
      .Open(kTemplate, kTemplateText)
      .Close(kScript)  // the template is still open: the script is read from disk
      .Open(kScript, broken)
      .Close(kTemplate)  // the script is still open
      .Close(kScript);   // the whole page is closed: its squiggles go
  session.Run({{"/site/blog.zoq", broken}, {"/site/blog.zot", kTemplateText}});
  EXPECT_EQ((std::vector<std::string>{"unknown-block", "unknown-block", "unknown-block",
                                      "unknown-block", "unknown-block", "-"}),
            Codes(session.Published(kScript)));
  // The template is published with the script, and never has a squiggle.
  const std::vector<std::string> templ = Codes(session.Published(kTemplate));
  EXPECT_FALSE(templ.empty());
  EXPECT_EQ(std::vector<std::string>(templ.size(), "-"), templ);
  const json d = session.Published(kScript)[0][0];
  EXPECT_EQ(Range(10, 0, 7), d["range"]);
  EXPECT_EQ(2, d["severity"]);  // a warning, not information
  EXPECT_EQ("zoqc", d["source"]);
}

TEST(ServerProtocol, SaysWhichFileOfAPageIsMissing) {
  const struct {
    std::string Open;     // the URI opened, with the script's text or the template's
    const char* Missing;  // the message on it
  } cases[] = {
      {"file:///site/lone.zoq", "cannot find the template '/site/lone.zot'"},
      {"file:///site/lone.zot", "cannot find the script '/site/lone.zoq'"},
  };
  for (const auto& c : cases) {
    TSession session;
    session.Open(c.Open, c.Open.ends_with(".zoq") ? kScriptText : kTemplateText).Run(kDisk);
    const json d = session.Diagnostics(c.Open);
    ASSERT_EQ(1u, d.size()) << c.Open << d;
    EXPECT_EQ(c.Missing, d[0]["message"]);
    EXPECT_EQ(Range(0, 0, 0), d[0]["range"]);
    EXPECT_EQ(1, d[0]["severity"]);
  }
}

TEST(ServerProtocol, FindsTheOtherFileInAFolderWithBlanksAndNonAsciiLetters) {
  // Opening the script alone: the template is read from disk at the decoded path.
  const std::string dir = "/my site/caf" E_ACUTE "/";
  const std::string uri_dir = "file:///my%20site/caf%C3%A9/";
  for (const std::string& uri : {uri_dir + "blog.zoq", "file://" + dir + "blog.zoq"}) {
    TSession session;
    session.Open(uri, kScriptText);
    const int hover = session.Ask("textDocument/hover", At(uri, 1, 3));
    session.Run({{dir + "blog.zot", kTemplateText}});
    EXPECT_EQ(json::array(), session.Diagnostics(uri)) << uri;
    EXPECT_NE(std::string::npos, session.Result(hover)["contents"]["value"].get<std::string>().find(
                                     "used by 2 placeholders in blog.zot (lines 1 and 4)"))
        << session.Result(hover);
  }
}

TEST(ServerProtocol, ReadsTheWarningSettings) {
  // "{nothere}" is unbound (a warning that is off by default); "<<+tags" names no block (and
  // its warning names 'tag', which is then not reported as never appended).
  std::string script = kScriptText;
  script.replace(script.find("<<+tag"), 6, "<<+tags");
  const std::string templ = kTemplateText + "{nothere}\n";
  const struct {
    json Warnings;
    const char* Script;  // codes and severities published on each file
    const char* Template;
  } cases[] = {
      {nullptr, "unknown-block 2", ""},
      {{"-Wall"}, "unknown-block 2", "unbound-placeholder 2"},
      {{"all"}, "unknown-block 2", "unbound-placeholder 2"},
      {{"-Wunbound-placeholder"}, "unknown-block 2", "unbound-placeholder 2"},
      {{"-Wno-unknown-block"}, "", ""},
      {{"-w"}, "", ""},
      {{"-Werror"}, "unknown-block 1", ""},
      {{"error"}, "unknown-block 1", ""},
      {{"-Wall", "-Werror"}, "unknown-block 1", "unbound-placeholder 1"},
      {{"-Wall", "-Wno-all"}, "unknown-block 2", ""},
      {{"-Wnot-a-warning", "-Werror"}, "unknown-block 1", ""},  // an unknown name is skipped
  };
  auto shown = [](const json& AList) {
    std::string text;
    for (const json& d : AList)
      text += (text.empty() ? "" : " ") + d.value("code", std::string()) + " " +
              std::to_string(d["severity"].get<int>());
    return text;
  };
  for (const auto& c : cases) {
    const json settings = c.Warnings.is_null() ? json::object() : json{{"warnings", c.Warnings}};
    // As initialization options, and as a change of configuration on an open page.
    TSession first(json::object(), settings);
    first.Open(kScript, script).Open(kTemplate, templ).Run(kDisk);
    TSession later;
    later.Open(kScript, script)
        .Open(kTemplate, templ)
        .Tell("workspace/didChangeConfiguration", {{"settings", {{"zoqc", settings}}}})
        .Run(kDisk);
    for (const TSession* session : {&first, &later}) {
      EXPECT_EQ(c.Script, shown(session->Diagnostics(kScript))) << c.Warnings;
      EXPECT_EQ(c.Template, shown(session->Diagnostics(kTemplate))) << c.Warnings;
    }
  }
}

TEST(ServerProtocol, RenamesWithinTheNamesScope) {
  const struct {
    std::string Uri;
    int Line, Character;
    const char* Name;  // the name prepareRename offers; null: refused
    std::vector<std::string> Edits;
  } cases[] = {
      // a template variable, from the start and from right after its name
      {kScript, 1, 2, "1:2-1:7", {"S 1:2-1:7=z", "T 0:5-0:10=z", "T 3:4-3:9=z"}},
      {kScript, 1, 7, "1:2-1:7", {"S 1:2-1:7=z", "T 0:5-0:10=z", "T 3:4-3:9=z"}},
      {kTemplate, 3, 9, "3:4-3:9", {"S 1:2-1:7=z", "T 0:5-0:10=z", "T 3:4-3:9=z"}},
      // a block's variable: its binding and its placeholders, never the other block's
      {kTemplate, 1, 21, "1:21-1:25", {"S 3:3-3:7=z", "T 1:21-1:25=z"}},
      {kScript, 8, 3, "8:3-8:7", {"S 8:3-8:7=z", "T 2:20-2:24=z"}},
      // a block: its statements and both markers, from either file
      {kScript, 5, 4, "5:3-5:6", {"S 2:3-2:6=z", "S 5:3-5:6=z", "T 1:10-1:13=z", "T 1:39-1:42=z"}},
      {kTemplate,
       2,
       38,
       "2:37-2:40",
       {"S 7:3-7:6=z", "S 10:3-10:6=z", "T 2:10-2:13=z", "T 2:37-2:40=z"}},
      // nothing to rename: a PHP line, the expression, markup
      {kScript, 4, 2, nullptr, {}},
      {kScript, 1, 10, nullptr, {}},
      {kTemplate, 1, 17, nullptr, {}},
  };
  for (const auto& c : cases) {
    TSession session;
    session.Open(kScript, kScriptText);
    json params = At(c.Uri, c.Line, c.Character);
    const int prepare = session.Ask("textDocument/prepareRename", params);
    params["newName"] = "z";
    const int rename = session.Ask("textDocument/rename", params);
    session.Run(kDisk);
    const std::string place =
        c.Uri + " " + std::to_string(c.Line) + ":" + std::to_string(c.Character);
    EXPECT_EQ(c.Edits, EditsOf(session.Result(rename))) << place;
    if (!c.Name) {
      EXPECT_EQ(-32803, session.ErrorCode(rename)) << place;
      EXPECT_EQ(-32803, session.ErrorCode(prepare)) << place;
    } else {
      EXPECT_EQ(c.Name, Where({{"range", session.Result(prepare)["range"]}})) << place;
    }
  }
  // A name that is not a name is refused, before anything is looked up.
  for (const char* name : {"two words", "", "caf" E_ACUTE, "a-b"}) {
    TSession session;
    session.Open(kScript, kScriptText);
    json params = At(kScript, 1, 3);
    params["newName"] = name;
    const int rename = session.Ask("textDocument/rename", params);
    EXPECT_EQ(-32803, session.Run(kDisk).ErrorCode(rename)) << name;
  }
}

TEST(ServerProtocol, FindsDefinitionsAndReferences) {
  const struct {
    const char* Method;
    std::string Uri;
    int Line, Character;
    std::vector<std::string> Found;
  } cases[] = {
      // a placeholder: its binding; in a copy, the binding of that copy's block
      {"definition", kTemplate, 0, 5, {"S 1:2-1:7"}},
      {"definition", kTemplate, 2, 20, {"S 8:3-8:7"}},
      {"definition", kTemplate, 1, 24, {"S 3:3-3:7"}},
      // a block statement: the BEGIN marker of its copy
      {"definition", kScript, 2, 3, {"T 1:0-1:16"}},
      {"definition", kScript, 10, 6, {"T 2:0-2:16"}},
      // a marker: the "<<*" line that defines its block
      {"definition", kTemplate, 2, 38, {"S 7:0-7:6"}},
      {"definition", kTemplate, 1, 0, {"S 2:0-2:6"}},
      // a binding: itself
      {"definition", kScript, 3, 4, {"S 3:3-3:7"}},
      // nothing there
      {"definition", kScript, 4, 3, {}},
      {"definition", kTemplate, 0, 3, {}},
      {"references", kScript, 1, 4, {"S 1:2-1:7", "T 0:5-0:10", "T 3:4-3:9"}},
      {"references", kTemplate, 2, 22, {"S 8:3-8:7", "T 2:20-2:24"}},
      {"references", kTemplate, 1, 11, {"S 2:3-2:6", "S 5:3-5:6", "T 1:10-1:13", "T 1:39-1:42"}},
      {"references", kScript, 9, 0, {}},
  };
  for (const auto& c : cases) {
    TSession session;
    session.Open(kScript, kScriptText);
    json params = At(c.Uri, c.Line, c.Character);
    params["context"] = {{"includeDeclaration", true}};
    const int id = session.Ask(std::string("textDocument/") + c.Method, params);
    EXPECT_EQ(c.Found, Wheres(session.Run(kDisk).Result(id)))
        << c.Method << " " << c.Uri << " " << c.Line << ":" << c.Character;
  }
}

TEST(ServerProtocol, HoversFromTheFirstToTheLastByteOfAToken) {
  const struct {
    std::string Uri;
    int Line, Character;
    const char* Range;  // null: no hover
    const char* Says;   // a part of the text
  } cases[] = {
      {kTemplate, 0, 3, nullptr, nullptr},                             // ">" before the "{"
      {kTemplate, 0, 4, "0:5-0:10", "bound on line 2 of blog.zoq"},    // the "{"
      {kTemplate, 0, 10, "0:5-0:10", "bound on line 2 of blog.zoq"},   // the "}"
      {kTemplate, 0, 11, nullptr, nullptr},                            // after it
      {kTemplate, 2, 23, "2:20-2:24", "bound on line 9 of blog.zoq"},  // tag's "name"
      {kTemplate, 1, 16, nullptr, nullptr},  // right after the BEGIN marker
      {kTemplate, 1, 15, "1:10-1:13", "block `row`, defined on line 3 of blog.zoq"},
      {kScript, 1, 0, "1:2-1:7", "used by 2 placeholders in blog.zot (lines 1 and 4)"},
      {kScript, 1, 7, "1:2-1:7", "template variable `title`"},  // right after "<<title"
      {kScript, 1, 8, nullptr, nullptr},                        // the "<<" after the name
      {kScript, 3, 7, "3:3-3:7", "block variable of `row`"},
      {kScript, 8, 3, "8:3-8:7", "used by 1 placeholder in blog.zot (line 3)"},
      {kScript, 7, 6, "7:3-7:6", "1 copy in the template (line 3)"},
      {kScript, 4, 0, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    TSession session;
    session.Open(kScript, kScriptText);
    const int id = session.Ask("textDocument/hover", At(c.Uri, c.Line, c.Character));
    const json hover = session.Run(kDisk).Result(id);
    const std::string place =
        c.Uri + " " + std::to_string(c.Line) + ":" + std::to_string(c.Character);
    if (!c.Range) {
      EXPECT_TRUE(hover.is_null()) << place << hover;
      continue;
    }
    ASSERT_TRUE(hover.is_object()) << place;
    EXPECT_EQ(c.Range, Where({{"range", hover["range"]}})) << place;
    EXPECT_NE(std::string::npos, hover["contents"]["value"].get<std::string>().find(c.Says))
        << place << hover;
  }
}

TEST(ServerProtocol, CompletesAtEveryPlaceOfAName) {
  std::string templ = kTemplateText + "<!--BEGIN \n";  // line 4: a marker being written
  const struct {
    std::string Uri;
    int Line, Character;
    bool Snippets;
    std::vector<std::string> Items;  // label, then ":" and detail
  } cases[] = {
      {kTemplate, 0, 5, false, {"title:$t"}},   // "{|title}"
      {kTemplate, 0, 7, false, {"title:$t"}},   // "{ti|tle}"
      {kTemplate, 0, 10, false, {"title:$t"}},  // "{title|}"
      {kTemplate, 1, 21, false, {"name:$r"}},   // in row's copy: row's variables only
      {kTemplate, 2, 22, false, {"name:$g"}},   // in tag's copy
      {kTemplate, 3, 4, false, {"title:$t"}},   // after both copies: the template's again
      {kTemplate, 4, 10, false, {"row:block", "tag:block"}},  // "<!--BEGIN |"
      {kTemplate, 0, 0, false, {}},                           // markup, without snippets
      {kTemplate, 0, 0, true, {"BEGIN/END:a block's marker pair"}},
      {kScript, 5, 3, false, {"row:block", "tag:block"}},  // "<<+|row"
      {kScript, 5, 5, false, {"row:block", "tag:block"}},  // "<<+ro|w"
      {kScript, 4, 3, false, {}},                          // PHP
  };
  for (const auto& c : cases) {
    json capabilities = json::object();
    capabilities["textDocument"]["completion"]["completionItem"]["snippetSupport"] = c.Snippets;
    TSession session(capabilities);
    session.Open(kScript, kScriptText).Open(kTemplate, templ);
    const int id = session.Ask("textDocument/completion", At(c.Uri, c.Line, c.Character));
    std::vector<std::string> items;
    for (const json& item : session.Run(kDisk).Result(id)) {
      items.push_back(item["label"].get<std::string>() + ":" + item["detail"].get<std::string>());
      // a snippet is only sent to a client that takes snippets, and marked as one
      if (item.contains("insertText")) {
        EXPECT_EQ(2, item["insertTextFormat"]) << item;
      }
    }
    EXPECT_EQ(c.Items, items) << c.Uri << " " << c.Line << ":" << c.Character;
  }
}

TEST(ServerProtocol, OffersQuickFixesFromEdgeToEdgeOfTheSquiggle) {
  std::string script = kScriptText;
  script.replace(script.find("<<+tag"), 6, "<<+tags");  // line 10, squiggled 10:0-10:7
  const struct {
    json Range;
    bool Offered;
  } cases[] = {
      {Range(10, 0, 0), true},       // the cursor at its start
      {Range(10, 7, 7), true},       // at its end
      {Range(10, 4, 5), true},       // inside
      {Range(9, 0, 10, 0), true},    // a selection that ends where it starts
      {Range(10, 7, 11, 1), true},   // one that starts where it ends
      {Range(9, 2, 9, 21), false},   // the line before
      {Range(11, 0, 11, 1), false},  // the line after
  };
  for (const auto& c : cases) {
    TSession session;
    session.Open(kScript, script);
    const int id =
        session.Ask("textDocument/codeAction", {{"textDocument", {{"uri", kScript}}},
                                                {"range", c.Range},
                                                {"context", {{"diagnostics", json::array()}}}});
    const json actions = session.Run(kDisk).Result(id);
    ASSERT_EQ(c.Offered ? 1u : 0u, actions.size()) << c.Range;
    if (!c.Offered) continue;
    EXPECT_EQ("Replace 'tags' with 'tag'", actions[0]["title"]);
    EXPECT_EQ(std::vector<std::string>{"S 10:3-10:7=tag"}, EditsOf(actions[0]["edit"]));
  }
}

TEST(ServerProtocol, ColoursTokensLineByLine) {
  const std::string script =
      "<?php\n<<title<<$t\n<<*row\n<<<name<<$r\nforeach ($rs as $r) {\n"
      "<<+row\n}\n";
  const std::string templ =
      "<p>" E_ACUTE "{title}</p>\n<!--BEGIN row-->" EMOJI "{name}\n<!--END row-->\n";
  enum { kw, var, block, expr };  // the legend's order
  const std::vector<int> script_tokens = {
      1, 0, 2, kw, 0, 0, 2, 5, var,   0, 0, 5, 2, kw, 0, 0, 2, 2, expr, 0,  // <<title<<$t
      1, 0, 3, kw, 0, 0, 3, 3, block, 0,                                    // <<*row
      1, 0, 3, kw, 0, 0, 3, 4, var,   0, 0, 4, 2, kw, 0, 0, 2, 2, expr, 0,  // <<<name<<$r
      2, 0, 3, kw, 0, 0, 3, 3, block, 0,                                    // <<+row
  };
  for (const bool utf8 : {false, true}) {
    const int e = utf8 ? 2 : 1, emoji = utf8 ? 4 : 2;
    const std::vector<int> template_tokens = {
        0, 3 + e,     7,  var, 0,                                      // {title} after "é"
        1, 0,         10, kw,  0, 0, 10, 3, block, 0, 0, 3, 3, kw, 0,  // <!--BEGIN row-->
        0, 3 + emoji, 6,  var, 0,                                      // {name} after the emoji
        1, 0,         8,  kw,  0, 0, 8,  3, block, 0, 0, 3, 3, kw, 0,  // <!--END row-->
    };
    TSession session(utf8 ? json{{"general", {{"positionEncodings", {"utf-8"}}}}} : json::object());
    session.Open(kScript, script).Open(kTemplate, templ);
    const int of_script =
        session.Ask("textDocument/semanticTokens/full", {{"textDocument", {{"uri", kScript}}}});
    const int of_template =
        session.Ask("textDocument/semanticTokens/full", {{"textDocument", {{"uri", kTemplate}}}});
    session.Run(kDisk);
    EXPECT_EQ(json(script_tokens), session.Result(of_script)["data"]) << utf8;
    EXPECT_EQ(json(template_tokens), session.Result(of_template)["data"]) << utf8;
  }
}

#undef EMOJI
#undef E_ACUTE

}  // namespace
}  // namespace zoqc::lsp
