// zoqc --lsp: the language server on standard input and output.
#pragma once

#include <string>

#include "src/lsp/workspace.h"

namespace zoqc {

// Serves the client on standard input and output until it exits; yields the exit code. APhp is
// the PHP that checks the pages when the client turns its "lint" setting on. AProjects: each
// page is analysed with the settings of the project file (zoqc.toml) found from its folder up.
int ServeLanguageClient(const std::string& APhp, bool AProjects = true);

// What the project file found from the folder of AScriptPath up sets for the language server,
// put over ASettings; a file that cannot be read leaves them, with its error in AError.
void ApplyProjectSettings(const std::string& AScriptPath, lsp::TSettings& ASettings,
                          std::string& AError);

}  // namespace zoqc
