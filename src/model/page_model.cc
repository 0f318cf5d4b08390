// The template's half of the page model: the one reader of markers and placeholders, and the
// blocks with their copies.
#include "src/model/page_model.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "src/html/html_context.h"
#include "src/model/block_plan.h"
#include "src/text/text.h"

namespace zoqc {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLetter(char c) { return IsNameChar(c) && !(c >= '0' && c <= '9'); }

// A keyword one edit (insertion, deletion, substitution, up to case) away from AWanted.
bool OneEditFrom(std::string_view AWord, std::string_view AWanted) {
  if (AWord.size() + 1 < AWanted.size() || AWord.size() > AWanted.size() + 1) return false;
  std::size_t i = 0;
  while (i < AWord.size() && i < AWanted.size() && UpCase(AWord[i]) == UpCase(AWanted[i])) ++i;
  const auto same_from = [&](std::size_t a, std::size_t b) {  // "ENDS": nothing past "END"
    return a <= AWord.size() && b <= AWanted.size() && SameText(AWord.substr(a), AWanted.substr(b));
  };
  return same_from(i + 1, i + 1) || same_from(i, i + 1) || same_from(i + 1, i);
}

// The first "<!--" at or after AFrom, or npos. Found by its "!", which markup holds far more
// rarely than "<"; with ARawOpenings, counts each "{!" on the way (each "!" is looked at once
// when the search goes on from the marker's "<").
std::size_t FindMarkerOpener(std::string_view AText, std::size_t AFrom, std::size_t* ARawOpenings) {
  const char* const data = AText.data();
  for (std::size_t at = AFrom + 1; at < AText.size();) {
    const void* bang = std::memchr(data + at, '!', AText.size() - at);
    if (!bang) break;
    at = static_cast<std::size_t>(static_cast<const char*>(bang) - data);
    if (data[at - 1] == '<' && AText.compare(at + 1, 2, "--") == 0) return at - 1;
    if (ARawOpenings && data[at - 1] == '{') ++*ARawOpenings;
    ++at;
  }
  return std::string_view::npos;
}

}  // namespace

std::string TScriptModel::PhpText() const {
  std::string text;
  for (const TScriptSpan& slice : Slices) text.append(slice.Of(Text));
  return text;
}

std::size_t TScriptModel::StatementAt(std::size_t AOffset) const {
  const auto it =
      std::upper_bound(Statements.begin(), Statements.end(), AOffset,
                       [](std::size_t at, const TStatement& s) { return at < s.Line.Begin; });
  if (it == Statements.begin()) return kNowhere;
  const TStatement& s = *(it - 1);
  return AOffset <= s.Line.End ? static_cast<std::size_t>(it - 1 - Statements.begin()) : kNowhere;
}

std::vector<TMarker> ReadMarkers(std::string_view ATemplate, bool ANearMisses,
                                 std::size_t* ARawOpenings) {
  std::vector<TMarker> markers;
  const std::size_t size = ATemplate.size();
  for (std::size_t idx = FindMarkerOpener(ATemplate, 0, ARawOpenings);
       idx != std::string_view::npos; idx = FindMarkerOpener(ATemplate, idx + 1, ARawOpenings)) {
    std::size_t at = idx + 4;
    while (at < size && IsBlank(ATemplate[at])) ++at;
    const bool lead = at != idx + 4;
    const std::size_t keyword = at;
    while (at < size && IsLetter(ATemplate[at])) ++at;
    const std::string_view word = ATemplate.substr(keyword, at - keyword);
    bool begin = SameText(word, "BEGIN");
    bool near = !begin && !SameText(word, "END");
    if (near) {
      if (!ANearMisses || word.size() < 3) continue;
      begin = OneEditFrom(word, "BEGIN");
      if (!begin && !OneEditFrom(word, "END")) continue;
    }
    const std::size_t blanks = at;
    while (at < size && IsBlank(ATemplate[at])) ++at;
    // One space between keyword and name, as markers are written.
    near = near || lead || at != blanks + 1 || ATemplate[blanks] != ' ';
    if (near && !ANearMisses) continue;
    const std::size_t name = at;
    at = NameEnd(ATemplate, at);
    const std::size_t name_end = at;
    while (at < size && IsBlank(ATemplate[at])) ++at;
    if (ATemplate.compare(at, 3, "-->") != 0) continue;
    near = near || at != name_end;
    if (near && !ANearMisses) continue;
    const TMarkerForm form = near                                ? TMarkerForm::Near
                             : word == (begin ? "BEGIN" : "END") ? TMarkerForm::Exact
                                                                 : TMarkerForm::Folded;
    markers.push_back({{idx, at + 3}, {name, name_end}, begin, form});
  }
  return markers;
}

std::string MarkerText(bool AIsBegin, std::string_view AName) {
  return std::string(AIsBegin ? "<!--BEGIN " : "<!--END ").append(AName).append("-->");
}

std::size_t TPageModel::BlockNamed(std::string_view AName) const {
  const auto it = BlockIndex.find(AName);
  return it == BlockIndex.end() ? kNowhere : it->second;
}

