// Command line and file names: the banner, the usage text, the three names and their check.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace zoqc {

// The version, from the project's one version number (CMake's project()).
extern const std::string_view Version;

// The two banner lines.
void PrintBanner(std::ostream& AOut);
// The twelve lines of the usage text.
void Usage(std::ostream& AOut);

// Derives the script (".zoq"), template (".zot") and output (".php") names from the argument:
// its directory part (through the last "/", "\" or ":") stays, and the file part loses
// everything from its last "." before the extension is added.
void GetScriptAndTemplateFileName(std::string_view AFileName, std::string& AScriptFileName,
                                  std::string& ATemplateFileName, std::string& APhpFileName);

// True when both names are existing entries that are not directories; the template is not
// looked at when the script is missing.
bool ScriptAndTemplateFileFound(const std::string& AScriptFileName,
                                const std::string& ATemplateFileName);

// The Error(1) line, naming both files.
void ErrorFileNotFound(std::ostream& AOut, std::string_view AFile, std::string_view BFile);

}  // namespace zoqc
