// zoqc --init: a new site that works at once, laid out from the files built into zoqc.
#pragma once

#include <ostream>
#include <string_view>
#include <vector>

#include "src/driver/options.h"

namespace zoqc {

// A file of the new site: its path under the site's folder, and its bytes.
struct TSiteFile {
  std::string_view Name;
  std::string_view Bytes;
};

// The files of the new site (examples/site), in the order they are written.
const std::vector<TSiteFile>& NewSiteFiles();

// Lays out the site in the folder AOptions.Pages names (the current one without), writing
// over nothing: a file that exists already is a usage error, said before anything is written.
// Without a PHP to run (AOptions.Php), the project file leaves out "lint = true". Yields the
// exit code.
int RunInit(const TOptions& AOptions, std::ostream& AOut, std::ostream& AErr);

}  // namespace zoqc
