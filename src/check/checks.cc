// The warnings: one pass over the script's statement lines, one over the template's markers,
// and under -Wall one over its placeholders.
#include <algorithm>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "src/check/check.h"
#include "src/check/page_model.h"
#include "src/text/text.h"

namespace zoqc {

namespace {

std::string Quoted(std::string_view AText) { return "'" + std::string(AText) + "'"; }

using TFoldedMap = std::unordered_map<std::string_view, std::size_t, TSameTextHash, TSameTextEqual>;

// A block of the script with where its markers stand in the template.
struct TBlock {
  std::string_view Name;
  const TStatementLine* Definition;  // its first "<<*" line
  std::vector<std::size_t> Begins;   // exact BEGIN markers (indexes into the marker list)
  std::vector<std::size_t> Ends;     // exact END markers
  std::size_t From = 0, To = 0;      // its first copy [From, To) in the template; To 0: none
};

class TChecker {
 public:
  TChecker(const TSource& AScript, const TSource& ATemplate, const TWarningSet& AWarnings,
           std::vector<TDiagnostic>& AOut)
      : Script(AScript),
        Template(ATemplate),
        Warnings(AWarnings),
        Out(AOut),
        Lines(ReadStatementLines(AScript.Text)),
        Markers(ReadMarkers(ATemplate.Text)) {}

  void Run() {
    CheckStart(Script, "script");
    CheckStart(Template, "template");
    FindBlocks();
    for (const TStatementLine& line : Lines) CheckStatement(line);
    CheckMarkers();
    if (Warnings.Has(TWarning::DuplicateBinding)) CheckDuplicates();
    if (Warnings.Has(TWarning::UnboundPlaceholder) || Warnings.Has(TWarning::UnusedBinding) ||
        Warnings.Has(TWarning::PreNewline))
      CheckPlaceholders();
  }

 private:
  TDiagnostic* Warn(TWarning AWarning, TPlace APlace, std::string AMessage) {
    if (!Warnings.Has(AWarning)) return nullptr;
    TDiagnostic& d = Out.emplace_back();
    d.Severity = TSeverity::Warning;
    d.Warning = kWarnings[static_cast<std::size_t>(AWarning)].Name;
    d.Place = std::move(APlace);
    d.Message = std::move(AMessage);
    return &d;
  }
  static void Note(TDiagnostic* ADiag, TPlace APlace, std::string AMessage) {
    if (ADiag) ADiag->Notes.push_back({std::move(APlace), std::move(AMessage)});
  }
  static void Fix(TDiagnostic* ADiag, TPlace APlace, std::string AText) {
    if (ADiag) ADiag->FixIts.push_back({std::move(APlace), std::move(AText)});
  }
  TPlace NamePlace(const TStatementLine& ALine) const {
    return Script.PlaceOf(ALine.Start,
                          ALine.NameStart + std::max<std::size_t>(ALine.Name.size(), 1));
  }
  TPlace MarkerPlace(const TMarkerText& AMarker) const {
    return Template.PlaceOf(AMarker.Pos, AMarker.Pos + AMarker.Length);
  }

