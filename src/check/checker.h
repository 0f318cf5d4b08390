// The checker of one page: what the warning checks share (internal to src/check/).
#pragma once

#include <algorithm>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "src/check/check.h"
#include "src/check/near_names.h"
#include "src/model/page_model.h"
#include "src/text/edit_distance.h"
#include "src/text/text.h"

namespace zoqc::check_detail {

// AText between single quotes, as messages name things.
inline std::string Quoted(std::string_view AText) {
  std::string quoted;
  quoted.reserve(AText.size() + 2);
  return quoted.append(1, '\'').append(AText).append(1, '\'');
}

// Runs the checks over the page model.
// Warn() returns null for a warning that is off, and Note() and Fix() then do nothing.
class TChecker {
 public:
  TChecker(const TPageModel& AModel, const TLeftovers& ALeftovers, const TSource& AScript,
           const TSource& ATemplate, const TWarningSet& AWarnings, std::vector<TDiagnostic>& AOut)
      : Model(AModel),
        Leftovers(ALeftovers),
        Script(AScript),
        Template(ATemplate),
        Warnings(AWarnings),
        Out(AOut),
        Statements(AModel.Script.Statements),
        Markers(AModel.Markers) {}

  void Run() {
    CheckStart(Script, "script");
    CheckStart(Template, "template");
    for (const TStatement& line : Statements)
      if (!PlainBinding(line)) CheckStatement(line);
    if (Warnings.Has(TWarning::RewrittenReference)) CheckReferences();
    if (Warnings.Has(TWarning::StatementInComment)) CheckCommentedStatements();
    if (Warnings.Has(TWarning::UnusedBlock)) CheckUnusedBlocks();
    CheckMarkers();
    if (Warnings.Has(TWarning::StatementInTemplate)) CheckTemplateStatements();
    if (Warnings.Has(TWarning::PlaceholderTypo) ||
        Warnings.Has(TWarning::TemplateVariableInBlock) ||
        Warnings.Has(TWarning::BlockVariableOutsideBlock))
      CheckTypos();
    if (Warnings.Has(TWarning::PhpVariablePlaceholder)) CheckPhpVariables();
    if (Warnings.Has(TWarning::DuplicateBinding)) CheckDuplicates();
    if (NeedsPlaceholders(Warnings)) CheckPlaceholders();
    if (Warnings.Has(TWarning::UnescapedRequest)) CheckRequestData();
    if (Warnings.Has(TWarning::RawPlaceholder)) CheckRawPlaceholders();
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
  TPlace NamePlace(const TStatement& ALine) const {
    return Script.PlaceOf(ALine.Line.Begin,
                          ALine.Name.Begin + std::max<std::size_t>(ALine.Name.Size(), 1));
  }
  TPlace MarkerPlace(const TMarker& AMarker) const {
    return Template.PlaceOf(AMarker.Span.Begin, AMarker.Span.End);
  }
  std::string_view NameOf(const TStatement& ALine) const { return ALine.Name.Of(Script.Text); }
  std::string_view NameOf(const TMarker& AMarker) const { return AMarker.Name.Of(Template.Text); }
  std::string_view ExprOf(const TStatement& ALine) const { return ALine.Expr.Of(Script.Text); }
  // The first "<<*" line of the model's block ABlock.
  const TStatement& DefinitionOf(std::size_t ABlock) const {
    return Statements[Model.Blocks[ABlock].Definitions.front()];
  }
  // Whether ABlock has copies in the template, and none of them holds AOffset.
  bool OutsideCopies(std::size_t ABlock, std::size_t AOffset) const {
    const std::vector<std::size_t>& copies = Model.Blocks[ABlock].Copies;
    return !copies.empty() && std::none_of(copies.begin(), copies.end(), [&](std::size_t c) {
      return Model.Copies[c].Span.Holds(AOffset);
    });
  }
  // A "<<name<<" line whose expression opens with no blank: CheckStatement has nothing to say
  // about it (most of a page's statements, told apart without a call).
  bool PlainBinding(const TStatement& ALine) const {
    if (ALine.Kind != TStatementKind::TemplateVar || ALine.Expr.Empty()) return false;
    const char first = Script.Text[ALine.Expr.Begin];
    return first != ' ' && first != '\t';
  }

  // The checks, each reporting only what Warnings asks for (checks.cc, binding_checks.cc).
  void CheckStart(const TSource& ASource, std::string_view AWhat);  // BOM; no "<?php"
  void CheckStatement(const TStatement& ALine);    // unknown block, empty, loose operator
  void CheckIndented(const TStatement& ALine);     // an indented line that looks like one
  void CheckSplice(const TStatement& ALine);       // a block variable that breaks its splice
  void CheckReferences();                          // "<<+row" inside a line of PHP
  void CheckCommentedStatements();                 // statement lines inside "/* ... */"
  void CheckAppendOrder(const TStatement& ALine);  // "<<+row" above "<<*row"
  void CheckUnusedBlocks();                        // blocks never appended
  void CheckTypos();  // placeholders one edit from a binding, or bound outside their scope
  void CheckTemplateStatements();              // script statements pasted into the template
  void CheckPhpVariables();                    // "{$name}" where "name" is bound
  void CheckMarkers();                         // near misses and orphans, then below
  void CheckBlockMarkers(std::size_t AIndex);  // missing markers; differing copies
  void CheckNesting();                         // an outer block defined first
  void CheckDuplicates();                      // a name bound twice in one table
  void CheckPlaceholders();                    // unbound, unused, <pre> line ends
  void CheckPreNewline(const TPlaceholder& APlaceholder,  // a line end after it inside <pre>
                       const std::vector<std::pair<std::size_t, std::size_t>>& APre,
                       std::size_t& AOpen);
  void CheckRequestData();      // request data printed unescaped (escape_checks.cc)
  void CheckRawPlaceholders();  // "{!name}" in a page translated without --escape

  // The defined block that AName most likely means, or "".
  std::string_view NearestBlock(std::string_view AName) {
    if (BlockNear.empty()) {
      BlockNear.emplace_back();
      for (const TBlockInfo& block : Model.Blocks) BlockNear.back().Add(block.Name);
    }
    const std::string_view near = BlockNear.back().Likely(AName);
    return SameText(near, AName) ? std::string_view() : near;
  }

 private:
  const TPageModel& Model;
  const TLeftovers& Leftovers;
  const TSource& Script;
  const TSource& Template;
  const TWarningSet& Warnings;
  std::vector<TDiagnostic>& Out;
  const TLargeVector<TStatement>& Statements;
  const std::vector<TMarker>& Markers;
  std::unordered_map<std::size_t, std::vector<std::size_t>> NearMisses;  // block -> markers
  std::vector<TNearNames> BlockNear;            // the block names, filed when first asked (0 or 1)
  std::vector<std::size_t> TypoPlaces;          // placeholders that CheckTypos reported
  std::vector<const TStatement*> TypoBindings;  // bindings that placeholder-typo reported
};

}  // namespace zoqc::check_detail
