// zoqc --lsp: the language server on standard input and output.
#pragma once

namespace zoqc {

// Serves the client on standard input and output until it exits; yields the exit code.
int ServeLanguageClient();

}  // namespace zoqc
