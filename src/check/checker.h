// The checker of one page: what the warning checks share (internal to src/check/).
#pragma once

#include <algorithm>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "src/check/check.h"
#include "src/check/page_model.h"
#include "src/text/edit_distance.h"
#include "src/text/text.h"

namespace zoqc::check_detail {

// AText between single quotes, as messages name things.
inline std::string Quoted(std::string_view AText) {
  std::string quoted;
  quoted.reserve(AText.size() + 2);
  return quoted.append(1, '\'').append(AText).append(1, '\'');
}

// AText with a-z upper-cased, for comparing without regard to ASCII case.
inline std::string UpperCased(std::string_view AText) {
  std::string upper(AText);
  for (char& c : upper) c = UpCase(c);
  return upper;
}

using TFoldedMap = std::unordered_map<std::string_view, std::size_t, TSameTextHash, TSameTextEqual>;

// A block of the script with where its markers stand in the template.
struct TBlock {
  std::string_view Name;
  const TStatementLine* Definition;  // its first "<<*" line
  std::vector<std::size_t> Begins;   // exact BEGIN markers (indexes into the marker list)
  std::vector<std::size_t> Ends;     // exact END markers
  std::size_t From = 0, To = 0;      // its first copy [From, To) in the template; To 0: none
};

// Reads the page once (statement lines, markers) and runs the checks over what it found.
// Warn() returns null for a warning that is off, and Note() and Fix() then do nothing.
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

  // The checks, each reporting only what Warnings asks for (checks.cc, binding_checks.cc).
  void CheckStart(const TSource& ASource, std::string_view AWhat);  // BOM; no "<?php"
  void FindBlocks();                                                // fills Blocks and BlockOf
  void CheckStatement(const TStatementLine& ALine);  // unknown block, empty, loose operator
  void CheckMarkers();                               // near misses and orphans, then below
  void CheckBlockMarkers(std::size_t AIndex);        // missing markers; differing copies
  void CheckNesting();                               // an outer block defined first
  void CheckDuplicates();                            // a name bound twice in one table
  void CheckPlaceholders();                          // unbound, unused, <pre> line ends

  std::vector<std::string_view> BlockNames() const {
    std::vector<std::string_view> names;
    for (const TBlock& block : Blocks) names.push_back(block.Name);
    return names;
  }
  // The candidate nearest to AName within a third of its length (at least one edit), if any.
  static std::string_view Nearest(std::string_view AName,
                                  const std::vector<std::string_view>& ACandidates) {
    const std::size_t limit = std::max<std::size_t>(1, AName.size() / 3);
    std::string_view best;
    std::size_t best_distance = limit + 1;
    // Each candidate needs to beat the best so far, so the limit shrinks as they are found.
    for (const std::string_view candidate : ACandidates) {
      if (best_distance == 1) break;  // nothing nearer counts: 0 is the name itself
      const std::size_t distance = EditDistance(AName, candidate, best_distance - 1);
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

}  // namespace zoqc::check_detail
