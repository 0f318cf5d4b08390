// Block expansion: one scan indexes every marker, then each block is cut without rescanning.
#include "src/template/blocks.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>
#include <vector>

#include "src/text/text.h"

namespace zoqc {

namespace {

constexpr std::string_view kCRLF = "\r\n";
constexpr std::string_view kEchoPrefix = "<?php echo $ZOQBLOCK_";
constexpr std::string_view kEchoSuffix = ";?>";

// A marker "<!--BEGIN name-->" or "<!--END name-->" in the template, its keyword in any case.
struct TMarker {
  std::size_t Pos;        // 0-based index of its "<"
  std::size_t Length;     // bytes, through "-->"
  bool IsBegin;           // BEGIN, else END
  bool Exact;             // the keyword is written in capitals, as markers must be
  std::string_view Name;  // the name as written
};

// A block already replaced: the template bytes [its key, End) now read as the block's echo.
struct TCut {
  std::size_t End;    // 0-based, one past the block's END marker
  std::size_t Block;  // its index in BlockList
};

// Every marker of AText in position order.
std::vector<TMarker> FindMarkers(std::string_view AText) {
  std::vector<TMarker> markers;
  for (std::size_t idx = AText.find("<!--"); idx != std::string_view::npos;
       idx = AText.find("<!--", idx + 1)) {
    const std::string_view rest = AText.substr(idx + 4);
    bool begin = false;
    std::size_t keyword = 0;
    if (SameText(rest.substr(0, 6), "BEGIN "))
      begin = true, keyword = 6;
    else if (SameText(rest.substr(0, 4), "END "))
      keyword = 4;
    else
      continue;
    std::size_t end = keyword;
    while (end < rest.size() && IsNameChar(rest[end])) ++end;
    if (rest.substr(end, 3) != "-->") continue;
    markers.push_back({idx, 4 + end + 3, begin,
                       rest.substr(0, keyword) == (begin ? "BEGIN " : "END "),
                       rest.substr(keyword, end - keyword)});
  }
  return markers;
}

// The template as block expansion has rewritten it so far: the original bytes with the cut
// blocks read as their echoes. Markers inside a cut are gone; the cuts only nest, since a
// later block can enclose an earlier block's echo but a marker never straddles one.
class TTemplate {
 public:
  TTemplate(std::string_view AText, const std::vector<std::string>& ABlockList)
      : Text(AText), Markers(FindMarkers(AText)) {
    for (const std::string& name : ABlockList) Echoes.push_back(BlockEchoText(name));
    for (std::size_t m = 0; m < Markers.size(); ++m) {
      const TMarker& marker = Markers[m];
      Live.insert(Live.end(), m);
      if (marker.Exact) (marker.IsBegin ? ExactBegins : ExactEnds)[marker.Name].insert(m);
      if (marker.IsBegin) Candidates[marker.Name].insert(m);
    }
  }

  // The first live marker of AName (exact) of the kind asked for.
  std::optional<std::size_t> First(bool ABegin, std::string_view AName) const {
    const auto& index = ABegin ? ExactBegins : ExactEnds;
    const auto it = index.find(AName);
    if (it == index.end() || it->second.empty()) return std::nullopt;
    return *it->second.begin();
  }
  const TMarker& Marker(std::size_t m) const { return Markers[m]; }

  // Appends the current text from original position AFrom to ATo (neither inside a cut).
  void AppendCurrent(std::string& AOut, std::size_t AFrom, std::size_t ATo) const {
    Walk(AFrom, [&](std::string_view APiece, std::size_t APieceEnd, bool) {
      if (APieceEnd > ATo) APiece = APiece.substr(0, APiece.size() - (APieceEnd - ATo));
      AOut.append(APiece);
      return APieceEnd < ATo;
    });
  }

  // Replaces, left to right and without overlap, every live text that equals ABlockStr up to
  // case by the echo of block ABlock. Each such text begins on a BEGIN marker of the same name.
  void CutAll(std::string_view ABlockStr, std::string_view AName, std::size_t ABlock) {
    const auto it = Candidates.find(AName);
    if (it == Candidates.end()) return;
    std::vector<std::pair<std::size_t, std::size_t>> found;  // [start, end) of each copy
    std::size_t after = 0;
    for (const std::size_t m : it->second) {
      const std::size_t start = Markers[m].Pos;
      if (start < after) continue;
      if (const auto end = MatchAt(start, ABlockStr)) found.emplace_back(start, after = *end);
    }
    for (const auto& [start, end] : found) Cut(start, end, ABlock);
  }

