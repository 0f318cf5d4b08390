// --explain: recognising page locations in PHP's text, finding a page's sources, and the chain.
#include "src/driver/explain.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "src/check/page_origin.h"
#include "src/driver/page.h"
#include "src/platform/files.h"
#include "src/platform/folders.h"
#include "src/translation/analysis.h"

namespace zoqc {

namespace {

namespace fs = std::filesystem;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The number of the digits at AAt in AText, and where they end; nullopt when there are none.
std::optional<std::size_t> NumberAt(std::string_view AText, std::size_t AAt, std::size_t& AEnd) {
  std::size_t value = 0;
  AEnd = AAt;
  while (AEnd < AText.size() && IsDigit(AText[AEnd]) && AEnd - AAt < 12)
    value = value * 10 + static_cast<std::size_t>(AText[AEnd++] - '0');
  if (AEnd == AAt) return std::nullopt;
  return value;
}

// Where the path that ends at AEnd starts: after the last " in " before it, else after the
// last blank, "(" or quote (or at AFloor). Nothing before AFloor is looked at, and nothing
// further back than the longest path: a line holding many locations is read once.
std::size_t PathStart(std::string_view ALine, std::size_t AFloor, std::size_t AEnd) {
  const std::size_t floor = std::max(AFloor, AEnd > kMaxPathLength ? AEnd - kMaxPathLength : 0);
  const std::string_view window = ALine.substr(floor, AEnd - floor);
  const std::size_t in = window.rfind(" in ");
  if (in != std::string_view::npos) return floor + in + 4;
  const std::size_t stop = window.find_last_of(" \t(\"'");
  return stop == std::string_view::npos ? floor : floor + stop + 1;
}

// The size and time of a file, to see it change; those of a missing file differ from any
// file's.
struct TFileStamp {
  std::uintmax_t Size = 0;
  fs::file_time_type Time{};
  bool operator==(const TFileStamp&) const = default;
};

std::vector<TFileStamp> StampsOf(const std::vector<std::string>& APaths) {
  std::vector<TFileStamp> stamps;
  for (const std::string& path : APaths) {
    std::error_code ec;
    TFileStamp& stamp = stamps.emplace_back();
    stamp.Size = fs::file_size(path, ec);
    stamp.Time = fs::last_write_time(path, ec);
  }
  return stamps;
}

// A page of the run, translated afresh from its sources with its provenance, or why it cannot be.
struct TExplained {
  std::string Failure;             // why the page is not mapped, as said; empty when it is
  bool Loud = false;               // Failure is said even where pages not mapped pass silently
  bool Said = false;               // Failure was said there
  std::size_t LineCount = 0;       // the page's lines
  std::vector<std::string> Files;  // the page, its script and its template
  std::vector<TFileStamp> Stamps;  // theirs when they were read
  std::size_t CheckedAt = 0;       // the round of comparisons they were last compared in
  TAnalysis Page;                  // with its provenance
};

class TExplainer {
 public:
  explicit TExplainer(const TOptions& AOptions) : Options(AOptions) {}

  // Starts a round of lookups (a line of a log), which looks up at most kMaxNewPagesPerRound
  // pages not met before. When ACompare, each page found is compared with its files again (once
  // in the round).
  void NewRound(bool ACompare) {
    NewPages = 0;
    if (ACompare) ++Round;
  }

