// Loads each file given in a tab of one headless Chromium and prints, a line per file, the
// value of the data-zoq-report attribute its page's checker sets on <html> once it has run (an
// empty line when it never does). One browser for every page of a test: starting Chromium is
// most of such a test's time.
"use strict";
const { launchChromium } = require("./chromium_pipe.js");

const kLimit = 20000;  // ms a page may take to report: a page that swallowed its checker fails

async function reportOf(ABrowser, AFile) {
  const { targetId } = await ABrowser.send("Target.createTarget", { url: "about:blank" });
  const { sessionId } = await ABrowser.send("Target.attachToTarget", { targetId, flatten: true });
  await ABrowser.send("Page.navigate", { url: "file://" + AFile }, sessionId);
  const ask = "[document.readyState, document.documentElement.getAttribute('data-zoq-report')]";
  for (const start = Date.now(); Date.now() - start < kLimit;) {
    const answer = await ABrowser.send("Runtime.evaluate", { expression: ask, returnByValue: true }, sessionId);
    const [state, report] = answer.result.value || [];
    if (report) return report;
    if (state === "complete") {  // loaded without a report: give the load handlers a moment
      await new Promise((resolve) => setTimeout(resolve, 500));
      const again = await ABrowser.send("Runtime.evaluate", { expression: ask, returnByValue: true }, sessionId);
      return (again.result.value || [])[1] || "";
    }
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
  return "";
}

(async () => {
  const browser = launchChromium();
  try {
    for (const file of process.argv.slice(2)) process.stdout.write((await reportOf(browser, file)) + "\n");
  } finally {
    await browser.close();
  }
})().catch((e) => { console.error(e.message); process.exit(2); });
