// --lint: the PHP program, its requests and answers, and the pool of php processes.
#include "src/driver/lint.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>

#include "src/check/page_origin.h"
#include "src/platform/child.h"
#include "src/translation/analysis.h"

namespace zoqc {

namespace {

// The program reads "SIZE NONCE\n" and SIZE bytes, tokenizes them with the parser on and
// answers "NONCE ok" or "NONCE error LINE MESSAGE" (the message on one line). A short read ends
// it.
constexpr std::string_view kProgram = R"php(
while (($head = fgets(STDIN)) !== false) {
  [$size, $nonce] = explode(' ', trim($head), 2) + ['0', ''];
  $size = (int)$size;
  $code = '';
  while (strlen($code) < $size) {
    $more = fread(STDIN, min(1 << 20, $size - strlen($code)));
    if ($more === false || $more === '') exit(1);
    $code .= $more;
  }
  try {
    token_get_all($code, TOKEN_PARSE);
    $answer = "ok";
  } catch (CompileError $e) {
    $answer = 'error ' . $e->getLine() . ' ' . strtr($e->getMessage(), "\r\n", '  ');
  }
  unset($code);
  fwrite(STDOUT, $nonce . ' ' . $answer . "\n");
  fflush(STDOUT);
}
)php";

// How much time PHP may take over a page: ten seconds, and one more per megabyte. It is
// counted in the processor time php gets, so that a loaded machine does not refuse a page
// that php is still working through; where the system does not say, in wall-clock time.
int TimeoutMs(std::size_t ASize) { return 10000 + static_cast<int>(ASize / 1000); }

// Waits for AChild's next line into ALine, for at most ABudgetMs of the processor time it gets
// from now on, or ABudgetMs of waiting (asleep or stopped, not ready to run) in a row. False
// when the child ended, broke its output, or ran out of either.
bool ReadAnswer(TChildProcess& AChild, std::string& ALine, int ABudgetMs) {
  using TClock = std::chrono::steady_clock;
  const auto since = [](TClock::time_point AStart) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - AStart).count();
  };
  bool waiting = false;
  const long cpu_start = AChild.CpuMs(waiting);
  const auto start = TClock::now();
  auto idle_since = start;  // the last moment the child was seen running or ready to run
  for (;;) {
    if (AChild.ReadLine(ALine, 250)) return true;
    if (!AChild.Readable()) return false;
    const long cpu = AChild.CpuMs(waiting);
    if (cpu < 0 || cpu_start < 0) {
      if (since(start) >= ABudgetMs) return false;
      continue;
    }
    if (!waiting) idle_since = TClock::now();
    if (cpu - cpu_start >= ABudgetMs || since(idle_since) >= ABudgetMs) return false;
  }
}

// From this size on a page goes to "php -l": the tokenizer's array of tokens takes about 80
// bytes per byte of the page (1 GB for 8 MB), PHP's compiler about a quarter of that.
constexpr std::size_t kLargePage = 4 << 20;

// What "php -l" says of standard input: "No syntax errors detected in Standard input code", or
// "Parse error: MESSAGE in Standard input code on line N" (also "Fatal error: ...", with
// "PHP " before it when it goes to the log). False for anything else.
bool ParsePhpL(std::span<const std::string> ALines, TLintAnswer& AAnswer) {
  constexpr std::string_view kWhere = " in Standard input code on line ";
  AAnswer = {};
  for (std::string_view line : ALines) {
    if (line.starts_with("No syntax errors detected")) return true;
    if (line.starts_with("PHP ")) line.remove_prefix(4);
    if (!line.starts_with("Parse error:") && !line.starts_with("Fatal error:")) continue;
    line.remove_prefix(12);
    while (line.starts_with(" ")) line.remove_prefix(1);
    const std::size_t where = line.rfind(kWhere);
    if (where == std::string_view::npos) continue;
    const std::string_view number = line.substr(where + kWhere.size());
    const auto [stop, error] =
        std::from_chars(number.data(), number.data() + number.size(), AAnswer.Line);
    if (error != std::errc() || stop != number.data() + number.size()) continue;
    AAnswer.Clean = false;
    AAnswer.Message = std::string(line.substr(0, where));
    return true;
  }
  return false;
}

}  // namespace

