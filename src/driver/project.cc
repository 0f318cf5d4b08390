// The project file: found by walking up, read with toml++ (header-only, so that the static and
// the Windows builds need no library of it), every key checked with its place in the file.
#include "src/driver/project.h"

#include <filesystem>
#include <functional>
#include <map>

#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include "src/driver/serve_parts.h"
#include "src/platform/files.h"

namespace zoqc {

namespace fs = std::filesystem;

namespace {

std::string Located(const std::string& AName, const toml::source_position& AAt,
                    std::string_view AMessage) {
  return AName + ":" + std::to_string(AAt.line) + ":" + std::to_string(AAt.column) +
         ": error: " + std::string(AMessage);
}

std::string_view KindOf(const toml::node& ANode) {
  switch (ANode.type()) {
    case toml::node_type::string:
      return "a string";
    case toml::node_type::integer:
      return "a whole number";
    case toml::node_type::floating_point:
      return "a number";
    case toml::node_type::boolean:
      return "true or false";
    case toml::node_type::array:
      return "an array";
    case toml::node_type::table:
      return "a table";
    default:
      return "a date or time";
  }
}

// "'KEY' takes WHAT, not GOT".
std::string Takes(std::string_view AKey, std::string_view AWhat, std::string_view AGot) {
  std::string text = "'";
  text.append(AKey).append("' takes ").append(AWhat).append(", not ").append(AGot);
  return text;
}

// How one key is read: the node, and where to say what is wrong with it. False with the
// message (not yet located) in AError, and the place it is about in AAt.
using TKeyReader = std::function<bool(const toml::node& ANode, TProject& AProject,
                                      std::string& AError, toml::source_position& AAt)>;

bool ReadBool(const toml::node& ANode, std::optional<bool>& AValue, std::string_view AKey,
              std::string& AError) {
  if (!ANode.is_boolean()) {
    AError = Takes(AKey, "true or false", KindOf(ANode));
    return false;
  }
  AValue = ANode.as_boolean()->get();
  return true;
}

bool ReadPath(const toml::node& ANode, std::optional<std::string>& AValue, std::string_view AKey,
              std::string& AError) {
  if (!ANode.is_string() || ANode.as_string()->get().empty()) {
    AError = Takes(AKey, "a path as a string", ANode.is_string() ? "an empty one" : KindOf(ANode));
    return false;
  }
  AValue = ANode.as_string()->get();
  return true;
}

// An array of strings, each checked by ACheck (which says what is wrong, or nothing).
bool ReadList(const toml::node& ANode, std::vector<std::string>& AValue, std::string_view AKey,
              const std::function<std::string(const std::string&)>& ACheck, std::string& AError,
              toml::source_position& AAt) {
  const toml::array* array = ANode.as_array();
  if (!array) {
    AError = Takes(AKey, "an array of strings", KindOf(ANode));
    return false;
  }
  for (const toml::node& item : *array) {
    AAt = item.source().begin;
    if (!item.is_string()) {
      AError = Takes(AKey, "strings", KindOf(item));
      return false;
    }
    const std::string& text = item.as_string()->get();
    AError = ACheck(text);
    if (!AError.empty()) return false;
    AValue.push_back(text);
  }
  return true;
}

std::string WarningProblem(const std::string& AName) {
  std::string_view name = AName;
  if (name.starts_with("-W")) return "write the warning without '-W': '" + AName.substr(2) + "'";
  TWarningSwitches switches;
  if (switches.Add(name)) return "";
  return "unknown warning '" + AName + "'" + Suggestion(AName, WarningSpellings());
}

const std::map<std::string, TKeyReader, std::less<>>& Readers() {
  static const std::map<std::string, TKeyReader, std::less<>> readers = {
      {"source", [](const toml::node& ANode, TProject& AProject, std::string& AError,
                    auto&) { return ReadPath(ANode, AProject.Source, "source", AError); }},
      {"out", [](const toml::node& ANode, TProject& AProject, std::string& AError,
                 auto&) { return ReadPath(ANode, AProject.Out, "out", AError); }},
      {"php", [](const toml::node& ANode, TProject& AProject, std::string& AError,
                 auto&) { return ReadPath(ANode, AProject.Php, "php", AError); }},
      {"escape", [](const toml::node& ANode, TProject& AProject, std::string& AError,
                    auto&) { return ReadBool(ANode, AProject.Escape, "escape", AError); }},
      {"werror", [](const toml::node& ANode, TProject& AProject, std::string& AError,
                    auto&) { return ReadBool(ANode, AProject.Werror, "werror", AError); }},
      {"lint", [](const toml::node& ANode, TProject& AProject, std::string& AError,
                  auto&) { return ReadBool(ANode, AProject.Lint, "lint", AError); }},
      {"browser_warnings",
       [](const toml::node& ANode, TProject& AProject, std::string& AError, auto&) {
         return ReadBool(ANode, AProject.BrowserWarnings, "browser_warnings", AError);
       }},
      {"warnings",
       [](const toml::node& ANode, TProject& AProject, std::string& AError, auto& AAt) {
         return ReadList(ANode, AProject.Warnings, "warnings", WarningProblem, AError, AAt);
       }},
      {"exclude",
       [](const toml::node& ANode, TProject& AProject, std::string& AError, auto& AAt) {
         return ReadList(
             ANode, AProject.Exclude, "exclude",
             [](const std::string& APattern) {
               return APattern.empty() ? "an empty pattern would match nothing" : "";
             },
             AError, AAt);
       }},
      {"serve",
       [](const toml::node& ANode, TProject& AProject, std::string& AError, auto&) {
         std::string text;
         if (ANode.is_integer())  // serve = 8080
           text = std::to_string(ANode.as_integer()->get());
         else if (ANode.is_string())
           text = ANode.as_string()->get();
         else {
           AError = Takes("serve", "\"[HOST:]PORT\" as a string", KindOf(ANode));
           return false;
         }
         TServeAddress address;
         std::string reason;
         if (!ParseServeAddress(text, address, reason)) {
           AError = "'serve': " + reason;
           return false;
         }
         AProject.Serve = text;
         return true;
       }},
  };
  return readers;
}

}  // namespace

std::string TProject::Resolve(const std::string& APath) const {
  if (Dir.empty() || fs::path(APath).is_absolute()) return APath;
  return (fs::path(Dir) / APath).lexically_normal().generic_string();
}

std::string TProject::SourceDir() const {
  return Source ? Resolve(*Source) : Dir.empty() ? "." : Dir;
}

std::string TProject::OutDir() const { return Out ? Resolve(*Out) : ""; }

std::string FindProjectFile(const std::string& AFolder) {
  std::error_code ec;
  fs::path at = fs::absolute(AFolder.empty() ? "." : AFolder, ec).lexically_normal();
  if (ec) return "";
  if (!at.has_filename() && at != at.root_path()) at = at.parent_path();  // "/a/b/"
  std::string prefix = AFolder.empty() || AFolder == "." ? "" : AFolder;
  for (;;) {
    const std::string name =
        prefix.empty() ? std::string(kProjectFileName)
                       : (fs::path(prefix) / kProjectFileName).lexically_normal().generic_string();
    if (IsFileFound(name)) return name;
    if (at == at.root_path() || at.parent_path() == at) return "";
    at = at.parent_path();
    prefix = prefix.empty() ? ".." : (fs::path(prefix) / "..").generic_string();
  }
}

bool ParseProject(std::string_view AText, const std::string& AName, TProject& AProject,
                  std::string& AError) {
  toml::parse_result parsed = toml::parse(AText, AName);
  if (!parsed) {
    const toml::parse_error& failure = parsed.error();
    AError = Located(AName, failure.source().begin, failure.description());
    return false;
  }
  const auto& readers = Readers();
  std::vector<std::string> keys;
  for (const auto& [key, reader] : readers) keys.push_back(key);
  for (auto&& [key, node] : parsed.table()) {
    const auto reader = readers.find(key.str());
    if (reader == readers.end()) {
      std::string message = "unknown key '" + std::string(key.str()) + "'";
      message += node.is_table() ? " (the keys stand at the top, in no table)"
                                 : Suggestion(key.str(), keys);
      AError = Located(AName, key.source().begin, message);
      return false;
    }
    toml::source_position at = node.source().begin;
    std::string message;
    if (!reader->second(node, AProject, message, at)) {
      AError = Located(AName, at, message);
      return false;
    }
  }
  return true;
}

bool LoadProject(const std::string& APath, TProject& AProject, std::string& AError) {
  std::string text;
  TFileFailure failure;
  if (!LoadFile(APath, text, failure)) {
    AError = APath + ": error: cannot read the project file" +
             (failure.Reason.empty() ? "" : ": " + failure.Reason);
    return false;
  }
  AProject.Path = APath;
  AProject.Dir = fs::path(APath).parent_path().generic_string();
  return ParseProject(text, APath, AProject, AError);
}

void ApplyProject(const TProject& AProject, TOptions& AOptions) {
  if (AProject.Escape) AOptions.Escape = *AProject.Escape;
  AOptions.BaseWarnings = AProject.Warnings;
  if (AProject.Werror.value_or(false)) AOptions.BaseWarnings.push_back("error");
  if (AProject.Lint) (*AProject.Lint ? AOptions.Lint : AOptions.NoLint) = true;
  // A bare name is looked for on PATH; a path is relative to the file.
  if (AProject.Php)
    AOptions.Php = AProject.Php->find_first_of("/\\") == std::string::npos
                       ? *AProject.Php
                       : AProject.Resolve(*AProject.Php);
  if (AProject.Serve) AOptions.ServeAddress = *AProject.Serve;
  AOptions.Exclude = AProject.Exclude;
  if (AProject.BrowserWarnings) AOptions.BrowserWarnings = *AProject.BrowserWarnings;
}

}  // namespace zoqc
