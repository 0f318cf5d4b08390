// --explain: recognising page locations in PHP's text, finding a page's sources, and the chain.
#include "src/driver/explain.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

#include "src/check/page_origin.h"
#include "src/driver/page.h"
#include "src/platform/files.h"
#include "src/translation/compile.h"

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
// last blank, "(" or quote (or at the line's start).
std::size_t PathStart(std::string_view ALine, std::size_t AEnd) {
  const std::size_t in = ALine.rfind(" in ", AEnd);
  if (in != std::string_view::npos) return in + 4;
  const std::size_t stop = ALine.find_last_of(" \t(\"'", AEnd == 0 ? 0 : AEnd - 1);
  return stop == std::string_view::npos ? 0 : stop + 1;
}

// A page of the run, translated afresh from its sources with its provenance, or why it cannot be.
struct TExplained {
  std::string Failure;        // why the page is not mapped, as said; empty when it is
  bool Loud = false;          // Failure is said even where pages not mapped pass silently
  bool Said = false;          // Failure was said there
  std::size_t LineCount = 0;  // the page's lines
  TCompileResult Result;
  std::unique_ptr<TSource> Script;
  std::unique_ptr<TSource> Template;
};

class TExplainer {
 public:
  explicit TExplainer(const TOptions& AOptions) : Options(AOptions) {}

  // The page APath, translated afresh from its sources (or with its Failure).
  TExplained& Find(const std::string& APath) {
    std::unique_ptr<TExplained>& entry = Pages[APath];
    if (entry) return *entry;
    entry = std::make_unique<TExplained>();
    std::string script, templ, page;
    TFileFailure failure;
    const TPageJob job = SourcesOf(APath);
    const bool has_script = LoadFile(job.ScriptFileName, script, failure);
    const bool has_template = LoadFile(job.TemplateFileName, templ, failure);
    if (!has_script && !has_template) {
      entry->Failure = "zoqc: cannot find the sources of '" + APath + "' (looked for '" +
                       job.ScriptFileName + "' and '" + job.TemplateFileName + "')\n";
      return *entry;
    }
    if (!has_script || !has_template) {
      entry->Failure = "zoqc: cannot find the " + std::string(has_script ? "template" : "script") +
                       " of '" + APath + "' (looked for '" +
                       (has_script ? job.TemplateFileName : job.ScriptFileName) + "')\n";
      return *entry;
    }
    if (!LoadFile(APath, page, failure)) {
      entry->Failure = "zoqc: cannot find the page '" + APath + "'\n";
      return *entry;
    }
    entry->LineCount = static_cast<std::size_t>(std::count(page.begin(), page.end(), '\n')) +
                       (!page.empty() && page.back() != '\n');
    entry->Result = Compile(script, templ, {.Provenance = true, .Escape = Options.Escape});
    if (entry->Result.Ok() && entry->Result.Pieces.Joined() != page)  // the other translation
      entry->Result = Compile(std::move(script), std::move(templ),
                              {.Provenance = true, .Escape = !Options.Escape});
    entry->Loud = true;
    if (!entry->Result.Ok()) {
      entry->Failure = "zoqc: the sources of '" + APath +
                       "' no longer translate: " + std::string(ErrorLine(entry->Result.Error)) +
                       "\n";
      return *entry;
    }
    if (entry->Result.Pieces.Joined() != page) {
      entry->Failure = "zoqc: " + APath + " is older than its sources; translate it again\n";
      return *entry;
    }
    const TPageModel& model = *entry->Result.Model;
    entry->Script = std::make_unique<TSource>(job.ScriptFileName, model.Script.Text);
    entry->Template = std::make_unique<TSource>(job.TemplateFileName, model.Template);
    return *entry;
  }

  // The chain behind line ALine of the page APath.
  static TLineChain Chain(const TExplained& APage, std::size_t ALine, std::string_view AHint) {
    return ChainOfLine(*APage.Result.Model, *APage.Result.Origins, *APage.Script, *APage.Template,
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

  const TOptions& Options;
  std::map<std::string, std::unique_ptr<TExplained>> Pages;  // by the path as PHP wrote it
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
  const TExplained& page = AExplainer.Find(path);
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

}  // namespace

std::string ExplainLine(std::string_view ALine, const TPlaceLookup& ALookup) {
  std::string out;
  std::size_t copied = 0;  // ALine before it is in out
  const auto append = [&](std::size_t AStart, std::size_t AAfter, std::size_t APathEnd,
                          std::size_t ANumber) {
    const std::string place = ALookup(ALine.substr(AStart, APathEnd - AStart), ANumber, ALine);
    if (place.empty()) return;
    out.append(ALine.substr(copied, AAfter - copied)).append(" [").append(place).append("]");
    copied = AAfter;
  };
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
    }
    if (!number || *number == 0) continue;
    std::size_t start = 0;
    if (ALine.starts_with('#') && rest.starts_with("(")) {
      start = ALine.find(' ');
      start = start == std::string_view::npos || start > at ? 0 : start + 1;
    } else {
      start = PathStart(ALine, at);
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
  const TPlaceLookup lookup = [&](std::string_view APath, std::size_t ALine,
                                  std::string_view AHint) -> std::string {
    TExplained& found = explainer.Find(std::string(APath));
    if (!found.Failure.empty()) {
      if (found.Loud && !found.Said) AErr << found.Failure;  // once; missing pages pass silently
      found.Said = true;
      return {};
    }
    const TLineChain chain = TExplainer::Chain(found, ALine, AHint);
    if (chain.Links.empty()) return {};
    return PlaceText(chain.Links[chain.Primary].Place);
  };
  // Line by line, each out as soon as it is read: a log being written can be followed.
  for (std::string line; std::getline(AIn, line);) {
    AOut << ExplainLine(line, lookup);
    if (!AIn.eof()) AOut << '\n';
    AOut.flush();
  }
  return kExitSuccess;
}

}  // namespace zoqc
