// The output folder of a whole site: the rest of the site copied beside the pages, and the
// record of what zoqc wrote there.
#include "src/driver/site_output.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <sstream>
#include <system_error>

#include "src/check/diagnostic.h"
#include "src/check/render.h"
#include "src/driver/failure_report.h"
#include "src/driver/page.h"
#include "src/text/shown.h"

namespace zoqc {

namespace {

namespace fs = std::filesystem;

// Whether the pattern item at AAt of APattern ("?", a "[...]" class or a character; not "*")
// takes the character AChar; AAfter is where the item ends.
bool ItemTakes(std::string_view APattern, std::size_t AAt, char AChar, std::size_t& AAfter) {
  AAfter = AAt + 1;
  if (APattern[AAt] == '?') return AChar != '/';
  if (APattern[AAt] != '[') return APattern[AAt] == AChar;
  std::size_t q = AAt + 1;
  const bool negated = q < APattern.size() && (APattern[q] == '!' || APattern[q] == '^');
  if (negated) ++q;
  bool in = false;
  const std::size_t first = q;
  while (q < APattern.size() && (APattern[q] != ']' || q == first)) {
    const bool range = q + 2 < APattern.size() && APattern[q + 1] == '-' && APattern[q + 2] != ']';
    in = in || (range ? APattern[q] <= AChar && AChar <= APattern[q + 2] : APattern[q] == AChar);
    q += range ? 3 : 1;
  }
  if (q == APattern.size()) return AChar == '[';  // no closing bracket: a bracket itself
  AAfter = q + 1;
  return in != negated && AChar != '/';
}

// A record's text field: a backslash, a line end and a tab are escaped.
std::string Escaped(const std::string& AText) {
  std::string out;
  for (const char c : AText) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\t')
      out += "\\t";
    else
      out += c;
  }
  return out;
}

std::string Unescaped(std::string_view AText) {
  std::string out;
  for (std::size_t idx = 0; idx < AText.size(); ++idx) {
    if (AText[idx] != '\\' || idx + 1 == AText.size()) {
      out += AText[idx];
      continue;
    }
    const char c = AText[++idx];
    out += c == 'n' ? '\n' : c == 't' ? '\t' : c;
  }
  return out;
}

// A path below the output folder as a record may hold it: names, none of them "." or "..".
bool IsPlainRelative(const std::string& APath) {
  if (APath.empty() || APath.front() == '/') return false;
  std::istringstream names(APath);
  for (std::string name; std::getline(names, name, '/');)
    if (name.empty() || name == "." || name == "..") return false;
  return !APath.ends_with('/');
}

// The numbers of a source and of its copy in a record line.
std::string NumbersOf(const TEntryInfo& AInfo) {
  return std::to_string(AInfo.Size) + '\t' + std::to_string(AInfo.Modified) + '\t' +
         std::to_string(AInfo.Mode) + '\t' + std::to_string(AInfo.Device) + '\t' +
         std::to_string(AInfo.Inode);
}

bool ReadNumbers(const std::vector<std::string>& AFields, std::size_t AFrom, TEntryKind AKind,
                 TEntryInfo& AInfo) {
  try {
    AInfo.Kind = AKind;
    AInfo.Size = std::stoull(AFields.at(AFrom));
    AInfo.Modified = std::stoll(AFields.at(AFrom + 1));
    AInfo.Mode = static_cast<std::uint32_t>(std::stoul(AFields.at(AFrom + 2)));
    AInfo.Device = std::stoull(AFields.at(AFrom + 3));
    AInfo.Inode = std::stoull(AFields.at(AFrom + 4));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// The same file as it was written: not replaced, not changed since.
bool IsSameCopy(const TEntryInfo& ANow, const TEntryInfo& AWritten) {
  return ANow.Kind == AWritten.Kind && ANow.Inode == AWritten.Inode &&
         ANow.Device == AWritten.Device &&
         (ANow.Kind != TEntryKind::Regular ||
          (ANow.Size == AWritten.Size && ANow.Modified == AWritten.Modified &&
           ANow.Mode == AWritten.Mode));
}

std::string JoinedPath(const std::string& ADir, const std::string& AName) {
  if (ADir.empty()) return AName;
  return ADir.ends_with('/') ? ADir + AName : ADir + "/" + AName;
}

bool IsBelow(const std::string& APath, const std::string& AFolder) {
  if (APath == AFolder) return true;
  const std::string prefix = AFolder.ends_with('/') ? AFolder : AFolder + "/";
  return APath.starts_with(prefix);
}

}  // namespace

bool GlobMatch(std::string_view APattern, std::string_view AText) {
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t star = std::string_view::npos;  // where the last "*" was, and what it took
  std::size_t taken = 0;
  bool across = false;
  std::size_t stars = std::string_view::npos;  // the same for the last "**"
  std::size_t stars_taken = 0;
  while (t < AText.size()) {
    if (p < APattern.size() && APattern[p] == '*') {
      across = p + 1 < APattern.size() && APattern[p + 1] == '*';
      p += across ? 2 : 1;
      star = p;
      taken = t;
      if (across) stars = p, stars_taken = t;
      continue;
    }
    std::size_t next = 0;
    if (p < APattern.size() && ItemTakes(APattern, p, AText[t], next)) {
      p = next;
      ++t;
      continue;
    }
    // No match here: the last "*" takes one more character, if it may, else the last "**".
    if (star != std::string_view::npos && (across || AText[taken] != '/')) {
      p = star;
      t = ++taken;
    } else if (stars != std::string_view::npos) {
      p = star = stars;
      t = taken = ++stars_taken;
      across = true;
    } else {
      return false;
    }
  }
  while (p < APattern.size() && APattern[p] == '*') ++p;
  return p == APattern.size();
}

bool IsLeftOut(const std::string& ARelative, bool AIsFolder,
               const std::vector<std::string>& AExclude) {
  const std::size_t slash = ARelative.rfind('/');
  const std::string_view name =
      std::string_view(ARelative).substr(slash == std::string::npos ? 0 : slash + 1);
  if (name.empty() || name.starts_with('.') || name.ends_with('~') ||
      (name.size() > 1 && name.starts_with('#') && name.ends_with('#')))
    return true;
  if (!AIsFolder && (name.ends_with(".zoq") || name.ends_with(".zot"))) return true;
  for (std::string_view pattern : AExclude) {
    if (pattern.ends_with('/')) {
      if (!AIsFolder) continue;
      pattern.remove_suffix(1);
    }
    if (pattern.empty()) continue;
    const bool anchored = pattern.find('/') != std::string_view::npos;
    if (pattern.starts_with('/')) pattern.remove_prefix(1);
    if (GlobMatch(pattern, anchored ? std::string_view(ARelative) : name)) return true;
  }
  return false;
}

TSiteOutput::TSiteOutput(const TOptions& AOptions) : Options(AOptions) {
  std::error_code ec;
  OutExisted = fs::is_directory(Options.OutDir, ec);
  if (OutExisted) Load();
}

void TSiteOutput::Load() {
  if (!Folder()) return;
  std::string text;
  if (!Out->ReadSmallFile(std::string(kWrittenRecord), text)) return;
  LoadedRecord = text;
  std::istringstream lines(text);
  std::string line;
  if (!std::getline(lines, line) || line != "zoqc-written 1") return;  // not ours: none
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
    if (fields.empty()) continue;
    TWritten entry;
    const std::string path = Unescaped(fields.back());
    if (!IsPlainRelative(path) || path == kWrittenRecord) continue;
    bool good = false;
    if (fields[0] == "f" && fields.size() == 12) {
      entry.Kind = TEntryKind::Regular;
      good = ReadNumbers(fields, 1, TEntryKind::Regular, entry.Source) &&
             ReadNumbers(fields, 6, TEntryKind::Regular, entry.Copy);
    } else if (fields[0] == "l" && fields.size() == 8) {
      entry.Kind = TEntryKind::Link;
      entry.Target = Unescaped(fields[6]);
      good = ReadNumbers(fields, 1, TEntryKind::Link, entry.Copy);
    } else if (fields[0] == "c" && fields.size() == 2) {
      entry.Kind = TEntryKind::Regular;  // claimed
      good = true;
    } else if (fields[0] == "d" && fields.size() == 2) {
      entry.Kind = TEntryKind::Folder;
      good = true;
    }
    if (good) Record[path] = std::move(entry);
  }
}

std::string TSiteOutput::Saved() const {
  if (Record.empty()) return "";
  std::string text = "zoqc-written 1\n";
  for (const auto& [path, entry] : Record) {
    if (entry.Kind == TEntryKind::Regular && entry.Copy.Kind == TEntryKind::None)
      text += "c";
    else if (entry.Kind == TEntryKind::Regular)
      text += "f\t" + NumbersOf(entry.Source) + '\t' + NumbersOf(entry.Copy);
    else if (entry.Kind == TEntryKind::Link)
      text += "l\t" + NumbersOf(entry.Copy) + '\t' + Escaped(entry.Target);
    else
      text += "d";
    text += '\t' + Escaped(path) + '\n';
  }
  return text;
}

TOutputFolder* TSiteOutput::Folder() {
  if (Out) return Out.get();
  TSystemError error;
  Out = OpenOutputFolder(Options.OutDir, error);
  if (Out) OutInfo = InspectEntry(Options.OutDir.empty() ? "." : Options.OutDir);
  // Followed: the output folder may be given through a link.
  std::string real;
  if (Out && RealPathOf(Options.OutDir, real)) {
    const TEntryInfo info = InspectEntry(real);
    if (info.Kind == TEntryKind::Folder) OutInfo = info;
  }
  return Out.get();
}

void TSiteOutput::NoteFolder(const std::string& AFolder) {
  std::error_code ec;
  std::vector<fs::path> missing;
  for (fs::path path = fs::path(AFolder).lexically_normal();
       !path.empty() && !fs::exists(fs::symlink_status(path, ec)); path = path.parent_path()) {
    missing.push_back(path);
    if (path == path.parent_path()) break;
  }
  if (missing.empty()) return;
  const fs::path out = fs::path(Options.OutDir).lexically_normal();
  const std::lock_guard<std::mutex> lock(NotedLock);
  for (const fs::path& path : missing) {
    const fs::path below = path.lexically_relative(out);
    const std::string text = below.generic_string();
    if (!below.empty() && text != "." && !text.starts_with(".."))
      NotedBelow.insert(text);
    else
      NotedAbove.push_back(path.string());
  }
}

void TSiteOutput::NoteMade(const std::vector<std::string>& AMade) {
  for (const std::string& path : AMade) Record[path].Kind = TEntryKind::Folder;
}

std::vector<TSiteOutput::TRoot> TSiteOutput::Roots() {
  std::vector<TRoot> roots;
  std::string out_real;
  const bool out_found = RealPathOf(Options.OutDir, out_real);
  for (const std::string& dir : Options.Directories) {
    TRoot root{dir, ""};
    if (!RealPathOf(dir, root.Real)) continue;         // the listing says why
    if (out_found && root.Real == out_real) continue;  // pages written beside their sources
    roots.push_back(std::move(root));
  }
  return roots;
}

void TSiteOutput::Warn(const std::string& APath, const std::string& AText, std::ostream& AErr) {
  if (Warned.insert(APath).second) AErr << "zoqc: warning: " << Shown(AText) << '\n';
}

bool TSiteOutput::Consider(const TRoot& ARoot, const std::string& APath,
                           const std::string& ARelative, TWanted& AWanted, std::ostream& AErr) {
  const TEntryInfo info = InspectEntry(APath);
  AWanted = {info.Kind, APath, info, ""};
  switch (info.Kind) {
    case TEntryKind::None:
      return false;
    case TEntryKind::Folder:
      return OutInfo.Kind != TEntryKind::Folder || info.Device != OutInfo.Device ||
             info.Inode != OutInfo.Inode;  // the output folder itself is left out
    case TEntryKind::Regular: {
      // A page's output left beside its script by a run without -o: the page is written there.
      if (ARelative.ends_with(".php")) {
        const std::string script = APath.substr(0, APath.size() - 4) + ".zoq";
        if (InspectEntry(script).Kind != TEntryKind::None) return false;
      }
      return true;
    }
    case TEntryKind::Other:
      Warn(APath, "'" + APath + "' is not a regular file: not copied", AErr);
      return false;
    case TEntryKind::Link:
      break;
  }
  std::string real;
  if (!RealPathOf(APath, real)) {
    Warn(APath, "'" + APath + "' is a symbolic link that leads nowhere: not copied", AErr);
    return false;
  }
  std::string out_real;
  if (!IsBelow(real, ARoot.Real) ||
      (RealPathOf(Options.OutDir, out_real) && IsBelow(real, out_real))) {
    Warn(APath,
         "'" + APath + "' is a symbolic link that leads out of '" + ARoot.Dir + "' (to '" + real +
             "'): not copied",
         AErr);
    return false;
  }
  const TEntryInfo target = InspectEntry(real);
  if (!MakesLinks()) {
    // Copies instead: a link to a file is copied as the file it leads to.
    if (target.Kind != TEntryKind::Regular) {
      Warn(APath, "'" + APath + "' is a symbolic link to a folder: not copied on this system",
           AErr);
      return false;
    }
    AWanted = {TEntryKind::Regular, real, target, ""};
    return true;
  }
  // The same link below the output folder: relative, from where the link is to where it
  // leads, both as they are below the -r folder.
  const fs::path from = fs::path(JoinedPath(ARoot.Real, ARelative)).parent_path();
  std::string text = fs::path(real).lexically_relative(from).generic_string();
  AWanted.Target = text.empty() ? "." : text;
  return true;
}

void TSiteOutput::Walk(const TRoot& ARoot, const std::string& ADir, const std::string& ARelative,
                       std::map<std::string, TWanted>& AWanted, std::ostream& AErr) {
  std::error_code ec;
  std::vector<std::string> names;
  for (fs::directory_iterator it(ADir, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string relative = ARelative.empty() ? name : ARelative + "/" + name;
    const std::string path = JoinedPath(ADir, name);
    TWanted wanted;
    // A quick look at the name first: most left-out entries cost no call.
    if (IsLeftOut(relative, true, {}) && IsLeftOut(relative, false, {})) continue;
    if (!Consider(ARoot, path, relative, wanted, AErr)) continue;
    if (IsLeftOut(relative, wanted.Kind == TEntryKind::Folder, Options.Exclude)) continue;
    if (wanted.Kind == TEntryKind::Folder)
      Walk(ARoot, path, relative, AWanted, AErr);
    else
      AWanted.try_emplace(relative, std::move(wanted));  // the first -r folder has it
  }
}

void TSiteOutput::Failure(const std::string& ARelative, const std::string& AReason,
                          std::ostream& AOut, std::ostream& AErr) {
  const std::string file = JoinedPath(Options.OutDir, ARelative);
  AOut << FailureReport(TFileFailure{TFileFailureKind::Create, ControlsEscaped(file), AReason});
  TDiagnostic d;
  d.Place.File = file;
  d.Message = "cannot create '" + file + "'" + (AReason.empty() ? "" : ": " + AReason);
  if (!Options.Json)
    AErr << RenderText({d}, Options.Color, Options.MaxDiagnostics);
  else if (Options.Watch && Verbose)
    AErr << JsonArray(RenderJsonObjects({d}), true);
  else
    for (std::string& object : RenderJsonObjects({d})) Json.push_back(std::move(object));
  ExitCode = kExitFileFailure;
}

void TSiteOutput::Apply(const std::string& ARelative, const TWanted* AWanted,
                        const std::set<std::string>& APageOutputs, std::ostream& AOut,
                        std::ostream& AErr) {
  TOutputFolder* out = Folder();
  if (!out) return;
  const auto found = Record.find(ARelative);
  const bool ours = found != Record.end() && found->second.Kind != TEntryKind::Folder;
  if (!AWanted) {
    if (ours) Drop(*out, ARelative, APageOutputs.contains(ARelative), AOut, AErr);
    return;
  }
  if (APageOutputs.contains(ARelative)) return;  // the page goes there
  const TEntryInfo now = out->Inspect(ARelative);
  if (ours && IsSameCopy(now, found->second.Copy) &&
      (AWanted->Kind == TEntryKind::Regular ? found->second.Source == AWanted->Info
                                            : found->second.Target == AWanted->Target))
    return;  // unchanged
  if (!ours && now.Kind != TEntryKind::None) {
    // Something zoqc did not write: taken on when it is the same, never replaced otherwise.
    std::string text;
    const bool same = AWanted->Kind == TEntryKind::Regular
                          ? now.Kind == TEntryKind::Regular && now.Mode == AWanted->Info.Mode &&
                                out->SameContent(AWanted->Source, ARelative)
                          : now.Kind == TEntryKind::Link &&
                                ReadLinkText(JoinedPath(Options.OutDir, ARelative), text) &&
                                text == AWanted->Target;
    if (!same) {
      Failure(ARelative,
              now.Kind == TEntryKind::Folder
                  ? "a folder is in the way"
                  : "a file that zoqc did not write is in the way (remove it to have it copied)",
              AOut, AErr);
      return;
    }
    TWritten& entry = Record[ARelative];
    entry = {AWanted->Kind, AWanted->Info, now, AWanted->Target};
    return;
  }
  TSystemError error;
  std::vector<std::string> made;
  TWritten entry{AWanted->Kind, AWanted->Info, {}, AWanted->Target};
  const bool done =
      AWanted->Kind == TEntryKind::Regular
          ? out->Copy(AWanted->Source, ARelative, entry.Source, entry.Copy, made, error)
          : out->Link(AWanted->Target, ARelative, entry.Copy, made, error);
  NoteMade(made);
  if (!done) {
    Failure(ARelative,
            error.Code == ENOTDIR ? error.Reason + " (a file or link is in the way)" : error.Reason,
            AOut, AErr);
    return;
  }
  Record[ARelative] = std::move(entry);
  if (Verbose && !Options.Quiet)
    AOut << Shown(AWanted->Source) << ": copied to " << Shown(JoinedPath(Options.OutDir, ARelative))
         << '\n';
}

void TSiteOutput::Drop(TOutputFolder& AFolder, const std::string& ARelative, bool AKeep,
                       std::ostream& AOut, std::ostream& AErr) {
  const auto found = Record.find(ARelative);
  if (!AKeep) {
    TSystemError error;
    // Claimed by a run that was ended before it recorded its copy: whatever file is there.
    TEntryInfo expected = found->second.Copy;
    if (expected.Kind == TEntryKind::None) {
      expected = AFolder.Inspect(ARelative);
      if (expected.Kind == TEntryKind::Folder) expected = {};
    }
    const std::string shown = Shown(JoinedPath(Options.OutDir, ARelative));
    if (AFolder.Remove(ARelative, expected, error)) {
      if (Verbose && !Options.Quiet) AOut << shown << ": removed, its source is gone\n";
    } else if (error.Code != 0) {
      AErr << "zoqc: cannot remove '" << shown << "': " << error.Reason << '\n';
      return;
    }
  }
  Record.erase(found);
}

int TSiteOutput::Mirror(const std::set<std::string>& APageOutputs, std::ostream& AOut,
                        std::ostream& AErr) {
  ExitCode = 0;
  std::map<std::string, TWanted> wanted;
  const std::vector<TRoot> roots = Roots();
  if (!roots.empty() && !Folder()) {
    // Made only once there is a file to copy.
    NoteFolder(Options.OutDir);
    std::error_code ec;
    fs::create_directories(Options.OutDir, ec);
  }
  if (!Folder()) return ExitCode;
  for (const TRoot& root : roots) Walk(root, root.Dir, "", wanted, AErr);
  std::vector<std::string> fresh;
  for (const auto& [path, entry] : wanted) fresh.push_back(path);
  Claim(fresh, APageOutputs, AErr);
  for (const auto& [path, entry] : wanted) Apply(path, &entry, APageOutputs, AOut, AErr);
  std::vector<std::string> gone;
  for (const auto& [path, entry] : Record)
    if (entry.Kind != TEntryKind::Folder && !wanted.contains(path)) gone.push_back(path);
  for (const std::string& path : gone) Apply(path, nullptr, APageOutputs, AOut, AErr);
  Out->Release();
  return ExitCode;
}

bool TSiteOutput::MirrorPaths(const std::set<std::string>& APaths,
                              const std::set<std::string>& APageOutputs, std::ostream& AOut,
                              std::ostream& AErr, int& AExitCode) {
  ExitCode = 0;
  const std::vector<TRoot> roots = Roots();
  std::vector<std::pair<std::string, std::optional<TWanted>>> changes;
  for (const std::string& path : APaths) {
    const TRoot* root = nullptr;
    std::string relative;
    for (const TRoot& candidate : roots) {
      const std::string text =
          fs::path(path).lexically_relative(fs::path(candidate.Dir)).generic_string();
      if (text.empty() || text == "." || text.starts_with("..")) continue;
      root = &candidate;
      relative = text;
      break;
    }
    if (!root) continue;
    // Each folder on the way must be one the whole walk enters.
    std::string dir = root->Dir;
    std::string below;
    std::size_t from = 0;
    bool entered = true;
    for (std::size_t slash; (slash = relative.find('/', from)) != std::string::npos;
         from = slash + 1) {
      const std::string name = relative.substr(from, slash - from);
      below = below.empty() ? name : below + "/" + name;
      dir = JoinedPath(dir, name);
      const TEntryInfo info = InspectEntry(dir);
      if (info.Kind == TEntryKind::Link) return false;  // reached through a link
      if (info.Kind != TEntryKind::Folder || IsLeftOut(below, true, Options.Exclude) ||
          (OutInfo.Kind == TEntryKind::Folder && info.Device == OutInfo.Device &&
           info.Inode == OutInfo.Inode)) {
        entered = false;
        break;
      }
    }
    TWanted wanted;
    const bool left_out =
        !entered || (IsLeftOut(relative, true, {}) && IsLeftOut(relative, false, {}));
    if (!left_out && Consider(*root, path, relative, wanted, AErr) &&
        !IsLeftOut(relative, wanted.Kind == TEntryKind::Folder, Options.Exclude)) {
      if (wanted.Kind == TEntryKind::Folder) return false;
      changes.emplace_back(relative, std::move(wanted));
    } else if (!left_out && InspectEntry(path).Kind == TEntryKind::Folder) {
      return false;
    } else {
      changes.emplace_back(relative, std::nullopt);
    }
  }
  std::vector<std::string> fresh;
  for (const auto& [relative, wanted] : changes)
    if (wanted) fresh.push_back(relative);
  Claim(fresh, APageOutputs, AErr);
  for (const auto& [relative, wanted] : changes)
    Apply(relative, wanted ? &*wanted : nullptr, APageOutputs, AOut, AErr);
  if (Out) Out->Release();
  AExitCode = ExitCode;
  return true;
}

void TSiteOutput::Claim(const std::vector<std::string>& APaths,
                        const std::set<std::string>& APageOutputs, std::ostream& AErr) {
  bool claimed = false;
  for (const std::string& path : APaths) {
    if (Record.contains(path) || APageOutputs.contains(path)) continue;
    if (!Folder() || Out->Inspect(path).Kind != TEntryKind::None) continue;  // not free
    Record[path].Kind = TEntryKind::Regular;  // copied nothing from, into nothing yet
    claimed = true;
  }
  if (claimed) Save(AErr);
}

void TSiteOutput::Save(std::ostream& AErr) {
  const std::string text = Saved();
  const std::string name(kWrittenRecord);
  TSystemError error;
  if (text.empty()) {
    const TEntryInfo info = Out->Inspect(name);
    if (info.Kind == TEntryKind::Regular) (void)Out->Remove(name, info, error);
  } else if (text != LoadedRecord) {
    if (!Out->WriteSmallFile(name, text, error))
      AErr << "zoqc: cannot write '" << Shown(JoinedPath(Options.OutDir, name))
           << "': " << error.Reason << '\n';
  }
  LoadedRecord = text;
}

void TSiteOutput::EndRun(bool ARunOver, std::ostream& AErr) {
  {
    const std::lock_guard<std::mutex> lock(NotedLock);
    RunFolders.insert(NotedBelow.begin(), NotedBelow.end());
    NotedBelow.clear();
  }
  if (Folder()) {
    // The deepest first: a folder emptied by removing the one below it goes too.
    std::vector<std::string> folders(RunFolders.begin(), RunFolders.end());
    for (const auto& [path, entry] : Record)
      if (entry.Kind == TEntryKind::Folder && !RunFolders.contains(path)) folders.push_back(path);
    std::sort(folders.begin(), folders.end(), [](const std::string& A, const std::string& B) {
      return std::count(A.begin(), A.end(), '/') > std::count(B.begin(), B.end(), '/');
    });
    for (const std::string& path : folders) {
      const TEntryInfo info = Out->Inspect(path);
      if (info.Kind != TEntryKind::Folder || Out->RemoveEmptyFolder(path)) {
        Record.erase(path);
        RunFolders.erase(path);
      }
    }
    Save(AErr);
    Out->Release();
  }
  if (!ARunOver || OutExisted || !Record.empty()) return;
  // A run that made the output folder and wrote nothing there leaves no folder behind.
  std::vector<std::string> above;
  {
    const std::lock_guard<std::mutex> lock(NotedLock);
    above = NotedAbove;
  }
  std::sort(above.begin(), above.end(),
            [](const std::string& A, const std::string& B) { return A.size() > B.size(); });
  Out.reset();
  for (const std::string& path : above) {
    std::error_code ec;
    if (fs::is_directory(fs::symlink_status(path, ec))) fs::remove(path, ec);  // only if empty
  }
}

}  // namespace zoqc
