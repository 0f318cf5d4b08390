// The parts of --serve that need no process: addresses, HTML and the router's state.
#include "src/driver/serve_parts.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <sstream>
#include <system_error>

#include <nlohmann/json.hpp>

#include "src/platform/push_listener.h"

namespace zoqc {

namespace {

bool IsDigits(std::string_view AText) {
  if (AText.empty()) return false;
  for (const char c : AText)
    if (c < '0' || c > '9') return false;
  return true;
}

// A host name as PHP's server takes it: letters, digits, '-' and '.' (an IPv4 address too).
bool IsHostName(std::string_view AText) {
  if (AText.empty() || AText.size() > 253) return false;
  for (const char c : AText)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
          c == '.'))
      return false;
  return true;
}

// An IPv6 address in brackets: hexadecimal digits, ':' and '.' (an IPv4 tail).
bool IsBracketedIpv6(std::string_view AText) {
  if (AText.size() < 4 || AText.front() != '[' || AText.back() != ']') return false;
  for (const char c : AText.substr(1, AText.size() - 2))
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' ||
          c == '.'))
      return false;
  return AText.find(':') != std::string_view::npos;
}

// AText in lower case.
std::string Lowered(std::string_view AText) {
  std::string out(AText);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// AText without the blanks around it.
std::string_view Trimmed(std::string_view AText) {
  while (!AText.empty() && (AText.front() == ' ' || AText.front() == '\t')) AText.remove_prefix(1);
  while (!AText.empty() && (AText.back() == ' ' || AText.back() == '\t')) AText.remove_suffix(1);
  return AText;
}

// AText with its %XX escapes decoded into AOut; false for a broken one.
bool PercentDecoded(std::string_view AText, std::string& AOut) {
  AOut.clear();
  for (std::size_t at = 0; at < AText.size(); ++at) {
    if (AText[at] != '%') {
      AOut += AText[at];
      continue;
    }
    unsigned value = 0;
    if (at + 2 >= AText.size() ||
        std::from_chars(AText.data() + at + 1, AText.data() + at + 3, value, 16).ptr !=
            AText.data() + at + 3)
      return false;
    AOut += static_cast<char>(value);
    at += 2;
  }
  return true;
}

// The value of the parameter AName in the query AQuery ("a=1&b=2"), or nullopt.
std::optional<std::string_view> Parameter(std::string_view AQuery, std::string_view AName) {
  while (!AQuery.empty()) {
    const std::size_t amp = std::min(AQuery.find('&'), AQuery.size());
    const std::string_view pair = AQuery.substr(0, amp);
    if (pair.size() > AName.size() && pair.starts_with(AName) && pair[AName.size()] == '=')
      return pair.substr(AName.size() + 1);
    AQuery.remove_prefix(std::min(amp + 1, AQuery.size()));
  }
  return std::nullopt;
}

// A response of its own for a request zoqc's reload listener refuses.
TReloadAnswer Refusal(std::string_view AStatus, std::string_view AWhy) {
  return {"HTTP/1.1 " + std::string(AStatus) +
              "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
              std::to_string(AWhy.size() + 1) + "\r\nConnection: close\r\n\r\n" +
              std::string(AWhy) + "\n",
          false};
}

}  // namespace

bool ParseServeAddress(std::string_view AText, TServeAddress& AAddress, std::string& AError) {
  if (AText.empty()) return true;
  std::string_view host;
  std::string_view port = AText;
  const std::size_t colon = AText.rfind(':');
  if (colon != std::string_view::npos) {
    host = AText.substr(0, colon);
    port = AText.substr(colon + 1);
    if (host.find(':') != std::string_view::npos && !host.starts_with('[')) {
      AError = "--serve takes an IPv6 address in brackets ('[::1]:8000'), not '" +
               std::string(AText) + "'";
      return false;
    }
    if (!(host.starts_with('[') ? IsBracketedIpv6(host) : IsHostName(host))) {
      AError = "--serve takes [HOST:]PORT; '" + std::string(host) + "' is not a host";
      return false;
    }
  }
  int number = -1;
  if (IsDigits(port) && port.size() <= 5)
    std::from_chars(port.data(), port.data() + port.size(), number);
  if (number < 0 || number > 65535) {
    AError = "--serve takes [HOST:]PORT, the port a number from 0 to 65535, not '" +
             std::string(AText) + "'";
    return false;
  }
  if (!host.empty()) AAddress.Host = host;
  AAddress.Port = number;
  return true;
}

