// examples/site as its user has it: "zoqc --serve" in the site's folder, with no other argument
// (the project file names the folders and turns escaping on), PHP's development server and
// Debian's headless Chromium over the DevTools protocol. The layout's include works, the
// stylesheet applies (computed style), the image loads, the list's block repeats, the form
// prints request data escaped, and an edit of the stylesheet shows without a restart.
//
//   node --test tests/site/site.test.js   (ZOQC: the binary; CHROMIUM: /usr/bin/chromium)
"use strict";
const assert = require("node:assert");
const { spawn } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const test = require("node:test");

const repo = path.resolve(__dirname, "../..");
const zoqc = path.resolve(process.env.ZOQC || path.join(repo, "build-release/zoqc"));
const { launchChromium } = require("../chromium_pipe.js");
const kCeiling = 60000;  // the longest any one event is waited for: the machine may be busy

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), "zoqc-site-test-"));
const site = path.join(scratch, "site");
fs.cpSync(path.join(repo, "examples/site"), site, {
  recursive: true,
  filter: (AFrom) => path.basename(AFrom) !== "www",  // a copy served from the repository
});

async function until(APredicate, AWhat) {
  const end = Date.now() + kCeiling;
  for (;;) {
    let value;
    try {
      value = await APredicate();
    } catch (e) {
      value = undefined;  // a page between two loads has no document to ask
    }
    if (value) return value;
    if (Date.now() > end) throw new Error(`waited ${kCeiling} ms for ${AWhat}`);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

// A tab of headless Chromium.
async function openTab() {
  const { send, close } = launchChromium();
  const { targetId } = await send("Target.createTarget", { url: "about:blank" });
  const { sessionId } = await send("Target.attachToTarget", { targetId, flatten: true });
  return {
    open: (AUrl) => send("Page.navigate", { url: AUrl }, sessionId),
    // The value of AExpression in the page shown, once it has loaded whole.
    evaluate: async (AExpression) => {
      const answer = await send("Runtime.evaluate", {
        expression: `document.readyState === 'complete' ? (${AExpression}) : undefined`,
        returnByValue: true,
      }, sessionId);
      if (answer.exceptionDetails) throw new Error(answer.exceptionDetails.text);
      return answer.result.value;
    },
    close,
  };
}

let server;
let out = "";
let url;
let tab;
test.before(async () => {
  server = spawn(zoqc, ["--serve=127.0.0.1:0"], { cwd: site });
  server.stdout.on("data", (d) => (out += d));
  server.stderr.on("data", (d) => (out += d));
  url = (await until(() => /on (http:\/\/\S+) /.exec(out), "the URL"))[1];
  await until(() => out.includes("watching "), "the watch");
  tab = await openTab();
});
test.after(async () => {
  if (tab) await tab.close();
  if (server && server.exitCode === null) {
    server.kill("SIGTERM");
    await new Promise((resolve) => server.on("exit", resolve));
  }
  fs.rmSync(scratch, { recursive: true, force: true });
});

test("the home page has its layout, stylesheet, image and list", async () => {
  assert.match(out, /serving www on /, "the project's out folder is served");
  await tab.open(url + "index.php");
  await until(() => tab.evaluate("document.querySelector('h1') !== null"), "the home page");
  // The layout came through the include of src/lib/layout.php.
  assert.strictEqual(await tab.evaluate("document.title"), "My site");
  assert.strictEqual(await tab.evaluate("document.querySelectorAll('header.site nav a').length"), 2);
  // The stylesheet applies; the image loads.
  await until(async () => (await tab.evaluate(
    "getComputedStyle(document.querySelector('header.site')).backgroundColor")) ===
    "rgb(34, 68, 102)", "the stylesheet's header colour");
  await until(() => tab.evaluate(
    "(i => i.complete && i.naturalWidth === 32)(document.querySelector('header.site img'))"),
  "the logo loaded");
  // The block repeats once a note, each value escaped where it stands.
  const notes = await tab.evaluate(
    "[...document.querySelectorAll('ul.notes li')].map((li) => li.textContent)");
  assert.strictEqual(notes.length, 3);
  assert.match(notes[2], /^Fish & <chips> Every \{name\}/);
});

test("the form prints what it is sent, escaped", async () => {
  const name = `<b id="x">Ann</b> & "Bo"`;
  await tab.open(url + "hello.php?name=" + encodeURIComponent(name));
  const shown = await until(() => tab.evaluate(
    "[document.querySelector('span.name').textContent, document.querySelector('input').value," +
    " document.getElementById('x') === null]"), "the greeting");
  assert.deepStrictEqual(shown, [name, name, true]);
});

test("an edit of the stylesheet shows without a restart", async () => {
  const css = path.join(site, "src/style.css");
  fs.writeFileSync(css, fs.readFileSync(css, "utf8").replace("background: #246", "background: #642"));
  await until(async () => {
    await tab.open(url + "index.php");
    return (await until(() => tab.evaluate(
      "getComputedStyle(document.querySelector('header.site')).backgroundColor"), "the page")) ===
      "rgb(102, 68, 34)";
  }, "the new header colour");
});
