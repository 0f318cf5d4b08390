// The marker index: one scan finds every marker; cuts are recorded instead of copying text.
#include "src/template/markers.h"

#include <algorithm>
#include <utility>

namespace zoqc {

TTemplate::TTemplate(std::string_view AText, std::span<const TMarker> AMarkers,
                     std::vector<std::string> AEchoes)
    : Text(AText), Echoes(std::move(AEchoes)) {
  for (const TMarker& marker : AMarkers)
    if (marker.Form != TMarkerForm::Near) Markers.push_back(marker);
  for (std::size_t m = 0; m < Markers.size(); ++m) {
    const TMarker& marker = Markers[m];
    const std::string_view name = marker.Name.Of(Text);
    Live.insert(Live.end(), m);
    if (marker.Form == TMarkerForm::Exact)
      (marker.IsBegin ? ExactBegins : ExactEnds)[name].insert(m);
    if (marker.IsBegin) Candidates[name].insert(m);
  }
}

std::optional<std::size_t> TTemplate::First(bool ABegin, std::string_view AName) const {
  const auto& index = ABegin ? ExactBegins : ExactEnds;
  const auto it = index.find(AName);
  if (it == index.end() || it->second.empty()) return std::nullopt;
  return *it->second.begin();
}

template <typename TVisit>
void TTemplate::Walk(std::size_t AFrom, TVisit AVisit) const {
  std::size_t pos = AFrom;
  for (auto cut = Cuts.lower_bound(AFrom);; ++cut) {
    const std::size_t stop = cut == Cuts.end() ? Text.size() : cut->first;
    if (stop > pos && !AVisit(Text.substr(pos, stop - pos), stop, kNowhere)) return;
    if (cut == Cuts.end()) return;
    if (!AVisit(Echoes[cut->second.Block], cut->second.End, cut->first)) return;
    pos = cut->second.End;
  }
}

void TTemplate::AppendCurrent(std::string& AOut, std::size_t AFrom, std::size_t ATo,
                              TSegmentList* AOrigins) const {
  Walk(AFrom, [&](std::string_view APiece, std::size_t APieceEnd, std::size_t ACut) {
    if (APieceEnd > ATo) APiece = APiece.substr(0, APiece.size() - (APieceEnd - ATo));
    if (AOrigins) {
      if (ACut == kNowhere)
        AOrigins->Mark(AOut.size(), {0, TOrigin::Template,
                                     static_cast<std::size_t>(APiece.data() - Text.data())});
      else
        AOrigins->Mark(AOut.size(), {0, TOrigin::Generated, kNowhere, kNowhere, ACut});
    }
    AOut.append(APiece);
    return APieceEnd < ATo;
  });
}

void TTemplate::CutAll(std::string_view ABlockStr, std::string_view AName, std::size_t ABlock) {
  const auto it = Candidates.find(AName);
  if (it == Candidates.end()) return;
  std::vector<std::pair<std::size_t, std::size_t>> found;  // [start, end) of each copy
  std::size_t after = 0;
  for (const std::size_t m : it->second) {
    const std::size_t start = Markers[m].Span.Begin;
    if (start < after) continue;
    if (const auto end = MatchAt(start, ABlockStr)) found.emplace_back(start, after = *end);
  }
  for (const auto& [start, end] : found) Cut(start, end, ABlock);
}

std::vector<std::string_view> TTemplate::TakePieces(std::vector<std::string>& AEchoes,
                                                    std::vector<std::size_t>* AOrigins) {
  std::vector<std::string_view> pieces;
  Walk(0, [&](std::string_view APiece, std::size_t, std::size_t ACut) {
    pieces.push_back(APiece);
    if (AOrigins) AOrigins->push_back(ACut);
    return true;
  });
  AEchoes = std::move(Echoes);  // the strings stay where they are, so the views hold
  return pieces;
}

std::optional<std::size_t> TTemplate::MatchAt(std::size_t AStart, std::string_view AWanted) const {
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

void TTemplate::Cut(std::size_t AStart, std::size_t AEnd, std::size_t ABlock) {
  auto first = std::lower_bound(Markers.begin(), Markers.end(), AStart,
                                [](const TMarker& m, std::size_t p) { return m.Span.Begin < p; });
  for (auto m = Live.lower_bound(static_cast<std::size_t>(first - Markers.begin()));
       m != Live.end() && Markers[*m].Span.Begin < AEnd;) {
    const TMarker& marker = Markers[*m];
    const std::string_view name = marker.Name.Of(Text);
    if (marker.Form == TMarkerForm::Exact)
      (marker.IsBegin ? ExactBegins : ExactEnds)[name].erase(*m);
    if (marker.IsBegin) Candidates[name].erase(*m);
    m = Live.erase(m);
  }
  Cuts.erase(Cuts.lower_bound(AStart), Cuts.lower_bound(AEnd));
  Cuts.emplace(AStart, TCut{AEnd, ABlock});
}

}  // namespace zoqc
