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

// The hosts that name this machine for a server listening on ABound, the one list that zoqc's
// reload listener and the router (handed it) both go by, separated by blanks: names (ABound,
// localhost) and addresses with the prefix that counts ("127.0.0.0/8", "[::1]/128", IPv4 on
// IPv6 "[::ffff:127.0.0.0]/104"); when ABound is every interface ("0.0.0.0", "[::]"), every
// address. A name a foreign site has rebound to this machine never is.
std::string OwnHosts(std::string_view ABound);

// True when AHostHeader (a Host header: a name or an address, then maybe ":PORT") is one of
// OwnHosts(ABound).
bool IsOwnHost(std::string_view AHostHeader, std::string_view ABound);

// True when AHost can only be reached from this machine: localhost or a loopback address.
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

// What zoqc's reload listener tells the pages open in the browser from: the state's generation
// and each page's version, by its path under the document root.
struct TReloadBoard {
  std::uint64_t Generation = 0;
  std::map<std::string, std::uint64_t> Versions;
};

// The path the pages' reload script asks zoqc's reload listener at, with "?page=PATH&v=VERSION
// &g=GENERATION" (what the page was served from).
inline constexpr std::string_view kReloadPath = "/__zoqc__/events";

// zoqc's answer to a page waiting for its reload: an event stream that says "reload" once the
// page's version on the board is not the one it was served with (or the page is gone), and
// waits while the board is older than the state the page was served from.
struct TReloadAnswer {
  std::string Text;   // the bytes to send
  bool Wait = false;  // the connection stays open, to be asked again when the board changes
  // For the order the pages reload in:
  bool Hidden = false;   // the page is in a tab the browser does not show ("&hidden=1")
  bool Due = false;      // its page changed since it was served: it reloads, or is held back
  bool Current = false;  // it was served from the board's state or a newer one
};
// AHead: the request up to its blank line; ABound: the host listened on. The first time
// (AAgain false) the answer is the response's head and what the board says already; a request
// for a foreign host (421), from a foreign page (403) or for anything else (404) is refused.
// Asked again, it is the event, or nothing while the page waits on. AHoldHidden: a hidden page
// that is due waits on, for the tabs shown to reload first.
TReloadAnswer AnswerReload(std::string_view AHead, std::string_view ABound,
                           const TReloadBoard& ABoard, bool AAgain, bool AHoldHidden = false);

}  // namespace zoqc
