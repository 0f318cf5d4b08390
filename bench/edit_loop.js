#!/usr/bin/env node
// The edit loop under zoqc --serve: from a save of a source to the open page reloaded in the
// browser. A copy of examples/site is served by `zoqc --serve` (PHP's development server,
// headless Chromium over its DevTools pipe); five tabs are open on its home page, the first in
// front; its template is saved again and again with a new heading, and each save is timed from
// the moment before the write to the moment each tab's reloaded page had its document
// (performance.timeOrigin + domContentLoadedEventEnd, on the clock of Date.now()). A round
// starts the server and the tabs afresh; with --baseline, the rounds of the two binaries take
// turns, so that both see the same machine.
//
//   node bench/edit_loop.js [--zoqc build-release/zoqc] [--baseline OTHER_ZOQC]
//                           [--saves 50] [--rounds 5] [--tabs 5] [--json FILE]
"use strict";
const { spawn } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");

const repo = path.resolve(__dirname, "..");
const { launchChromium } = require(path.join(repo, "tests/chromium_pipe.js"));

const options = { zoqc: path.join(repo, "build-release/zoqc"), baseline: "", saves: 50, rounds: 5,
  tabs: 5, json: "" };
for (let i = 2; i < process.argv.length; i += 2) {
  const name = process.argv[i].replace(/^--/, "");
  if (!(name in options) || i + 1 >= process.argv.length) {
    console.error("usage: edit_loop.js [--zoqc ZOQC] [--baseline ZOQC] [--saves N] [--rounds N] " +
      "[--tabs N] [--json FILE]");
    process.exit(2);
  }
  const value = process.argv[i + 1];
  options[name] = typeof options[name] === "number" ? Number(value) : value;
  if (name === "zoqc" || name === "baseline") options[name] = path.resolve(value);
}
const kCeiling = 15000;  // the longest one save may take to show in every tab

const sleep = (AMs) => new Promise((resolve) => setTimeout(resolve, AMs));

async function until(APredicate, AWhat, ACeiling = kCeiling) {
  const end = Date.now() + ACeiling;
  for (;;) {
    const value = await APredicate().catch(() => undefined);
    if (value) return value;
    if (Date.now() > end) throw new Error(`waited ${ACeiling} ms for ${AWhat}`);
    await sleep(20);
  }
}

// One round: zoqc ABinary serving a fresh copy of the site, ATabs tabs on its home page, ASaves
// saves of its template. Yields for each save the time to each tab's reloaded page, in ms.
async function round(ABrowser, ABinary, ATabs, ASaves) {
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), "zoqc-edit-loop-"));
  const site = path.join(scratch, "site");
  fs.cpSync(path.join(repo, "examples/site"), site, { recursive: true,
    filter: (AFrom) => path.basename(AFrom) !== "www" });
  const templatePath = path.join(site, "src/index.zot");
  const template = fs.readFileSync(templatePath, "utf8");
  const server = spawn(ABinary, ["--serve=127.0.0.1:0"], { cwd: site,
    env: { ...process.env, TMPDIR: scratch }, stdio: ["ignore", "pipe", "pipe"] });
  let out = "";
  server.stdout.on("data", (d) => (out += d));
  server.stderr.on("data", (d) => (out += d));
  const tabs = [];
  try {
    const url = (await until(async () => /on (http:\/\/\S+) /.exec(out), "the address", 60000))[1];
    await until(async () => out.includes("watching "), "the watch", 60000);
    for (let i = 0; i < ATabs; ++i) {
      const { targetId } = await ABrowser.send("Target.createTarget", { url: "about:blank" });
      const { sessionId } = await ABrowser.send("Target.attachToTarget", { targetId, flatten: true });
      const tab = { targetId, sessionId, loaded: 0 };
      tab.stop = ABrowser.on((AEvent) => {
        if (AEvent.sessionId === sessionId && AEvent.method === "Page.domContentEventFired") ++tab.loaded;
      });
      await ABrowser.send("Page.enable", {}, sessionId);
      tab.evaluate = async (AExpression) => (await ABrowser.send("Runtime.evaluate",
        { expression: AExpression, returnByValue: true }, sessionId)).result.value;
      await ABrowser.send("Page.navigate", { url: url + "index.php" }, sessionId);
      tabs.push(tab);
    }
    await ABrowser.send("Page.bringToFront", {}, tabs[0].sessionId);
    for (const tab of tabs)
      await until(() => tab.evaluate("document.readyState === 'complete' && " +
        "document.body.innerText.includes('Welcome')"), "the home page");
    await sleep(1500);  // every tab's reload script settled (the polling one's first timers run)
    const shownState = await Promise.all(tabs.map((tab) => tab.evaluate("document.visibilityState")));
    const saves = [];
    for (let save = 0; save < ASaves; ++save) {
      const heading = `Welcome ${save + 1}`;
      for (const tab of tabs) tab.seen = tab.loaded;
      const saved = Date.now();
      fs.writeFileSync(templatePath, template.replace("<h1>Welcome</h1>", `<h1>${heading}</h1>`));
      // Each tab is asked once it has loaded a document since the save (and now and then besides).
      const times = await Promise.all(tabs.map(async (tab) => {
        let asked = 0;
        const loadedAt = await until(async () => {
          if (tab.loaded === tab.seen && ++asked % 25 !== 0) return undefined;
          tab.seen = tab.loaded;
          return tab.evaluate(`document.readyState !== 'loading' && ` +
            `document.querySelector('h1').textContent === ${JSON.stringify(heading)} && ` +
            "performance.timeOrigin + performance.getEntriesByType('navigation')[0].domContentLoadedEventEnd");
        }, `'${heading}' in a tab`);
        return loadedAt - saved;
      }));
      saves.push(times);
      await sleep(150 + Math.random() * 200);  // a pause, at no fixed phase to a poll
    }
    // The floor: the tab in front reloaded by the browser alone, with no save, timed the same way.
    const reloads = [];
    for (let k = 0; k < ASaves; ++k) {
      const tab = tabs[0];
      tab.seen = tab.loaded;
      const asked = Date.now();
      await tab.evaluate("setTimeout(() => location.reload(), 0), true");
      const loadedAt = await until(async () => tab.loaded !== tab.seen && tab.evaluate(
        "document.readyState !== 'loading' && performance.timeOrigin + " +
        "performance.getEntriesByType('navigation')[0].domContentLoadedEventEnd"), "a reload");
      reloads.push(loadedAt - asked);
      await sleep(150 + Math.random() * 200);
    }
    const translated = [...out.matchAll(/index: translated in ([\d.]+) ms/g)].map((m) => Number(m[1]));
    return { saves, reloads, translated, shownState };
  } finally {
    for (const tab of tabs) {
      tab.stop();
      await ABrowser.send("Target.closeTarget", { targetId: tab.targetId }).catch(() => {});
    }
    server.kill("SIGTERM");
    await new Promise((resolve) => (server.exitCode !== null ? resolve() : server.on("exit", resolve)));
    fs.rmSync(scratch, { recursive: true, force: true });
  }
}