  // The whole current text in pieces: stretches of the template and echoes. Moves the echoes
  // to AEchoes, which the pieces view.
  std::vector<std::string_view> TakePieces(std::vector<std::string>& AEchoes) {
    std::vector<std::string_view> pieces;
    Walk(0, [&](std::string_view APiece, std::size_t, bool) {
      pieces.push_back(APiece);
      return true;
    });
    AEchoes = std::move(Echoes);  // the strings stay where they are, so the views hold
    return pieces;
  }

 private:
  // Calls AVisit(piece, original end of piece, is an echo) for the current text from AFrom on,
  // piece by piece (original runs and echoes), until AVisit yields false or the text ends.
  template <typename TVisit>
  void Walk(std::size_t AFrom, TVisit AVisit) const {
    std::size_t pos = AFrom;
    for (auto cut = Cuts.lower_bound(AFrom);; ++cut) {
      const std::size_t stop = cut == Cuts.end() ? Text.size() : cut->first;
      if (stop > pos && !AVisit(Text.substr(pos, stop - pos), stop, false)) return;
      if (cut == Cuts.end()) return;
      if (!AVisit(Echoes[cut->second.Block], cut->second.End, true)) return;
      pos = cut->second.End;
    }
  }

  // When the current text at AStart equals AWanted up to case, the original end of that text.
  std::optional<std::size_t> MatchAt(std::size_t AStart, std::string_view AWanted) const {
    std::size_t matched = 0;
    std::optional<std::size_t> end;
    Walk(AStart, [&](std::string_view APiece, std::size_t APieceEnd, bool AIsEcho) {
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

  // Replaces [AStart, AEnd) by the echo of ABlock: drops the markers and cuts inside it.
  void Cut(std::size_t AStart, std::size_t AEnd, std::size_t ABlock) {
    auto first = std::lower_bound(Markers.begin(), Markers.end(), AStart,
                                  [](const TMarker& m, std::size_t p) { return m.Pos < p; });
    for (auto m = Live.lower_bound(static_cast<std::size_t>(first - Markers.begin()));
         m != Live.end() && Markers[*m].Pos < AEnd;) {
      const TMarker& marker = Markers[*m];
      if (marker.Exact) (marker.IsBegin ? ExactBegins : ExactEnds)[marker.Name].erase(*m);
      if (marker.IsBegin) Candidates[marker.Name].erase(*m);
      m = Live.erase(m);
    }
    Cuts.erase(Cuts.lower_bound(AStart), Cuts.lower_bound(AEnd));
    Cuts.emplace(AStart, TCut{AEnd, ABlock});
  }

  const std::string_view Text;         // the template as loaded
  std::vector<std::string> Echoes;     // the echo text of each block of BlockList
  const std::vector<TMarker> Markers;  // every marker of Text, in position order
  std::set<std::size_t> Live;          // markers not inside a cut
  std::unordered_map<std::string_view, std::set<std::size_t>> ExactBegins;  // live, by name
  std::unordered_map<std::string_view, std::set<std::size_t>> ExactEnds;    // live, by name
  std::unordered_map<std::string_view, std::set<std::size_t>, TSameTextHash, TSameTextEqual>
      Candidates;                    // live BEGINs (in any case) by name, compared up to case
  std::map<std::size_t, TCut> Cuts;  // the outermost cuts, by start
};

// Name (up to case) -> index of the first block of BlockList with that name.
using TFirstBlocks =
    std::unordered_map<std::string_view, std::size_t, TSameTextHash, TSameTextEqual>;

// Rewrites every "<<*" R and "<<+" R of APhp (R the whole run of name characters after the
// opener) for which AFirst knows R up to case: the definition by its init text, the parse
// statement by AAppend of that block. Inserted text is never looked at again.
std::string RewriteStatements(std::string_view APhp, const std::vector<std::string>& ABlockList,
                              const TFirstBlocks& AFirst, const std::vector<std::string>& AAppend) {
  std::string out;
  out.reserve(APhp.size());
  std::size_t done = 0;
  for (std::size_t idx = APhp.find("<<"); idx != std::string_view::npos;
       idx = APhp.find("<<", idx)) {
    const char opener = idx + 2 < APhp.size() ? APhp[idx + 2] : '\0';
    if (opener != '*' && opener != '+') {
      ++idx;
      continue;
    }
    std::size_t end = idx + 3;
    while (end < APhp.size() && IsNameChar(APhp[end])) ++end;
    const auto it = AFirst.find(APhp.substr(idx + 3, end - idx - 3));
    if (it == AFirst.end()) {
      idx += 3;
      continue;
    }
    out.append(APhp.substr(done, idx - done));
    out.append(opener == '*' ? BlockInitText(ABlockList[it->second]) : AAppend[it->second]);
    done = idx = end;
  }
  out.append(APhp.substr(done));
  return out;
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

std::string BlockEchoText(std::string_view N) {
  return std::string(kEchoPrefix).append(N).append(kEchoSuffix).append(kCRLF);
}

std::string MakeBlockString(std::string_view AInner, const TPlaceholderIndex& AVars) {
  std::string out("\"");
  out.reserve(AInner.size() + 2);
  std::size_t done = 0;  // AInner before this index is in out
  for (std::size_t idx = AInner.find_first_of("{<\\\"$"); idx != std::string_view::npos;
       idx = AInner.find_first_of("{<\\\"$", idx)) {
    out.append(AInner.substr(done, idx - done));
    done = idx;
    const char c = AInner[idx];
    std::size_t length = 0;
    if (c == '{') {
      if (const std::string_view* splice = AVars.Match(AInner, idx, length))
        out.append(*splice);
      else
        out.push_back(c), length = 1;
    } else if (c == '<') {
      // An inner block's echo, "<?php echo $ZOQBLOCK_" M ";?>", prints its buffer right here.
      std::size_t end = idx + kEchoPrefix.size();
      while (end < AInner.size() && IsNameChar(AInner[end])) ++end;
      if (AInner.substr(idx, kEchoPrefix.size()) == kEchoPrefix &&
          AInner.substr(end, kEchoSuffix.size()) == kEchoSuffix) {
        const std::size_t name = idx + kEchoPrefix.size();
        out.append("\".$ZOQBLOCK_").append(AInner.substr(name, end - name)).append(".\"");
        end += kEchoSuffix.size();
        if (AInner.substr(end, 2) == kCRLF)
          end += 2;
        else if (AInner.substr(end, 1) == "\n")
          end += 1;
        length = end - idx;
      } else {
        out.push_back(c), length = 1;
      }
    } else {
      out.push_back('\\'), out.push_back(c), length = 1;  // '\\', '"' or '$'
    }
    idx += length;
    done = idx;
  }
  out.append(AInner.substr(done));
  out.push_back('"');
  return out;
}

bool ExpandBlocks(TRunState& Run, std::string& AError) {
  Run.TemplatePieces.assign(1, Run.TemplateStr);
  if (Run.BlockList.empty()) return true;
  const std::size_t count = Run.BlockList.size();
  std::vector<std::string> append(count);  // each block's append text
  TFirstBlocks first;
  {
    TTemplate tmpl(Run.TemplateStr, Run.BlockList);
    for (std::size_t I = 0; I < count; ++I) {
      const std::string& N = Run.BlockList[I];
      first.emplace(N, I);
      const auto A = tmpl.First(true, N);
      const auto B = tmpl.First(false, N);
      if (A && (!B || *B < *A))
        return Fail(AError, "Error(4):block define error BEGIN block after END block");
      if (!A) {  // not in the template (any more): the buffer stays empty
        append[I] = BlockAppendText(N, "\"\"");
        continue;
      }
      const TMarker& begin = tmpl.Marker(*A);
      const TMarker& end = tmpl.Marker(*B);
      std::string BlockStr;
      tmpl.AppendCurrent(BlockStr, begin.Pos, end.Pos + end.Length);
      const std::string_view BlockStrInner = std::string_view(BlockStr).substr(
          begin.Length, BlockStr.size() - begin.Length - end.Length);
      append[I] = BlockAppendText(
          N,
          MakeBlockString(BlockStrInner, TPlaceholderIndex(Run.BlockVarList.Get(N), "\".", ".\"")));
      tmpl.CutAll(BlockStr, N, I);
    }
    Run.TemplatePieces = tmpl.TakePieces(Run.BlockEchoes);
  }
  Run.PhpStr = RewriteStatements(Run.PhpStr, Run.BlockList, first, append);
  return true;
}

}  // namespace zoqc
