// The sequential reference translation: every rule as its own simple pass over the current text.
#include "tests/reference.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "src/script/scan.h"
#include "src/script/scanner.h"
#include "src/tables/VarHashtable.h"
#include "src/tables/varhashtable2.h"
#include "src/text/text.h"
#include "tests/reference_text.h"

namespace zoqc::reference {
namespace {

// A piece of the PHP text: either as the scan produced it (statements may still be rewritten
// there) or inserted by block expansion (never searched again).
struct TSegment {
  std::string Text;  // the bytes of the piece
  bool Scanned;      // true: produced by the scan; false: an inserted initialisation or append
};
using TSegments = std::vector<TSegment>;

// A table's bindings in its listing order (GetKeys), so the first match is the one that wins.
using TBindings = std::vector<std::pair<std::string, std::string>>;

TBindings BindingsOf(const THashTable* ATable) {
  TBindings result;
  if (ATable == nullptr) return result;
  std::vector<std::string> keys;
  ATable->GetKeys(keys);
  for (const std::string& key : keys) result.emplace_back(key, ATable->Get(key));
  return result;
}

// True when the bytes of AText at AIdx equal APattern up to ASCII letter case.
bool MatchesFolded(std::string_view AText, std::size_t AIdx, std::string_view APattern) {
  if (AText.size() - AIdx < APattern.size()) return false;
  for (std::size_t k = 0; k < APattern.size(); ++k)
    if (UpCase(AText[AIdx + k]) != UpCase(APattern[k])) return false;
  return true;
}

// One left-to-right pass: each "{" K "}" (K a run of name characters, possibly empty) whose K
// equals a key up to case becomes APrefix + the value of the first such key + ASuffix. Inserted
// text is not looked at again; a placeholder without a key stays as written.
std::string Substitute(std::string_view AText, const TBindings& AVars, std::string_view APrefix,
                       std::string_view ASuffix) {
  std::string out;
  std::size_t idx = 0;
  while (idx < AText.size()) {
    if (AText[idx] == '{') {
      std::size_t close = idx + 1;
      while (close < AText.size() && IsNameChar(AText[close])) ++close;
      if (close < AText.size() && AText[close] == '}') {
        const std::string_view name = AText.substr(idx + 1, close - idx - 1);
        const std::string* value = nullptr;
        for (const auto& [key, expr] : AVars) {
          if (SameText(key, name)) {
            value = &expr;
            break;
          }
        }
        if (value != nullptr) {
          out.append(APrefix).append(*value).append(ASuffix);
          idx = close + 1;
          continue;
        }
      }
    }
    out += AText[idx++];
  }
  return out;
}

// The block's markup as the inside of a PHP double-quoted literal: "\", "\"" and "$" get a
// backslash; an inner block's echo "<?php echo $ZOQBLOCK_" M ";?>", with one CR LF or LF after
// it dropped, becomes the splice ".$ZOQBLOCK_M." instead.
std::string EscapeMarkup(std::string_view AInner) {
  constexpr std::string_view kEcho = "<?php echo $ZOQBLOCK_";
  std::string out;
  std::size_t idx = 0;
  while (idx < AInner.size()) {
    if (AInner.substr(idx).starts_with(kEcho)) {
      std::size_t end = idx + kEcho.size();
      while (end < AInner.size() && IsNameChar(AInner[end])) ++end;
      if (AInner.substr(end).starts_with(";?>")) {
        const std::string_view name = AInner.substr(idx + kEcho.size(), end - idx - kEcho.size());
        out.append("\".$ZOQBLOCK_").append(name).append(".\"");
        idx = end + 3;
        if (AInner.substr(idx).starts_with("\r\n"))
          idx += 2;
        else if (AInner.substr(idx).starts_with("\n"))
          idx += 1;
        continue;
      }
    }
    const char c = AInner[idx++];
    if (c == '\\' || c == '"' || c == '$') out += '\\';
    out += c;
  }
  return out;
}

// In the scanned segments only, replaces each AOpener + AName (compared up to case) that is not
// followed by a further name character by AInsert, which becomes an inserted segment.
void RewriteStatements(TSegments& APhp, std::string_view AOpener, std::string_view AName,
                       const std::string& AInsert) {
  const std::string pattern = std::string(AOpener) + std::string(AName);
  TSegments out;
  for (TSegment& seg : APhp) {
    if (!seg.Scanned) {
      out.push_back(std::move(seg));
      continue;
    }
    std::string plain;
    std::size_t idx = 0;
    while (idx < seg.Text.size()) {
      const std::size_t after = idx + pattern.size();
      if (MatchesFolded(seg.Text, idx, pattern) &&
          (after == seg.Text.size() || !IsNameChar(seg.Text[after]))) {
        out.push_back({std::move(plain), true});
        plain.clear();
        out.push_back({AInsert, false});
        idx = after;
      } else {
        plain += seg.Text[idx++];
      }
    }
    out.push_back({std::move(plain), true});
  }
  APhp = std::move(out);
}

std::string InitText(const std::string& N) { return "$ZOQBLOCK_" + N + "=\"\";"; }
std::string AppendText(const std::string& N, const std::string& ABlockString) {
  return "$ZOQBLOCK_" + N + "=$ZOQBLOCK_" + N + "." + ABlockString + ";\r\n";
}
std::string EchoText(const std::string& N) { return "<?php echo $ZOQBLOCK_" + N + ";?>\r\n"; }

}  // namespace

TOutcome OutcomeOf(const TCompileResult& AResult) {
  return {AResult.Ok() ? 0 : 1, std::string(ErrorLine(AResult.Error)), AResult.Pieces.Joined()};
}

TOutcome CompileSequential(std::string_view AScript, std::string_view ATemplate) {
  TOutcome result;
  TScriptModel Run;
  Run.Text = AScript;
  if (const TCompileError error = ScanScript(Run); error != TCompileError::None) {
    result.ExitCode = 1;
    result.Message = ErrorLine(error);
    return result;
  }
  // The tables, as the statement handlers fill them: a "<<<" line binds into the table of the
  // latest "<<*" line's name.
  THashTable VarList(256);
  THashTable2 BlockVarList(256);
  std::vector<std::string> BlockList;
  std::vector<std::unique_ptr<THashTable>> tables;
  std::string current;
  for (const TStatement& s : Run.Statements) {
    const std::string name(s.Name.Of(AScript)), expr(s.Expr.Of(AScript));
    if (s.Kind == TStatementKind::TemplateVar) {
      VarList.Put(name, expr);
    } else if (s.Kind == TStatementKind::BlockDef && !s.Separated) {
      BlockList.push_back(current = name);
    } else if (s.Kind == TStatementKind::BlockVar) {
      if (!BlockVarList.Get(current))
        BlockVarList.Put(current, tables.emplace_back(std::make_unique<THashTable>(256)).get());
      BlockVarList.Get(current)->Put(name, expr);
    }
  }
  TSegments php{{Run.PhpText() + "\r\n?>\r\n", true}};
  std::string T(ATemplate);

  for (const std::string& N : BlockList) {
    const std::string begin = "<!--BEGIN " + N + "-->";
    const std::string end = "<!--END " + N + "-->";
    const std::int64_t A = Pos(begin, T);
    const std::int64_t B = Pos(end, T);
    if (A > B) {  // END before BEGIN, or BEGIN without END
      result.ExitCode = 1;
      result.Message = "Error(4):block define error BEGIN block after END block";
      return result;
    }
    std::string blockString = "\"\"";  // no BEGIN marker: the template stays, appends add ""
    if (A != 0) {
      const std::int64_t C = static_cast<std::int64_t>(begin.size());
      const std::int64_t D = static_cast<std::int64_t>(end.size());
      const std::string BlockStr = Copy(T, A, B - A + D);
      const std::int64_t blockLen = static_cast<std::int64_t>(BlockStr.size());
      const std::string inner = Copy(BlockStr, C + 1, blockLen - D - C);
      const TBindings vars = BindingsOf(BlockVarList.Get(N));
      blockString = "\"" + Substitute(EscapeMarkup(inner), vars, "\".", ".\"") + "\"";
      T = StringReplace(T, BlockStr, EchoText(N), kReplaceAllIgnoreCase);
    }
    RewriteStatements(php, "<<*", N, InitText(N));
    RewriteStatements(php, "<<+", N, AppendText(N, blockString));
  }

  for (const TSegment& seg : php) result.Output += seg.Text;
  result.Output += Substitute(T, BindingsOf(&VarList), "<?php echo ", ";?>");
  return result;
}

}  // namespace zoqc::reference
