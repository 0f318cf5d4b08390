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

void TChecker::FindBlocks() {
  for (const TStatementLine& line : Lines)
    if (line.Kind == '*' && BlockOf.try_emplace(line.Name, Blocks.size()).second)
      Blocks.push_back({line.Name, &line, {}, {}});
  std::unordered_map<std::string_view, std::size_t> exact;  // block name -> index
  for (std::size_t b = 0; b < Blocks.size(); ++b) exact.emplace(Blocks[b].Name, b);
  for (std::size_t m = 0; m < Markers.size(); ++m) {
    if (!Markers[m].Exact) continue;
    const auto it = exact.find(Markers[m].Name);
    if (it == exact.end()) continue;
    (Markers[m].IsBegin ? Blocks[it->second].Begins : Blocks[it->second].Ends).push_back(m);
  }
  for (TBlock& block : Blocks) {
    if (block.Begins.empty() || block.Ends.empty()) continue;
    const TMarkerText& begin = Markers[block.Begins.front()];
    const TMarkerText& end = Markers[block.Ends.front()];
    if (end.Pos > begin.Pos) block.From = begin.Pos, block.To = end.Pos + end.Length;
  }
}

void TChecker::CheckStatement(const TStatementLine& ALine) {
  if (ALine.Kind == '+') {
    if (BlockOf.count(ALine.Name)) return;
    TDiagnostic* d = Warn(TWarning::UnknownBlock, NamePlace(ALine),
                          "no block " + Quoted(ALine.Name) +
                              " is defined, so this line stays in the PHP as written and breaks "
                              "it; define the block with '<<*" +
                              std::string(ALine.Name) + "'");
    if (const std::string_view near = Nearest(ALine.Name, BlockNames()); !near.empty()) {
      Note(d, NamePlace(ALine), "did you mean " + Quoted(near) + "?");
      Fix(d, Script.PlaceOf(ALine.NameStart, ALine.NameStart + ALine.Name.size()),
          std::string(near));
    }
    return;
  }
  if (ALine.Kind != '=' && ALine.Kind != '<') return;
  const std::string_view blanks = " \t";
  if (ALine.Expr.find_first_not_of(blanks) == std::string_view::npos) {
    Warn(TWarning::EmptyExpression, Script.PlaceOf(ALine.ExprStart - 2, ALine.ExprStart),
         Quoted(ALine.Name) +
             " is bound to an empty expression, which PHP rejects in the page; "
             "write an expression after '<<' ('' for no text)");
    return;
  }
  if (ALine.Kind != '<') return;
  const std::optional<TLooseOperator> loose = FindLooseOperator(ALine.Expr);
  if (!loose) return;
  const std::size_t at = ALine.ExprStart + loose->Offset;
  if (loose->Comment) {
    TDiagnostic* d = Warn(TWarning::LooseOperator, Script.PlaceOf(at, at + loose->Length),
                          "a comment in a block variable's expression swallows the rest of the "
                          "block's row; end the line without a comment");
    std::size_t from = at;
    while (from > ALine.ExprStart &&
           (Script.Text[from - 1] == ' ' || Script.Text[from - 1] == '\t'))
      --from;
    Fix(d, Script.PlaceOf(from, at + loose->Length), "");
    return;
  }
  const std::string op(ALine.Expr.substr(loose->Offset, loose->Length));
  TDiagnostic* d = Warn(TWarning::LooseOperator, Script.PlaceOf(at, at + loose->Length),
                        Quoted(op) +
                            " binds more loosely than the '.' that joins the block's "
                            "row, which swallows the row; wrap the expression in parentheses");
  const std::size_t end = ALine.ExprStart + ALine.Expr.size();
  Fix(d, Script.PlaceOf(ALine.ExprStart, ALine.ExprStart), "(");
  Fix(d, Script.PlaceOf(end, end), ")");
}

void TChecker::CheckMarkers() {
  TFoldedMap orphans;  // exact markers of names no block has, even up to case
  for (std::size_t m = 0; m < Markers.size(); ++m) {
    const TMarkerText& marker = Markers[m];
    const auto it = BlockOf.find(marker.Name);
    if (it == BlockOf.end()) {
      if (marker.Exact) orphans.try_emplace(marker.Name, m);
      continue;
    }
    TBlock& block = Blocks[it->second];
    if (!marker.Exact || marker.Name != block.Name) NearMisses[it->second].push_back(m);
  }
  for (std::size_t b = 0; b < Blocks.size(); ++b) CheckBlockMarkers(b);
  std::vector<std::size_t> orphan_list;
  for (const auto& [name, m] : orphans) orphan_list.push_back(m);
  std::sort(orphan_list.begin(), orphan_list.end());
  for (const std::size_t m : orphan_list) {
    const TMarkerText& marker = Markers[m];
    TDiagnostic* d = Warn(TWarning::OrphanMarker, MarkerPlace(marker),
                          "the script defines no block " + Quoted(marker.Name) +
                              ", so this marker and the block's markup print as text; define "
                              "it with '<<*" +
                              std::string(marker.Name) + "'");
    if (const std::string_view near = Nearest(marker.Name, BlockNames()); !near.empty())
      Note(d, MarkerPlace(marker), "did you mean " + Quoted(near) + "?");
  }
  CheckNesting();
}

