// Script scanner: copies PHP lines and hands statement lines to their handlers.
#include "src/script/scanner.h"

#include <cstring>

#include "src/text/text.h"

namespace zoqc {

namespace {

// At least ACount bytes remain at Postion and they are AOpener.
bool OpensWith(std::string_view AValue, std::int64_t Postion, std::int64_t ACount,
               std::string_view AOpener) {
  if (static_cast<std::int64_t>(AValue.size()) - (ACount - 1) < Postion || Postion < 1)
    return false;
  return AValue.substr(IndexOf(Postion), AOpener.size()) == AOpener;
}

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

}  // namespace

void AddRefs(TScriptModel& AModel, std::size_t AFrom, std::size_t ATo, std::size_t ASlice) {
  // After a reference the search goes on past its opener, so that "<<+a<<+b" holds two.
  const std::string_view text = AModel.Text.substr(0, ATo);
  for (std::size_t idx = text.find("<<", AFrom); idx != std::string_view::npos;
       idx = text.find("<<", idx)) {
    const char opener = idx + 2 < text.size() ? text[idx + 2] : '\0';
    if (opener != '*' && opener != '+') {
      ++idx;
      continue;
    }
    const std::size_t end = NameEnd(text, idx + 3);
    AModel.Refs.push_back({{idx, end}, {idx + 3, end}, opener == '*', ASlice});
    idx += 3;
  }
}

void CopyLine(TScan& Scan, std::string_view AValue, std::int64_t Postion) {
  GotoNewLine(Scan, AValue, Postion);  // moves only the local copy
}

bool IsTemplateStmt(std::string_view AValue, std::int64_t Postion) {
  return OpensWith(AValue, Postion, 3, "<<");
}
bool IsTemplateBlockStmtDef(std::string_view AValue, std::int64_t Postion) {
  return OpensWith(AValue, Postion, 4, "<<*");
}

std::string_view ReadScriptVar(std::string_view AValue, std::int64_t& Postion) {
  if (Postion > static_cast<std::int64_t>(AValue.size())) return {};
  const std::size_t start = IndexOf(Postion);
  std::size_t end = start;
  while (end < AValue.size() && !IsLineBreak(AValue[end])) ++end;
  const std::string_view result = AValue.substr(start, end - start);
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

}  // namespace zoqc
