// Statement handlers: the meaning of "<<name<<", "<<*name", "<<<name<<" and "<<+name" lines.
// Each is called with Postion on the statement's first "<", records the statement in
// Scan.Model.Statements and leaves Postion for the scan loop. A handler that fails sets
// Scan.Error; its statement is then the last one recorded.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "src/script/scanner.h"

namespace zoqc {

// Records the statement of kind AKind whose opener of ALength bytes is at Postion, with its name
// read; Postion ends on the byte after the name. The line's end is searched from there (name
// characters hold no line break): its first CR or LF, and the LF for the loop (Scan.LineDone).
inline TStatement& Record(TScan& Scan, std::string_view AValue, std::int64_t& Postion,
                          TStatementKind AKind, std::int64_t ALength) {
  const std::size_t start = IndexOf(Postion);
  const std::size_t name = std::min(IndexOf(Postion + ALength), AValue.size());
  const std::size_t name_end = ShortNameEnd(AValue, name);
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
inline std::int64_t PastExpression(std::string_view AValue, const TStatement& AStatement) {
  const std::size_t end = AStatement.Line.End;
  return PostionOf(end < AValue.size() && AValue[end] == '\r' ? end + 1 : end);
}

// "<<name<<expression": binds name to the expression. Copies nothing; Postion ends past the CR that
// ends the expression, or on its LF. Error(2) without the "<<". Inline: most lines of a page are
// these.
inline void ProcessTemplateStmt(TScan& Scan, std::string_view AValue, std::int64_t& Postion) {
  const TStatement& s = Record(Scan, AValue, Postion, TStatementKind::TemplateVar, 2);
  if (!s.Separated) {
    Scan.Error = TCompileError::NeedSeparator;
    return;
  }
  Postion = PastExpression(AValue, s);
}
// "<<*name": copies the whole line, then makes name the current block, unless "<<" follows the
// name (Postion then ends just past that "<<").
void ProcessTemplateBlockDef(TScan& Scan, std::string_view AValue, std::int64_t& Postion);
// "<<+name": copies the whole line and binds nothing.
void ProcessTemplateBlockParse(TScan& Scan, std::string_view AValue, std::int64_t& Postion);
// "<<<name<<expression": binds name in the current block. Error(5) without the "<<", then
// Error(3) when no block is current.
void ProcessTemplateBlockVar(TScan& Scan, std::string_view AValue, std::int64_t& Postion);
// A line that is no statement: records it when blanks and then "<<" open it, since such a line
// looks like a statement but stays plain PHP. Postion does not move.
void NotePhpLine(TScan& Scan, std::string_view AValue, std::int64_t Postion);

}  // namespace zoqc
