// --serve: starting PHP's server with the router, and keeping the router's state.
#include "src/driver/serve.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "src/text/shown.h"

namespace zoqc {

namespace {

namespace fs = std::filesystem;

// APath made absolute, with its links resolved as far as it exists.
std::string Resolved(const std::string& APath) {
  std::error_code ec;
  fs::path path = fs::weakly_canonical(fs::absolute(APath, ec), ec);
  return ec ? fs::absolute(APath, ec).lexically_normal().string() : path.string();
}

// The zoqc binary that runs, for the router's --explain.
std::string ThisProgram(const std::string& AProgram) {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) return self.string();
  return AProgram.find('/') == std::string::npos ? AProgram : Resolved(AProgram);
}

// Makes the folder APath and those missing above it; yields those it made, the deepest first.
std::vector<fs::path> MakeFolders(const fs::path& APath) {
  std::vector<fs::path> made;
  std::error_code ec;
  for (fs::path at = APath; !at.empty() && !fs::exists(fs::symlink_status(at, ec));
       at = at.parent_path()) {
    made.push_back(at);
    if (at == at.parent_path()) break;
  }
  fs::create_directories(APath, ec);
  return made;
}

// What the router says on standard error for zoqc to say: "zoqc-router: TEXT".
constexpr std::string_view kRouterSays = "zoqc-router: ";

}  // namespace

std::unique_ptr<TServe> TServe::Start(const TOptions& AOptions, const std::string& AProgram,
                                      std::ostream& AErr, std::string& AError) {
  TServeAddress address;
  if (!ParseServeAddress(AOptions.ServeAddress, address, AError)) return nullptr;
  std::unique_ptr<TServe> serve(new TServe());
  serve->Root = !AOptions.OutDir.empty()        ? AOptions.OutDir
                : !AOptions.Directories.empty() ? AOptions.Directories.front()
                                                : ".";
  serve->BrowserWarnings = AOptions.BrowserWarnings;
  // The output folder may not be there yet; PHP's server needs it to start. When it cannot,
  // the folders made for it go again: nothing is left of a start that failed.
  std::error_code ec;
  const std::vector<fs::path> made = MakeFolders(serve->Root);
  serve->RootPath = Resolved(serve->Root);
  TDevServerSetup setup;
  setup.Php = AOptions.Php;
  setup.Listen = address.Host + ":" + std::to_string(address.Port);
  setup.DocRoot = serve->Root;
  setup.Router = kServeRouter;
  // --explain finds the sources as this run does, from any folder.
  nlohmann::json explain = nlohmann::json::array();
  for (const std::string& dir : AOptions.Directories) explain += "-r", explain += Resolved(dir);
  if (!AOptions.OutDir.empty()) explain += "-o", explain += Resolved(AOptions.OutDir);
  // The pages wait for their reloads on zoqc's own listener, beside PHP's workers; without it,
  // they ask PHP's server.
  std::string no_reloads;
  serve->Host = address.Host;
  serve->Reloads = TPushListener::Open(address.Host, no_reloads);
  setup.Environment = {
      {"ZOQC_SERVE_HOST", address.Host},
      {"ZOQC_SERVE_HOSTS", OwnHosts(address.Host)},
      {"ZOQC_RELOAD_PORT", serve->Reloads ? std::to_string(serve->Reloads->Port()) : std::string()},
      {"ZOQC_BINARY", ThisProgram(AProgram)},
      {"ZOQC_CWD", fs::current_path(ec).string()},
      {"ZOQC_EXPLAIN_ARGS",
       explain.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)}};
  // What PHP says past the router (its own failures) goes to standard error, a line at a time;
  // what the router says for zoqc (a host refused), once.
  static std::mutex saying;
  setup.Said = [&AErr, said = std::set<std::string>()](const std::string& ALine) mutable {
    const std::lock_guard<std::mutex> lock(saying);
    if (!ALine.starts_with(kRouterSays))
      AErr << "php: " << Shown(ALine) << std::endl;
    else if (said.size() < 100 && said.insert(ALine).second)
      AErr << "zoqc: " << Shown(ALine.substr(kRouterSays.size())) << std::endl;
  };
  serve->Server = TDevServer::Start(setup, AError);
  if (!serve->Server) {
    AError = "cannot start PHP's development server on " + setup.Listen + ": " + AError;
    for (const fs::path& folder : made) fs::remove(folder, ec);  // only while empty
    return nullptr;
  }
  if (serve->Reloads)
    serve->Reloads->Run([serve = serve.get()](std::string_view AHead, bool AAgain) {
      return serve->AnswerReload(AHead, AAgain);
    });
  else
    AErr << "zoqc: warning: the pages in the browser ask for their reloads through PHP's server: "
         << Shown(no_reloads) << std::endl;
  return serve;
}

