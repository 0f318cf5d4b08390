// Statement handlers: record the statements, copy block statement lines for rewriting.
#include "src/script/statements.h"

#include <algorithm>
#include <cstring>

namespace zoqc {

namespace {

// Records the statement of kind AKind whose opener of ALength bytes is at Postion, with its name
// read; Postion ends on the byte after the name. The line's end is searched from there (name
// characters hold no line break): its first CR or LF, and the LF for the loop (Scan.LineDone).
TStatement& Record(TScan& Scan, std::string_view AValue, std::int64_t& Postion,
                   TStatementKind AKind, std::int64_t ALength) {
  const std::size_t start = IndexOf(Postion);
  const std::size_t name = std::min(IndexOf(Postion + ALength), AValue.size());
  const std::size_t name_end = ScanNameEnd(AValue, name);
  Postion = PostionOf(name_end);
  const char* const data = AValue.data();
  const std::size_t size = AValue.size();
  const std::size_t line_end = LineBreakAt(AValue, name_end);
  std::size_t lf_at = line_end;
  if (line_end < size && data[line_end] == '\r') {  // CR LF, or a CR within the line
    if (size - line_end >= 2 && data[line_end + 1] == '\n') {
      lf_at = line_end + 1;
    } else {
      const void* lf = std::memchr(data + line_end, '\n', size - line_end);
      lf_at = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - data) : size;
    }
  }
  Scan.LineDone = lf_at < size ? lf_at + 1 : size;
  TStatement& s = Scan.Model.Statements.emplace_back();
  s.Kind = AKind;
  s.Line = {start, line_end};
  s.Name = {name, name_end};
  // "<<" and at least one more byte (SkipLittle2); the expression ends where the line does.
  s.Separated = size - name_end >= 3 && data[name_end] == '<' && data[name_end + 1] == '<';
  if (s.Separated) s.Expr = {name_end + 2, line_end};
  return s;
}

// Past a statement's expression, as ReadScriptVar leaves it: past a CR that ends the line, on
// an LF.
std::int64_t PastExpression(std::string_view AValue, const TStatement& AStatement) {
  const std::size_t end = AStatement.Line.End;
  return PostionOf(end < AValue.size() && AValue[end] == '\r' ? end + 1 : end);
}

}  // namespace

void ProcessTemplateStmt(TScan& Scan, std::string_view AValue, std::int64_t& Postion) {
  const TStatement& s = Record(Scan, AValue, Postion, TStatementKind::TemplateVar, 2);
  if (!s.Separated) {
    Scan.Error = TCompileError::NeedSeparator;
    return;
  }
  Postion = PastExpression(AValue, s);
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
