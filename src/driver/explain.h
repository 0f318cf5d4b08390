// --explain: from places in a page (PHP's messages, a line asked about) back to the script and
// template lines behind them.
#pragma once

#include <cstddef>
#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>

#include "src/driver/options.h"

namespace zoqc {

// Gives the source place ("blog.zoq:30:5") behind line ALine of the page APath, with AHint the
// text PHP said it in; empty when there is none to give.
using TPlaceLookup =
    std::function<std::string(std::string_view APath, std::size_t ALine, std::string_view AHint)>;

// ALine (without its line end) with " [PLACE]" after every page location it holds: "in PATH on
// line N", a stack frame "#K PATH(N)" and "PATH:N", where PATH ends in ".php". Bytes elsewhere
// are kept as they are.
std::string ExplainLine(std::string_view ALine, const TPlaceLookup& ALookup);

// With page locations in AOptions.Pages ("page.php:45") prints the chain behind each; without,
// copies AIn to AOut line by line through ExplainLine. The sources of a page are found beside
// it, or with -r and -o under the -r folder at its path under the output folder; a page that
// differs from a fresh translation of them is stale and is not mapped. Yields the exit code.
int RunExplain(const TOptions& AOptions, std::istream& AIn, std::ostream& AOut, std::ostream& AErr);

}  // namespace zoqc
