// Statement handlers: record the statements, copy block statement lines for rewriting.
#include "src/script/statements.h"

namespace zoqc {

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
  const TStatement& s = Record(Scan, AValue, Postion, TStatementKind::BlockVar, 3);
  if (!s.Separated) {
    Scan.Error = TCompileError::BlockVarNeedSeparator;
    return;
  }
  Postion = PastExpression(AValue, s);
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
