// PHP's own parser behind --lint: a small PHP program that a long-lived php process runs, fed
// page after page over a pipe, one process per thread that lints.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "src/check/diagnostic.h"
#include "src/translation/compile.h"

namespace zoqc {

class TChildProcess;

// The request for a page of ASize bytes: this line, then the page's bytes. The answer starts
// with ANonce and a blank, which ties it to its request.
std::string LintRequest(std::size_t ASize, std::string_view ANonce);

// PHP's answer about a page, after its nonce: "ok", or "error LINE MESSAGE" for a page it
// cannot parse.
struct TLintAnswer {
  bool Clean = true;
  std::size_t Line = 0;  // 1-based page line of the parse error
  std::string Message;   // PHP's own words
};
// Reads one answer line; false when it is not one.
[[nodiscard]] bool ParseLintAnswer(std::string_view ALine, TLintAnswer& AAnswer);

// The php processes of a run. Each page borrows an idle one (or starts one) for its check, so
// that as many run as pages are checked at once, each living as long as the run.
class TPhpLinter {
 public:
  // Starts APhp and checks that it answers; null with the reason in AError when it does not.
  static std::unique_ptr<TPhpLinter> Open(const std::string& APhp, std::string& AError);
  // The processes of APhp, none started yet: the first Check starts one.
  explicit TPhpLinter(std::string APhp);
  ~TPhpLinter();

  // Has APhp parse APage in a php process started for it alone (one page's question, with no
  // process kept). False when PHP could not answer or is not there, with the reason in AFailure.
  [[nodiscard]] static bool CheckOnce(const std::string& APhp,
                                      std::span<const std::string_view> APage, TLintAnswer& AAnswer,
                                      std::string& AFailure);

  // Has PHP parse APage. False when PHP could not answer (it died, hung or could not be
  // started), with the reason in AFailure; the process is then replaced for the next page.
  [[nodiscard]] bool Check(std::span<const std::string_view> APage, TLintAnswer& AAnswer,
                           std::string& AFailure);

 private:
  // An idle php (AReused) unless AFresh, else a new one; null with the reason in AError.
  std::unique_ptr<TChildProcess> Borrow(bool AFresh, bool& AReused, std::string& AError);
  // Has AChild parse APage; false with the reason in AFailure when it could not answer.
  bool Ask(TChildProcess& AChild, std::span<const std::string_view> APage, TLintAnswer& AAnswer,
           std::string& AFailure);
  // Has a php of its own parse a large APage of ASize bytes with "php -l", whose parser needs a
  // quarter of the tokenizer's memory; false with the reason in AFailure when it could not.
  bool CheckLarge(std::span<const std::string_view> APage, std::size_t ASize, TLintAnswer& AAnswer,
                  std::string& AFailure);
  // Keeps AChild for the next page when AFailure is empty; yields whether it was.
  bool Done(std::unique_ptr<TChildProcess> AChild, const std::string& AFailure);

  const std::string Php;
  std::string Key;                         // this run's part of every nonce
  std::atomic<std::uint64_t> Requests{0};  // the requests made, each nonce's other part
  std::mutex Mutex;
  std::vector<std::unique_ptr<TChildProcess>> Idle;  // guarded by Mutex
};

// Has ALinter parse the page of AResult, a translation that succeeded. True when PHP answered:
// AError stays empty for a page it parses, and for one it cannot parse holds the error at the
// place in AScript and ATemplate behind the line PHP names, the page called APageName in its
// message. False when PHP could not answer, with the reason in AFailure.
[[nodiscard]] bool LintDiagnostic(TPhpLinter& ALinter, const TCompileResult& AResult,
                                  const TSource& AScript, const TSource& ATemplate,
                                  std::string_view APageName, std::optional<TDiagnostic>& AError,
                                  std::string& AFailure);

}  // namespace zoqc
