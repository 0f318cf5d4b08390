// The block plan: block expansion carried out on the template's markers once, while the
// template is read; cuts are recorded instead of copying text.
#include "src/model/block_plan.h"

#include <algorithm>
#include <utility>

namespace zoqc {

TCutTemplate::TCutTemplate(std::string_view AText, std::span<const TMarker> AMarkers,
                           std::span<const std::string> AEchoes)
    : Text(AText), Echoes(AEchoes), Markers(AMarkers) {
  SpanStates.assign(Markers.size(), TSpanState::Unknown);
  Generations.assign(Markers.size(), 0);
  FiledAt.assign(Markers.size(), 0);
  for (std::size_t m = 0; m < Markers.size(); ++m) {
    const TMarker& marker = Markers[m];
    if (marker.Form == TMarkerForm::Near) continue;  // never equal to a block's text
    const std::string_view name = marker.Name.Of(Text);
    Live.insert(Live.end(), m);
    if (marker.Form == TMarkerForm::Exact)
      (marker.IsBegin ? ExactBegins : ExactEnds)[name].insert(m);
    TCandidates& names = Candidates[name];
    std::set<std::size_t>& set = marker.IsBegin ? names.Begins : names.Ends;
    set.insert(set.end(), m);
  }
}

std::optional<std::size_t> TCutTemplate::First(bool ABegin, std::string_view AName) const {
  const auto& index = ABegin ? ExactBegins : ExactEnds;
  const auto it = index.find(AName);
  if (it == index.end() || it->second.empty()) return std::nullopt;
  return *it->second.begin();
}

template <typename TVisit>
void TCutTemplate::Walk(std::size_t AFrom, TVisit AVisit) const {
  std::size_t pos = AFrom;
  for (auto cut = Cuts.lower_bound(AFrom);; ++cut) {
    const std::size_t stop = cut == Cuts.end() ? Text.size() : cut->first;
    if (stop > pos && !AVisit(Text.substr(pos, stop - pos), stop, kNowhere)) return;
    if (cut == Cuts.end()) return;
    if (!AVisit(Echoes[cut->second.Block], cut->second.End, cut->first)) return;
    pos = cut->second.End;
  }
}

void TCutTemplate::AppendCurrent(std::string& AOut, std::size_t AFrom, std::size_t ATo,
                                 std::vector<std::size_t>& APlaceholders) const {
  Walk(AFrom, [&](std::string_view APiece, std::size_t APieceEnd, std::size_t ACut) {
    const std::size_t start = APieceEnd - APiece.size();
    if (APieceEnd > ATo) APiece = APiece.substr(0, APiece.size() - (APieceEnd - ATo));
    // A cut starts with "<!--" and ends with "-->": no placeholder straddles a run's end.
    if (ACut == kNowhere)
      for (TSpan p = NextPlaceholder(APiece, 0); p.Begin < APiece.size();
           p = NextPlaceholder(APiece, p.End))
        APlaceholders.push_back(start + p.Begin);
    AOut.append(APiece);
    return APieceEnd < ATo;
  });
}

void TCutTemplate::CutAll(std::string_view ABlockStr, std::string_view AName, std::size_t AStep,
                          std::vector<TBlockCut>& ACuts) {
  const auto it = Candidates.find(AName);
  if (it == Candidates.end() || it->second.Begins.empty()) return;
  std::vector<std::size_t> visit;
  if (!Visit(it->second, ABlockStr, AName, visit))
    visit.assign(it->second.Begins.begin(), it->second.Begins.end());
  std::vector<std::pair<std::size_t, std::size_t>> found;  // [start, end) of each copy
  std::size_t after = 0;
  for (const std::size_t m : visit) {
    const std::size_t start = Markers[m].Span.Begin;
    if (start < after) continue;
    if (const auto end = MatchAt(start, ABlockStr)) found.emplace_back(start, after = *end);
  }
  for (const auto& [start, end] : found) {
    Cut(start, end, AStep);
    ACuts.push_back({{start, end}, AStep});
  }
}

std::optional<std::size_t> TCutTemplate::MatchAt(std::size_t AStart,
                                                 std::string_view AWanted) const {
  std::size_t matched = 0;
  std::optional<std::size_t> end;
  Walk(AStart, [&](std::string_view APiece, std::size_t APieceEnd, std::size_t ACut) {
    const bool AIsEcho = ACut != kNowhere;
    const std::size_t n = std::min(APiece.size(), AWanted.size() - matched);
    if (!SameText(APiece.substr(0, n), AWanted.substr(matched, n))) return false;
    matched += n;
    if (matched < AWanted.size()) return true;
    // A block text ends in "-->", which no echo holds, so it never ends inside an echo.
    if (!AIsEcho || n == APiece.size()) end = APieceEnd - (APiece.size() - n);
    return false;
  });
  return end;
}

void TCutTemplate::Cut(std::size_t AStart, std::size_t AEnd, std::size_t ABlock) {
  auto first = std::lower_bound(Markers.begin(), Markers.end(), AStart,
                                [](const TMarker& m, std::size_t p) { return m.Span.Begin < p; });
  for (auto m = Live.lower_bound(static_cast<std::size_t>(first - Markers.begin()));
       m != Live.end() && Markers[*m].Span.Begin < AEnd;) {
    const TMarker& marker = Markers[*m];
    const std::string_view name = marker.Name.Of(Text);
    if (marker.Form == TMarkerForm::Exact)
      (marker.IsBegin ? ExactBegins : ExactEnds)[name].erase(*m);
    TCandidates& names = Candidates[name];
    if (marker.IsBegin) {
      names.Begins.erase(*m);
      SpanStates[*m] = TSpanState::Never;
    } else {
      names.Ends.erase(*m);
    }
    m = Live.erase(m);
  }
  Cuts.erase(Cuts.lower_bound(AStart), Cuts.lower_bound(AEnd));
  Cuts.emplace(AStart, TCut{AEnd, ABlock, CutLog.size()});
  CutLog.push_back(AStart);
}

std::size_t TCutTemplate::SpanEnd(const TCandidates& ANames, std::size_t m) {
  const auto e = ANames.Ends.upper_bound(m);
  return e == ANames.Ends.end() ? kNowhere : *e;
}

// FNV-1a over the bytes with ASCII letters folded, continued from AHash.
static std::uint64_t FoldedHash(std::uint64_t AHash, std::string_view AText) {
  for (const char c : AText) AHash = FnvStep(AHash, static_cast<unsigned char>(UpCase(c)));
  return AHash;
}

std::uint64_t TCutTemplate::HashCurrent(std::size_t AFrom, std::size_t ATo) const {
  std::uint64_t h = kFnvOffsetBasis;
  Walk(AFrom, [&](std::string_view APiece, std::size_t APieceEnd, std::size_t) {
    if (APieceEnd > ATo) APiece = APiece.substr(0, APiece.size() - (APieceEnd - ATo));
    h = FoldedHash(h, APiece);
    return APieceEnd < ATo;
  });
  return h;
}

bool TCutTemplate::Current(const TFiled& AFiled) const {
  return SpanStates[AFiled.Marker] == TSpanState::Filed &&
         Generations[AFiled.Marker] == AFiled.Generation;
}

void TCutTemplate::File(TCandidates& ANames, std::size_t m) {
  const std::size_t e = SpanEnd(ANames, m);
  if (e == kNowhere) {
    SpanStates[m] = TSpanState::Never;
    return;
  }
  const std::size_t from = Markers[m].Span.Begin;
  const std::size_t to = Markers[e].Span.End;
  // The current length: a cut that starts in the span ends in it too, since the END at its
  // end is live.
  std::size_t length = to - from;
  for (auto cut = Cuts.lower_bound(from); cut != Cuts.end() && cut->first < to; ++cut)
    length = length - (cut->second.End - cut->first) + Echoes[cut->second.Block].size();
  SpanStates[m] = TSpanState::Filed;
  FiledAt[m] = CutLog.size();
  ANames.ByLength[length].Unhashed.push_back({m, ++Generations[m]});
}

void TCutTemplate::Refile(TCandidates& ANames) {
  if (!ANames.Keyed) {
    for (const std::size_t m : ANames.Begins) File(ANames, m);
    ANames.Keyed = true;
    ANames.CutsSeen = CutLog.size();
    return;
  }
  const std::size_t fresh = CutLog.size() - ANames.CutsSeen;
  if (fresh > ANames.Begins.size()) {
    // Many cuts since: look at each BEGIN once instead, for a cut inside made since.
    for (const std::size_t m : ANames.Begins) {
      if (SpanStates[m] != TSpanState::Filed) continue;
      const std::size_t e = SpanEnd(ANames, m);
      const std::size_t to = e == kNowhere ? Text.size() : Markers[e].Span.End;
      for (auto cut = Cuts.lower_bound(Markers[m].Span.Begin); cut != Cuts.end() && cut->first < to;
           ++cut)
        if (cut->second.Seq >= FiledAt[m]) {
          File(ANames, m);
          break;
        }
    }
  } else {
    // The BEGINs whose span holds a new cut: those before it whose span ends after it. The
    // span's end only grows with its BEGIN, so they are the last ones before the cut.
    for (std::size_t c = ANames.CutsSeen; c < CutLog.size(); ++c) {
      const std::size_t start = CutLog[c];
      const auto first =
          std::lower_bound(Markers.begin(), Markers.end(), start,
                           [](const TMarker& mk, std::size_t p) { return mk.Span.Begin < p; });
      auto it = ANames.Begins.lower_bound(static_cast<std::size_t>(first - Markers.begin()));
      while (it != ANames.Begins.begin()) {
        const std::size_t m = *--it;
        const std::size_t e = SpanEnd(ANames, m);
        if (e == kNowhere) continue;
        if (Markers[e].Span.End <= start) break;
        if (SpanStates[m] == TSpanState::Filed && FiledAt[m] <= c) File(ANames, m);
      }
    }
  }
  ANames.CutsSeen = CutLog.size();
}

bool TCutTemplate::Visit(TCandidates& ANames, std::string_view ABlockStr, std::string_view AName,
                         std::vector<std::size_t>& AOut) {
  // A copy ends at an END of the name. When that END is the block text's only END of the
  // name, a copy starting at a BEGIN is that BEGIN's span and nothing else.
  std::size_t ends = 0;
  bool last = false;
  for (const TMarker& marker : ReadMarkers(ABlockStr, false)) {
    if (marker.IsBegin || !SameText(marker.Name.Of(ABlockStr), AName)) continue;
    ++ends;
    last = marker.Span.End == ABlockStr.size();
  }
  if (ends != 1 || !last) return false;
  Refile(ANames);
  const auto length = ANames.ByLength.find(ABlockStr.size());
  if (length == ANames.ByLength.end()) return true;
  TCandidates::TLength& group = length->second;
  if (group.ByHash.empty() && group.Unhashed.size() == 1) {
    // One BEGIN of that length and none hashed: CutAll compares its text anyway, which costs
    // what hashing it would, and the block text is not hashed.
    const TFiled& filed = group.Unhashed.front();
    if (Current(filed) && SpanEnd(ANames, filed.Marker) != kNowhere) AOut.push_back(filed.Marker);
    return true;
  }
  for (const TFiled& filed : group.Unhashed) {
    if (!Current(filed)) continue;
    // An END cut away since it was filed may leave the BEGIN with none: no copy starts there.
    const std::size_t end = SpanEnd(ANames, filed.Marker);
    if (end == kNowhere) continue;
    const std::size_t from = Markers[filed.Marker].Span.Begin;
    const std::size_t to = Markers[end].Span.End;
    group.ByHash[HashCurrent(from, to)].push_back(filed);
  }
  group.Unhashed.clear();
  const auto same = group.ByHash.find(FoldedHash(kFnvOffsetBasis, ABlockStr));
  if (same == group.ByHash.end()) return true;
  std::erase_if(same->second, [&](const TFiled& AFiled) { return !Current(AFiled); });
  for (const TFiled& filed : same->second) AOut.push_back(filed.Marker);
  std::sort(AOut.begin(), AOut.end());
  return true;
}

std::string BlockEchoText(std::string_view N) {
  return std::string("<?php echo $ZOQBLOCK_").append(N).append(";?>\r\n");
}

void PlanBlocks(TPageModel& AModel) {
  TBlockPlan& plan = AModel.Plan;
  plan = TBlockPlan();
  const auto& lines = AModel.Script.Statements;
  const std::string_view script = AModel.Script.Text;
  for (std::size_t s = 0; s < lines.size(); ++s)
    if (lines[s].Kind == TStatementKind::BlockDef && !lines[s].Separated) {
      plan.Steps.push_back({s, lines[s].Block, lines[s].Name.Of(script)});
      plan.Echoes.push_back(BlockEchoText(plan.Steps.back().Name));
    }
  if (plan.Steps.empty()) return;
  TCutTemplate tmpl(AModel.Template, AModel.Markers, plan.Echoes);
  std::string text;
  for (std::size_t I = 0; I < plan.Steps.size(); ++I) {
    TBlockStep& step = plan.Steps[I];
    const auto A = tmpl.First(true, step.Name);
    const auto B = tmpl.First(false, step.Name);
    step.Begin = A.value_or(kNowhere);
    step.End = B.value_or(kNowhere);
    step.Placeholders.Begin = step.Placeholders.End = plan.Placeholders.size();
    if (A && (!B || *B < *A)) {
      step.Fails = true;
      plan.Failing = I;
      plan.Steps.resize(I + 1);
      plan.Echoes.resize(I + 1);
      break;
    }
    if (!A) continue;  // not in the template (any more): the buffer stays empty
    text.clear();
    tmpl.AppendCurrent(text, AModel.Markers[*A].Span.Begin, AModel.Markers[*B].Span.End,
                       plan.Placeholders);
    step.Placeholders.End = plan.Placeholders.size();
    tmpl.CutAll(text, step.Name, I, plan.Cuts);
  }
  std::sort(plan.Cuts.begin(), plan.Cuts.end(),
            [](const TBlockCut& x, const TBlockCut& y) { return x.Span.Begin < y.Span.Begin; });
}

}  // namespace zoqc