std::string LintRequest(std::size_t ASize, std::string_view ANonce) {
  return std::to_string(ASize) + " " + std::string(ANonce) + "\n";
}

bool ParseLintAnswer(std::string_view ALine, TLintAnswer& AAnswer) {
  AAnswer = {};
  if (ALine == "ok") return true;
  if (!ALine.starts_with("error ")) return false;
  ALine.remove_prefix(6);
  const auto [stop, error] =
      std::from_chars(ALine.data(), ALine.data() + ALine.size(), AAnswer.Line);
  if (error != std::errc() || stop == ALine.data() + ALine.size() || *stop != ' ') return false;
  AAnswer.Clean = false;
  AAnswer.Message = std::string(stop + 1, ALine.data() + ALine.size());
  return true;
}

std::unique_ptr<TPhpLinter> TPhpLinter::Open(const std::string& APhp, std::string& AError) {
  auto linter = std::make_unique<TPhpLinter>(APhp);
  // An empty page tried once: PHP that starts and answers is PHP that works.
  TLintAnswer answer;
  if (!linter->Check({}, answer, AError)) return nullptr;
  return linter;
}

bool TPhpLinter::CheckOnce(const std::string& APhp, std::span<const std::string_view> APage,
                           TLintAnswer& AAnswer, std::string& AFailure) {
  TPhpLinter linter(APhp);
  return linter.Check(APage, AAnswer, AFailure);
}

TPhpLinter::TPhpLinter(std::string APhp) : Php(std::move(APhp)) {
  // Unguessable by what php prints of its own accord (a prepended file, a warning on standard
  // output), and new for every request.
  std::random_device random;
  char key[17];
  std::snprintf(key, sizeof key, "%08x%08x", random(), random());
  Key = key;
}

TPhpLinter::~TPhpLinter() = default;

std::unique_ptr<TChildProcess> TPhpLinter::Borrow(bool AFresh, bool& AReused, std::string& AError) {
  AReused = false;
  if (!AFresh) {
    const std::lock_guard<std::mutex> lock(Mutex);
    if (!Idle.empty()) {
      AReused = true;
      std::unique_ptr<TChildProcess> child = std::move(Idle.back());
      Idle.pop_back();
      return child;
    }
  }
  std::string reason;
  // Errors off the page's way: display_errors would print them into the answers.
  std::unique_ptr<TChildProcess> child = TChildProcess::Start(
      {Php, "-d", "display_errors=stderr", "-d", "memory_limit=-1", "-r", std::string(kProgram)},
      reason);
  if (!child) AError = "cannot run '" + Php + "': " + reason;
  return child;
}

bool TPhpLinter::Check(std::span<const std::string_view> APage, TLintAnswer& AAnswer,
                       std::string& AFailure) {
  std::size_t size = 0;
  for (std::string_view piece : APage) size += piece.size();
  if (size >= kLargePage) return CheckLarge(APage, size, AAnswer, AFailure);
  // A php kept from an earlier page may have died since (killed, out of memory, the machine
  // suspended): the page is then tried once more on a fresh one.
  bool reused = false;
  std::unique_ptr<TChildProcess> child = Borrow(false, reused, AFailure);
  if (!child) return false;
  if (Ask(*child, APage, AAnswer, AFailure) || !reused) return Done(std::move(child), AFailure);
  child = Borrow(true, reused, AFailure);
  if (!child) return false;
  return Ask(*child, APage, AAnswer, AFailure) && Done(std::move(child), AFailure);
}

