// The playground in a real browser: Debian's Chromium, headless, driven over the DevTools
// protocol. A session as a user has it: open the page, choose the blog example, see the native
// page's bytes, type a mistake, see its diagnostic under its line, apply its fix-it, switch a line
// end and follow a share link. Saves a screenshot (ZOQC_ARTIFACTS, build-web/artifacts) and
// reports the time to the first translation and per translation.
//
//   node --test web/tests/browser.test.js   (ZOQC, ZOQC_SITE as for same_bytes.test.js;
//                                            CHROMIUM: the browser, /usr/bin/chromium)
"use strict";
const assert = require("node:assert");
const { spawnSync } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const test = require("node:test");

const puppeteer = require("puppeteer-core");
const { serve } = require("../serve.js");

const repo = path.resolve(__dirname, "../..");
const native = path.resolve(process.env.ZOQC || path.join(repo, "build-release/zoqc"));
const site = path.resolve(process.env.ZOQC_SITE || path.join(repo, "build-web/site"));
const artifacts = path.resolve(process.env.ZOQC_ARTIFACTS || path.join(repo, "build-web/artifacts"));
const blogScript = fs.readFileSync(path.join(repo, "examples/blog/blog.zoq"), "utf8");
const blogTemplate = fs.readFileSync(path.join(repo, "examples/blog/blog.zot"), "utf8");

let server;
let browser;
let profile;
let page;
test.before(async () => {
  server = await serve(site);
  profile = fs.mkdtempSync(path.join(os.tmpdir(), "zoqc-chromium-"));
  browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    headless: true,
    userDataDir: profile,
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
  page = await browser.newPage();
  await page.setViewport({ width: 1400, height: 900 });
}, { timeout: 120000 });
test.after(async () => {
  if (browser) await browser.close();
  if (server) server.close();
  fs.rmSync(profile, { recursive: true, force: true });
});

// What the native zoqc writes and says for the page blog with this script.
function nativeBlog(AScript) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "zoqc-blog-"));
  fs.writeFileSync(path.join(dir, "blog.zoq"), AScript);
  fs.writeFileSync(path.join(dir, "blog.zot"), blogTemplate);
  const run = spawnSync(native, ["-q", "--diagnostics-format=json", "blog"],
                        { cwd: dir, timeout: 60000 });  // a native run that hangs fails
  const file = path.join(dir, "blog.php");
  const result = { page: fs.existsSync(file) ? fs.readFileSync(file) : null,
                   diagnostics: JSON.parse(run.stderr.toString()) };
  fs.rmSync(dir, { recursive: true });
  return result;
}

// The bytes behind the page's download link.
async function downloaded(APage = page) {
  return Buffer.from(await APage.evaluate(async () => {
    const response = await fetch(document.getElementById("download").href);
    return Array.from(new Uint8Array(await response.arrayBuffer()));
  }));
}

const shownPage = (APage = page) => APage.evaluate(() => playground.output.getValue());
const translations = () => page.evaluate(() => playground.translations);
const nextTranslation = (ACount) =>
  page.waitForFunction((n) => playground.translations > n, {}, ACount);

// The middle of the end of line ALine (0-based) of the script editor, on the screen, once the
// line is scrolled to the editor's upper third, where what shows under it stays in view.
function endOfLine(ALine) {
  return page.evaluate((line) => {
    const editor = playground.inputs.script.editor;
    const height = editor.getScrollInfo().clientHeight;
    editor.scrollTo(null, editor.heightAtLine(line, "local") - height / 3);
    const at = editor.charCoords({ line, ch: editor.getLine(line).length }, "window");
    return { x: at.left + 1, y: (at.top + at.bottom) / 2 };
  }, ALine);
}

