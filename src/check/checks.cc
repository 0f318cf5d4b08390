// The warnings about the script's statements and the template's markers.
#include <algorithm>
#include <string>
#include <tuple>

#include "src/check/checker.h"

namespace zoqc {

namespace check_detail {

// A byte-order mark, and a script that does not open PHP.
void TChecker::CheckStart(const TSource& ASource, std::string_view AWhat) {
  const bool bom = ASource.Text.starts_with("\xEF\xBB\xBF");
  if (bom) {
    TDiagnostic* d = Warn(TWarning::Bom, ASource.PlaceOf(0, 3),
                          "the " + std::string(AWhat) +
                              " starts with a UTF-8 byte-order mark, which the page prints before "
                              "anything else; save the file without it");
    Fix(d, ASource.PlaceOf(0, 3), "");
  }
  if (&ASource != &Script || ASource.Text.empty()) return;
  const std::string_view text = ASource.Text.substr(bom ? 3 : 0);
  if (SameText(text.substr(0, 5), "<?php")) return;
  const std::size_t at = bom ? 3 : 0;
  const std::size_t lf = text.find('\n');
  const bool crlf = lf != std::string_view::npos && lf > 0 && text[lf - 1] == '\r';
  TDiagnostic* d = Warn(TWarning::MissingPhpTag, Script.PlaceOf(at),
                        "the script's first line is not '<?php': the script's code becomes page "
                        "text; start the file with a '<?php' line");
  Fix(d, Script.PlaceOf(at, at), crlf ? "<?php\r\n" : "<?php\n");
}

void TChecker::CheckStatement(const TStatement& ALine) {
  const std::string_view name = NameOf(ALine);
  if (ALine.Kind == TStatementKind::BlockAppend) {
    if (Model.BlockNamed(name) != kNowhere) return CheckAppendOrder(ALine);
    const std::string_view near = NearestBlock(name);
    TDiagnostic* d = Warn(TWarning::UnknownBlock, NamePlace(ALine),
                          "no block " + Quoted(name) +
                              " is defined, so this line stays in the PHP as written and breaks "
                              "it; " +
                              (near.empty() ? "define the block with '<<*" + std::string(name) + "'"
                                            : "did you mean block " + Quoted(near) + "?"));
    if (!near.empty()) {
      Note(d, NamePlace(DefinitionOf(Model.BlockNamed(near))),
           "block " + Quoted(near) + " is defined here");
      Fix(d, Script.PlaceOf(ALine.Name.Begin, ALine.Name.End), std::string(near));
    }
    return;
  }
  if (ALine.Kind == TStatementKind::PhpLine) return CheckIndented(ALine);
  if (!ALine.IsBinding()) return;
  const std::string_view expr = ExprOf(ALine);
  const std::string_view blanks = " \t";
  if (expr.find_first_not_of(blanks) == std::string_view::npos) {
    Warn(TWarning::EmptyExpression, Script.PlaceOf(ALine.Expr.Begin - 2, ALine.Expr.Begin),
         Quoted(name) +
             " is bound to an empty expression, which PHP rejects in the page; "
             "write an expression after '<<' ('' for no text)");
    return;
  }
  if (ALine.Kind != TStatementKind::BlockVar) return;
  const std::optional<TLooseOperator> loose = FindLooseOperator(expr);
  if (!loose) return CheckSplice(ALine);
  const std::size_t at = ALine.Expr.Begin + loose->Offset;
  if (loose->Comment) {
    TDiagnostic* d = Warn(TWarning::LooseOperator, Script.PlaceOf(at, at + loose->Length),
                          "a comment in a block variable's expression swallows the rest of the "
                          "block's row; end the line without a comment");
    std::size_t from = at;
    while (from > ALine.Expr.Begin &&
           (Script.Text[from - 1] == ' ' || Script.Text[from - 1] == '\t'))
      --from;
    Fix(d, Script.PlaceOf(from, at + loose->Length), "");
    return;
  }
  const std::string op(expr.substr(loose->Offset, loose->Length));
  TDiagnostic* d = Warn(TWarning::LooseOperator, Script.PlaceOf(at, at + loose->Length),
                        Quoted(op) +
                            " binds more loosely than the '.' that joins the block's "
                            "row, which swallows the row; wrap the expression in parentheses");
  const std::size_t end = ALine.Expr.End;
  Fix(d, Script.PlaceOf(ALine.Expr.Begin, ALine.Expr.Begin), "(");
  Fix(d, Script.PlaceOf(end, end), ")");
}

// A line that would be a statement but for the blanks before it stays in the PHP as written,
// unless it is "<<*name" or "<<+name" of a defined block, which is rewritten wherever it stands.
void TChecker::CheckIndented(const TStatement& ALine) {
  const std::string_view text = Script.Text;
  std::size_t at = ALine.Line.Begin;
  while (text[at] == ' ' || text[at] == '\t') ++at;
  const char opener = text[at + 2];
  const bool block = opener == '*' || opener == '+';
  const std::string_view name = NameOf(ALine);
  if (block && Model.BlockNamed(name) != kNowhere) return;
  // Only what reads as a statement: a named block line, or a name with "<<" after it.
  if (name.empty() || (!block && !ALine.Separated)) return;
  TDiagnostic* d =
      Warn(TWarning::IndentedStatement, Script.PlaceOf(ALine.Line.Begin, ALine.Name.End),
           "statement lines start at the first column; with blanks before it this line stays "
           "in the PHP as written and breaks it");
  Fix(d, Script.PlaceOf(ALine.Line.Begin, at), "");
}

// The splice '".' expression '."' lets PHP read a number at either end as "1." or ".1", and a
// ";" ends the statement in the middle.
void TChecker::CheckSplice(const TStatement& ALine) {
  const std::string_view expr = ExprOf(ALine);
  const std::size_t first = expr.find_first_not_of(" \t");
  const std::size_t last = expr.find_last_not_of(" \t");
  if (first == std::string_view::npos) return;
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (expr[last] == ';') {
    TDiagnostic* d = Warn(TWarning::BrokenSplice,
                          Script.PlaceOf(ALine.Expr.Begin + last, ALine.Expr.Begin + last + 1),
                          "a block variable's expression ends inside the block's row, so this "
                          "';' breaks the page; drop it");
    Fix(d, Script.PlaceOf(ALine.Expr.Begin + last, ALine.Expr.Begin + last + 1), "");
    return;
  }
  if (!digit(expr[first]) && !digit(expr[last])) return;
  TDiagnostic* d =
      Warn(TWarning::BrokenSplice, Script.PlaceOf(ALine.Expr.Begin + first, ALine.Expr.End),
           "the block's row joins this expression with '.', and PHP reads a number next to it "
           "as a decimal point, which breaks the page; wrap the expression in parentheses");
  Fix(d, Script.PlaceOf(ALine.Expr.Begin + first, ALine.Expr.Begin + first), "(");
  Fix(d, Script.PlaceOf(ALine.Expr.End, ALine.Expr.End), ")");
}

// "<<*name" and "<<+name" of a defined block are rewritten wherever the PHP holds them: in a
// comment or a string they become code.
void TChecker::CheckReferences() {
  const std::string_view text = Script.Text;
  for (const TBlockRef& ref : Model.Script.Refs) {
    const std::size_t block = Model.BlockNamed(ref.Name.Of(text));
    if (block == kNowhere) continue;
    std::size_t at = ref.Span.Begin;
    while (at > 0 && (text[at - 1] == ' ' || text[at - 1] == '\t')) --at;
    if (at == 0 || text[at - 1] == '\n') continue;  // a statement line, or an indented one
    const std::string opener(ref.Span.Of(text).substr(0, 3));
    Warn(TWarning::RewrittenReference, Script.PlaceOf(ref.Span.Begin, ref.Span.End),
         Quoted(ref.Span.Of(text)) + " inside a line of PHP is rewritten into the " +
             (ref.IsDef ? "start" : "append statement") + " of block " +
             Quoted(Model.Blocks[block].Name) +
             " all the same, even in a comment or a string; split it as '<<' . '" +
             opener.substr(2) + std::string(ref.Name.Of(text)) + "' if it is text");
  }
}

void TChecker::CheckMarkers() {
  TFoldedMap orphans;                    // exact markers of names no block has, even up to case
  std::vector<std::size_t> orphan_list;  // the first of each name up to case, in order
  for (std::size_t m = 0; m < Markers.size(); ++m) {
    const TMarker& marker = Markers[m];
    const std::string_view name = NameOf(marker);
    const std::size_t block = Model.BlockNamed(name);
    const bool exact = marker.Form == TMarkerForm::Exact;
    if (block == kNowhere) {
      // A lone END marker is an ordinary comment; a BEGIN marker announces a block.
      if (exact && marker.IsBegin && orphans.try_emplace(name, m).second) orphan_list.push_back(m);
      continue;
    }
    if (!exact || name != Model.Blocks[block].Name) NearMisses[block].push_back(m);
  }
  for (std::size_t b = 0; b < Model.Blocks.size(); ++b) CheckBlockMarkers(b);
  for (const std::size_t m : orphan_list) {
    const TMarker& marker = Markers[m];
    const std::string_view name = NameOf(marker);
    TDiagnostic* d = Warn(TWarning::OrphanMarker, MarkerPlace(marker),
                          "the script defines no block " + Quoted(name) +
                              ", so this marker and the block's markup print as text; define "
                              "it with '<<*" +
                              std::string(name) + "'");
    if (const std::string_view near = NearestBlock(name); !near.empty())
      Note(d, MarkerPlace(marker), "did you mean " + Quoted(near) + "?");
  }
  CheckNesting();
}

void TChecker::CheckBlockMarkers(std::size_t AIndex) {
  const TBlockInfo& block = Model.Blocks[AIndex];
  const std::vector<std::size_t>& near = NearMisses[AIndex];
  if (block.Begins.empty()) {
    if (near.empty()) {
      Warn(TWarning::MissingMarker, NamePlace(DefinitionOf(AIndex)),
           "the template has no marker " + Quoted(MarkerText(true, block.Name)) + ", so block " +
               Quoted(block.Name) + " prints nothing; add its BEGIN and END markers to " +
               Quoted(Template.Name));
      return;
    }
    for (const std::size_t m : near) {
      const TMarker& marker = Markers[m];
      const std::string exact = MarkerText(marker.IsBegin, block.Name);
      TDiagnostic* d = Warn(TWarning::MissingMarker, MarkerPlace(marker),
                            "marker " + Quoted(marker.Span.Of(Template.Text)) +
                                " does not match block " + Quoted(block.Name) +
                                ", so the page shows the markup between the markers once, as "
                                "template text with the block's placeholders as written, and "
                                "none of the block's copies; write it exactly " +
                                Quoted(exact));
      Note(d, NamePlace(DefinitionOf(AIndex)), "block " + Quoted(block.Name) + " is defined here");
      Fix(d, MarkerPlace(marker), exact);
    }
    return;
  }
  // A later copy that differs from the first stays in the page as written.
  if (block.First == kNowhere) return;
  const TBlockCopy* first = &Model.Copies[block.First];
  for (const std::size_t c : block.Copies) {
    const TBlockCopy& copy = Model.Copies[c];
    if (copy.Same || copy.Span.Begin < first->Span.End) continue;
    TDiagnostic* d = Warn(TWarning::DifferingCopy, MarkerPlace(Markers[copy.Begin]),
                          "this copy of block " + Quoted(block.Name) +
                              " differs from the first, so it prints as text with its markers; "
                              "make both copies the same or give this one its own block");
    Note(d, MarkerPlace(Markers[first->Begin]), "the first copy is here");
  }
}

// An outer block defined before a block it holds swallows the inner one's markup: the plan cuts
// the outer copy, inner markup and all, before the inner block's step comes.
void TChecker::CheckNesting() {
  const std::vector<TBlockCut>& cuts = Model.Plan.Cuts;
  for (const TBlockCopy& copy : Model.Copies) {
    if (copy.Same || &copy != &Model.Copies[Model.Blocks[copy.Block].Copies.front()]) continue;
    // The innermost cut that holds the block's first copy.
    const TBlockCut* holder = nullptr;
    for (auto it =
             std::upper_bound(cuts.begin(), cuts.end(), copy.Span.Begin,
                              [](std::size_t at, const TBlockCut&c) { return at < c.Span.Begin; });
         !holder && it != cuts.begin();)
      if ((--it)->Span.End >= copy.Span.End) holder = &*it;
    if (!holder) continue;
    const std::size_t outer_block = Model.Plan.Steps[holder->Step].Block;
    if (outer_block == copy.Block) continue;
    const std::string_view outer = Model.Blocks[outer_block].Name;
    const std::string_view inner = Model.Blocks[copy.Block].Name;
    TDiagnostic* d =
        Warn(TWarning::NestingOrder, NamePlace(DefinitionOf(outer_block)),
             "block " + Quoted(outer) + " is defined before block " + Quoted(inner) +
                 ", which it holds, so the inner block's markup prints as text; define " +
                 Quoted(inner) + " first");
    Note(d, NamePlace(DefinitionOf(copy.Block)), "block " + Quoted(inner) + " is defined here");
    Note(d, MarkerPlace(Markers[copy.Begin]), "it stands inside block " + Quoted(outer) + " here");
  }
}

}  // namespace check_detail

bool NeedsPlaceholders(const TWarningSet& AWarnings) {
  return AWarnings.Has(TWarning::UnboundPlaceholder) || AWarnings.Has(TWarning::UnusedBinding) ||
         AWarnings.Has(TWarning::PreNewline);
}

void CheckPage(const TPageModel& AModel, const TLeftovers& ALeftovers, const TSource& AScript,
               const TSource& ATemplate, const TWarningSet& AWarnings,
               std::vector<TDiagnostic>& AOut) {
  if (!AWarnings.Any()) return;
  const std::size_t first = AOut.size();
  check_detail::TChecker(AModel, ALeftovers, AScript, ATemplate, AWarnings, AOut).Run();
  // In reading order: the script's warnings, then the template's, each by place.
  const auto key = [&](const TDiagnostic& d) {
    return std::tuple(d.Place.Source != &AScript, d.Place.From);
  };
  std::stable_sort(AOut.begin() + static_cast<std::ptrdiff_t>(first), AOut.end(),
                   [&](const TDiagnostic& x, const TDiagnostic& y) { return key(x) < key(y); });
}

}  // namespace zoqc
