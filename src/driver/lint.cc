// --lint: the PHP program, its requests and answers, and the pool of php processes.
#include "src/driver/lint.h"

#include <charconv>

#include "src/check/page_origin.h"
#include "src/platform/child.h"

namespace zoqc {

namespace {

// The program reads "SIZE\n" and SIZE bytes, tokenizes them with the parser on and answers
// "ok" or "error LINE MESSAGE" (the message on one line). A short read ends it.
constexpr std::string_view kProgram = R"php(
while (($head = fgets(STDIN)) !== false) {
  $size = (int)$head;
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
  fwrite(STDOUT, $answer . "\n");
  fflush(STDOUT);
}
)php";

// How long PHP may take over a page: ten seconds, and one more per megabyte.
int TimeoutMs(std::size_t ASize) { return 10000 + static_cast<int>(ASize / 1000); }

}  // namespace

std::string_view LintProgram() { return kProgram; }

std::string LintRequest(std::size_t ASize) { return std::to_string(ASize) + "\n"; }

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
  std::unique_ptr<TPhpLinter> linter(new TPhpLinter(APhp));
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

TPhpLinter::TPhpLinter(std::string APhp) : Php(std::move(APhp)) {}

TPhpLinter::~TPhpLinter() = default;

std::unique_ptr<TChildProcess> TPhpLinter::Borrow(std::string& AError) {
  {
    const std::lock_guard<std::mutex> lock(Mutex);
    if (!Idle.empty()) {
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
  std::unique_ptr<TChildProcess> child = Borrow(AFailure);
  if (!child) return false;
  std::size_t size = 0;
  for (std::string_view piece : APage) size += piece.size();
  const std::string request = LintRequest(size);
  const int timeout = TimeoutMs(size);
  std::string line;
  const std::string_view head = request;
  if (!child->Send(std::span<const std::string_view>(&head, 1), timeout) ||
      !child->Send(APage, timeout) || !child->ReadLine(line, timeout)) {
    AFailure = "PHP ('" + Php + "') ended, or gave no answer within " +
               std::to_string(timeout / 1000) + " s, before it had checked the page";
    return false;  // the child is killed as it goes
  }
  if (!ParseLintAnswer(line, AAnswer)) {
    AFailure = "PHP ('" + Php + "') answered what zoqc cannot read: " + line;
    return false;
  }
  const std::lock_guard<std::mutex> lock(Mutex);
  Idle.push_back(std::move(child));
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
  const TCompileResult traced =
      Compile(std::string(model.Script.Text), std::string(model.Template), {.Provenance = true});
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
  AError = PhpParseError(*traced.Model, *traced.Origins, AScript, ATemplate, APageName, answer.Line,
                         answer.Message, parses);
  return true;
}

}  // namespace zoqc
