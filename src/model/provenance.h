// Where every byte of a page came from: a slice of the template, a slice of the script, or text
// the translation made, with the statement and the template place that produced it.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "src/model/page_model.h"
#include "src/text/pieces.h"

namespace zoqc {

enum class TOrigin : unsigned char {
  Script,     // a copy of script bytes from Offset on (PHP lines, expressions)
  Template,   // a copy of template bytes from Offset on (markup)
  Generated,  // made by the translation: the echo wrapper, the $ZOQBLOCK_ names, quotes,
              // backslashes, the closing tag
};

// A run of page bytes of one origin. It ends where the next segment starts.
struct TSegment {
  std::size_t Page;                      // its first byte in the page
  TOrigin From;                          // whose bytes
  std::size_t Offset = kNowhere;         // Script and Template: the first byte's source offset
  std::size_t ScriptCause = kNowhere;    // the script offset of the "<<*" or "<<+" that put it
                                         // there (a block's text), or kNowhere
  std::size_t TemplateCause = kNowhere;  // the template offset of the placeholder or BEGIN
                                         // marker that it stands for, or kNowhere
};

// What a stretch of a page line stands for in the inputs: the one reading of the segments for
// every tool that tells where a line came from (PHP's messages, --explain, the language server).
struct TLineSource {
  enum class TKind : unsigned char {
    Copied,      // script bytes copied as they are (a PHP line, a statement's line end)
    Expression,  // a binding's expression, spliced in for the placeholder at TemplateCause
    Markup,      // template bytes copied as they are
    Made,        // text the translation made for the placeholder or marker at TemplateCause
                 // or, with none, for the statement at ScriptCause
  } Kind;
  TSpan Span;                            // Copied, Expression, Markup: the input bytes on the line
  std::size_t ScriptCause = kNowhere;    // as TSegment's
  std::size_t TemplateCause = kNowhere;  // as TSegment's
};

// The segments of a page in page order, with the lookups a tool needs.
class TProvenance {
 public:
  // The segment that holds page byte APage, or null past the end.
  const TSegment* At(std::size_t APage) const;
  // What the bytes of the page's 1-based line ALine (its line end included) came from, in page
  // order.
  std::vector<TLineSource> OnLine(std::size_t ALine) const;
  // The page offset where the 1-based line ALine starts, or kNowhere past the last line.
  std::size_t LineStart(std::size_t ALine) const;

  std::span<const TSegment> Segments() const { return List; }
  std::size_t PageSize() const { return Size; }

 private:
  friend class TPageBuilder;
  std::vector<TSegment> List;           // by Page, each non-empty
  std::vector<std::size_t> LineStarts;  // page offsets of the line starts
  std::size_t Size = 0;                 // the page's length
};

// Builds a page into a sink and, when asked, its provenance. Every byte of the page goes through
// Append with its origin; a piece that continues the last one in memory and in origin extends it.
class TPageBuilder {
 public:
  explicit TPageBuilder(TPageSink& APieces, TProvenance* AProvenance)
      : Pieces(APieces), Record(AProvenance) {}

  bool Recording() const { return Record != nullptr; }
  // Appends APiece, a view that must outlive the page, of origin AOrigin.
  void Append(std::string_view APiece, const TSegment& AOrigin) {
    if (APiece.empty()) return;
    Pieces.Append(APiece);
    if (Record) Note(AOrigin);
    Size += APiece.size();
  }
  // Appends AFirst, ASecond and AThird, when not recording.
  void AppendThree(std::string_view AFirst, std::string_view ASecond, std::string_view AThird) {
    Pieces.AppendThree(AFirst, ASecond, AThird);
    Size += AFirst.size() + ASecond.size() + AThird.size();
  }
  // The sink, for a loop that writes the page in place when not recording; Wrote(n) counts the
  // n bytes it wrote there.
  TPageSink& Sink() { return Pieces; }
  void Wrote(std::size_t AByteCount) { Size += AByteCount; }
  // Appends APiece whose own segments (relative to its start) are ASegments, each given
  // AScriptCause where it has none.
  void AppendMapped(std::string_view APiece, std::span<const TSegment> ASegments,
                    std::size_t AScriptCause);
  // Ends the page: the line table of the provenance, from the page's pieces (needed only when
  // recording).
  void EndPage(std::span<const std::string_view> APage);

 private:
  void Note(const TSegment& AOrigin);  // records AOrigin as starting at Size

  TPageSink& Pieces;
  TProvenance* Record;
  std::size_t Size = 0;
};

// Segments of a text built piece by piece (a block's string), relative to its start.
class TSegmentList {
 public:
  explicit TSegmentList(bool ARecording) : Recording(ARecording) {}
  // Notes that the text's byte AAt starts a run of origin AOrigin.
  void Mark(std::size_t AAt, const TSegment& AOrigin);
  std::span<const TSegment> Segments() const { return List; }

 private:
  bool Recording;
  std::vector<TSegment> List;
};

}  // namespace zoqc
