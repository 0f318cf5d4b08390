// The marker index: every block marker of the template, found in one scan, and the template
// as block expansion has rewritten it so far.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "src/text/text.h"

namespace zoqc {

// A marker "<!--BEGIN name-->" or "<!--END name-->" in the template, its keyword in any case.
struct TMarker {
  std::size_t Pos;        // 0-based index of its "<"
  std::size_t Length;     // bytes, through "-->"
  bool IsBegin;           // BEGIN, else END
  bool Exact;             // the keyword is written in capitals, as markers must be
  std::string_view Name;  // the name as written
};

// Every marker of AText in position order.
std::vector<TMarker> FindMarkers(std::string_view AText);

// The template as block expansion has rewritten it so far: the original bytes with the cut
// blocks read as their echoes. Markers inside a cut are gone; the cuts only nest, since a
// later block can enclose an earlier block's echo but a marker never straddles one.
class TTemplate {
 public:
  // AEchoes holds the echo text of each block of the block list, by index.
  TTemplate(std::string_view AText, std::vector<std::string> AEchoes);

  // The first live marker of AName (exact) of the kind asked for.
  std::optional<std::size_t> First(bool ABegin, std::string_view AName) const;
  const TMarker& Marker(std::size_t m) const { return Markers[m]; }

  // Appends the current text from original position AFrom to ATo (neither inside a cut).
  void AppendCurrent(std::string& AOut, std::size_t AFrom, std::size_t ATo) const;

  // Replaces, left to right and without overlap, every live text that equals ABlockStr up to
  // case by the echo of block ABlock. Each such text begins on a BEGIN marker of the same name.
  void CutAll(std::string_view ABlockStr, std::string_view AName, std::size_t ABlock);

  // The whole current text in pieces: stretches of the template and echoes. Moves the echoes
  // to AEchoes, which the pieces view.
  std::vector<std::string_view> TakePieces(std::vector<std::string>& AEchoes);

 private:
  // A block already replaced: the template bytes [its key, End) now read as the block's echo.
  struct TCut {
    std::size_t End;    // 0-based, one past the block's END marker
    std::size_t Block;  // its index in the block list
  };

  // Calls AVisit(piece, original end of piece, is an echo) for the current text from AFrom on,
  // piece by piece (original runs and echoes), until AVisit yields false or the text ends.
  template <typename TVisit>
  void Walk(std::size_t AFrom, TVisit AVisit) const;
  // When the current text at AStart equals AWanted up to case, the original end of that text.
  std::optional<std::size_t> MatchAt(std::size_t AStart, std::string_view AWanted) const;
  // Replaces [AStart, AEnd) by the echo of ABlock: drops the markers and cuts inside it.
  void Cut(std::size_t AStart, std::size_t AEnd, std::size_t ABlock);

  const std::string_view Text;         // the template as loaded
  std::vector<std::string> Echoes;     // the echo text of each block of the block list
  const std::vector<TMarker> Markers;  // every marker of Text, in position order
  std::set<std::size_t> Live;          // markers not inside a cut
  std::unordered_map<std::string_view, std::set<std::size_t>> ExactBegins;  // live, by name
  std::unordered_map<std::string_view, std::set<std::size_t>> ExactEnds;    // live, by name
  std::unordered_map<std::string_view, std::set<std::size_t>, TSameTextHash, TSameTextEqual>
      Candidates;                    // live BEGINs (in any case) by name, compared up to case
  std::map<std::size_t, TCut> Cuts;  // the outermost cuts, by start
};

}  // namespace zoqc