  // The page APath, translated afresh from its sources (or with its Failure); read again when
  // its files changed since. Null when the round has looked up pages enough.
  TExplained* Find(const std::string& APath) {
    const auto cached = Pages.find(APath);
    if (cached != Pages.end()) {
      TExplained& known = *cached->second;
      if (known.CheckedAt == Round) return &known;
      known.CheckedAt = Round;
      if (StampsOf(known.Files) == known.Stamps) return &known;
      Pages.erase(cached);  // edited or translated again since: read afresh
    } else if (APath.size() > kMaxPathLength || ++NewPages > kMaxNewPagesPerRound) {
      return nullptr;  // no file has such a name, or a line naming pages by the thousand
    }
    if (Pages.size() >= kMaxPages) Forget();
    std::unique_ptr<TExplained>& entry = Pages[APath];
    entry = std::make_unique<TExplained>();
    std::string script, templ, page;
    TFileFailure failure;
    const TPageJob job = SourcesOf(APath);
    // Taken before reading: a change while they are read shows at the next comparison.
    entry->Files = {APath, job.ScriptFileName, job.TemplateFileName};
    entry->Stamps = StampsOf(entry->Files);
    entry->CheckedAt = Round;
    const bool has_script = LoadFile(job.ScriptFileName, script, failure);
    const bool has_template = LoadFile(job.TemplateFileName, templ, failure);
    if (!has_script && !has_template) {
      entry->Failure = "zoqc: cannot find the sources of '" + APath + "' (looked for '" +
                       job.ScriptFileName + "' and '" + job.TemplateFileName + "')\n";
      return entry.get();
    }
    if (!has_script || !has_template) {
      entry->Failure = "zoqc: cannot find the " + std::string(has_script ? "template" : "script") +
                       " of '" + APath + "' (looked for '" +
                       (has_script ? job.TemplateFileName : job.ScriptFileName) + "')\n";
      return entry.get();
    }
    if (!LoadFile(APath, page, failure)) {
      entry->Failure = "zoqc: cannot find the page '" + APath + "'\n";
      return entry.get();
    }
    entry->LineCount = static_cast<std::size_t>(std::count(page.begin(), page.end(), '\n')) +
                       (!page.empty() && page.back() != '\n');
    // The page is analysed as the run would translate it; a page written with the other
    // --escape choice is mapped by that translation.
    const auto analyse = [&](bool AEscape) {
      return AnalysePage(job.ScriptFileName, script, job.TemplateFileName, templ, TWarningSet(),
                         {.Escape = AEscape, .Provenance = true});
    };
    entry->Page = analyse(Options.Escape);
    const TCompileResult& result = entry->Page.Result;
    if (result.Ok() && result.Pieces.Joined() != page) entry->Page = analyse(!Options.Escape);
    entry->Loud = true;
    if (!result.Ok())
      entry->Failure = "zoqc: the sources of '" + APath +
                       "' no longer translate: " + std::string(ErrorLine(result.Error)) + "\n";
    else if (result.Pieces.Joined() != page)
      entry->Failure = "zoqc: " + APath + " is older than its sources; translate it again\n";
    return entry.get();
  }

  // The chain behind line ALine of the page APath.
  static TLineChain Chain(const TExplained& APage, std::size_t ALine, std::string_view AHint) {
    const TAnalysis& page = APage.Page;
    return ChainOfLine(*page.Result.Model, *page.Result.Provenance, *page.Script, *page.Template,
                       ALine, AHint);
  }

 private:
  // The script and template of the page APath: under a -r folder when the page lies under
  // the output folder of one, else beside the page.
  TPageJob SourcesOf(const std::string& APath) const {
    std::error_code ec;
    const fs::path page = fs::weakly_canonical(APath, ec);
    for (const std::string& dir : Options.Directories) {
      const fs::path out = fs::weakly_canonical(Options.OutDir.empty() ? dir : Options.OutDir, ec);
      const fs::path rel = page.lexically_relative(out);
      if (rel.empty() || *rel.begin() == "..") continue;
      const fs::path stem = (fs::path(dir) / rel).replace_extension();
      return {stem.string() + ".zoq", stem.string() + ".zot", APath, ""};
    }
    return PageJobOf(APath);
  }

  // Makes room for more pages: those that are not mapped and not said go first, then all.
  void Forget() {
    std::erase_if(Pages, [](const auto& AEntry) { return !AEntry.second->Loud; });
    if (Pages.size() >= kMaxPages) Pages.clear();
  }

  static constexpr std::size_t kMaxNewPagesPerRound = 16;
  static constexpr std::size_t kMaxPages = 256;

