// The block planner's view of the template: its markers, and the template as the steps planned
// so far have cut it. Only the planner (block_plan.cc) reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "src/model/page_model.h"
#include "src/text/text.h"

namespace zoqc {

// The template as block expansion has rewritten it so far: the original bytes with the cut
// blocks read as their echoes. Markers inside a cut are gone; the cuts only nest, since a
// later block can enclose an earlier block's echo but a marker never straddles one.
class TCutTemplate {
 public:
  // AMarkers are the markers of AText as the page model read them (the near misses take no
  // part); AEchoes holds the echo text of each step, by index.
  TCutTemplate(std::string_view AText, std::span<const TMarker> AMarkers,
               std::span<const std::string> AEchoes);

  // The first live marker of AName (exact) of the kind asked for.
  std::optional<std::size_t> First(bool ABegin, std::string_view AName) const;

  // Appends the current text from original position AFrom to ATo (neither inside a cut), and
  // adds the placeholders of its original runs to APlaceholders.
  void AppendCurrent(std::string& AOut, std::size_t AFrom, std::size_t ATo,
                     std::vector<std::size_t>& APlaceholders) const;

  // Replaces, left to right and without overlap, every live text that equals ABlockStr up to
  // case by the echo of step AStep, and adds each to ACuts. Each such text begins on a BEGIN
  // marker of the same name.
  void CutAll(std::string_view ABlockStr, std::string_view AName, std::size_t AStep,
              std::vector<TBlockCut>& ACuts);

 private:
  // A block already replaced: the template bytes [its key, End) now read as the block's echo.
  struct TCut {
    std::size_t End;    // 0-based, one past the block's END marker
    std::size_t Block;  // the step that made it
    std::size_t Seq;    // its place in CutLog
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

  // What is known of a live BEGIN marker's span: from it to the first live END of its name
  // (up to case) after it, the only text that a block's copy starting there can be.
  enum class TSpanState : unsigned char {
    Unknown,  // not looked at yet
    Filed,    // filed under the length (and once asked, the hash) of its current text
    Never,    // cut, or no END of its name after it: no copy starts there
  };
  // A filing of a BEGIN: its marker index and which of its filings (older ones are stale).
  struct TFiled {
    std::size_t Marker;
    std::uint32_t Generation;
  };
  // The live BEGINs (in any case) of one name up to case, grouped so that a definition of
  // the name visits only those whose span can equal its block text.
  struct TCandidates {
    std::set<std::size_t> Begins;  // live BEGINs, by marker index
    std::set<std::size_t> Ends;    // live ENDs (in any case), by marker index
    bool Keyed = false;            // each live BEGIN is filed
    std::size_t CutsSeen = 0;      // CutLog entries already applied to the filings
    // The filed BEGINs by the length of their span's current text; within a length, by its
    // hash up to case, computed only once a definition of that length asks.
    struct TLength {
      std::vector<TFiled> Unhashed;
      std::unordered_map<std::uint64_t, std::vector<TFiled>> ByHash;
    };
    std::unordered_map<std::size_t, TLength> ByLength;
  };
  // The marker index of the first live END of ANames after marker m, or kNowhere.
  static std::size_t SpanEnd(const TCandidates& ANames, std::size_t m);
  // Files every live BEGIN of ANames by its span, or files again those whose span holds a
  // cut made since the last call.
  void Refile(TCandidates& ANames);
  // Files one live BEGIN by its span as it is now.
  void File(TCandidates& ANames, std::size_t m);
  // Whether a filing is the BEGIN's latest.
  bool Current(const TFiled& AFiled) const;
  // The hash up to case of the current text from original position AFrom to ATo.
  std::uint64_t HashCurrent(std::size_t AFrom, std::size_t ATo) const;
  // The live BEGINs of ANames where a copy of ABlockStr can start, in order, when its END
  // of the name is its last marker of that name; otherwise nothing is known (false).
  bool Visit(TCandidates& ANames, std::string_view ABlockStr, std::string_view AName,
             std::vector<std::size_t>& AOut);

  const std::string_view Text;          // the template as loaded
  std::span<const std::string> Echoes;  // the echo text of each step
  std::span<const TMarker> Markers;     // the model's markers (the near misses are never live)
  std::set<std::size_t> Live;           // markers not inside a cut
  std::unordered_map<std::string_view, std::set<std::size_t>> ExactBegins;  // live, by name
  std::unordered_map<std::string_view, std::set<std::size_t>> ExactEnds;    // live, by name
  std::unordered_map<std::string_view, TCandidates, TSameTextHash, TSameTextEqual>
      Candidates;                      // live markers (in any case) by name, compared up to case
  std::map<std::size_t, TCut> Cuts;    // the outermost cuts, by start
  std::vector<std::size_t> CutLog;     // the start of every cut, in the order they were made
  std::vector<TSpanState> SpanStates;  // by marker index, for the BEGINs
  std::vector<std::uint32_t> Generations;  // by marker index: how often a BEGIN was filed
  std::vector<std::size_t> FiledAt;        // by marker index: CutLog's size at its filing
};

// Works out AModel's block plan from its statements and markers.
void PlanBlocks(TPageModel& AModel);

}  // namespace zoqc