void TChecker::CheckBlockMarkers(std::size_t AIndex) {
  const TBlock& block = Blocks[AIndex];
  const std::vector<std::size_t>& near = NearMisses[AIndex];
  if (block.Begins.empty()) {
    if (near.empty()) {
      TDiagnostic* d =
          Warn(TWarning::MissingMarker, NamePlace(*block.Definition),
               "the template has no marker " + Quoted(MarkerText(true, block.Name)) +
                   ", so block " + Quoted(block.Name) +
                   " prints nothing; add its BEGIN and END markers to " + Quoted(Template.Name));
      (void)d;
      return;
    }
    for (const std::size_t m : near) {
      const TMarkerText& marker = Markers[m];
      const std::string exact = MarkerText(marker.IsBegin, block.Name);
      TDiagnostic* d = Warn(TWarning::MissingMarker, MarkerPlace(marker),
                            "marker " + Quoted(Template.Text.substr(marker.Pos, marker.Length)) +
                                " does not match block " + Quoted(block.Name) +
                                ", which prints nothing; write it exactly " + Quoted(exact));
      Note(d, NamePlace(*block.Definition), "block " + Quoted(block.Name) + " is defined here");
      Fix(d, MarkerPlace(marker), exact);
    }
    return;
  }
  // A second copy that differs from the first stays in the page as written.
  if (block.To == 0) return;
  const std::string_view first = Template.Text.substr(block.From, block.To - block.From);
  for (std::size_t k = 1; k < block.Begins.size(); ++k) {
    const TMarkerText& begin = Markers[block.Begins[k]];
    if (begin.Pos < block.To) continue;
    const auto end = std::find_if(block.Ends.begin(), block.Ends.end(),
                                  [&](std::size_t m) { return Markers[m].Pos > begin.Pos; });
    if (end == block.Ends.end()) continue;
    const std::size_t to = Markers[*end].Pos + Markers[*end].Length;
    if (SameText(Template.Text.substr(begin.Pos, to - begin.Pos), first)) continue;
    TDiagnostic* d = Warn(TWarning::DifferingCopy, MarkerPlace(begin),
                          "this copy of block " + Quoted(block.Name) +
                              " differs from the first, so it prints as text with its markers; "
                              "make both copies the same or give this one its own block");
    Note(d, Template.PlaceOf(block.From, block.From + Markers[block.Begins[0]].Length),
         "the first copy is here");
  }
}

// An outer block defined before a block it holds swallows the inner one's markup.
void TChecker::CheckNesting() {
  std::vector<std::size_t> order;  // blocks with a copy, by position
  for (std::size_t b = 0; b < Blocks.size(); ++b)
    if (Blocks[b].To != 0) order.push_back(b);
  std::sort(order.begin(), order.end(),
            [&](std::size_t x, std::size_t y) { return Blocks[x].From < Blocks[y].From; });
  std::vector<std::size_t> open;
  for (const std::size_t b : order) {
    while (!open.empty() && Blocks[open.back()].To <= Blocks[b].From) open.pop_back();
    if (!open.empty() && Blocks[b].To <= Blocks[open.back()].To && open.back() < b) {
      const TBlock& outer = Blocks[open.back()];
      const TBlock& inner = Blocks[b];
      TDiagnostic* d =
          Warn(TWarning::NestingOrder, NamePlace(*outer.Definition),
               "block " + Quoted(outer.Name) + " is defined before block " + Quoted(inner.Name) +
                   ", which it holds, so the inner block's "
                   "markup prints as text; define " +
                   Quoted(inner.Name) + " first");
      Note(d, NamePlace(*inner.Definition), "block " + Quoted(inner.Name) + " is defined here");
      Note(d, Template.PlaceOf(inner.From, inner.From + Markers[inner.Begins[0]].Length),
           "it stands inside block " + Quoted(outer.Name) + " here");
    }
    open.push_back(b);
  }
}

}  // namespace check_detail

void CheckPage(const TSource& AScript, const TSource& ATemplate, const TWarningSet& AWarnings,
               std::vector<TDiagnostic>& AOut) {
  if (!AWarnings.Any()) return;
  const std::size_t first = AOut.size();
  check_detail::TChecker(AScript, ATemplate, AWarnings, AOut).Run();
  // In reading order: the script's warnings, then the template's, each by place.
  const auto key = [&](const TDiagnostic& d) {
    return std::tuple(d.Place.Source != &AScript, d.Place.From);
  };
  std::stable_sort(AOut.begin() + static_cast<std::ptrdiff_t>(first), AOut.end(),
                   [&](const TDiagnostic& x, const TDiagnostic& y) { return key(x) < key(y); });
}

}  // namespace zoqc
