// The parts of --serve that need no process: addresses, escaping, the error page, the state.
#include "src/driver/serve_parts.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace zoqc {
namespace {

// "HOST PORT", or "error: REASON".
std::string Address(std::string_view AText) {
  TServeAddress address;
  std::string error;
  if (!ParseServeAddress(AText, address, error)) return "error: " + error;
  return address.Host + " " + std::to_string(address.Port);
}

TEST(ServeAddress, Forms) {
  EXPECT_EQ("127.0.0.1 8000", Address(""));          // the default
  EXPECT_EQ("127.0.0.1 8080", Address("8080"));      // a port alone: loopback
  EXPECT_EQ("0.0.0.0 80", Address("0.0.0.0:80"));    // any address, when named
  EXPECT_EQ("localhost 0", Address("localhost:0"));  // 0: a free port
  EXPECT_EQ("[::1] 9000", Address("[::1]:9000"));    // IPv6 in brackets
  EXPECT_EQ("error: --serve takes an IPv6 address in brackets ('[::1]:8000'), not '::1:80'",
            Address("::1:80"));
  EXPECT_NE(std::string::npos, Address("65536").find("error:"));       // past the last port
  EXPECT_NE(std::string::npos, Address("host:").find("error:"));       // no port
  EXPECT_NE(std::string::npos, Address("a b:80").find("error:"));      // no host has a blank
  EXPECT_NE(std::string::npos, Address("-S:80 x").find("error:"));     // nor reads as options
  EXPECT_NE(std::string::npos, Address("[::1;x]:80").find("error:"));  // brackets hold hex
}

TEST(ServeAddress, Loopback) {
  EXPECT_TRUE(IsLoopbackHost("127.0.0.1"));
  EXPECT_TRUE(IsLoopbackHost("127.1.2.3"));  // the whole of 127.0.0.0/8
  EXPECT_TRUE(IsLoopbackHost("localhost"));
  EXPECT_TRUE(IsLoopbackHost("[::1]"));
  EXPECT_FALSE(IsLoopbackHost("0.0.0.0"));         // every interface
  EXPECT_FALSE(IsLoopbackHost("127.0.0.1.evil"));  // a name that starts like one
  EXPECT_FALSE(IsLoopbackHost("192.168.1.5"));
  EXPECT_FALSE(IsLoopbackHost("[::]"));
  EXPECT_TRUE(IsLoopbackHost("[::ffff:127.0.0.1]"));  // IPv4 on IPv6, as the router took it
  EXPECT_TRUE(IsLoopbackHost("[0:0:0:0:0:0:0:1]"));
  EXPECT_FALSE(IsLoopbackHost("127.0.0.01"));  // not an address: a browser never sends it
  EXPECT_EQ("localhost 127.0.0.0/8 [::1]/128 [::ffff:127.0.0.0]/104 dev.box", OwnHosts("Dev.Box."));
}

TEST(ServeAddress, OwnHost) {
  const struct {
    const char* Header;
    const char* Bound;
    bool Own;
  } cases[] = {
      {"127.0.0.1:8000", "127.0.0.1", true},
      {"LocalHost.:8000", "127.0.0.1", true},  // any case, the root's dot
      {"127.0.0.5", "127.0.0.1", true},        // no port, another loopback address
      {"[::1]:9", "127.0.0.1", true},
      {"dev.box:8000", "dev.box", true},          // the name listened on
      {"rebound.test:8000", "127.0.0.1", false},  // a name rebound to this machine
      {"127.0.0.1.rebound.test", "127.0.0.1", false},
      {"192.168.1.5:8000", "127.0.0.1", false},
      {"192.168.1.5:8000", "0.0.0.0", true},  // every interface: addresses too, by a phone
      {"[fe80::1]:8000", "[::]", true},
      {"[::ffff:7f00:1]:8000", "[::]", true},
      {"[1::2::3]:8000", "[::]", false},  // not an address
      {"[1:2]:8000", "[::]", false},
      {"[1:2:3:4:5:6:7:8:9]:8000", "[::]", false},
      {"[::ffff:192.168.1.5]:8000", "127.0.0.1", false},
      {"[::2]:8000", "127.0.0.1", false},
      {"rebound.test:8000", "0.0.0.0", false},  // but never a name
      {"127.0.0.1:80x", "127.0.0.1", false},    // a port is digits
      {"::1", "127.0.0.1", false},              // IPv6 only in brackets
      {"", "127.0.0.1", false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Own, IsOwnHost(c.Header, c.Bound)) << c.Header;
}

// The request the reload script sends for APage, at AVersion and AGeneration, with AHeaders.
std::string ReloadRequest(std::string_view APage, std::string_view AQuery,
                          std::string_view AHeaders =
                              "Host: 127.0.0.1:4000\r\n"
                              "Origin: http://127.0.0.1:8000\r\n") {
  return "GET /__zoqc__/events?page=" + std::string(APage) + std::string(AQuery) + " HTTP/1.1\r\n" +
         std::string(AHeaders) + "\r\n";
}

TEST(ServeReload, TellsThePageOnceItChanged) {
  const TReloadBoard board{5, {{"blog.php", 3}, {"a b/index.php", 1}}};
  // The page as served: it waits, the stream open for the page's own origin.
  TReloadAnswer answer =
      AnswerReload(ReloadRequest("blog.php", "&v=3&g=5"), "127.0.0.1", board, false);
  EXPECT_TRUE(answer.Wait);
  EXPECT_TRUE(answer.Text.starts_with("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n"));
  EXPECT_NE(std::string::npos,
            answer.Text.find("\r\nAccess-Control-Allow-Origin: http://127.0.0.1:8000\r\n"));
  EXPECT_TRUE(answer.Text.ends_with("\r\n\r\nretry: 1000\n\n"));
  answer = AnswerReload(ReloadRequest("blog.php", "&v=3&g=5"), "127.0.0.1", board, true);
  EXPECT_TRUE(answer.Wait);
  EXPECT_EQ("", answer.Text);
  // Translated again, failed or gone: told at once, and the connection closes.
  for (const std::string& request :
       {ReloadRequest("blog.php", "&v=2&g=4"), ReloadRequest("gone.php", "&v=1&g=5"),
        ReloadRequest("a%20b%2Findex.php", "&v=0&g=5")}) {
    answer = AnswerReload(request, "127.0.0.1", board, true);
    EXPECT_FALSE(answer.Wait) << request;
    EXPECT_EQ("data: reload\n\n", answer.Text) << request;
    EXPECT_TRUE(AnswerReload(request, "127.0.0.1", board, false)
                    .Text.ends_with("retry: 1000\n\ndata: reload\n\n"));
  }
  // A tab the browser hides is held back while the tabs shown reload first.
  const std::string hidden = ReloadRequest("blog.php", "&v=2&g=4&hidden=1");
  answer = AnswerReload(hidden, "127.0.0.1", board, true, true);
  EXPECT_TRUE(answer.Wait && answer.Hidden && answer.Due);
  EXPECT_EQ("", answer.Text);
  EXPECT_EQ("data: reload\n\n", AnswerReload(hidden, "127.0.0.1", board, true, false).Text);
  answer = AnswerReload(ReloadRequest("blog.php", "&v=2&g=4"), "127.0.0.1", board, true, true);
  EXPECT_TRUE(!answer.Wait && !answer.Hidden && answer.Due && !answer.Current);  // shown: now
  answer = AnswerReload(ReloadRequest("blog.php", "&v=3&g=5"), "127.0.0.1", board, false, true);
  EXPECT_TRUE(answer.Wait && !answer.Due && answer.Current);  // a tab back with the new page
  // Served from a state the board has not caught up with: it waits for the board.
  EXPECT_TRUE(AnswerReload(ReloadRequest("blog.php", "&v=4&g=6"), "127.0.0.1", board, true).Wait);
  EXPECT_TRUE(AnswerReload(ReloadRequest("new.php", "&v=1&g=6"), "127.0.0.1", board, true).Wait);
}

TEST(ServeReload, RefusesWhatIsNoWaitOfThisMachine) {
  const TReloadBoard board{5, {{"blog.php", 3}}};
  const struct {
    std::string Request;
    const char* Status;
  } cases[] = {
      {ReloadRequest("blog.php", "&v=3&g=5", "Host: rebound.test:4000\r\n"), "421"},
      {ReloadRequest("blog.php", "&v=3&g=5", "Origin: http://127.0.0.1:8000\r\n"), "421"},
      {ReloadRequest("blog.php", "&v=3&g=5",
                     "Host: 127.0.0.1:4000\r\nOrigin: http://evil.test\r\n"),
       "403"},
      {ReloadRequest("blog.php", "&v=3&g=5", "Host: 127.0.0.1:4000\r\nOrigin: null\r\n"), "403"},
      {ReloadRequest("blog.php", "&v=3", "Host: 127.0.0.1:4000\r\n"), "404"},
      {ReloadRequest("blog.php", "&v=-3&g=5", "Host: 127.0.0.1:4000\r\n"), "404"},
      {ReloadRequest("blog%2.php", "&v=3&g=5", "Host: 127.0.0.1:4000\r\n"), "404"},
      {"GET /blog.php HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", "404"},
      {"POST /__zoqc__/events?page=blog.php&v=3&g=5 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", "400"},
  };
  for (const auto& c : cases) {
    const TReloadAnswer answer = AnswerReload(c.Request, "127.0.0.1", board, false);
    EXPECT_FALSE(answer.Wait) << c.Request;
    EXPECT_TRUE(answer.Text.starts_with(std::string("HTTP/1.1 ") + c.Status)) << c.Request;
    EXPECT_EQ(std::string::npos, answer.Text.find("Access-Control")) << c.Request;
  }
}

TEST(ServeHtml, Escaped) {
  EXPECT_EQ("&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;",
            HtmlEscaped("<script>alert(\"x\")</script>"));
  EXPECT_EQ("a=&#39;1&#39; &amp;amp;", HtmlEscaped("a='1' &amp;"));  // quotes of attributes
  EXPECT_EQ("a&#xFFFD;b\tc\r\n", HtmlEscaped("a\x01"
                                             "b\tc\r\n"));  // controls but line ends
}

TEST(ServeHtml, TerminalColours) {
  EXPECT_EQ("<span class=\"t1 t31\">error:</span> x", TerminalHtml("\x1b[1;31merror:\x1b[0m x"));
  EXPECT_EQ("<span class=\"t1\">a</span><span class=\"t32\">b</span>",  // one span at a time
            TerminalHtml("\x1b[1ma\x1b[32mb"));
  EXPECT_EQ("ab", TerminalHtml("a\x1b[2Kb"));  // other sequences dropped
  EXPECT_EQ("axb", TerminalHtml("a\x1b"
                                "xb"));      // a lone ESC: only it goes
  EXPECT_EQ("a", TerminalHtml("a\x1b[31"));  // cut short at the end
  EXPECT_EQ("<span class=\"t36\">&lt;b&gt;</span>", TerminalHtml("\x1b[36m<b>"));  // closed
}

TEST(ServeHtml, ErrorPageShowsNoMarkupOfTheSources) {
  TServedPage page;
  page.Label = "<img src=x onerror=alert(1)>";
  page.Failed = true;
  page.Said = "blog.zoq:2:1: \x1b[1;31merror:\x1b[0m need <<\n <<x</script><script>alert(2)\n";
  const std::string html = ErrorPageHtml(page);
  EXPECT_EQ(std::string::npos, html.find("<img"));
  EXPECT_EQ(std::string::npos, html.find("</script>"));
  EXPECT_EQ(std::string::npos, html.find("<script>"));
  EXPECT_NE(std::string::npos, html.find("&lt;/script&gt;&lt;script&gt;alert(2)"));
  EXPECT_NE(std::string::npos, html.find("<span class=\"t1 t31\">error:</span> need &lt;&lt;"));
}

TEST(ServeState, PagesByPath) {
  TServedPage ok;
  ok.Version = 3;
  ok.Sources = {"2049:11", "2049:12"};
  TServedPage bad;
  bad.Version = 1;
  bad.Failed = true;
  bad.Warnings = 1;        // a failed page shows its error page, never the panel
  bad.Said = "caf\xe9\n";  // not UTF-8: shown as U+FFFD, never a failure
  bad.Sources = {"2049:13"};
  TServedPage warned;
  warned.Label = "w<b>";
  warned.Warnings = 2;
  warned.Said = "w.zoq:2:1: \x1b[1;35mwarning:\x1b[0m x\n<<price<<\n";
  const nlohmann::json state = nlohmann::json::parse(
      ServeStateJson(7, {{"a/index.php", ok}, {"b.php", bad}, {"w.php", warned}}));
  EXPECT_EQ(7, state["generation"]);
  EXPECT_EQ(3, state["pages"]["a/index.php"]["v"]);
  EXPECT_TRUE(state["pages"]["a/index.php"]["error"].is_null());
  EXPECT_TRUE(state["pages"]["a/index.php"]["warnings"].is_null());
  EXPECT_NE(std::string::npos,
            state["pages"]["b.php"]["error"].get<std::string>().find("caf\xef\xbf\xbd"));
  EXPECT_TRUE(state["pages"]["b.php"]["warnings"].is_null());
  EXPECT_TRUE(state["pages"]["w.php"]["error"].is_null());
  const std::string panel = state["pages"]["w.php"]["warnings"].get<std::string>();
  EXPECT_NE(std::string::npos, panel.find("w&lt;b&gt;: 2 warnings"));
  EXPECT_NE(std::string::npos,
            panel.find("<span class=\"t1 t35\">warning:</span> x\n&lt;&lt;price"));
  EXPECT_EQ(nlohmann::json({{"2049:11", true}, {"2049:12", true}, {"2049:13", true}}),
            state["sources"]);
}

}  // namespace
}  // namespace zoqc
