// Watch mode: translate a page again whenever its script or template changes.
#pragma once

#include <ostream>
#include <vector>

#include "src/driver/options.h"
#include "src/driver/site.h"

namespace zoqc {

// Watches the folders of APages and the folders AFolders (whose pages come and go) and
// translates a page again after each change to its script or template, one line per page.
// Runs until the process is ended by a signal; INT, TERM and the like keep their action
// (the default, or the handler that removes temporary files and raises the signal again),
// so nothing here has to be told to stop. Returns only when watching fails (exit code 217).
int WatchSite(const TOptions& AOptions, std::vector<TSitePage> APages,
              std::vector<TSiteFolder> AFolders, std::ostream& AOut, std::ostream& AErr);

}  // namespace zoqc
