// The hints after Error(1): a look at the folder the page was looked for in.
#include "src/driver/missing_input.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "src/platform/files.h"
#include "src/text/edit_distance.h"
#include "src/text/shown.h"
#include "src/text/text.h"

namespace zoqc {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxEntries = 10000;  // a folder's entries looked at, at most

// "'TEXT'", as the messages quote names, with control bytes escaped.
std::string Quoted(const std::string& AText) {
  std::string quoted(1, '\'');
  return quoted.append(ControlsEscaped(AText)).append(1, '\'');
}

struct TEntry {
  std::string Name;
  bool Folder;
};

std::vector<TEntry> EntriesOf(const fs::path& AFolder) {
  std::vector<TEntry> entries;
  std::error_code ec;
  for (fs::directory_iterator it(AFolder, ec), end; !ec && it != end; it.increment(ec)) {
    if (entries.size() == kMaxEntries) break;
    std::error_code kind;
    entries.push_back({it->path().filename().string(), it->is_directory(kind)});
  }
  std::sort(entries.begin(), entries.end(),
            [](const TEntry& A, const TEntry& B) { return A.Name < B.Name; });
  return entries;
}

// ANAME's stem when it ends in AExtension, else "".
std::string StemOf(const std::string& AName, std::string_view AExtension) {
  return AName.size() > AExtension.size() && std::string_view(AName).ends_with(AExtension)
             ? AName.substr(0, AName.size() - AExtension.size())
             : std::string();
}

// Of the files NAME + AExtension among AEntries, the one whose NAME is AStem up to letter
// case, else the nearest within two edits (names of three bytes or more); "" when none is.
std::string NearestStem(const std::vector<TEntry>& AEntries, const std::string& AStem,
                        std::string_view AExtension) {
  std::string best;
  std::size_t best_distance = 3;
  for (const TEntry& entry : AEntries) {
    const std::string stem = StemOf(entry.Name, AExtension);
    if (entry.Folder || stem.empty() || stem == AStem) continue;
    if (SameText(stem, AStem)) return stem;
    if (AStem.size() < 3) continue;
    const std::size_t distance = EditDistance(stem, AStem, 2);
    if (distance < best_distance) best = stem, best_distance = distance;
  }
  return best;
}

}  // namespace

std::vector<std::string> MissingInputHints(const std::string& AScript,
                                           const std::string& ATemplate) {
  std::vector<std::string> hints;
  const fs::path script(AScript);
  const fs::path folder = script.has_parent_path() ? script.parent_path() : fs::path(".");
  std::error_code ec;
  fs::path absolute = fs::absolute(folder, ec);
  if (ec) absolute = folder;
  absolute = absolute.lexically_normal();
  if (!absolute.has_filename() && absolute.has_parent_path() && absolute != absolute.root_path())
    absolute = absolute.parent_path();  // "/srv/site/", from "/srv/site/."
  hints.push_back("looked in " + Quoted(absolute.string()));
  const std::string prefix = script.has_parent_path() ? (folder / "").string() : std::string();
  const std::string stem = StemOf(script.filename().string(), ".zoq");
  const std::vector<TEntry> entries = EntriesOf(folder);
  const bool script_found = IsFileFound(AScript), template_found = IsFileFound(ATemplate);
  if (!script_found) {
    if (const std::string near = NearestStem(entries, stem, ".zoq"); !near.empty()) {
      hints.push_back("did you mean " + Quoted(prefix + near) + "? " + Quoted(near + ".zoq") +
                      " is there");
      return hints;
    }
  }
  if (!template_found) {
    // The template saved under another name: "index.html", "Index.zot".
    for (const TEntry& entry : entries) {
      if (entry.Folder || entry.Name == stem + ".zoq" || entry.Name == stem + ".php") continue;
      const std::size_t dot = entry.Name.rfind('.');
      const std::string entry_stem = entry.Name.substr(0, dot);
      if (dot == std::string::npos || dot == 0 || !SameText(entry_stem, stem)) continue;
      if (entry_stem != stem && SameText(entry.Name.substr(dot), ".zoq")) continue;
      hints.push_back("the template must be named " + Quoted(stem + ".zot") + ", and " +
                      Quoted(entry.Name) + " is there: rename it if it is the template");
      return hints;
    }
    if (script_found) {
      if (const std::string near = NearestStem(entries, stem, ".zot"); !near.empty())
        hints.push_back("the template must be named " + Quoted(stem + ".zot") + ", and " +
                        Quoted(near + ".zot") + " is there: rename it if it is the template");
      return hints;
    }
  }
  // Run from the folder above the page's: "zoqc index" beside the folder "site".
  for (const TEntry& entry : entries) {
    if (!entry.Folder || entry.Name.starts_with(".")) continue;
    const fs::path inside = folder / entry.Name / (stem + ".zoq");
    if (!IsFileFound(inside.string())) continue;
    hints.push_back("did you mean " + Quoted(prefix + entry.Name + "/" + stem) + "? " +
                    Quoted((fs::path(prefix + entry.Name) / (stem + ".zoq")).string()) +
                    " is there");
    break;
  }
  return hints;
}

}  // namespace zoqc