  // A byte-order mark, and a script that does not open PHP.
  void CheckStart(const TSource& ASource, std::string_view AWhat) {
    const bool bom = ASource.Text.starts_with("\xEF\xBB\xBF");
    if (bom) {
      TDiagnostic* d =
          Warn(TWarning::Bom, ASource.PlaceOf(0, 3),
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

  void FindBlocks() {
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

  void CheckStatement(const TStatementLine& ALine) {
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

  void CheckMarkers() {
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

  void CheckBlockMarkers(std::size_t AIndex) {
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
  void CheckNesting() {
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

  // Bindings of one name twice (or in two letter cases) in the same table.
  void CheckDuplicates() {
    std::unordered_map<std::string, const TStatementLine*> seen;
    for (const TStatementLine& line : Lines) {
      if (line.Kind != '=' && line.Kind != '<') continue;
      std::string key = AnsiUpperCase(line.Name);
      if (line.Kind == '<') key = AnsiUpperCase(line.Block) + "\n" + key;
      const auto [it, added] = seen.try_emplace(key, &line);
      if (added) continue;
      const std::string_view first = it->second->Name;
      TDiagnostic* d =
          Warn(TWarning::DuplicateBinding, NamePlace(line),
               first == line.Name ? Quoted(line.Name) + " is bound again; only one binding is used"
                                  : Quoted(line.Name) + " and " + Quoted(first) +
                                        " differ only in letter case and match the same "
                                        "placeholders; only one binding is used");
      Note(d, NamePlace(*it->second), "first bound here");
    }
  }

  void CheckPlaceholders();

  std::vector<std::string_view> BlockNames() const {
    std::vector<std::string_view> names;
    for (const TBlock& block : Blocks) names.push_back(block.Name);
    return names;
  }

 public:
  // The candidate nearest to AName within a third of its length (at least one edit), if any.
  static std::string_view Nearest(std::string_view AName,
                                  const std::vector<std::string_view>& ACandidates) {
    const std::size_t limit = std::max<std::size_t>(1, AName.size() / 3);
    std::string_view best;
    std::size_t best_distance = limit + 1;
    for (const std::string_view candidate : ACandidates) {
      const std::size_t distance = EditDistance(AName, candidate, limit);
      if (distance < best_distance && distance > 0) best = candidate, best_distance = distance;
    }
    return best;
  }

 private:
  const TSource& Script;
  const TSource& Template;
  const TWarningSet& Warnings;
  std::vector<TDiagnostic>& Out;
  const std::vector<TStatementLine> Lines;
  const std::vector<TMarkerText> Markers;
  std::vector<TBlock> Blocks;  // in order of first definition
  TFoldedMap BlockOf;          // name up to case -> index into Blocks
  std::unordered_map<std::size_t, std::vector<std::size_t>> NearMisses;  // block -> markers
};

// Placeholders with no binding, bindings with no placeholder, and placeholders that end a line
// inside <pre> or <textarea>.
void TChecker::CheckPlaceholders() {
  const std::vector<TPlaceholderText> places = ReadPlaceholders(Template.Text);
  // Where each placeholder belongs: the innermost block copy around it, else the template.
  struct TScope {
    std::vector<std::string_view> Names;  // bound names
    std::vector<const TStatementLine*> Bindings;
    TFoldedMap Used;
  };
  std::vector<TScope> scopes(Blocks.size() + 1);  // the last one is the template's
  for (const TStatementLine& line : Lines) {
    if (line.Kind != '=' && line.Kind != '<') continue;
    std::size_t scope = Blocks.size();
    if (line.Kind == '<') {
      const auto it = std::find_if(Blocks.begin(), Blocks.end(),
                                   [&](const TBlock& b) { return b.Name == line.Block; });
      if (it == Blocks.end()) continue;
      scope = static_cast<std::size_t>(it - Blocks.begin());
    }
    scopes[scope].Names.push_back(line.Name);
    scopes[scope].Bindings.push_back(&line);
  }
  std::vector<std::size_t> order;  // block copies by position
  for (std::size_t b = 0; b < Blocks.size(); ++b)
    if (Blocks[b].To != 0) order.push_back(b);
  std::sort(order.begin(), order.end(),
            [&](std::size_t x, std::size_t y) { return Blocks[x].From < Blocks[y].From; });
  // The <pre> and <textarea> spans, found case-insensitively.
  std::vector<std::pair<std::size_t, std::size_t>> pre;
  if (Warnings.Has(TWarning::PreNewline)) {
    const std::string upper = AnsiUpperCase(Template.Text);
    for (const std::string_view tag : {"PRE", "TEXTAREA"}) {
      const std::string open = "<" + std::string(tag), close = "</" + std::string(tag);
      for (std::size_t at = upper.find(open); at != std::string::npos;
           at = upper.find(open, at + 1)) {
        const char after = at + open.size() < upper.size() ? upper[at + open.size()] : '\0';
        if (after != '>' && after != ' ' && after != '\t' && after != '\r' && after != '\n')
          continue;
        const std::size_t end = upper.find(close, at);
        pre.emplace_back(at, end == std::string::npos ? upper.size() : end);
      }
    }
  }
  std::size_t next = 0;
  std::vector<std::size_t> open;
  for (const TPlaceholderText& place : places) {
    while (next < order.size() && Blocks[order[next]].From < place.Pos) {
      while (!open.empty() && Blocks[open.back()].To <= Blocks[order[next]].From) open.pop_back();
      open.push_back(order[next++]);
    }
    while (!open.empty() && Blocks[open.back()].To <= place.Pos) open.pop_back();
    const std::size_t scope = open.empty() ? Blocks.size() : open.back();
    TScope& s = scopes[scope];
    const bool bound = std::any_of(s.Names.begin(), s.Names.end(),
                                   [&](std::string_view n) { return SameText(n, place.Name); });
    const TPlace where = Template.PlaceOf(place.Pos, place.Pos + place.Name.size() + 2);
    if (bound) {
      s.Used.emplace(place.Name, 0);
      const std::size_t after = place.Pos + place.Name.size() + 2;
      const std::string_view tail = Template.Text.substr(after, 2);
      const bool line_end = tail.starts_with("\n") || tail == "\r\n";
      if (scope == Blocks.size() && line_end &&
          std::any_of(pre.begin(), pre.end(),
                      [&](const auto& p) { return p.first < place.Pos && place.Pos < p.second; })) {
        TDiagnostic* d = Warn(TWarning::PreNewline, where,
                              "PHP drops the line end right after '?>', so inside <pre> or "
                              "<textarea> this line joins the next; add a second line end");
        Fix(d, Template.PlaceOf(after, after), tail == "\r\n" ? "\r\n" : "\n");
      }
      continue;
    }
    const std::string_view scope_name = scope == Blocks.size() ? "" : Blocks[scope].Name;
    TDiagnostic* d =
        Warn(TWarning::UnboundPlaceholder, where,
             "nothing binds " + Quoted(place.Name) +
                 (scope_name.empty() ? std::string() : " in block " + Quoted(scope_name)) +
                 ", so the placeholder prints as written");
    const std::vector<std::string_view>& outside = scopes.back().Names;
    if (scope != Blocks.size() &&
        std::any_of(outside.begin(), outside.end(),
                    [&](std::string_view n) { return SameText(n, place.Name); })) {
      Note(d, where,
           Quoted(place.Name) +
               " is a template variable, and those are not filled in inside "
               "a block; bind it with '<<<" +
               std::string(place.Name) + "<<' under '<<*" + std::string(scope_name) + "'");
    } else if (const std::string_view near = Nearest(place.Name, s.Names); !near.empty()) {
      Note(d, where, "did you mean " + Quoted(near) + "?");
      Fix(d, Template.PlaceOf(place.Pos + 1, place.Pos + 1 + place.Name.size()), std::string(near));
    }
  }
  for (std::size_t scope = 0; scope < scopes.size(); ++scope)
    for (const TStatementLine* line : scopes[scope].Bindings)
      if (!scopes[scope].Used.count(line->Name))
        Warn(TWarning::UnusedBinding, NamePlace(*line),
             Quoted(line->Name) + " is bound but no placeholder '{" + std::string(line->Name) +
                 "}' uses it" +
                 (scope == Blocks.size() ? std::string(" outside the blocks")
                                         : " in block " + Quoted(Blocks[scope].Name)));
}

}  // namespace

void CheckPage(const TSource& AScript, const TSource& ATemplate, const TWarningSet& AWarnings,
               std::vector<TDiagnostic>& AOut) {
  if (!AWarnings.Any()) return;
  const std::size_t first = AOut.size();
  TChecker(AScript, ATemplate, AWarnings, AOut).Run();
  // In reading order: the script's warnings, then the template's, each by line and column.
  const auto key = [&](const TDiagnostic& d) {
    return std::tuple(d.Place.File != AScript.Name, d.Place.Line, d.Place.Column);
  };
  std::stable_sort(AOut.begin() + static_cast<std::ptrdiff_t>(first), AOut.end(),
                   [&](const TDiagnostic& x, const TDiagnostic& y) { return key(x) < key(y); });
}

}  // namespace zoqc
