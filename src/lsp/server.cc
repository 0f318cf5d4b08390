// The message loop and the handlers of the requests and notifications the server knows.
#include "src/lsp/server.h"

#include <algorithm>
#include <new>
#include <set>

#include "src/lsp/convert.h"
#include "src/lsp/queries.h"
#include "src/translation/analysis.h"

namespace zoqc::lsp {

namespace {

// The protocol's error codes.
enum : int {
  kParseError = -32700,
  kInvalidRequest = -32600,
  kMethodNotFound = -32601,
  kInvalidParams = -32602,
  kServerNotInitialized = -32002,
  kRequestFailed = -32803,
};

// The deepest nesting of arrays and objects a message may have; the protocol's own go a
// dozen deep.
constexpr std::size_t kMaxJsonDepth = 512;

// Whether the JSON text AText opens more than ALimit arrays and objects one inside another
// (brackets inside strings do not count).
bool NestsDeeperThan(std::string_view AText, std::size_t ALimit) {
  std::size_t depth = 0;
  bool in_string = false;
  for (std::size_t idx = 0; idx < AText.size(); ++idx) {
    const char c = AText[idx];
    if (in_string) {
      if (c == '\\')
        ++idx;  // the escaped byte, a quote or a backslash, is no delimiter
      else if (c == '"')
        in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > ALimit) return true;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return false;
}

// A request that fails with a code and a message for the client.
struct TFailure {
  int Code;
  std::string Message;
};

// What a handler yields: a result, or a failure.
struct TAnswer {
  json Result;
  std::optional<TFailure> Failure;
};

class TServer {
 public:
  TServer(TChannel& AChannel, TFileLoader ALoader, TPageLinter ALinter, TProjectSettings AProject)
      : Channel(AChannel),
        Workspace(std::move(ALoader), TEncoding::Utf16, std::move(ALinter), std::move(AProject)) {}
  int Run();

 private:
  void Send(const json& AMessage);
  void Reply(const json& AId, const TAnswer& AAnswer);
  void Fail(const json& AId, int ACode, const std::string& AMessage) {
    Reply(AId, {nullptr, TFailure{ACode, AMessage}});
  }
  void Handle(const json& AMessage);
  TAnswer Request(const std::string& AMethod, const json& AParams);
  void Notification(const std::string& AMethod, const json& AParams);

  TAnswer Initialize(const json& AParams);
  void ReadSettings(const json& ASettings);
  void Publish(const std::string& AUri);
  void PublishAll();
  void Change(const json& AParams);
  // The page of the request's document (null when that document is not found), its role and
  // the byte offset of the request's position.
  struct TAt {
    const TPage* Page = nullptr;
    TRole Role = TRole::Script;
    std::size_t Offset = 0;
  };
  TAt PageAt(const json& AParams);
  TAnswer Hover(const json& AParams);
  TAnswer Locations(const json& AParams, bool ADefinitions);
  TAnswer PrepareRename(const json& AParams);
  TAnswer Rename(const json& AParams);
  TAnswer Completion(const json& AParams);
  TAnswer Symbols(const json& AParams);
  TAnswer CodeActions(const json& AParams);
  TAnswer SemanticTokens(const json& AParams);
  TAnswer ExecuteCommand(const json& AParams);

  TChannel& Channel;
  TWorkspace Workspace;
  bool Gone = false;         // the client stopped reading
  bool Initialized = false;  // "initialize" answered
  bool ShuttingDown = false;
  bool Exited = false;
  bool DocumentChanges = false;     // the client takes versioned workspace edits
  bool Snippets = false;            // the client takes snippets in completions
  bool Markdown = true;             // the client shows Markdown in hovers
  std::set<std::string> Published;  // the URIs given diagnostics
};

std::string UriOf(const json& AParams) {
  const json& document = AParams.at("textDocument");
  return document.at("uri").get<std::string>();
}

int TServer::Run() {
  TMessageReader reader(Channel);
  std::string body;
  while (!Exited && !Gone) {
    switch (reader.Next(body)) {
      case TReadStatus::End:
        return 1;
      case TReadStatus::BadHeader:
        Fail(nullptr, kParseError, "a message header without a valid Content-Length");
        return 1;
      case TReadStatus::TooLarge:
        Fail(nullptr, kInvalidRequest, "message too large");
        break;
      case TReadStatus::Message: {
        // The parser recurses once per level: a message nested deeper is refused unread.
        if (NestsDeeperThan(body, kMaxJsonDepth)) {
          Fail(nullptr, kParseError,
               "JSON nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
          break;
        }
        // A message too large for the memory left is refused, as a request that needs too
        // much is (in Handle); the server goes on with the next.
        try {
          json message = json::parse(body, nullptr, false);
          body = std::string();
          if (message.is_discarded())
            Fail(nullptr, kParseError, "malformed JSON");
          else
            Handle(message);
        } catch (const std::bad_alloc&) {
          Fail(nullptr, kRequestFailed, "out of memory");
        }
        break;
      }
    }
  }
  return Exited && ShuttingDown ? 0 : 1;
}

void TServer::Send(const json& AMessage) {
  if (Gone) return;
  // Texts that are not UTF-8 (a page in another encoding) go out with U+FFFD in their place.
  if (!WriteMessage(Channel, AMessage.dump(-1, ' ', false, json::error_handler_t::replace)))
    Gone = true;
}

void TServer::Reply(const json& AId, const TAnswer& AAnswer) {
  json message = {{"jsonrpc", "2.0"}, {"id", AId}};
  if (AAnswer.Failure)
    message["error"] = {{"code", AAnswer.Failure->Code}, {"message", AAnswer.Failure->Message}};
  else
    message["result"] = AAnswer.Result;
  Send(message);
}

void TServer::Handle(const json& AMessage) {
  if (!AMessage.is_object()) return Fail(nullptr, kInvalidRequest, "a message is a JSON object");
  const auto method = AMessage.find("method");
  const auto id = AMessage.find("id");
  const bool is_request = id != AMessage.end();
  if (is_request && !id->is_number_integer() && !id->is_string())
    return Fail(nullptr, kInvalidRequest, "a request's id is a number or a string");
  if (method == AMessage.end() || !method->is_string()) {
    if (is_request && !AMessage.contains("result") && !AMessage.contains("error"))
      Fail(*id, kInvalidRequest, "a request names its method");
    return;  // a response: the server asks nothing
  }
  const std::string name = method->get<std::string>();
  const json params = AMessage.value("params", json::object());
  try {
    if (!is_request) return Notification(name, params);
    if (!Initialized && name != "initialize")
      return Fail(*id, kServerNotInitialized, "the server is not initialized");
    if (ShuttingDown) return Fail(*id, kInvalidRequest, "the server is shutting down");
    Reply(*id, Request(name, params));
  } catch (const json::exception& error) {
    if (is_request) Fail(*id, kInvalidParams, std::string("invalid parameters: ") + error.what());
  } catch (const std::bad_alloc&) {
    if (is_request) Fail(*id, kRequestFailed, "out of memory");
  }
}

TAnswer TServer::Request(const std::string& AMethod, const json& AParams) {
  if (AMethod == "initialize") return Initialize(AParams);
  if (AMethod == "shutdown") return ShuttingDown = true, TAnswer{nullptr, {}};
  if (AMethod == "textDocument/hover") return Hover(AParams);
  if (AMethod == "textDocument/definition") return Locations(AParams, true);
  if (AMethod == "textDocument/references") return Locations(AParams, false);
  if (AMethod == "textDocument/prepareRename") return PrepareRename(AParams);
  if (AMethod == "textDocument/rename") return Rename(AParams);
  if (AMethod == "textDocument/completion") return Completion(AParams);
  if (AMethod == "textDocument/documentSymbol") return Symbols(AParams);
  if (AMethod == "textDocument/codeAction") return CodeActions(AParams);
  if (AMethod == "textDocument/semanticTokens/full") return SemanticTokens(AParams);
  if (AMethod == "workspace/executeCommand") return ExecuteCommand(AParams);
  return {nullptr, TFailure{kMethodNotFound, "unknown method '" + AMethod + "'"}};
}

void TServer::Notification(const std::string& AMethod, const json& AParams) {
  if (AMethod == "exit") {
    Exited = true;
  } else if (!Initialized) {
    return;  // before "initialize" only "exit" counts
  } else if (AMethod == "textDocument/didOpen") {
    const json& document = AParams.at("textDocument");
    const std::string uri = document.at("uri").get<std::string>();
    Workspace.Open(uri, document.at("text").get<std::string>(), document.value("version", 0));
    Publish(uri);
  } else if (AMethod == "textDocument/didChange") {
    Change(AParams);
  } else if (AMethod == "textDocument/didClose") {
    const std::string uri = UriOf(AParams);
    Workspace.Close(uri);
    std::string script, templ;
    PageUris(uri, script, templ);
    if (Workspace.IsOpen(script) || Workspace.IsOpen(templ)) return Publish(uri);
    for (const std::string& gone : {script, templ})  // the page is closed: its squiggles go
      if (Published.erase(gone))
        Send({{"jsonrpc", "2.0"},
              {"method", "textDocument/publishDiagnostics"},
              {"params", {{"uri", gone}, {"diagnostics", json::array()}}}});
  } else if (AMethod == "textDocument/didSave") {
    Workspace.Touch(UriOf(AParams));
    if (UriOf(AParams).ends_with("/zoqc.toml")) return PublishAll();  // a site's settings
    Publish(UriOf(AParams));
  } else if (AMethod == "workspace/didChangeConfiguration") {
    // A client may send the settings of other servers only (eglot sends none at start): those
    // leave ours as they are.
    const json settings = AParams.value("settings", json::object());
    if (settings.is_object() && settings.contains("zoqc")) ReadSettings(settings["zoqc"]);
    PublishAll();
  } else if (AMethod == "workspace/didChangeWatchedFiles") {
    for (const json& change : AParams.value("changes", json::array()))
      Workspace.Touch(change.at("uri").get<std::string>());
    PublishAll();
  }
}

TAnswer TServer::Initialize(const json& AParams) {
  const json capabilities = AParams.value("capabilities", json::object());
  const json encodings =
      capabilities.value("general", json::object()).value("positionEncodings", json::array());
  const bool utf8 = std::find(encodings.begin(), encodings.end(), "utf-8") != encodings.end();
  Workspace.SetEncoding(utf8 ? TEncoding::Utf8 : TEncoding::Utf16);
  const json workspace = capabilities.value("workspace", json::object());
  DocumentChanges =
      workspace.value("workspaceEdit", json::object()).value("documentChanges", false);
  const json document = capabilities.value("textDocument", json::object());
  Snippets = document.value("completion", json::object())
                 .value("completionItem", json::object())
                 .value("snippetSupport", false);
  // A client that names its hover formats and leaves Markdown out gets plain text.
  const json formats = document.value("hover", json::object()).value("contentFormat", json());
  Markdown =
      !formats.is_array() || std::find(formats.begin(), formats.end(), "markdown") != formats.end();
  if (AParams.contains("initializationOptions") && AParams["initializationOptions"].is_object())
    ReadSettings(AParams["initializationOptions"]);
  Initialized = true;
  json tokens = json::array();
  for (const char* type : kTokenTypes) tokens.push_back(type);
  json result = {
      {"capabilities",
       {{"positionEncoding", utf8 ? "utf-8" : "utf-16"},
        {"textDocumentSync", {{"openClose", true}, {"change", 2}, {"save", true}}},
        {"hoverProvider", true},
        {"definitionProvider", true},
        {"referencesProvider", true},
        {"renameProvider", {{"prepareProvider", true}}},
        {"completionProvider", {{"triggerCharacters", {"{", "+", "*"}}}},
        {"documentSymbolProvider", true},
        {"codeActionProvider", {{"codeActionKinds", {"quickfix"}}}},
        {"semanticTokensProvider",
         {{"legend", {{"tokenTypes", tokens}, {"tokenModifiers", json::array()}}}, {"full", true}}},
        {"executeCommandProvider", {{"commands", {"zoqc.page", "zoqc.origins"}}}}}},
      {"serverInfo", {{"name", "zoqc"}}}};
  return {result, {}};
}

void TServer::ReadSettings(const json& ASettings) {
  if (!ASettings.is_object()) return;
  TSettings settings = Workspace.GetSettings();  // a setting left out stays as it was
  if (ASettings.contains("warnings")) {
    std::vector<std::string> switches;
    for (const json& item : ASettings.value("warnings", json::array()))
      if (item.is_string()) switches.push_back(item.get<std::string>());
    settings.Warnings = WarningsOf(switches);
  }
  if (ASettings.contains("lint")) settings.Lint = ASettings.value("lint", false);
  if (ASettings.contains("escape")) settings.Escape = ASettings.value("escape", false);
  Workspace.SetSettings(settings);
}

void TServer::Publish(const std::string& AUri) {
  const TPage* page = Workspace.PageOf(AUri);
  if (!page) return;
  for (const TRole role : {TRole::Script, TRole::Template}) {
    const std::string& uri = page->Uri(role);
    if (!page->Found[static_cast<int>(role)] && !Published.count(uri)) continue;
    json list = json::array();
    for (const TDiagnostic& d : page->Analysis.Diagnostics)
      if (RoleOf(*page, d.Place) == role) list.push_back(DiagnosticJson(*page, d));
    json params = {{"uri", uri}, {"diagnostics", list}};
    if (const std::optional<std::int64_t> version = Workspace.VersionOf(uri))
      params["version"] = *version;
    Send({{"jsonrpc", "2.0"}, {"method", "textDocument/publishDiagnostics"}, {"params", params}});
    if (list.empty())
      Published.erase(uri);
    else
      Published.insert(uri);
  }
}

// Every page the client shows: those with an open file, and those given diagnostics.
void TServer::PublishAll() {
  std::set<std::string> pages;  // each page once, by its script's URI
  std::string script, templ;
  for (const std::string& uri : Published) PageUris(uri, script, templ), pages.insert(script);
  for (const std::string& uri : Workspace.OpenUris())
    if (RoleOfUri(uri)) PageUris(uri, script, templ), pages.insert(script);
  for (const std::string& uri : pages) Publish(uri);
}

void TServer::Change(const json& AParams) {
  const json& document = AParams.at("textDocument");
  const std::string uri = document.at("uri").get<std::string>();
  const std::string* text = Workspace.TextOf(uri);
  if (!text) return;
  for (const json& change : AParams.value("contentChanges", json::array())) {
    const std::string& now = change.at("text").get_ref<const std::string&>();
    if (!change.contains("range")) {
      Workspace.Replace(uri, 0, text->size(), now);
      continue;
    }
    const TLineTable lines(*text);
    const json& range = change.at("range");
    auto offset = [&](const json& APosition) {
      return lines.OffsetOf(IndexOf(APosition.value("line", json())),
                            IndexOf(APosition.value("character", json())), Workspace.GetEncoding());
    };
    Workspace.Replace(uri, offset(range.at("start")), offset(range.at("end")), now);
  }
  if (document.contains("version") && document["version"].is_number_integer())
    Workspace.SetVersion(uri, document["version"].get<std::int64_t>());
  Publish(uri);
}

TServer::TAt TServer::PageAt(const json& AParams) {
  const std::string uri = UriOf(AParams);
  const std::optional<TRole> role = RoleOfUri(uri);
  const TPage* page = Workspace.PageOf(uri);
  if (!role || !page || !page->Found[static_cast<int>(*role)]) return {};
  return {page, *role, OffsetOf(*page, *role, AParams.value("position", json::object()))};
}

TAnswer TServer::Hover(const json& AParams) {
  const auto [page, role, offset] = PageAt(AParams);
  if (!page) return {nullptr, {}};
  const std::optional<TSymbol> symbol = SymbolAt(*page, role, offset);
  if (!symbol) return {nullptr, {}};
  const std::string text = HoverText(*page, *symbol, role);
  return {{{"contents", Markdown ? json{{"kind", "markdown"}, {"value", text}}
                                 : json{{"kind", "plaintext"}, {"value", PlainText(text)}}},
           {"range", RangeJson(*page, role, symbol->Span)}},
          {}};
}

TAnswer TServer::Locations(const json& AParams, bool ADefinitions) {
  const auto [page, role, offset] = PageAt(AParams);
  json list = json::array();
  if (!page) return {list, {}};
  const std::optional<TSymbol> symbol = SymbolAt(*page, role, offset);
  if (!symbol) return {list, {}};
  // References leave out the declarations when the client asks so.
  const bool declarations =
      ADefinitions ||
      AParams.value("context", json::object()).value("includeDeclaration", true) != false;
  for (const TLocation& at :
       ADefinitions ? Definitions(*page, *symbol, role) : Occurrences(*page, *symbol))
    if (declarations || !IsDeclaration(*page, at)) list.push_back(LocationJson(*page, at));
  return {list, {}};
}

TAnswer TServer::PrepareRename(const json& AParams) {
  const auto [page, role, offset] = PageAt(AParams);
  const std::optional<TSymbol> symbol = page ? SymbolAt(*page, role, offset) : std::nullopt;
  if (!symbol) return {nullptr, TFailure{kRequestFailed, "no name or block to rename here"}};
  return {{{"range", RangeJson(*page, role, symbol->Span)}, {"placeholder", symbol->Name}}, {}};
}

TAnswer TServer::Rename(const json& AParams) {
  const std::string name = AParams.at("newName").get<std::string>();
  if (!IsValidName(name))
    return {nullptr, TFailure{kRequestFailed, "'" + name +
                                                  "' is not a valid name: names hold only "
                                                  "ASCII letters and digits"}};
  const auto [page, role, offset] = PageAt(AParams);
  const std::optional<TSymbol> symbol = page ? SymbolAt(*page, role, offset) : std::nullopt;
  if (!symbol) return {nullptr, TFailure{kRequestFailed, "no name or block to rename here"}};
  if (const std::optional<std::string> conflict = RenameConflict(*page, *symbol, name))
    return {nullptr, TFailure{kRequestFailed, *conflict}};
  TEditBuilder edits(*page, Workspace, DocumentChanges);
  for (const TLocation& at : Occurrences(*page, *symbol)) edits.Add(at.Role, at.Span, name);
  return {edits.Edit(), {}};
}

TAnswer TServer::Completion(const json& AParams) {
  const auto [page, role, offset] = PageAt(AParams);
  json items = json::array();
  if (!page) return {items, {}};
  for (const TCompletion& item : CompletionsAt(*page, role, offset)) {
    json entry = {{"label", item.Label}, {"detail", item.Detail}, {"kind", item.IsBlock ? 7 : 6}};
    if (!item.Snippet.empty()) {
      if (!Snippets) continue;
      entry["kind"] = 15;
      entry["insertText"] = item.Snippet;
      entry["insertTextFormat"] = 2;
    }
    items.push_back(std::move(entry));
  }
  return {items, {}};
}

// The symbol AItem with its children; each level is built once and moved into its parent.
json OutlineJson(const TPage& APage, TRole ARole, const TOutline& AItem) {
  json children = json::array();
  for (const TOutline& child : AItem.Children) children.push_back(OutlineJson(APage, ARole, child));
  json item = {{"name", AItem.Name},
               {"detail", AItem.Detail},
               {"kind", AItem.IsBlock ? 5 : 13},
               {"range", RangeJson(APage, ARole, AItem.Span)},
               {"selectionRange", RangeJson(APage, ARole, AItem.NameSpan)}};
  item["children"] = std::move(children);
  return item;
}

TAnswer TServer::Symbols(const json& AParams) {
  const auto [page, role, offset] = PageAt(AParams);
  json list = json::array();
  if (!page) return {list, {}};
  for (const TOutline& item : OutlineOf(*page, role))
    list.push_back(OutlineJson(*page, role, item));
  return {list, {}};
}

TAnswer TServer::CodeActions(const json& AParams) {
  const TAt at = PageAt(AParams);
  const TPage* page = at.Page;
  const TRole role = at.Role;
  json list = json::array();
  if (!page) return {list, {}};
  const json range = AParams.value("range", json::object());
  const std::size_t from = OffsetOf(*page, role, range.value("start", json::object()));
  const std::size_t to = std::max(from, OffsetOf(*page, role, range.value("end", json::object())));
  const auto within = [&](const TPlace& APlace) {
    if (RoleOf(*page, APlace) != role) return false;
    const TSpan at = SpanOf(*page, role, APlace);
    return at.End >= from && at.Begin <= to;
  };
  // A fix is offered where its diagnostic stands and where its notes point (a typo's fix on
  // the placeholder shows at the binding too); the notes' fixes, the other way to mend the
  // same mistake, after the others.
  const auto offer = [&](const TDiagnostic& ADiag, const std::vector<TFixIt>& AFixIts,
                         bool ASecond) {
    TEditBuilder edits(*page, Workspace, DocumentChanges);
    for (const TFixIt& fix : AFixIts) {
      const TRole fix_role = RoleOf(*page, fix.Place);
      edits.Add(fix_role, SpanOf(*page, fix_role, fix.Place), fix.Text);
    }
    TDiagnostic shown = ADiag;
    shown.FixIts = AFixIts;
    list.push_back(QuickFixJson(*page, shown, edits.Edit()));
    list.back()["isPreferred"] = list.size() == 1 && !ASecond;  // the first fix is the one to take
  };
  for (const bool second : {false, true}) {
    for (const TDiagnostic& d : page->Analysis.Diagnostics) {
      if (!within(d.Place) && std::none_of(d.Notes.begin(), d.Notes.end(),
                                           [&](const TNote& ANote) { return within(ANote.Place); }))
        continue;
      if (!second && !d.FixIts.empty()) offer(d, d.FixIts, false);
      if (second)
        for (const TNote& note : d.Notes)
          if (!note.FixIts.empty()) offer(d, note.FixIts, true);
    }
  }
  return {list, {}};
}

TAnswer TServer::SemanticTokens(const json& AParams) {
  const auto [page, role, offset] = PageAt(AParams);
  json data = json::array();
  if (page) {
    TPosition last;
    for (const TToken& token : TokensOf(*page, role)) {
      const TPosition begin = PositionOf(*page, role, token.Span.Begin);
      const TPosition end = PositionOf(*page, role, token.Span.End);
      data.push_back(begin.Line - last.Line);
      data.push_back(begin.Line == last.Line ? begin.Character - last.Character : begin.Character);
      data.push_back(end.Character - begin.Character);
      data.push_back(token.Type);
      data.push_back(0);
      last = begin;
    }
  }
  return {{{"data", data}}, {}};
}

TAnswer TServer::ExecuteCommand(const json& AParams) {
  const std::string command = AParams.at("command").get<std::string>();
  const json arguments = AParams.value("arguments", json::array());
  if (command != "zoqc.page" && command != "zoqc.origins")
    return {nullptr, TFailure{kInvalidParams, "unknown command '" + command + "'"}};
  const std::string uri = arguments.at(0).get<std::string>();
  const TPage* page = Workspace.PageOf(uri);
  if (!page || !page->Found[0] || !page->Found[1])
    return {nullptr, TFailure{kRequestFailed, "no page: the script or the template is missing"}};
  if (!page->Analysis.Result.Ok())
    return {nullptr,
            TFailure{kRequestFailed, "the page does not translate: " +
                                         std::string(ErrorLine(page->Analysis.Result.Error))}};
  // The page as analysed (with --escape when the server runs with it), with its provenance for
  // the origins.
  const bool origins = command == "zoqc.origins";
  const TCompileResult result = TranslateAgain(page->Analysis.Result, origins);
  if (!origins) return {{{"text", result.Pieces.Joined()}}, {}};
  // The sources of one 0-based line of the page: what each of its stretches was copied from,
  // or the statement or placeholder that made it.
  const std::size_t line = IndexOf(arguments.at(1)) + 1;
  const TProvenance& provenance = *result.Provenance;
  json list = json::array();
  for (const TLineSource& source : provenance.OnLine(line)) {
    std::optional<TLocation> at;
    if (source.Kind != TLineSource::TKind::Made) {
      const bool markup = source.Kind == TLineSource::TKind::Markup;
      at = TLocation{markup ? TRole::Template : TRole::Script, source.Span};
    } else if (source.TemplateCause != kNowhere) {
      const std::optional<TSymbol> symbol = SymbolAt(*page, TRole::Template, source.TemplateCause);
      at = TLocation{TRole::Template,
                     symbol ? symbol->Span : TSpan{source.TemplateCause, source.TemplateCause}};
    } else if (source.ScriptCause != kNowhere) {
      const std::size_t statement = page->Model().Script.StatementAt(source.ScriptCause);
      at = TLocation{TRole::Script, statement != kNowhere
                                        ? page->Model().Script.Statements[statement].Line
                                        : TSpan{source.ScriptCause, source.ScriptCause}};
    }
    if (!at) continue;
    json location = LocationJson(*page, *at);
    if (list.empty() || list.back() != location) list.push_back(std::move(location));
  }
  return {list, {}};
}

}  // namespace

int RunServer(TChannel& AChannel, TFileLoader ALoader, TPageLinter ALinter,
              TProjectSettings AProject) {
  TServer server(AChannel, std::move(ALoader), std::move(ALinter), std::move(AProject));
  return server.Run();
}

}  // namespace zoqc::lsp