  const TOptions& Options;
  std::map<std::string, std::unique_ptr<TExplained>> Pages;  // by the path as PHP wrote it
  std::size_t Round = 1;                                     // the round of comparisons
  std::size_t NewPages = 0;  // pages not met before looked up in this round
};

// "FILE:LINE:COL", as editors follow it (the column in bytes); a whole file is its name.
std::string PlaceText(const TPlace& APlace) {
  if (!APlace.Source) return APlace.File;
  const TLinePosition at = APlace.Source->Lines().Locate(APlace.From);
  return APlace.Source->Name + ":" + std::to_string(at.Line) + ":" + std::to_string(at.Column);
}

// Prints the chain behind the location ALocation ("page.php:45"); yields the exit code.
int ExplainLocation(TExplainer& AExplainer, const std::string& ALocation, std::ostream& AOut,
                    std::ostream& AErr) {
  const std::size_t colon = ALocation.rfind(':');
  std::size_t end = 0;
  const std::optional<std::size_t> line =
      colon == std::string::npos ? std::nullopt : NumberAt(ALocation, colon + 1, end);
  if (!line || end != ALocation.size() || *line == 0) {
    AErr << "zoqc: --explain takes PAGE.php:LINE, not '" << ALocation << "'\n";
    return kExitUsage;
  }
  const std::string path = ALocation.substr(0, colon);
  AExplainer.NewRound(true);
  const TExplained* found = AExplainer.Find(path);
  if (!found) {
    AErr << "zoqc: cannot find the page '" << path << "'\n";
    return kExitError;
  }
  const TExplained& page = *found;
  if (!page.Failure.empty()) {
    AErr << page.Failure;  // each time: every location asked about gets its answer
    return kExitError;
  }
  if (*line > page.LineCount) {
    AErr << "zoqc: " << path << " has " << page.LineCount << " line"
         << (page.LineCount == 1 ? "" : "s") << ", not " << *line << '\n';
    return kExitError;
  }
  const TLineChain chain = TExplainer::Chain(page, *line, {});
  if (chain.Links.empty()) {
    AOut << ALocation << ": made by zoqc alone, from no line of the sources\n";
    return kExitSuccess;
  }
  for (const TNote& link : chain.Links)
    AOut << PlaceText(link.Place) << ": " << link.Message << '\n';
  return kExitSuccess;
}

// What follows the page in PHP's messages as html_errors=1 writes them.
constexpr std::string_view kHtmlOnLine = "</b> on line <b>";

// A line of standard input is explained in pieces of at most this many bytes.
constexpr std::size_t kMaxExplainedPiece = 1 << 20;

// Reads AIn onto the end of APiece up to its next LF (AEnded, the LF dropped), its end or
// kMaxExplainedPiece bytes in APiece. False when AIn had nothing left.
bool ReadPiece(std::istream& AIn, std::string& APiece, bool& AEnded) {
  std::streambuf& in = *AIn.rdbuf();
  using TTraits = std::streambuf::traits_type;
  bool read = false;
  for (int c = in.sbumpc(); c != TTraits::eof(); c = in.sbumpc()) {
    read = true;
    if (c == '\n') return AEnded = true;
    APiece.push_back(TTraits::to_char_type(c));
    if (APiece.size() >= kMaxExplainedPiece) return true;
  }
  return read;
}

// How much of APiece, a piece of a longer line, to explain now: up to and with its last blank
// near the end, so that a location is not cut in two; the rest goes with the next piece.
std::size_t PieceCut(std::string_view APiece) {
  const std::size_t near = APiece.size() > kMaxPathLength ? APiece.size() - kMaxPathLength : 0;
  const std::size_t blank = APiece.find_last_of(" \t");
  return blank == std::string_view::npos || blank < near ? APiece.size() : blank + 1;
}

}  // namespace

std::string ExplainLine(std::string_view ALine, const TPlaceLookup& ALookup) {
  std::string out;
  std::size_t copied = 0;  // ALine before it is in out
  std::size_t floor = 0;   // the end of the last location: no path starts before it
  const auto append = [&](std::size_t AStart, std::size_t AAfter, std::size_t APathEnd,
                          std::size_t ANumber) {
    floor = AAfter;
    const std::string place = ALookup(ALine.substr(AStart, APathEnd - AStart), ANumber, ALine);
    if (place.empty()) return;
    out.append(ALine.substr(copied, AAfter - copied)).append(" [").append(place).append("]");
    copied = AAfter;
  };
  const std::size_t frame = ALine.find(' ');  // "#K PATH(N)": the path starts after "#K "
  for (std::size_t at = ALine.find(".php"); at != std::string_view::npos;
       at = ALine.find(".php", at + 1)) {
    const std::size_t path_end = at + 4;
    const std::string_view rest = ALine.substr(path_end);
    std::size_t end = 0;
    std::optional<std::size_t> number;
    if (rest.starts_with(" on line ")) {  // "in PATH on line N"
      number = NumberAt(ALine, path_end + 9, end);
    } else if (rest.starts_with("(") && ALine.starts_with('#')) {  // "#K PATH(N): call"
      number = NumberAt(ALine, path_end + 1, end);
      if (number && (end >= ALine.size() || ALine[end] != ')')) number.reset();
      if (number) ++end;
    } else if (rest.starts_with(":")) {  // "PATH:N"
      number = NumberAt(ALine, path_end + 1, end);
    } else if (rest.starts_with(kHtmlOnLine)) {  // "in <b>PATH</b> on line <b>N</b>"
      number = NumberAt(ALine, path_end + kHtmlOnLine.size(), end);
      if (number && ALine.substr(end).starts_with("</b>"))
        end += 4;
      else
        number.reset();
    }
    if (!number || *number == 0) continue;
    std::size_t start = 0;
    if (ALine.starts_with('#') && rest.starts_with("(")) {
      start = frame == std::string_view::npos || frame > at ? 0 : frame + 1;
    } else {
      start = PathStart(ALine, floor, at);
      if (rest.starts_with(kHtmlOnLine) && ALine.substr(start).starts_with("<b>")) start += 3;
    }
    append(start, end, path_end, *number);
  }
  out.append(ALine.substr(copied));
  return out;
}

int RunExplain(const TOptions& AOptions, std::istream& AIn, std::ostream& AOut,
               std::ostream& AErr) {
  TExplainer explainer(AOptions);
  if (!AOptions.Pages.empty()) {
    int exit_code = kExitSuccess;
    for (const std::string& location : AOptions.Pages)
      exit_code = std::max(exit_code, ExplainLocation(explainer, location, AOut, AErr));
    return exit_code;
  }
  bool said_unmapped = false;  // a location that cannot be mapped was said
  const TPlaceLookup lookup = [&](std::string_view APath, std::size_t ALine,
                                  std::string_view AHint) -> std::string {
    TExplained* page = explainer.Find(std::string(APath));
    if (!page) return {};
    TExplained& found = *page;
    if (!found.Failure.empty()) {
      if (found.Loud && !found.Said) {
        AErr << found.Failure;  // once for each page
      } else if (!found.Loud && !said_unmapped) {
        // Pages of no sources pass unmarked (PHP's own files, a vendor's): the first is said,
        // with what maps pages written elsewhere.
        AErr << found.Failure << "zoqc: locations that cannot be mapped pass unmarked";
        if (AOptions.Directories.empty())
          AErr << "; pages written with -o OUT are mapped with the same -r SRC -o OUT";
        AErr << '\n';
        said_unmapped = true;
      }
      found.Said = true;
      return {};
    }
    const TLineChain chain = TExplainer::Chain(found, ALine, AHint);
    if (chain.Links.empty()) return {};
    return PlaceText(chain.Links[chain.Primary].Place);
  };
  // Line by line, out as soon as no more input is waiting: a log being written can be followed,
  // and a long one is not flushed line by line. A line past kMaxExplainedPiece bytes is taken
  // in pieces of that size, so that memory stays bounded whatever comes in. The pages are
  // compared with their files again when a line comes after a wait (a log followed as it is
  // written, where the pages may have been translated again in between), and at least once a
  // second: not for every line of a long log read at once.
  using TClock = std::chrono::steady_clock;
  TClock::time_point compared = TClock::now();
  std::string piece;  // begins with what the last piece of a long line left over
  for (;;) {
    const bool waits = AIn.rdbuf()->in_avail() <= 0;
    if (waits) AOut.flush();  // the next read may wait
    bool ended = false;
    if (!ReadPiece(AIn, piece, ended) && piece.empty()) break;
    const std::size_t cut = piece.size() >= kMaxExplainedPiece ? PieceCut(piece) : piece.size();
    const TClock::time_point now = TClock::now();
    const bool compare = waits || now - compared >= std::chrono::seconds(1);
    if (compare) compared = now;
    explainer.NewRound(compare);
    AOut << ExplainLine(std::string_view(piece).substr(0, cut), lookup);
    if (ended) AOut << '\n';
    piece.erase(0, cut);
    if (!AOut) break;  // the reader has gone (a closed pipe): nothing to go on for
  }
  return kExitSuccess;
}

}  // namespace zoqc