function quantile(ASorted, AQ) {
  return ASorted[Math.min(ASorted.length - 1, Math.floor(AQ * ASorted.length))];
}

function summary(AValues) {
  if (AValues.length === 0) return null;
  const sorted = [...AValues].sort((a, b) => a - b);
  return { n: sorted.length, median: quantile(sorted, 0.5), p90: quantile(sorted, 0.9),
    worst: sorted[sorted.length - 1], best: sorted[0] };
}

async function main() {
  const contestants = [["push", options.zoqc]];
  if (options.baseline) contestants.push(["baseline", options.baseline]);
  const results = Object.fromEntries(contestants.map(([name]) => [name,
    { front: [], behind: [], byTab: [], reloads: [], translated: [], shownState: [] }]));
  const loadBefore = os.loadavg();
  const browser = launchChromium();
  try {
    const perRound = Math.ceil(options.saves / options.rounds);
    for (let r = 0; r < options.rounds; ++r) {
      // Turns: in odd rounds the baseline goes first.
      const order = r % 2 === 0 ? contestants : [...contestants].reverse();
      for (const [name, binary] of order) {
        const count = Math.min(perRound, options.saves - r * perRound);
        if (count <= 0) continue;
        const { saves, reloads, translated, shownState } = await round(browser, binary, options.tabs, count);
        for (const times of saves) {
          results[name].front.push(times[0]);
          results[name].behind.push(...times.slice(1));
          times.forEach((t, i) => (results[name].byTab[i] = results[name].byTab[i] || []).push(t));
        }
        results[name].reloads.push(...reloads);
        results[name].translated.push(...translated.slice(-count));
        results[name].shownState = shownState;
        process.stderr.write(`round ${r + 1} ${name}: front median ` +
          `${summary(saves.map((t) => t[0])).median.toFixed(0)} ms\n`);
      }
    }
  } finally {
    await browser.close();
  }
  const loadAfter = os.loadavg();
  const report = { saves: options.saves, tabs: options.tabs, rounds: options.rounds,
    load: { before: loadBefore.map((l) => +l.toFixed(2)), after: loadAfter.map((l) => +l.toFixed(2)) } };
  const fmt = (s) => !s ? "none" : `median ${s.median.toFixed(0)} ms, p90 ${s.p90.toFixed(0)} ms, ` +
    `worst ${s.worst.toFixed(0)} ms (best ${s.best.toFixed(0)})`;
  console.log(`${options.saves} saves, ${options.tabs} tabs; load average ` +
    `${loadBefore[0].toFixed(2)} before, ${loadAfter[0].toFixed(2)} after`);
  for (const [name, binary] of contestants) {
    const r = results[name];
    report[name] = { binary, front: summary(r.front), behind: summary(r.behind),
      reload: summary(r.reloads),
      translated: summary(r.translated), visibility: r.shownState };
    console.log(`${name} (${binary}), tabs ${r.shownState.join("/")}:`);
    console.log(`  tab in front: ${fmt(report[name].front)}`);
    console.log(`  tabs behind:  ${fmt(report[name].behind)}`);
    console.log(`  the browser's own reload of the tab in front, no save: ${fmt(report[name].reload)}`);
    console.log(`  medians by tab: ${r.byTab.map((t) => summary(t).median.toFixed(0)).join(", ")} ms`);
    console.log(`  translation with lint, as zoqc says it: median ` +
      `${report[name].translated.median} ms`);
  }
  if (options.baseline) {
    const ratio = (a, b) => (b / a).toFixed(1);
    report.ratio = { front: +ratio(report.push.front.median, report.baseline.front.median),
      behind: report.push.behind && +ratio(report.push.behind.median, report.baseline.behind.median) };
    console.log(`baseline / push, medians: tab in front ${report.ratio.front}x, ` +
      `tabs behind ${report.ratio.behind}x`);
  }
  if (options.json) fs.writeFileSync(options.json, JSON.stringify(report, null, 1) + "\n");
}

main().catch((e) => {
  console.error(e.stack || String(e));
  process.exit(1);
});
