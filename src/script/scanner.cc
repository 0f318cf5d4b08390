// Script scanner: copies PHP lines and hands statement lines to their handlers.
#include "src/script/scanner.h"

#include "src/script/statements.h"
#include "src/text/text.h"

namespace zoqc {

namespace {

// Bytes from Postion through the next LF, or to the end of AValue.
std::string_view RestOfLine(std::string_view AValue, std::int64_t Postion) {
  const std::size_t start = IndexOf(Postion);
  const std::size_t lf = AValue.find('\n', start);
  return AValue.substr(start,
                       lf == std::string_view::npos ? std::string_view::npos : lf - start + 1);
}

// At least ACount bytes remain at Postion and they are AOpener.
bool OpensWith(std::string_view AValue, std::int64_t Postion, std::int64_t ACount,
               std::string_view AOpener) {
  if (static_cast<std::int64_t>(AValue.size()) - (ACount - 1) < Postion || Postion < 1)
    return false;
  return AValue.substr(IndexOf(Postion), AOpener.size()) == AOpener;
}

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

}  // namespace

void GotoNewLine(TRunState& Run, std::string_view AValue, std::int64_t& Postion) {
  if (Postion > static_cast<std::int64_t>(AValue.size())) return;
  const std::string_view line = RestOfLine(AValue, Postion);
  Run.PhpStr.append(line);
  Postion += static_cast<std::int64_t>(line.size());
}

void CopyLine(TRunState& Run, std::string_view AValue, std::int64_t Postion) {
  GotoNewLine(Run, AValue, Postion);  // moves only the local copy
}

bool IsTemplateStmt(std::string_view AValue, std::int64_t Postion) {
  return OpensWith(AValue, Postion, 3, "<<");
}
bool IsTemplateBlockStmtDef(std::string_view AValue, std::int64_t Postion) {
  return OpensWith(AValue, Postion, 4, "<<*");
}
bool IsTemplateBlockStmtParse(std::string_view AValue, std::int64_t Postion) {
  return OpensWith(AValue, Postion, 4, "<<+");
}
bool IsTemplateBlockStmtVar(std::string_view AValue, std::int64_t Postion) {
  return OpensWith(AValue, Postion, 4, "<<<");
}

std::string ReadTemplateVar(std::string_view AValue, std::int64_t& Postion) {
  if (Postion > static_cast<std::int64_t>(AValue.size())) return {};
  const std::size_t start = IndexOf(Postion);
  const std::size_t end = NameEnd(AValue, start);
  Postion = PostionOf(end);
  return std::string(AValue.substr(start, end - start));
}

std::string ReadScriptVar(std::string_view AValue, std::int64_t& Postion) {
  if (Postion > static_cast<std::int64_t>(AValue.size())) return {};
  const std::size_t start = IndexOf(Postion);
  std::size_t end = start;
  while (end < AValue.size() && !IsLineBreak(AValue[end])) ++end;
  std::string result(AValue.substr(start, end - start));
  if (end < AValue.size() && AValue[end] == '\r') ++end;  // an LF stays for the loop
  Postion = PostionOf(end);
  return result;
}

bool SkipLittle2(std::string_view AValue, std::int64_t& Postion) {
  if (!IsTemplateStmt(AValue, Postion)) return false;
  Postion += 2;
  return true;
}

void SkipPastLineBreak(std::string_view AValue, std::int64_t& Postion) {
  const auto length = static_cast<std::int64_t>(AValue.size());
  while (Postion <= length && !IsLineBreak(ByteAt(AValue, Postion))) ++Postion;
  if (Postion <= length && ByteAt(AValue, Postion) == '\r') ++Postion;  // an LF stays for the loop
}

bool ScanScript(TRunState& Run, std::string& AError) {
  const std::string_view script = Run.ScriptStr;
  std::int64_t I = 1;
  while (I <= static_cast<std::int64_t>(script.size())) {
    GotoNewLine(Run, script, I);
    const std::int64_t start = I;
    bool ok = true;
    if (IsTemplateBlockStmtDef(script, I))  // "<<*"
      ProcessTemplateBlockDef(Run, script, I);
    else if (IsTemplateBlockStmtParse(script, I))  // "<<+"
      ProcessTemplateBlockParse(Run, script, I);
    else if (IsTemplateBlockStmtVar(script, I))  // "<<<"
      ok = ProcessTemplateBlockVar(Run, script, I, AError);
    else if (IsTemplateStmt(script, I))  // "<<"
      ok = ProcessTemplateStmt(Run, script, I, AError);
    if (!ok) {
      Run.FailPos = start;  // so that the error can name its line
      return false;
    }
  }
  return true;
}

}  // namespace zoqc