std::string OwnHosts(std::string_view ABound) {
  std::string bound = Lowered(ABound);
  while (bound.ends_with('.')) bound.pop_back();
  const bool any = bound == "0.0.0.0" || bound == "[::]";
  return "localhost 127.0.0.0/8 [::1]/128 [::ffff:127.0.0.0]/104" +
         (bound.empty() ? "" : " " + bound) + (any ? " 0.0.0.0/0 [::]/0" : "");
}

bool IsLoopbackHost(std::string_view AHost) { return IsOwnHost(AHost, "localhost"); }

bool IsOwnHost(std::string_view AHostHeader, std::string_view ABound) {
  const std::string host = Lowered(AHostHeader);
  std::string_view name = host;
  const std::size_t colon = name.rfind(':');
  if (colon != std::string_view::npos &&
      (!name.starts_with('[') || (colon > 0 && name[colon - 1] == ']'))) {
    const std::string_view port = name.substr(colon + 1);
    if (!IsDigits(port) || port.size() > 5) return false;
    name = name.substr(0, colon);
  }
  if (!(name.starts_with('[') ? IsBracketedIpv6(name) : IsHostName(name))) return false;
  const std::optional<std::string> address = AddressBytes(name);
  while (name.ends_with('.')) name.remove_suffix(1);
  // Each of the list is a name, or an address and the bits (whole bytes) of its prefix.
  std::istringstream hosts(OwnHosts(ABound));
  for (std::string own; hosts >> own;) {
    const std::size_t slash = std::min(own.find('/'), own.size());
    const std::optional<std::string> prefix = AddressBytes(own.substr(0, slash));
    const std::size_t bytes = slash < own.size() ? std::stoul(own.substr(slash + 1)) / 8 : 0;
    if (slash == own.size() ? name == own
                            : address && prefix && address->size() == prefix->size() &&
                                  address->compare(0, bytes, *prefix, 0, bytes) == 0)
      return true;
  }
  return false;
}

std::string HtmlEscaped(std::string_view AText) {
  std::string out;
  out.reserve(AText.size());
  for (const char c : AText) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      case '\t':
      case '\n':
      case '\r':
        out += c;
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
          out += "&#xFFFD;";
        else
          out += c;
    }
  }
  return out;
}

std::string TerminalHtml(std::string_view AText) {
  std::string out;
  bool open = false;  // a <span> of a colour is open
  std::size_t at = 0;
  while (at < AText.size()) {
    const std::size_t esc = AText.find('\x1b', at);
    out += HtmlEscaped(AText.substr(at, esc == std::string_view::npos ? esc : esc - at));
    if (esc == std::string_view::npos) break;
    // ESC "[" parameters, then one final byte from '@' to '~'; a lone ESC is dropped.
    std::size_t end = esc + 1;
    if (end < AText.size() && AText[end] == '[') {
      ++end;
      while (end < AText.size() && (AText[end] < '@' || AText[end] > '~')) ++end;
    }
    if (end >= AText.size()) break;
    const std::string_view params = AText.substr(esc + 2, end - esc - 2);
    if (AText[esc + 1] == '[' && AText[end] == 'm') {
      if (open) out += "</span>";
      open = !params.empty() && params != "0";
      if (open) {
        out += "<span class=\"";
        for (std::size_t from = 0; from <= params.size();) {
          const std::size_t semi = std::min(params.find(';', from), params.size());
          const std::string_view code = params.substr(from, semi - from);
          if (IsDigits(code)) out += (from == 0 ? "t" : " t") + std::string(code);
          from = semi + 1;
        }
        out += "\">";
      }
    }
    at = AText[esc + 1] == '[' ? end + 1 : esc + 1;
  }
  if (open) out += "</span>";
  return out;
}