bool TPhpLinter::CheckLarge(std::span<const std::string_view> APage, std::size_t ASize,
                            TLintAnswer& AAnswer, std::string& AFailure) {
  AFailure.clear();
  std::string reason;
  const std::unique_ptr<TChildProcess> child = TChildProcess::Start(
      {Php, "-d", "display_errors=stdout", "-d", "log_errors=0", "-d", "html_errors=0", "-d",
       "error_prepend_string=", "-d", "error_append_string=", "-d", "memory_limit=-1", "-l"},
      reason);
  if (!child) {
    AFailure = "cannot run '" + Php + "': " + reason;
    return false;
  }
  const int timeout = TimeoutMs(ASize);
  std::vector<std::string> lines;
  std::string line;
  bool sent = child->Send(APage, timeout);
  child->CloseInput();
  while (sent && lines.size() < 16 && ReadAnswer(*child, line, timeout)) lines.push_back(line);
  if (!sent || child->Readable()) {
    AFailure = "PHP ('" + Php + "') ended, or gave no answer within " +
               std::to_string(timeout / 1000) + " s of its time, before it had checked the page";
    return false;
  }
  if (!ParsePhpL(lines, AAnswer)) {
    AFailure = "PHP ('" + Php + "') answered what zoqc cannot read: " +
               (lines.empty() ? std::string("nothing") : lines.front());
    return false;
  }
  return true;
}

bool TPhpLinter::Done(std::unique_ptr<TChildProcess> AChild, const std::string& AFailure) {
  if (!AFailure.empty()) return false;  // the child is killed as it goes
  const std::lock_guard<std::mutex> lock(Mutex);
  Idle.push_back(std::move(AChild));
  return true;
}

bool TPhpLinter::Ask(TChildProcess& AChild, std::span<const std::string_view> APage,
                     TLintAnswer& AAnswer, std::string& AFailure) {
  AFailure.clear();
  std::size_t size = 0;
  for (std::string_view piece : APage) size += piece.size();
  const std::string nonce = Key + "-" + std::to_string(Requests.fetch_add(1));
  const std::string request = LintRequest(size, nonce);
  const int timeout = TimeoutMs(size);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
  const auto left = [&] {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::int64_t>(ms.count(), 0));
  };
  std::string line;
  const std::string_view head = request;
  bool answered = AChild.Send(std::span<const std::string_view>(&head, 1), timeout) &&
                  AChild.Send(APage, left());
  // Lines that answer an earlier request (a php that said one line too many) are passed over:
  // only the answer with this request's nonce counts.
  while (answered && (answered = ReadAnswer(AChild, line, timeout)) &&
         !(line.starts_with(nonce) && line.size() > nonce.size() && line[nonce.size()] == ' ')) {
  }
  if (!answered) {
    AFailure = "PHP ('" + Php + "') ended, or gave no answer within " +
               std::to_string(timeout / 1000) + " s of its time, before it had checked the page";
    return false;
  }
  line.erase(0, nonce.size() + 1);
  if (!ParseLintAnswer(line, AAnswer)) {
    AFailure = "PHP ('" + Php + "') answered what zoqc cannot read: " + line;
    return false;
  }
  return true;
}

bool LintDiagnostic(TPhpLinter& ALinter, const TCompileResult& AResult, const TSource& AScript,
                    const TSource& ATemplate, std::string_view APageName,
                    std::optional<TDiagnostic>& AError, std::string& AFailure) {
  AError.reset();
  TLintAnswer answer;
  if (!ALinter.Check(AResult.Page(), answer, AFailure)) return false;
  if (answer.Clean) return true;
  // Translated again with the page's provenance, which only a page in error needs.
  const TPageModel& model = *AResult.Model;
  const TCompileResult traced = TranslateAgain(AResult, true);
  // Where several bindings share the line, each expression alone, as the page uses it.
  const auto parses = [&](const TStatement& AStatement) {
    const std::string_view expr = AStatement.Expr.Of(model.Script.Text);
    const bool echo = AStatement.Kind == TStatementKind::TemplateVar;
    const std::string_view pieces[] = {echo ? "<?php echo " : "<?php $_=\"\".", expr,
                                       echo ? ";?>" : ".\"\";"};
    TLintAnswer alone;
    std::string ignored;
    return !ALinter.Check(pieces, alone, ignored) || alone.Clean;
  };
  AError = PhpParseError(*traced.Model, *traced.Provenance, AScript, ATemplate, APageName,
                         answer.Line, answer.Message, parses);
  return true;
}

}  // namespace zoqc
