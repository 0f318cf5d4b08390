// zoqc --lsp: the language server on standard input and output.
#pragma once

#include <string>

namespace zoqc {

// Serves the client on standard input and output until it exits; yields the exit code. APhp is
// the PHP that checks the pages when the client turns its "lint" setting on.
int ServeLanguageClient(const std::string& APhp);

}  // namespace zoqc