void ReadTemplate(TPageModel& AModel, std::string_view ATemplate) {
  AModel.Template = ATemplate;
  AModel.PlaceholderList.reset();
  AModel.ContextList.reset();
  AModel.Fills.clear();
  AModel.RawOpenings = 0;
  AModel.Markers = ReadMarkers(ATemplate, true, &AModel.RawOpenings);
  const std::string_view script = AModel.Script.Text;
  // The blocks, one per name up to case, as their first definition spells it.
  auto& folded = AModel.BlockIndex;
  for (std::size_t s = 0; s < AModel.Script.Statements.size(); ++s) {
    const TStatement& st = AModel.Script.Statements[s];
    if (st.Kind != TStatementKind::BlockDef || st.Separated) continue;
    const std::string_view name = st.Name.Of(script);
    const auto [it, added] = folded.try_emplace(name, AModel.Blocks.size());
    if (added) AModel.Blocks.push_back({name, {}, {}, {}, kNowhere});
    AModel.Blocks[it->second].Definitions.push_back(s);
  }
  // Each block statement's block: the one it names, or for "<<<" the latest "<<*" line's.
  std::size_t current = kNowhere;
  for (TStatement& st : AModel.Script.Statements) {
    if (st.Kind == TStatementKind::BlockDef || st.Kind == TStatementKind::BlockAppend)
      st.Block = TIndex32(AModel.BlockNamed(st.Name.Of(script)));
    if (st.Kind == TStatementKind::BlockDef && !st.Separated) current = st.Block;
    if (st.Kind == TStatementKind::BlockVar) st.Block = TIndex32(current);
  }
  std::unordered_map<std::string_view, std::size_t> exact;
  for (std::size_t b = 0; b < AModel.Blocks.size(); ++b) exact.emplace(AModel.Blocks[b].Name, b);
  // Each exact BEGIN with the first exact END of its name after it, whether a block has it or not.
  std::unordered_map<std::string_view, std::vector<std::size_t>> unpaired;  // name -> BEGINs
  for (std::size_t m = 0; m < AModel.Markers.size(); ++m) {
    const TMarker& marker = AModel.Markers[m];
    if (marker.Form != TMarkerForm::Exact) continue;
    const std::string_view name = marker.Name.Of(ATemplate);
    std::vector<std::size_t>& begins = unpaired[name];
    if (marker.IsBegin) {
      begins.push_back(m);
    } else {
      for (const std::size_t b : begins) AModel.Markers[b].Match = m;
      begins.clear();
    }
    if (const auto it = exact.find(name); marker.IsBegin && it != exact.end())
      AModel.Blocks[it->second].Begins.push_back(m);
  }
  // The copies: every stretch the plan cuts, and every exact pair of a block's markers that it
  // leaves as text.
  PlanBlocks(AModel);
  const std::vector<TBlockCut>& cuts = AModel.Plan.Cuts;
  const auto marker_ending = [&](std::size_t AAt) {  // the marker that ends at or after AAt
    return static_cast<std::size_t>(
        std::lower_bound(AModel.Markers.begin(), AModel.Markers.end(), AAt,
                         [](const TMarker& m, std::size_t at) { return m.Span.End < at; }) -
        AModel.Markers.begin());
  };
  for (const TBlockCut& cut : cuts)
    AModel.Copies.push_back({AModel.Plan.Steps[cut.Step].Block, cut.Span,
                             marker_ending(cut.Span.Begin + 1), marker_ending(cut.Span.End), true});
  for (std::size_t b = 0; b < AModel.Blocks.size(); ++b)
    for (const std::size_t m : AModel.Blocks[b].Begins) {
      const std::size_t end = AModel.Markers[m].Match;
      if (end == kNowhere) continue;
      const TSpan span{AModel.Markers[m].Span.Begin, AModel.Markers[end].Span.End};
      const auto cut =
          std::lower_bound(cuts.begin(), cuts.end(), span.Begin,
                           [](const TBlockCut& c, std::size_t at) { return c.Span.Begin < at; });
      if (cut == cuts.end() || cut->Span.Begin != span.Begin || cut->Span.End != span.End)
        AModel.Copies.push_back({b, span, m, end, false});
    }
  std::sort(
      AModel.Copies.begin(), AModel.Copies.end(), [](const TBlockCopy& x, const TBlockCopy& y) {
        return x.Span.Begin != y.Span.Begin ? x.Span.Begin < y.Span.Begin : x.Span.End > y.Span.End;
      });
  for (std::size_t copy = 0; copy < AModel.Copies.size(); ++copy)
    AModel.Blocks[AModel.Copies[copy].Block].Copies.push_back(copy);
  for (const TBlockStep& step : AModel.Plan.Steps) {
    if (step.Begin == kNowhere || step.Fails || AModel.Blocks[step.Block].First != kNowhere)
      continue;
    const std::size_t at = AModel.Markers[step.Begin].Span.Begin;
    const std::size_t end = AModel.Markers[step.End].Span.End;
    auto it =
        std::lower_bound(AModel.Copies.begin(), AModel.Copies.end(), at,
                         [](const TBlockCopy& copy, std::size_t p) { return copy.Span.Begin < p; });
    while (it != AModel.Copies.end() && it->Span.Begin == at && it->Span.End != end) ++it;
    if (it != AModel.Copies.end() && it->Span.Begin == at)
      AModel.Blocks[step.Block].First = static_cast<std::size_t>(it - AModel.Copies.begin());
  }
}

const std::vector<TPlaceholder>& TPageModel::Placeholders() const {
  if (PlaceholderList) return *PlaceholderList;
  std::vector<TPlaceholder>& list = PlaceholderList.emplace();
  // Each placeholder in the innermost copy around it. A placeholder holds no other "{": the
  // next one is looked for after it.
  TCopyWalk copies(*this);
  for (TSpan span = NextPlaceholder(Template, 0); span.Begin < Template.size();
       span = NextPlaceholder(Template, span.End)) {
    const bool raw = Template[span.Begin + 1] == '!';
    list.push_back({span, {span.Begin + 1 + raw, span.End - 1}, copies.CopyAt(span.Begin), raw});
  }
  return list;
}

const TTemplateContexts& TPageModel::Contexts() const {
  if (!ContextList) ContextList = std::make_shared<const TTemplateContexts>(Template);
  return *ContextList;
}

}  // namespace zoqc
