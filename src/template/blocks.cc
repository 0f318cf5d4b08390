// Block expansion: the page model's block plan carried out. Each step's block text is read from
// its copy once, and the texts that replace its references are made once.
#include "src/template/blocks.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "src/text/text.h"

namespace zoqc {

namespace {

constexpr std::string_view kCRLF = "\r\n";
constexpr std::string_view kEchoPrefix = "<?php echo $ZOQBLOCK_";
constexpr std::string_view kEchoSuffix = ";?>";
constexpr std::string_view kClosingTag = "\r\n?>\r\n";

// The origin of AInner's byte AAt by AOrigins (kNowhere: AOrigins has none).
TSegment OriginAt(const TSegmentList* AOrigins, std::size_t AAt) {
  if (!AOrigins || AOrigins->Segments().empty()) return {0, TOrigin::Generated};
  const auto list = AOrigins->Segments();
  std::size_t lo = 0, hi = list.size();
  while (hi - lo > 1) {
    const std::size_t mid = (lo + hi) / 2;
    (list[mid].Page <= AAt ? lo : hi) = mid;
  }
  TSegment s = list[lo];
  if (s.From != TOrigin::Generated) s.Offset += AAt - s.Page;
  return s;
}

// Calls AVisit(piece, start of its cut or kNowhere) for the template from AFrom to ATo as the
// steps before ABefore left it: stretches of the template, and for each outermost cut of those
// steps, its step's echo.
template <typename TVisit>
void ForEachPiece(const TPageModel& AModel, std::size_t AFrom, std::size_t ATo, std::size_t ABefore,
                  TVisit AVisit) {
  const std::vector<TBlockCut>& cuts = AModel.Plan.Cuts;
  std::size_t pos = AFrom;
  for (auto it =
           std::lower_bound(cuts.begin(), cuts.end(), AFrom,
                            [](const TBlockCut&c, std::size_t at) { return c.Span.Begin < at; });
       it != cuts.end() && it->Span.Begin < ATo; ++it) {
    if (it->Step >= ABefore || it->Span.Begin < pos) continue;  // a later step's, or inside one
    if (it->Span.Begin > pos) AVisit(AModel.Template.substr(pos, it->Span.Begin - pos), kNowhere);
    AVisit(std::string_view(AModel.Plan.Echoes[it->Step]), it->Span.Begin);
    pos = it->Span.End;
  }
  if (ATo > pos) AVisit(AModel.Template.substr(pos, ATo - pos), kNowhere);
}

}  // namespace

std::string BlockInitText(std::string_view N) {
  return std::string("$ZOQBLOCK_").append(N).append("=\"\";");
}

std::string BlockAppendText(std::string_view N, std::string_view ABlockString) {
  std::string text("$ZOQBLOCK_");
  text.append(N).append("=$ZOQBLOCK_").append(N).append(".").append(ABlockString);
  return text.append(";").append(kCRLF);
}

std::string MakeBlockString(std::string_view AInner, std::span<const std::size_t> APlaceholders,
                            const TPlaceholderIndex& AVars, const TSegmentList* AInnerOrigins,
                            TSegmentList* AOrigins, const TExpressionOffsets* AExprOf,
                            std::vector<std::size_t>* ALeft, TEscaping* AEscape) {
  std::string out("\"");
  out.reserve(AInner.size() + 2);
  // Marks out's next bytes as coming from AInner's byte AAt on.
  const auto from_inner = [&](std::size_t AAt) {
    if (AOrigins) AOrigins->Mark(out.size(), OriginAt(AInnerOrigins, AAt));
  };
  const auto generated = [&](std::size_t AAt) {
    if (!AOrigins) return;
    TSegment s{0, TOrigin::Generated};
    const TSegment inner = OriginAt(AInnerOrigins, AAt);
    s.TemplateCause = inner.From == TOrigin::Template ? inner.Offset : inner.TemplateCause;
    AOrigins->Mark(out.size(), s);
  };
  generated(0);
  // A "{" that is no placeholder is plain text, unless the empty name is bound: "{}" then
  // splices it too, and every "{" is looked at.
  const std::string_view stops = !AVars.Empty() && AVars.ValueOf("").data() ? "{<\\\"$" : "<\\\"$";
  // The next of those bytes is searched for again only once passed: between two, a run of
  // placeholders would otherwise have the rest of the text searched once for each.
  std::size_t stop = AInner.find_first_of(stops);
  const auto next = [&](std::size_t AFrom, std::size_t& AListed) {
    while (AListed < APlaceholders.size() && APlaceholders[AListed] < AFrom) ++AListed;
    if (stop < AFrom) stop = AInner.find_first_of(stops, AFrom);
    return AListed < APlaceholders.size() ? std::min(stop, APlaceholders[AListed]) : stop;
  };
  std::size_t done = 0;    // AInner before this index is in out
  std::size_t listed = 0;  // the first of APlaceholders not behind
  for (std::size_t idx = next(0, listed); idx != std::string_view::npos; idx = next(idx, listed)) {
    if (AOrigins && idx > done) from_inner(done);
    out.append(AInner.substr(done, idx - done));
    const char c = AInner[idx];
    std::size_t length = 0;
    std::string_view key;
    if (c == '{') {
      const bool placeholder = listed < APlaceholders.size() && APlaceholders[listed] == idx;
      std::optional<std::string_view> splice = AVars.Match(AInner, idx, length, &key);
      bool raw = false;
      if (!splice && AEscape && idx + 1 < AInner.size() && AInner[idx + 1] == '!') {  // "{!name}"
        splice = AVars.Match(AInner, idx + 1, length, &key);
        raw = splice.has_value();
        length += raw;
      }
      if (splice) {
        std::string_view text = *splice;
        if (AEscape) {
          const TSegment at = OriginAt(AInnerOrigins, idx);
          text = AEscape->Text(at.From == TOrigin::Template ? at.Offset : kNowhere, text,
                               AVars.PrefixSize(), AVars.SuffixSize(), raw);
        }
        if (AOrigins) {  // "\".", the expression, ".\""
          generated(idx);
          const auto expr = AExprOf ? AExprOf->find(key) : TExpressionOffsets::const_iterator();
          TSegment s = OriginAt(AInnerOrigins, idx);
          const std::size_t place = s.From == TOrigin::Template ? s.Offset : kNowhere;
          if (AExprOf && expr != AExprOf->end())
            AOrigins->Mark(out.size() + AVars.PrefixSize(),
                           {0, TOrigin::Script, expr->second, kNowhere, place});
          AOrigins->Mark(out.size() + text.size() - AVars.SuffixSize(),
                         {0, TOrigin::Generated, kNowhere, kNowhere, place});
        }
        out.append(text);
      } else {
        if (ALeft && placeholder && AInner[idx + 1] != '!') {
          const TSegment at = OriginAt(AInnerOrigins, idx);
          if (at.From == TOrigin::Template) ALeft->push_back(at.Offset);
        }
        if (AOrigins) from_inner(idx);
        out.push_back(c), length = 1;
      }
    } else if (c == '<') {
      // An inner block's echo, "<?php echo $ZOQBLOCK_" M ";?>", prints its buffer right here.
      std::size_t end = NameEnd(AInner, idx + kEchoPrefix.size());
      if (AInner.substr(idx, kEchoPrefix.size()) == kEchoPrefix &&
          AInner.substr(end, kEchoSuffix.size()) == kEchoSuffix) {
        generated(idx);
        const std::size_t name = idx + kEchoPrefix.size();
        out.append("\".$ZOQBLOCK_").append(AInner.substr(name, end - name)).append(".\"");
        end += kEchoSuffix.size();
        end += AInner.substr(end, 2) == kCRLF ? 2 : AInner.substr(end, 1) == "\n" ? 1 : 0;
        length = end - idx;
      } else {
        if (AOrigins) from_inner(idx);
        out.push_back(c), length = 1;
      }
    } else {
      generated(idx);
      out.push_back('\\');
      if (AOrigins) from_inner(idx);
      out.push_back(c), length = 1;  // '\\', '"' or '$'
    }
    idx += length;
    done = idx;
  }
  if (AOrigins && done < AInner.size()) from_inner(done);
  out.append(AInner.substr(done));
  generated(AInner.size());
  out.push_back('"');
  return out;
}

TSpan PlaceholderNameAt(std::string_view ATemplate, std::size_t AAt) {
  return {AAt + 1, NameEnd(ATemplate, AAt + 1)};
}

bool ExpandBlocks(const TPageModel& AModel, const TPageTables& ATables, bool ARecord,
                  TExpansion& AOut, TEscaping* AEscape) {
  AOut.TemplatePieces.assign(1, AModel.Template);
  if (ARecord) AOut.PieceCuts.assign(1, kNowhere);
  const std::vector<TBlockStep>& steps = AModel.Plan.Steps;
  if (steps.empty()) return true;
  const std::size_t count = steps.size();
  AOut.AppendTexts.resize(count);
  AOut.InitTexts.resize(count);
  AOut.AppendOrigins.assign(count, TSegmentList(ARecord));
  const auto& exprs = ATables.BlockExprs;
  std::vector<std::size_t> placeholders;  // a step's, in its inner text
  for (std::size_t I = 0; I < count; ++I) {
    const std::string_view N = steps[I].Name;
    AOut.FirstBlock.emplace(N, I);
    AOut.InitTexts[I] = BlockInitText(N);
    if (steps[I].Fails) {
      AOut.FailBlock = I;
      return false;
    }
    // "$ZOQBLOCK_N=$ZOQBLOCK_N." before the block string, ";" CR LF after it.
    const std::size_t head = 2 * (N.size() + 10) + 2;
    TSegmentList* origins = ARecord ? &AOut.AppendOrigins[I] : nullptr;
    if (origins) origins->Mark(0, {0, TOrigin::Generated});
    if (steps[I].Begin == kNowhere) {  // not in the template (any more): the buffer stays empty
      AOut.AppendTexts[I] = BlockAppendText(N, "\"\"");
      continue;
    }
    const TMarker& begin = AModel.Markers[steps[I].Begin];
    const TMarker& end = AModel.Markers[steps[I].End];
    // The block's inner text, each run marked with where it comes from: template bytes, or the
    // echo of an earlier step's cut (Generated, with the cut's start as its cause).
    std::string BlockStrInner;
    TSegmentList inner(true);  // a few runs: one more per inner block
    const auto from_template = [&](std::size_t AAt) {
      inner.Mark(BlockStrInner.size(), {0, TOrigin::Template, AAt});
    };
    // The step's placeholders, moved to where they stand in the inner text.
    const TSpan run = steps[I].Placeholders;
    const auto seen = std::span(AModel.Plan.Placeholders).subspan(run.Begin, run.Size());
    placeholders.clear();
    from_template(begin.Span.End);
    ForEachPiece(
        AModel, begin.Span.End, end.Span.Begin, I, [&](std::string_view APiece, std::size_t ACut) {
          if (ACut == kNowhere) {
            const auto at = static_cast<std::size_t>(APiece.data() - AModel.Template.data());
            from_template(at);
            for (std::size_t p = placeholders.size();
                 p < seen.size() && seen[p] < at + APiece.size(); ++p)
              placeholders.push_back(BlockStrInner.size() + seen[p] - at);
          } else {
            inner.Mark(BlockStrInner.size(), {0, TOrigin::Generated, kNowhere, kNowhere, ACut});
          }
          BlockStrInner.append(APiece);
        });
    from_template(end.Span.Begin);  // the END marker
    TSegmentList block(ARecord);
    const TPlaceholderIndex vars(ATables.BlockVarList.Get(N), "\".", ".\"");
    std::vector<std::size_t> left;
    const std::string string =
        MakeBlockString(BlockStrInner, placeholders, vars, &inner, ARecord ? &block : nullptr,
                        ARecord && exprs.count(N) ? &exprs.at(N) : nullptr, &left, AEscape);
    const std::size_t scope = steps[I].Block;
    for (const std::size_t at : left)
      AOut.Left.push_back({PlaceholderNameAt(AModel.Template, at), scope});
    vars.ForEachUnused([&](std::string_view AKey) {
      AOut.Unused.push_back({scope, std::string(AKey)});
    });
    AOut.AppendTexts[I] = BlockAppendText(N, string);
    if (origins) {
      for (const TSegment& s : block.Segments()) origins->Mark(head + s.Page, s);
      origins->Mark(head + string.size(), {0, TOrigin::Generated});
    }
  }
  AOut.TemplatePieces.clear();
  AOut.PieceCuts.clear();
  ForEachPiece(AModel, 0, AModel.Template.size(), count,
               [&](std::string_view APiece, std::size_t ACut) {
                 AOut.TemplatePieces.push_back(APiece);
                 if (ARecord) AOut.PieceCuts.push_back(ACut);
               });
  return true;
}

void AppendPhpPart(const TScriptModel& AScript, const TExpansion& AExpansion, TPageBuilder& APage) {
  const std::string_view text = AScript.Text;
  // The LF that each statement line leaves, one slice each: a run of them is appended from here
  // in pieces of up to 64 (the same bytes) when no provenance asks where each comes from.
  static constexpr std::string_view kLineFeeds =
      "\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n"
      "\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n";
  const auto line_feed = [&](std::size_t ASlice) {
    const TScriptSpan s = AScript.Slices[ASlice];
    return s.Size() == 1 && text[s.Begin] == '\n';  // too short to hold a reference
  };
  const bool runs = !APage.Recording();
  std::size_t ref = 0;
  for (std::size_t slice = 0; slice < AScript.Slices.size(); ++slice) {
    if (runs && line_feed(slice)) {
      std::size_t count = 1;
      while (slice + 1 < AScript.Slices.size() && line_feed(slice + 1)) ++slice, ++count;
      for (; count > kLineFeeds.size(); count -= kLineFeeds.size()) APage.Append(kLineFeeds, {});
      APage.Append(kLineFeeds.substr(0, count), {});
      continue;
    }
    std::size_t done = AScript.Slices[slice].Begin;
    const std::size_t end = AScript.Slices[slice].End;
    for (; ref < AScript.Refs.size() && AScript.Refs[ref].Slice == slice; ++ref) {
      const TBlockRef& r = AScript.Refs[ref];
      const auto it = AExpansion.FirstBlock.find(r.Name.Of(text));
      if (it == AExpansion.FirstBlock.end()) continue;
      APage.Append(text.substr(done, r.Span.Begin - done), {0, TOrigin::Script, done});
      if (r.IsDef)
        APage.Append(AExpansion.InitTexts[it->second],
                     {0, TOrigin::Generated, kNowhere, r.Span.Begin});
      else if (APage.Recording())
        APage.AppendMapped(AExpansion.AppendTexts[it->second],
                           AExpansion.AppendOrigins[it->second].Segments(), r.Span.Begin);
      else
        APage.Append(AExpansion.AppendTexts[it->second], {});
      done = r.Span.End;
    }
    APage.Append(text.substr(done, end - done), {0, TOrigin::Script, done});
  }
  APage.Append(kClosingTag, {0, TOrigin::Generated});
}

}  // namespace zoqc
