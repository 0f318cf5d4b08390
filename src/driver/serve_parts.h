// The parts of --serve that need no process: the address to serve on, the HTML of the error
// pages and the state the router reads.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace zoqc {

// Where PHP's development server listens: --serve=[HOST:]PORT.
struct TServeAddress {
  std::string Host = "127.0.0.1";  // a name or an address; an IPv6 address in brackets
  int Port = 8000;                 // 0: any free port, as the system picks it
};

// Reads AText, "PORT", "HOST:PORT" or "[IPV6]:PORT", into AAddress (an empty text keeps the
// defaults). False, with the reason in AError, for anything else.
[[nodiscard]] bool ParseServeAddress(std::string_view AText, TServeAddress& AAddress,
                                     std::string& AError);

// True when AHost can only be reached from this machine: "localhost", 127.0.0.0/8, [::1].
bool IsLoopbackHost(std::string_view AHost);

// AText with &, <, >, " and ' as HTML character references, and its control bytes but tab and
// line ends as U+FFFD: safe between tags and inside a quoted attribute.
std::string HtmlEscaped(std::string_view AText);

// What a terminal would show of AText, as HTML: escaped, with the colours of its SGR escape
// sequences ("\x1b[1;31m" ... "\x1b[0m") as <span class="..."> elements, other escape
// sequences dropped.
std::string TerminalHtml(std::string_view AText);

// What the router knows of one page.
struct TServedPage {
  std::uint64_t Version = 0;         // counts its translations: a change reloads it in the browser
  std::string Label;                 // its name, as the console names it
  bool Failed = false;               // its latest translation failed: the error page stands for it
  int Warnings = 0;                  // the warnings of its latest translation, shown in the browser
  std::string Said;                  // what the console showed of that translation, with colours
  std::vector<std::string> Sources;  // its script and template as "DEVICE:INODE": a hard link
                                     // to one is refused like the source itself
};

// The error page of a page whose latest translation failed: its diagnostics as the terminal
// shows them, everything escaped. The router adds the script that reloads it.
std::string ErrorPageHtml(const TServedPage& APage);

// The panel over a page whose latest translation warned: its warnings as the terminal shows
// them, everything escaped, with a button that closes it.
std::string WarningsPanelHtml(const TServedPage& APage);

// The state the router reads, as JSON: the generation (which changes with every change of the
// state), each page by its path under the document root ("blog/index.php"), and the sources
// of all of them by identity.
std::string ServeStateJson(std::uint64_t AGeneration,
                           const std::map<std::string, TServedPage>& APages);

}  // namespace zoqc
