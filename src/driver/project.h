// The project file, zoqc.toml at a site's root: what a command line would say for the whole
// site (its folders, escaping, warnings, PHP), read by every front end alike.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/driver/options.h"

namespace zoqc {

inline constexpr std::string_view kProjectFileName = "zoqc.toml";

// What a project file sets; a key left out is unset. Paths are as written in the file.
struct TProject {
  std::string Path;  // the file, as found ("zoqc.toml", "../zoqc.toml", an absolute path)
  std::string Dir;   // its folder, which the paths in it are relative to ("" for the current one)
  std::optional<std::string> Source;
  std::optional<std::string> Out;
  std::optional<bool> Escape;
  std::vector<std::string> Warnings;  // -W names without the "-W"
  std::optional<bool> Werror;
  std::optional<bool> Lint;
  std::optional<std::string> Php;
  std::optional<std::string> Serve;  // "[HOST:]PORT"
  std::vector<std::string> Exclude;
  std::optional<bool> BrowserWarnings;

  // A path of the file as one relative to where zoqc runs (Dir in front of a relative one).
  std::string Resolve(const std::string& APath) const;
  // The folder of the pages: Source, or the project's own folder.
  std::string SourceDir() const;
  // The folder they are written to, "" when the file names none.
  std::string OutDir() const;
};

// The project file in AFolder or the nearest folder above it, in AFolder's spelling ("" for the
// current folder: "zoqc.toml", "../zoqc.toml"); "" when there is none.
std::string FindProjectFile(const std::string& AFolder);

// Reads the text of a project file named AName. False on a usage error, with one line in
// AError located in the file: "zoqc.toml:3:10: error: ...".
[[nodiscard]] bool ParseProject(std::string_view AText, const std::string& AName,
                                TProject& AProject, std::string& AError);

// Loads and reads the project file APath (see ParseProject); AProject.Path and Dir are set.
[[nodiscard]] bool LoadProject(const std::string& APath, TProject& AProject, std::string& AError);

// Puts what AProject sets into AOptions, before the command line is read over it: the command
// line's options override each setting (the file's warnings come before its -W options).
void ApplyProject(const TProject& AProject, TOptions& AOptions);

}  // namespace zoqc
