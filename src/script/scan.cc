// The scan loop: each pass copies the rest of the line, then looks at the next line's start.
#include "src/script/scan.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "src/script/scanner.h"
#include "src/script/statements.h"
#include "src/text/bytes.h"
#include "src/text/text.h"

namespace zoqc {

TLineCount CountLines(std::string_view AText) {
  TLineCount count;
  const char* at = AText.data();
  const char* const end = at + AText.size();
  while (const void* lf = std::memchr(at, '\n', static_cast<std::size_t>(end - at))) {
    at = static_cast<const char*>(lf) + 1;
    ++count.Lines;
    const bool opener = end - at >= 2 && at[0] == '<' && at[1] == '<';
    count.Openers += opener;
    count.BlockOpeners += opener && end - at >= 3 && (at[2] == '*' || at[2] == '+');
  }
  return count;
}

TCompileError ScanScript(TScriptModel& AModel, const TLineCount* ALines) {
  const std::string_view script = AModel.Text;
  if (script.size() > kMaxScript) throw std::bad_alloc();  // beyond the statements' offsets
  // Each line gives a slice, a block statement's line two; a statement opens a line with "<<"
  // (or blanks and "<<": those few may grow the lists). Reserved once: growing would copy them
  // and touch fresh memory at every doubling. Their allocator gives large lists whole huge
  // pages of their own, so room reserved for nothing could cost a huge page.
  const TLineCount count = ALines ? *ALines : CountLines(script);
  if (TArena* const arena = AModel.Arena.get()) {
    AModel.Statements = TLargeVector<TStatement>(TLargeAllocator<TStatement>(arena));
    AModel.Slices = TLargeVector<TScriptSpan>(TLargeAllocator<TScriptSpan>(arena));
  }
  AModel.Statements.reserve(count.Openers);
  AModel.Slices.reserve(count.Slices());
  TScan Scan{AModel};
  std::int64_t I = 1;
  const std::size_t size = script.size();
  while (I <= static_cast<std::int64_t>(size)) {
    GotoNewLine(Scan, script, I);
    // The line's first bytes, as IsTemplateBlockStmtDef, ...Parse, ...Var and IsTemplateStmt
    // read them: an opener of three needs four bytes left, "<<" three.
    const std::size_t at = IndexOf(I);
    const std::size_t left = size - std::min(at, size);
    if (left >= 3 && script[at] == '<' && script[at + 1] == '<') {
      const char opener = left >= 4 ? script[at + 2] : '\0';
      if (opener == '*')
        ProcessTemplateBlockDef(Scan, script, I);
      else if (opener == '+')
        ProcessTemplateBlockParse(Scan, script, I);
      else if (opener == '<')
        ProcessTemplateBlockVar(Scan, script, I);
      else
        ProcessTemplateStmt(Scan, script, I);
    } else if (left > 0 && (script[at] == ' ' || script[at] == '\t')) {
      NotePhpLine(Scan, script, I);
    }
    if (Scan.Error != TCompileError::None) return Scan.Error;
  }
  return TCompileError::None;
}

std::vector<TStatement> ReadStatementLines(std::string_view AText) {
  TScriptModel model;
  model.Text = AText;
  TScan Scan{model};
  const auto read = [&](std::size_t AAt) {
    if (AText.size() - AAt < 3) return;  // "<<" and one more byte, as the scan asks
    const char opener = AText.size() - AAt >= 4 ? AText[AAt + 2] : '\0';
    const bool three = opener == '*' || opener == '+' || opener == '<';
    const TStatementKind kind = opener == '*'   ? TStatementKind::BlockDef
                                : opener == '+' ? TStatementKind::BlockAppend
                                : opener == '<' ? TStatementKind::BlockVar
                                                : TStatementKind::TemplateVar;
    std::int64_t I = PostionOf(AAt);
    Record(Scan, AText, I, kind, three ? 3 : 2);
  };
  // "<<" is rare in a template: searched for alone, then kept where a line starts.
  for (std::size_t at = FindPair(AText, 0, '<', '<'); at != std::string_view::npos;
       at = FindPair(AText, at + 1, '<', '<'))
    if (at == 0 || AText[at - 1] == '\n') read(at);
  return {model.Statements.begin(), model.Statements.end()};
}

}  // namespace zoqc
