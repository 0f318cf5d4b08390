// --serve: starting PHP's server with the router, and keeping the router's state.
#include "src/driver/serve.h"

#include <chrono>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>

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

}  // namespace

std::unique_ptr<TServe> TServe::Start(const TOptions& AOptions, const std::string& AProgram,
                                      std::ostream& AErr, std::string& AError) {
  TServeAddress address;
  if (!ParseServeAddress(AOptions.ServeAddress, address, AError)) return nullptr;
  std::unique_ptr<TServe> serve(new TServe());
  serve->Root = !AOptions.OutDir.empty()        ? AOptions.OutDir
                : !AOptions.Directories.empty() ? AOptions.Directories.front()
                                                : ".";
  // The output folder may not be there yet; PHP's server needs it to start.
  std::error_code ec;
  fs::create_directories(serve->Root, ec);
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
  setup.Environment = {{"ZOQC_BINARY", ThisProgram(AProgram)},
                       {"ZOQC_CWD", fs::current_path(ec).string()},
                       {"ZOQC_EXPLAIN_ARGS",
                        explain.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)}};
  // What PHP says past the router (its own failures) goes to standard error, a line at a time.
  static std::mutex saying;
  setup.Said = [&AErr](const std::string& ALine) {
    const std::lock_guard<std::mutex> lock(saying);
    AErr << "php: " << Shown(ALine) << std::endl;
  };
  serve->Server = TDevServer::Start(setup, AError);
  if (!serve->Server) {
    AError = "cannot start PHP's development server on " + setup.Listen + ": " + AError;
    return nullptr;
  }
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
  page.Said = page.Failed ? AResult.Out + AResult.Coloured : std::string();
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
  return true;
}

}  // namespace zoqc
