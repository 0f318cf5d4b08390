// Statement handlers: record the statements, copy block statement lines for rewriting.
#include "src/script/statements.h"

#include <cstring>

namespace zoqc {

namespace {

// The end of the line that starts at 0-based AFrom: its first CR or LF, or the end of AValue.
// The LF first, then a CR before it: two memchr calls instead of a test per byte.
std::size_t LineEnd(std::string_view AValue, std::size_t AFrom) {
  const char* const from = AValue.data() + AFrom;
  const void* lf = std::memchr(from, '\n', AValue.size() - AFrom);
  const std::size_t end =
      lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - AValue.data()) : AValue.size();
  const void* cr = std::memchr(from, '\r', end - AFrom);
  return cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - AValue.data()) : end;
}

// Records the statement of kind AKind whose opener of ALength bytes is at Postion, with its name
// read; Postion ends on the byte after the name.
TStatement& Record(TScan& Scan, std::string_view AValue, std::int64_t& Postion,
                   TStatementKind AKind, std::int64_t ALength) {
  const std::size_t start = IndexOf(Postion);
  Postion += ALength;
  const std::size_t name = IndexOf(Postion);
  const std::string_view VarName = ReadTemplateVar(AValue, Postion);
  TStatement& s = Scan.Model.Statements.emplace_back();
  s.Kind = AKind;
  s.Line = {start, LineEnd(AValue, start)};
  s.Name = {name, name + VarName.size()};
  std::int64_t after = Postion;
  s.Separated = SkipLittle2(AValue, after);
  // Name characters and "<<" hold no line break: the expression ends where the line does.
  if (s.Separated) s.Expr = {IndexOf(after), s.Line.End};
  return s;
}

}  // namespace

void ProcessTemplateStmt(TScan& Scan, std::string_view AValue, std::int64_t& Postion) {
  Record(Scan, AValue, Postion, TStatementKind::TemplateVar, 2);
  if (!SkipLittle2(AValue, Postion)) {
    Scan.Error = TCompileError::NeedSeparator;
    return;
  }
  ReadScriptVar(AValue, Postion);
}

void ProcessTemplateBlockDef(TScan& Scan, std::string_view AValue, std::int64_t& Postion) {
  CopyLine(Scan, AValue, Postion);
  const TStatement& s = Record(Scan, AValue, Postion, TStatementKind::BlockDef, 3);
  if (SkipLittle2(AValue, Postion)) return;  // "<<*name<<...": no block
  SkipPastLineBreak(AValue, Postion);
  Scan.Current_BlockName = s.Name.Of(AValue);
}

void ProcessTemplateBlockParse(TScan& Scan, std::string_view AValue, std::int64_t& Postion) {
  CopyLine(Scan, AValue, Postion);
  Record(Scan, AValue, Postion, TStatementKind::BlockAppend, 3);
  SkipPastLineBreak(AValue, Postion);
}

void ProcessTemplateBlockVar(TScan& Scan, std::string_view AValue, std::int64_t& Postion) {
  Record(Scan, AValue, Postion, TStatementKind::BlockVar, 3);
  if (!SkipLittle2(AValue, Postion)) {
    Scan.Error = TCompileError::BlockVarNeedSeparator;
    return;
  }
  ReadScriptVar(AValue, Postion);
  if (Scan.Current_BlockName.empty()) Scan.Error = TCompileError::NoCurrentBlock;
}

void NotePhpLine(TScan& Scan, std::string_view AValue, std::int64_t Postion) {
  const auto length = static_cast<std::int64_t>(AValue.size());
  if (Postion > length || (ByteAt(AValue, Postion) != ' ' && ByteAt(AValue, Postion) != '\t'))
    return;
  std::int64_t at = Postion;
  while (at <= length && (ByteAt(AValue, at) == ' ' || ByteAt(AValue, at) == '\t')) ++at;
  if (!IsTemplateStmt(AValue, at)) return;
  const char opener = at + 2 <= length ? ByteAt(AValue, at + 2) : '\0';
  const bool block = opener == '*' || opener == '+' || opener == '<';
  const std::size_t start = IndexOf(Postion);
  Record(Scan, AValue, at, TStatementKind::PhpLine, block ? 3 : 2).Line.Begin = start;
}

}  // namespace zoqc
