// --serve: PHP's development server beside the watch, with zoqc's router in front of the pages.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>

#include "src/driver/options.h"
#include "src/driver/serve_parts.h"
#include "src/driver/site.h"
#include "src/platform/dev_server.h"
#include "src/platform/push_listener.h"

namespace zoqc {

// The router's text: src/driver/serve_router.php, built in.
extern const char* const kServeRouter;

// The served site: PHP's server, and what its router is told of every page.
class TServe final : public TPageListener {
 public:
  // Starts PHP's server for the site of AOptions (the document root: -o, else the first -r
  // folder, else the current one). Null, with the reason in AError, when it cannot start;
  // nothing has been said or written then. AProgram: how zoqc was started (argv[0]).
  static std::unique_ptr<TServe> Start(const TOptions& AOptions, const std::string& AProgram,
                                       std::ostream& AErr, std::string& AError);

  // "http://127.0.0.1:8000/".
  std::string Url() const;
  // The folder served.
  const std::string& DocRoot() const { return Root; }

  void Translated(const TSitePage& APage, const TPageResult& AResult) override;
  void Gone(const TSitePage& APage) override;
  // Writes what changed for the router to read; false when PHP's server has ended.
  [[nodiscard]] bool Stepped(std::string& AError) override;

 private:
  TServe() = default;
  // The page's path under the document root ("blog/index.php"); "" when it lies outside.
  std::string KeyOf(const TSitePage& APage) const;

  // Answers a page's wait for its reload (on the reload listener's thread).
  TPushListener::TAnswer AnswerReload(std::string_view AHead, bool AAgain);

  std::unique_ptr<TDevServer> Server;
  std::string Root;                          // the document root, as given
  std::string RootPath;                      // the same, made absolute and resolved
  std::map<std::string, TServedPage> Pages;  // by KeyOf
  // Writes the state for the router: the state, then its generation.
  [[nodiscard]] bool Write(std::string& AError);

  static constexpr std::chrono::milliseconds kWriteEvery{200};  // at most, in a long translation
  std::chrono::steady_clock::time_point Written;                // when the state was last written
  std::uint64_t Generation = 1;
  bool Changed = true;          // since the state was last written
  bool BrowserWarnings = true;  // a page's translation warnings are shown over it

  // The order the pages reload in, kept on the reload listener's thread: the tabs the browser
  // shows first, then those it hides, once the tabs shown that were told have come back with
  // their new page (or after kHiddenWait): on a loaded machine the tab in front reloads alone.
  static constexpr std::chrono::milliseconds kHiddenWait{250};
  static constexpr std::chrono::milliseconds kTellingTime{2};  // to tell every tab shown
  std::uint64_t OrderGeneration = 0;                           // the board's, when the order began
  std::chrono::steady_clock::time_point OrderSince;            // then
  int Away = 0;  // tabs shown told to reload, not back yet

  std::string Host;  // the host listened on
  std::mutex BoardLock;
  std::shared_ptr<const TReloadBoard> Board = std::make_shared<TReloadBoard>();  // as written
  // Last, so that it ends before what it reads: the pages waiting for their reloads. Null when
  // it could not start; the pages ask PHP's server then.
  std::unique_ptr<TPushListener> Reloads;
};

}  // namespace zoqc
