// The marker index: every block marker of the template, found in one scan, and the template
// as block expansion has rewritten it so far.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "src/model/page_model.h"
#include "src/model/provenance.h"
#include "src/text/text.h"

namespace zoqc {

// The template as block expansion has rewritten it so far: the original bytes with the cut
// blocks read as their echoes. Markers inside a cut are gone; the cuts only nest, since a
// later block can enclose an earlier block's echo but a marker never straddles one.
class TTemplate {
 public:
  // AMarkers are the markers of AText as the page model read them (the near misses are left
  // out); AEchoes holds the echo text of each block of the block list, by index.
  TTemplate(std::string_view AText, std::span<const TMarker> AMarkers,
            std::vector<std::string> AEchoes);

  // The first live marker of AName (exact) of the kind asked for.
  std::optional<std::size_t> First(bool ABegin, std::string_view AName) const;
  const TMarker& Marker(std::size_t m) const { return Markers[m]; }

  // Appends the current text from original position AFrom to ATo (neither inside a cut). With
  // AOrigins, marks where each run of AOut comes from: template bytes, or the echo of a cut
  // (Generated, with the cut's start as TemplateCause).
  void AppendCurrent(std::string& AOut, std::size_t AFrom, std::size_t ATo,
                     TSegmentList* AOrigins = nullptr) const;

  // Replaces, left to right and without overlap, every live text that equals ABlockStr up to
  // case by the echo of block ABlock. Each such text begins on a BEGIN marker of the same name.
  void CutAll(std::string_view ABlockStr, std::string_view AName, std::size_t ABlock);

  // The whole current text in pieces: stretches of the template and echoes. Moves the echoes
  // to AEchoes, which the pieces view. With AOrigins, the start of each echo's cut, by piece
  // (kNowhere for a stretch of the template).
  std::vector<std::string_view> TakePieces(std::vector<std::string>& AEchoes,
                                           std::vector<std::size_t>* AOrigins = nullptr);

 private:
  // A block already replaced: the template bytes [its key, End) now read as the block's echo.
  struct TCut {
    std::size_t End;    // 0-based, one past the block's END marker
    std::size_t Block;  // its index in the block list
  };

  // Calls AVisit(piece, original end of piece, start of its cut or kNowhere) for the current
  // text from AFrom on, piece by piece (original runs and echoes), until AVisit yields false or
  // the text ends.
  template <typename TVisit>
  void Walk(std::size_t AFrom, TVisit AVisit) const;
  // When the current text at AStart equals AWanted up to case, the original end of that text.
  std::optional<std::size_t> MatchAt(std::size_t AStart, std::string_view AWanted) const;
  // Replaces [AStart, AEnd) by the echo of ABlock: drops the markers and cuts inside it.
  void Cut(std::size_t AStart, std::size_t AEnd, std::size_t ABlock);

  const std::string_view Text;      // the template as loaded
  std::vector<std::string> Echoes;  // the echo text of each block of the block list
  std::vector<TMarker> Markers;     // every marker of Text but the near misses, in order
  std::set<std::size_t> Live;       // markers not inside a cut
  std::unordered_map<std::string_view, std::set<std::size_t>> ExactBegins;  // live, by name
  std::unordered_map<std::string_view, std::set<std::size_t>> ExactEnds;    // live, by name
  std::unordered_map<std::string_view, std::set<std::size_t>, TSameTextHash, TSameTextEqual>
      Candidates;                    // live BEGINs (in any case) by name, compared up to case
  std::map<std::size_t, TCut> Cuts;  // the outermost cuts, by start
};

}  // namespace zoqc