std::string ErrorPageHtml(const TServedPage& APage) {
  const std::string title = HtmlEscaped(APage.Label) + ": translation failed";
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>" + title +
         "</title>\n<style>\n"
         "body{margin:0;background:#fff;color:#222;font:15px/1.4 system-ui,sans-serif}\n"
         ".zoqc{max-width:70em;margin:2em auto;padding:0 1.5em}\n"
         "h1{font-size:1.3em;color:#b00}\n"
         "pre{background:#1e1e1e;color:#ddd;padding:1em;overflow:auto;font:13px/1.45 "
         "ui-monospace,monospace;white-space:pre}\n"
         ".t1{font-weight:bold}.t31{color:#ff6b6b}.t32{color:#7ee787}.t35{color:#e08cff}"
         ".t36{color:#6cd4ff}\n"
         "</style></head>\n<body><div class=\"zoqc\">\n<h1>" +
         title +
         "</h1>\n<p>zoqc could not translate this page. What it said, as the terminal shows it "
         "(the page in the browser comes back by itself once its sources are fixed):</p>\n"
         "<pre id=\"zoqc-diagnostics\">" +
         TerminalHtml(APage.Said) + "</pre>\n</div></body></html>\n";
}

std::string WarningsPanelHtml(const TServedPage& APage) {
  const std::string count =
      std::to_string(APage.Warnings) + (APage.Warnings == 1 ? " warning" : " warnings");
  return "<div id=\"zoqc-warnings\" style=\"position:fixed;left:0;right:0;top:0;"
         "max-height:50vh;overflow:auto;z-index:2147483647;background:#fffbe6;color:#222;"
         "border-bottom:3px solid #d9a400;padding:0.6em 1.2em;font:14px/1.4 "
         "system-ui,sans-serif;text-align:left\">\n<style>#zoqc-warnings .t1{font-weight:bold}"
         "#zoqc-warnings .t31{color:#ff6b6b}#zoqc-warnings .t32{color:#7ee787}"
         "#zoqc-warnings .t35{color:#e08cff}#zoqc-warnings .t36{color:#6cd4ff}</style>\n"
         "<button type=\"button\" style=\"float:right\" "
         "onclick=\"this.parentNode.remove()\">close</button>\n"
         "<h2 style=\"font-size:1.1em;margin:0.2em 0;color:#8a5a00\">" +
         HtmlEscaped(APage.Label) + ": " + count +
         " from zoqc (the page on disk has no panel; it goes once they are fixed)</h2>\n"
         "<pre style=\"background:#1e1e1e;color:#ddd;padding:0.8em;margin:0.4em 0 0;overflow:auto;"
         "font:13px/1.45 ui-monospace,monospace;white-space:pre\">" +
         TerminalHtml(APage.Said) + "</pre>\n</div>\n";
}

