// The provenance of a page: segments recorded as the page is built, looked up by binary search.
#include "src/model/provenance.h"

#include <algorithm>

namespace zoqc {

namespace {

// True when ANext, starting ALength bytes after APrev starts, only continues APrev.
bool Continues(const TSegment& APrev, const TSegment& ANext, std::size_t ALength) {
  if (APrev.From != ANext.From || APrev.ScriptCause != ANext.ScriptCause ||
      APrev.TemplateCause != ANext.TemplateCause)
    return false;
  return APrev.From == TOrigin::Generated || APrev.Offset + ALength == ANext.Offset;
}

void Push(std::vector<TSegment>& AList, const TSegment& ASegment) {
  if (!AList.empty()) {
    const TSegment& last = AList.back();
    if (last.Page == ASegment.Page) {
      AList.back() = ASegment;  // the last one was empty
      return;
    }
    if (Continues(last, ASegment, ASegment.Page - last.Page)) return;
  }
  AList.push_back(ASegment);
}

}  // namespace

const TSegment* TProvenance::At(std::size_t APage) const {
  if (APage >= Size || List.empty()) return nullptr;
  const auto it = std::upper_bound(List.begin(), List.end(), APage,
                                   [](std::size_t p, const TSegment& s) { return p < s.Page; });
  return it == List.begin() ? nullptr : &*(it - 1);
}

std::size_t TProvenance::LineStart(std::size_t ALine) const {
  return ALine >= 1 && ALine <= LineStarts.size() ? LineStarts[ALine - 1] : kNowhere;
}

std::vector<TLineSource> TProvenance::OnLine(std::size_t ALine) const {
  const std::size_t start = LineStart(ALine);
  if (start == kNowhere || start >= Size) return {};
  const std::size_t end = ALine < LineStarts.size() ? LineStarts[ALine] : Size;
  std::vector<TLineSource> found;
  for (const TSegment* s = At(start); s != List.data() + List.size() && s->Page < end; ++s) {
    // A segment that starts before the line is cut to start with it.
    const std::size_t from = std::max(s->Page, start);
    const std::size_t to = s + 1 != List.data() + List.size() ? std::min(s[1].Page, end) : end;
    TLineSource& source = found.emplace_back(
        TLineSource{TLineSource::TKind::Made, {}, s->ScriptCause, s->TemplateCause});
    if (s->From == TOrigin::Generated) continue;
    source.Span.Begin = s->Offset + (from - s->Page);
    source.Span.End = source.Span.Begin + (to - from);
    source.Kind = s->From == TOrigin::Template   ? TLineSource::TKind::Markup
                  : s->TemplateCause != kNowhere ? TLineSource::TKind::Expression
                                                 : TLineSource::TKind::Copied;
  }
  return found;
}

void TPageBuilder::Note(const TSegment& AOrigin) {
  TSegment segment = AOrigin;
  segment.Page = Size;
  Push(Record->List, segment);
}

void TPageBuilder::AppendMapped(std::string_view APiece, std::span<const TSegment> ASegments,
                                std::size_t AScriptCause) {
  if (APiece.empty()) return;
  Pieces.Append(APiece);
  if (Record)
    for (TSegment segment : ASegments) {
      segment.Page += Size;
      if (segment.ScriptCause == kNowhere) segment.ScriptCause = AScriptCause;
      Push(Record->List, segment);
    }
  Size += APiece.size();
}

void TPageBuilder::EndPage(std::span<const std::string_view> APage) {
  if (!Record) return;
  Record->Size = Size;
  // Lines as PHP counts them, whose line numbers are the ones looked up: LF, CR LF and a lone
  // CR each end one.
  Record->LineStarts.assign(1, 0);
  const auto start_line = [&](std::size_t AAt) {
    if (AAt < Size) Record->LineStarts.push_back(AAt);
  };
  std::size_t at = 0;
  bool after_cr = false;  // the byte before was a CR
  for (const std::string_view piece : APage) {
    for (std::size_t idx = 0; idx < piece.size();) {
      if (after_cr && piece[idx] != '\n') start_line(at + idx);  // a lone CR ended the line
      after_cr = false;
      const std::size_t end = piece.find_first_of("\r\n", idx);
      if (end == std::string_view::npos) break;
      if (piece[end] == '\n')
        start_line(at + end + 1);
      else
        after_cr = true;
      idx = end + 1;
    }
    at += piece.size();
  }
}

void TSegmentList::Mark(std::size_t AAt, const TSegment& AOrigin) {
  if (!Recording) return;
  TSegment segment = AOrigin;
  segment.Page = AAt;
  Push(List, segment);
}

}  // namespace zoqc
