// Diagnostics as text: a header per diagnostic and note, and the source line shown in a window
// around the span, with the caret and the fix-its placed by display columns.
#include <algorithm>
#include <cstdint>
#include <string>

#include "src/check/render.h"
#include "src/text/shown.h"

namespace zoqc {

namespace {

constexpr const char* kReset = "\033[0m";
constexpr const char* kBold = "\033[1m";
constexpr const char* kRed = "\033[1;31m";
constexpr const char* kMagenta = "\033[1;35m";
constexpr const char* kCyan = "\033[1;36m";
constexpr const char* kGreen = "\033[1;32m";

constexpr std::int64_t kWindow = 100;  // display columns of a source line shown at most
constexpr std::int64_t kLead = 30;     // columns kept before a span when the line is cut before it
constexpr std::string_view kCut = "...";

// The columns of a shown text (escapes are ASCII): one per character.
std::int64_t WidthOf(std::string_view AShown) {
  return std::count_if(AShown.begin(), AShown.end(),
                       [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
}

// AText as shown, cut to the window's width.
std::string ShownFixText(std::string_view AText) {
  std::string shown = Shown(AText);
  std::int64_t width = 0;
  for (std::size_t at = 0; at < shown.size(); ++at) {
    if ((static_cast<unsigned char>(shown[at]) & 0xC0) == 0x80) continue;
    if (++width > kWindow) return shown.substr(0, at).append(kCut);
  }
  return shown;
}

// What a fix-it does, as the note that shows it away from its diagnostic says.
std::string Describe(const TFixIt& AFix) {
  const TSpan span = AFix.Place.OnItsLine();
  if (AFix.Text.empty()) return "delete this";
  const std::string text = "'" + AFix.Text + "'";
  return span.Begin == span.End ? "insert " + text + " here" : "replace this with " + text;
}

// A line under the source line: the text placed at its columns, and where it ends.
struct TUnderLine {
  std::string Text;
  std::int64_t End = 0;  // columns filled
};

class TTextRenderer {
 public:
  explicit TTextRenderer(bool AColor) : Color(AColor) {}

  void Diagnostic(const TDiagnostic& ADiag) {
    const bool error = ADiag.Severity == TSeverity::Error;
    std::string message = ADiag.Message;
    if (!ADiag.Warning.empty())
      message +=
          ADiag.Promoted ? " [-Werror,-W" + ADiag.Warning + "]" : " [-W" + ADiag.Warning + "]";
    const bool note = ADiag.Severity == TSeverity::Note;
    Header(ADiag.Place,
           error  ? "error"
           : note ? "note"
                  : "warning",
           error  ? kRed
           : note ? kCyan
                  : kMagenta,
           message);
    std::vector<const TFixIt*> pending;  // fix-its not shown yet
    for (const TFixIt& fix : ADiag.FixIts) pending.push_back(&fix);
    std::vector<const TFixIt*> elsewhere;  // fix-its that get a note of their own
    if (ADiag.Place.Source) Excerpt(ADiag.Place, TakeOnLine(pending, ADiag.Place), elsewhere);
    // A note shows the fix-its on its line, unless its line was shown just above.
    for (const TNote& note : ADiag.Notes) {
      Header(note.Place, "note", kCyan, note.Message);
      if (!note.Place.Source) continue;
      std::vector<const TFixIt*> fixes = TakeOnLine(pending, note.Place);
      for (const TFixIt& fix : note.FixIts) fixes.push_back(&fix);
      if (fixes.empty() && SameLine(note.Place, ADiag.Place)) continue;
      Excerpt(note.Place, std::move(fixes), elsewhere);
    }
    elsewhere.insert(elsewhere.end(), pending.begin(), pending.end());
    for (const TFixIt* fix : elsewhere) {
      Header(fix->Place, "note", kCyan, Describe(*fix));
      std::vector<const TFixIt*> outside;  // none: the window stands around the fix-it
      if (fix->Place.Source) Excerpt(fix->Place, {fix}, outside);
    }
  }

  void More(std::size_t ACount) {
    Out += Paint(kBold, "zoqc:") + " " + std::to_string(ACount) +
           (ACount == 1 ? " more diagnostic" : " more diagnostics") +
           " not shown; -fmax-diagnostics=0 shows them all\n";
  }

  std::string Out;

 private:
  std::string Paint(const char* ACode, const std::string& AText) const {
    return Color ? ACode + AText + kReset : AText;
  }

  bool SameLine(const TPlace& A, const TPlace& B) {
    return A.Source && A.Source == B.Source &&
           A.Source->Lines().LineOf(A.OnItsLine().Begin) ==
               A.Source->Lines().LineOf(B.OnItsLine().Begin);
  }

  // Moves the fix-its of AFixes that stand on the line of APlace out of it.
  std::vector<const TFixIt*> TakeOnLine(std::vector<const TFixIt*>& AFixes, const TPlace& APlace) {
    std::vector<const TFixIt*> taken;
    std::erase_if(AFixes, [&](const TFixIt* AFix) {
      if (!SameLine(AFix->Place, APlace)) return false;
      taken.push_back(AFix);
      return true;
    });
    return taken;
  }

  // "FILE:LINE:COL: LABEL: MESSAGE", or "zoqc: MESSAGE" for a place without a span.
  void Header(const TPlace& APlace, const char* ALabel, const char* AColor,
              const std::string& AMessage) {
    if (!APlace.Source) {  // a note says it is one; the diagnostic it follows needs no label
      Out += Paint(kBold, "zoqc:");
      if (std::string_view(ALabel) == "note") (Out += ' ') += Paint(AColor, "note:");
      ((Out += ' ') += Shown(AMessage)) += '\n';
      return;
    }
    const TLinePosition at = APlace.Source->Lines().Locate(APlace.OnItsLine().Begin);
    Out += Paint(kBold, Shown(APlace.FileName()) + ":" + std::to_string(at.Line) + ":" +
                            std::to_string(at.Column) + ":") +
           " " + Paint(AColor, std::string(ALabel) + ":") + " " + Paint(kBold, Shown(AMessage)) +
           "\n";
  }

  // The source line of APlace in a window around its span, the caret line, and the fix-its of
  // AFixes (all on that line) under it; those outside the window go to AElsewhere.
  void Excerpt(const TPlace& APlace, std::vector<const TFixIt*> AFixes,
               std::vector<const TFixIt*>& AElsewhere) {
    const TSource& source = *APlace.Source;
    const std::string_view text = source.Text;
    const TLineTable& lines = source.Lines();
    const TSpan span = APlace.OnItsLine();
    const TLinePosition from = source.Lines().Locate(span.Begin);
    const TLinePosition to = source.Lines().Locate(span.End);
    const std::size_t line_start = lines.LineStart(from.Line);
    const std::size_t line_end = line_start + lines.LineText(from.Line).size();
    // The whole line when it fits, or from its start when the span stands early in it;
    // otherwise from kLead columns before the span, or earlier so that the window reaches the
    // line's end.
    std::size_t at = line_start;
    std::int64_t column = 1;
    const std::int64_t end = lines.Locate(line_end).DisplayColumn;  // past the line's end
    if (end - 1 > kWindow && from.DisplayColumn > kWindow - kLead) {
      at = lines.OffsetOfDisplayColumn(from.Line,
                                       std::min(from.DisplayColumn - kLead, end - kWindow));
      column = lines.Locate(at).DisplayColumn;
    }
    // The line, then the columns the window shows: [first, last).
    const std::int64_t first = column;
    const std::size_t margin = at > line_start ? kCut.size() : 0;
    std::string shown(at > line_start ? kCut : "");
    while (at < line_end) {
      const TShownChar c = ShowChar(text, at);
      const std::size_t next = at + c.Length;
      const std::int64_t next_column = lines.Locate(next).DisplayColumn;
      if (next_column - first > kWindow) break;
      if (c.Tab)
        shown.append(static_cast<std::size_t>(next_column - column), ' ');
      else if (c.Escape[0])
        shown += c.Escape;
      else
        shown.append(text.substr(at, c.Length));
      at = next;
      column = next_column;
    }
    const std::int64_t last = column;
    if (at < line_end) shown += kCut;
    Out += shown + "\n";
    const auto indent = [&](std::int64_t AColumn) {
      return std::string(margin + static_cast<std::size_t>(AColumn - first), ' ');
    };
    const std::int64_t caret =
        std::max<std::int64_t>(1, std::min(to.DisplayColumn, last) - from.DisplayColumn);
    Out += indent(from.DisplayColumn) +
           Paint(kGreen, std::string(1, '^').append(static_cast<std::size_t>(caret - 1), '~')) +
           "\n";
    // Each fix-it at its column, on the first line under the caret with room for it.
    std::vector<std::pair<std::int64_t, const TFixIt*>> placed;
    for (const TFixIt* fix : AFixes) {
      const TSpan fix_span = fix->Place.OnItsLine();
      const std::int64_t start = source.Lines().Locate(fix_span.Begin).DisplayColumn;
      if (start < first || start > last)
        AElsewhere.push_back(fix);
      else
        placed.emplace_back(start, fix);
    }
    std::stable_sort(placed.begin(), placed.end(),
                     [](const auto& A, const auto& B) { return A.first < B.first; });
    std::vector<TUnderLine> under;
    for (const auto& [start, fix] : placed) {
      std::string piece;
      if (fix->Text.empty()) {
        const std::int64_t end = source.Lines().Locate(fix->Place.OnItsLine().End).DisplayColumn;
        piece.assign(
            static_cast<std::size_t>(std::max<std::int64_t>(1, std::min(end, last) - start)), '-');
      } else {
        piece = ShownFixText(fix->Text);
      }
      const std::int64_t offset = start - first;
      auto line = std::find_if(under.begin(), under.end(),
                               [&](const TUnderLine& L) { return L.End <= offset; });
      if (line == under.end()) line = under.emplace(under.end());
      line->Text.append(static_cast<std::size_t>(offset - line->End), ' ').append(piece);
      line->End = offset + WidthOf(piece);
    }
    for (const TUnderLine& line : under)
      Out += std::string(margin, ' ') + Paint(kGreen, line.Text) + "\n";
  }

  const bool Color;
};

}  // namespace

std::string RenderText(const std::vector<TDiagnostic>& ADiagnostics, bool AColor,
                       std::size_t AMax) {
  const std::size_t count = AMax == 0 ? ADiagnostics.size() : std::min(AMax, ADiagnostics.size());
  TTextRenderer renderer(AColor);
  for (std::size_t idx = 0; idx < count; ++idx) renderer.Diagnostic(ADiagnostics[idx]);
  if (count < ADiagnostics.size()) renderer.More(ADiagnostics.size() - count);
  return std::move(renderer.Out);
}

}  // namespace zoqc