std::string ServeStateJson(std::uint64_t AGeneration,
                           const std::map<std::string, TServedPage>& APages) {
  nlohmann::json pages = nlohmann::json::object();
  nlohmann::json sources = nlohmann::json::object();
  for (const auto& [path, page] : APages) {
    nlohmann::json entry = {{"v", page.Version}};
    entry["error"] = page.Failed ? nlohmann::json(ErrorPageHtml(page)) : nlohmann::json(nullptr);
    entry["warnings"] = !page.Failed && page.Warnings > 0 ? nlohmann::json(WarningsPanelHtml(page))
                                                          : nlohmann::json(nullptr);
    pages[path] = std::move(entry);
    for (const std::string& source : page.Sources) sources[source] = true;
  }
  const nlohmann::json state = {
      {"generation", AGeneration}, {"pages", std::move(pages)}, {"sources", std::move(sources)}};
  // A source line in another encoding than UTF-8 shows as U+FFFD rather than failing.
  return state.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

TReloadAnswer AnswerReload(std::string_view AHead, std::string_view ABound,
                           const TReloadBoard& ABoard, bool AAgain, bool AHoldHidden) {
  const std::size_t line_end = std::min(AHead.find("\r\n"), AHead.size());
  const std::string_view request = AHead.substr(0, line_end);
  std::optional<std::string_view> host;
  std::optional<std::string_view> origin;
  for (std::size_t at = line_end + 2; at < AHead.size();) {
    const std::size_t end = std::min(AHead.find("\r\n", at), AHead.size());
    const std::string_view header = AHead.substr(at, end - at);
    const std::size_t colon = header.find(':');
    if (colon != std::string_view::npos) {
      const std::string name = Lowered(header.substr(0, colon));
      const std::string_view value = Trimmed(header.substr(colon + 1));
      if (name == "host" && !host) host = value;
      if (name == "origin" && !origin) origin = value;
    }
    at = end + 2;
  }
  if (!host || !IsOwnHost(*host, ABound))
    return Refusal("421 Misdirected Request",
                   "This development server answers only for its own address.");
  // The script comes from the pages PHP's server sends, on another port: another origin, which
  // must be this machine's too.
  std::string_view origin_host = origin.value_or("");
  for (const std::string_view scheme : {"http://", "https://"})
    if (origin_host.starts_with(scheme)) origin_host.remove_prefix(scheme.size());
  if (origin && (origin_host.size() == origin->size() || !IsOwnHost(origin_host, ABound)))
    return Refusal("403 Forbidden", "Only the pages of this development server are answered.");

  constexpr std::string_view kGet = "GET ";
  const std::size_t version_at = request.rfind(" HTTP/1.");
  if (!request.starts_with(kGet) || version_at == std::string_view::npos ||
      version_at < kGet.size())
    return Refusal("400 Bad Request", "Not a request this server knows.");
  const std::string_view target = request.substr(kGet.size(), version_at - kGet.size());
  const std::size_t question = std::min(target.find('?'), target.size());
  const std::string_view query = target.substr(std::min(question + 1, target.size()));
  const auto page = Parameter(query, "page");
  const auto version = Parameter(query, "v");
  const auto generation = Parameter(query, "g");
  std::string key;
  std::uint64_t seen = 0;
  std::uint64_t served_from = 0;
  if (target.substr(0, question) != kReloadPath || !page || !version || !generation ||
      !PercentDecoded(*page, key) || !IsDigits(*version) || !IsDigits(*generation) ||
      std::from_chars(version->data(), version->data() + version->size(), seen).ec != std::errc() ||
      std::from_chars(generation->data(), generation->data() + generation->size(), served_from)
              .ec != std::errc())
    return Refusal("404 Not Found", "Nothing is served here but the pages' reloads.");

  // A board older than the page's state has not seen it yet: the page waits for the next.
  const auto found = ABoard.Versions.find(key);
  TReloadAnswer answer;
  answer.Hidden = Parameter(query, "hidden") == "1";
  answer.Current = served_from >= ABoard.Generation;
  answer.Due =
      ABoard.Generation >= served_from && (found == ABoard.Versions.end() || found->second != seen);
  const bool reload = answer.Due && !(answer.Hidden && AHoldHidden);
  if (!AAgain) {
    answer.Text =
        "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
        "Connection: close\r\n";
    if (origin) answer.Text += "Access-Control-Allow-Origin: " + std::string(*origin) + "\r\n";
    // Reconnected within a second when the connection breaks.
    answer.Text += "\r\nretry: 1000\n\n";
  }
  if (reload) answer.Text += "data: reload\n\n";
  answer.Wait = !reload;
  return answer;
}

}  // namespace zoqc