test("the page opens and translates its first example", async (t) => {
  await page.goto(`http://127.0.0.1:${server.address().port}/`);
  await page.waitForFunction(() => window.playground && playground.translations > 0);
  assert.match(await page.$eval("#status", (e) => e.textContent), /^Compile sucessful\./);
  const opened = await page.evaluate(() => playground.firstTranslationAt);
  t.diagnostic(`from opening the page to the first translation: ${opened.toFixed(0)} ms`);
});

test("the blog example shows the native page, byte for byte", async (t) => {
  const count = await translations();
  await page.select("#example", "blog");
  await nextTranslation(count);
  const want = nativeBlog(blogScript).page;
  assert.strictEqual(await shownPage(), want.toString("utf8"));
  assert.deepStrictEqual(await downloaded(), want);
  assert.strictEqual(await page.$eval("#download", (e) => e.download), "blog.php");

  // Measured once the engine has compiled the module's busy functions fully, as on a page in use.
  const perTranslation = await page.evaluate((script, template) => {
    const runs = 2000;
    for (let i = 0; i < runs; i++) playground.zoqc.translate("blog", script, template);
    const started = performance.now();
    for (let i = 0; i < runs; i++) playground.zoqc.translate("blog", script, template);
    return (performance.now() - started) / runs;
  }, blogScript, blogTemplate);
  t.diagnostic(`time per translation of the blog example: ${(perTranslation * 1000).toFixed(0)} µs`);
});

test("a mistake shows its diagnostic under its line, and its fix-it mends it", async () => {
  const line = blogScript.split("\n").indexOf("<<+link");
  const want = nativeBlog(blogScript.replace("<<+link\n", "<<+links\n")).diagnostics;
  assert.strictEqual(want.length, 1);

  let count = await translations();
  const at = await endOfLine(line);
  await page.mouse.click(at.x + 40, at.y);  // past the line's end: the cursor goes to its end
  await page.keyboard.type("s");
  await nextTranslation(count);
  const shown = await page.evaluate((line) => {
    const boxes = document.querySelectorAll("#script .diag:not(.note)");
    const editor = playground.inputs.script.editor;
    return {
      count: boxes.length,
      text: boxes[0].textContent,
      gap: boxes[0].getBoundingClientRect().top - editor.charCoords({ line, ch: 0 }, "window").bottom,
      line: editor.getLine(line),
    };
  }, line);
  assert.strictEqual(shown.line, "<<+links");
  assert.strictEqual(shown.count, 1);
  assert.ok(shown.text.startsWith(`warning: ${want[0].message} [-W${want[0].warning}]`), shown.text);
  assert.ok(Math.abs(shown.gap) < 6, `the diagnostic stands ${shown.gap}px below its line`);

  fs.mkdirSync(artifacts, { recursive: true });
  await page.screenshot({ path: path.join(artifacts, "playground.png") });

  count = await translations();
  await page.click("#script .diag button.fix");
  await nextTranslation(count);
  assert.strictEqual(await page.evaluate((l) => playground.inputs.script.editor.getLine(l), line),
                     "<<+link");
  assert.strictEqual(await page.$$eval(".diag:not(.note)", (boxes) => boxes.length), 0);
  assert.deepStrictEqual(await downloaded(), nativeBlog(blogScript).page);
});

test("a share link carries both inputs and their line ends", async () => {
  const count = await translations();
  await page.click("#script-eol");
  await nextTranslation(count);
  assert.strictEqual(await page.$eval("#script-eol", (e) => e.textContent), "CR LF");
  const want = nativeBlog(blogScript.replace(/\n/g, "\r\n")).page;
  assert.deepStrictEqual(await downloaded(), want);

  await page.click("#share");
  const link = await page.$eval("#share-link", (e) => e.value);
  const other = await browser.newPage();
  await other.goto(link);
  await other.waitForFunction(() => window.playground && playground.translations > 0);
  assert.deepStrictEqual(await downloaded(other), want);
  assert.strictEqual(await shownPage(other), want.toString("utf8"));
  assert.strictEqual(await other.$eval("#script-file", (e) => e.textContent), "blog.zoq");
  await other.close();
});