std::string TServe::Url() const { return Server->Url() + "/"; }

std::string TServe::KeyOf(const TSitePage& APage) const {
  const fs::path rel = fs::path(Resolved(APage.Job.PhpFileName)).lexically_relative(RootPath);
  if (rel.empty() || *rel.begin() == "..") return {};
  return rel.generic_string();
}

void TServe::Translated(const TSitePage& APage, const TPageResult& AResult) {
  const std::string key = KeyOf(APage);
  if (key.empty()) return;
  TServedPage& page = Pages[key];
  ++page.Version;
  page.Label = APage.Label;
  page.Failed = AResult.ExitCode != kExitSuccess;
  page.Warnings = BrowserWarnings ? AResult.Warnings : 0;
  page.Said = page.Failed         ? AResult.Out + AResult.Coloured
              : page.Warnings > 0 ? AResult.Coloured
                                  : std::string();
  page.Sources.clear();
  for (const std::string* source : {&APage.Job.ScriptFileName, &APage.Job.TemplateFileName}) {
    std::string identity = FileIdentity(*source);
    if (!identity.empty()) page.Sources.push_back(std::move(identity));
  }
  Changed = true;
  // While a large site is translated the first time, the pages done are served as they come.
  if (std::chrono::steady_clock::now() - Written > kWriteEvery) {
    std::string ignored;  // said by the next Stepped, which writes again
    (void)Write(ignored);
  }
}

void TServe::Gone(const TSitePage& APage) { Changed = Pages.erase(KeyOf(APage)) != 0 || Changed; }

bool TServe::Stepped(std::string& AError) {
  std::string said;
  if (Server->Ended(said)) {
    AError = "PHP's development server ended" + (said.empty() ? "" : ": " + Shown(said));
    return false;
  }
  return !Changed || Write(AError);
}

bool TServe::Write(std::string& AError) {
  Written = std::chrono::steady_clock::now();
  ++Generation;
  // The state first: a router that sees the new generation finds the state at least as new.
  std::string error;
  if (!Server->WriteFile(kStateFile, ServeStateJson(Generation, Pages), error) ||
      !Server->WriteFile(kGenerationFile, std::to_string(Generation), error)) {
    AError = error;
    return false;
  }
  Changed = false;
  // The pages waiting are told once the state they will be served from is written.
  auto board = std::make_shared<TReloadBoard>();
  board->Generation = Generation;
  for (const auto& [path, page] : Pages)
    board->Versions.emplace_hint(board->Versions.end(), path, page.Version);
  {
    const std::lock_guard<std::mutex> lock(BoardLock);
    Board = std::move(board);
  }
  if (Reloads) Reloads->Wake();
  return true;
}

TPushListener::TAnswer TServe::AnswerReload(std::string_view AHead, bool AAgain) {
  std::shared_ptr<const TReloadBoard> board;
  {
    const std::lock_guard<std::mutex> lock(BoardLock);
    board = Board;
  }
  const auto now = std::chrono::steady_clock::now();
  if (board->Generation != OrderGeneration) {
    OrderGeneration = board->Generation;
    OrderSince = now;
    Away = 0;
  }
  const auto since = now - OrderSince;
  const bool hold = since < kHiddenWait && (since < kTellingTime || Away > 0);
  const TReloadAnswer answer = zoqc::AnswerReload(AHead, Host, *board, AAgain, hold);
  if (!answer.Hidden && answer.Due) {
    ++Away;
  } else if (!answer.Hidden && !AAgain && answer.Current && Away > 0 && --Away == 0) {
    Reloads->Wake();  // the last tab shown is back: the hidden ones go
  }
  int again = -1;  // a hidden page held back is asked again when its wait ends
  if (answer.Wait && answer.Hidden && answer.Due) {
    const auto left = (since < kTellingTime ? kTellingTime : kHiddenWait) - since;
    again = std::max<int>(
        1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
  }
  return {answer.Text, answer.Wait, again};
}

}  // namespace zoqc
