// Command line and file names.
#include "src/driver/command_line.h"

#include "src/platform/files.h"

namespace zoqc {

const std::string_view Version = ZOQC_VERSION;

void PrintBanner(std::ostream& AOut) {
  AOut << "zoqc: the ZOQ script translator, by the zoqc developers\n"
       << "ZOQ script language compiler verion " << Version << '\n';
}

void Usage(std::ostream& AOut) {
  AOut << "Usage:\n"
          "zoqc <filename>\n"
          "  *.zoq is the script file\n"
          "  *.zot is the template file\n"
          "\n"
          "eg:\n"
          "zoqc hello\n"
          "Mean: here have a \"hello.zoq\" script file and\n"
          "      here hava a \"hello.zot\" template file.\n"
          "The compiler will get var and blocks from the template file,\n"
          "and read the template statement from script file,\n"
          "then generate the target file \"hello.php\" at the same directory.\n";
}

void GetScriptAndTemplateFileName(std::string_view AFileName, std::string& AScriptFileName,
                                  std::string& ATemplateFileName, std::string& APhpFileName) {
  const std::size_t split = AFileName.find_last_of("/\\:");
  const std::string_view Path =
      split == std::string_view::npos ? std::string_view() : AFileName.substr(0, split + 1);
  std::string_view FN = AFileName.substr(Path.size());
  if (const std::size_t dot = FN.rfind('.'); dot != std::string_view::npos) FN = FN.substr(0, dot);
  const auto with = [&](std::string_view AExtension) {
    return std::string(Path).append(FN).append(AExtension);
  };
  AScriptFileName = with(".zoq");
  ATemplateFileName = with(".zot");
  APhpFileName = with(".php");
}

bool ScriptAndTemplateFileFound(const std::string& AScriptFileName,
                                const std::string& ATemplateFileName) {
  return IsFileFound(AScriptFileName) && IsFileFound(ATemplateFileName);
}

void ErrorFileNotFound(std::ostream& AOut, std::string_view AFile, std::string_view BFile) {
  AOut << "Error(1):" << AFile << " and " << BFile << " file not found\n";
}

}  // namespace zoqc
