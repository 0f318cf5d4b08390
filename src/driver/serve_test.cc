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
