// The language server: reads requests and notifications from a channel, answers them from the
// pages' models, and publishes the diagnostics of every page it has seen change.
#pragma once

#include "src/lsp/transport.h"
#include "src/lsp/workspace.h"

namespace zoqc::lsp {

// Serves AChannel until the client's "exit" or the end of its input; reads the files that are
// not open in the editor through ALoader and writes none; has ALinter check the pages when the
// client's "lint" setting is on; has AProject put a page's project settings over the client's.
// Yields the process's exit code: 0 after "shutdown" then "exit", 1 otherwise (the protocol's
// rule).
int RunServer(TChannel& AChannel, TFileLoader ALoader, TPageLinter ALinter = {},
              TProjectSettings AProject = {});

}  // namespace zoqc::lsp
