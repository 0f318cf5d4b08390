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

// What the native zoqc writes and says for the page ANAME with this script and template.
function nativePage(AName, AScript, ATemplate) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "zoqc-blog-"));
  fs.writeFileSync(path.join(dir, AName + ".zoq"), AScript);
  fs.writeFileSync(path.join(dir, AName + ".zot"), ATemplate);
  const run = spawnSync(native, ["-q", "--diagnostics-format=json", AName],
                        { cwd: dir, timeout: 60000 });  // a native run that hangs fails
  const file = path.join(dir, AName + ".php");
  const result = { page: fs.existsSync(file) ? fs.readFileSync(file) : null,
                   diagnostics: JSON.parse(run.stderr.toString()) };
  fs.rmSync(dir, { recursive: true });
  return result;
}
const nativeBlog = (AScript) => nativePage("blog", AScript, blogTemplate);

// The bytes behind the page's download link.
async function downloaded(APage = page) {
  return Buffer.from(await APage.evaluate(async () => {
    const response = await fetch(document.getElementById("download").href);
    return Array.from(new Uint8Array(await response.arrayBuffer()));
  }));
}

const shownPage = (APage = page) => APage.evaluate(() => playground.output.getValue());
// Clicks "Share link" and yields the link once it is made.
async function share() {
  await page.click("#share");
  await page.waitForFunction(() => document.getElementById("share-link").value.startsWith("http"));
  return page.$eval("#share-link", (e) => e.value);
}
// Waits until the share box holds a link other than AOld, and yields it.
async function nextLink(AOld) {
  await page.waitForFunction((old) => {
    const value = document.getElementById("share-link").value;
    return value !== old && value.startsWith("http");
  }, {}, AOld);
  return page.$eval("#share-link", (e) => e.value);
}
// Types AText at the end of line ALine (0-based) of the editor AInput ("script", "template"),
// as the page's own edits: CodeMirror's input, one change a character, in one task.
function typeInto(AInput, ALine, AText) {
  return page.evaluate((input, line, text) => {
    const editor = playground.inputs[input].editor;
    for (const ch of text)
      editor.replaceRange(ch, { line, ch: editor.getLine(line).length }, undefined, "+input");
  }, AInput, ALine, AText);
}
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
  assert.strictEqual(await page.$eval("#status", (e) => e.className), "warning");  // not green

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

  const link = await share();
  const other = await browser.newPage();
  await other.goto(link);
  await other.waitForFunction(() => window.playground && playground.translations > 0);
  assert.deepStrictEqual(await downloaded(other), want);
  assert.strictEqual(await shownPage(other), want.toString("utf8"));
  assert.strictEqual(await other.$eval("#script-file", (e) => e.textContent), "blog.zoq");
  await other.close();
});

test("a share link follows later edits, and a reload keeps them", { timeout: 60000 }, async () => {
  const first = await share();
  const line = blogScript.split("\n").indexOf("<<+link");
  await typeInto("script", line, "s");  // "<<+links": a warning, in the link too
  const second = await nextLink(first);
  assert.ok(page.url() === second, "the address bar holds the newer link");
  await page.reload();
  await page.waitForFunction(() => window.playground && playground.translations > 0);
  assert.strictEqual(await page.evaluate((l) => playground.inputs.script.editor.getLine(l), line),
                     "<<+links");
});

test("a 1 MB template: a compressed link, one translation for a burst of typing", { timeout: 120000 }, async (t) => {
  const row = "<p class=\"entry\">{title} and {tagline}, once more</p>\n";
  const template = row.repeat(Math.ceil((1 << 20) / row.length));
  const script = blogScript;
  await page.select("#example", "blog");
  await page.evaluate((text) => playground.inputs.template.editor.setValue(text), template);
  await page.waitForFunction((size) => playground.last && playground.output.getValue().length > size,
                             {}, template.length);
  const before = await translations();
  await typeInto("template", 0, "0123456789");
  await page.waitForFunction((n) => playground.translations > n, {}, before);
  await new Promise((resolve) => setTimeout(resolve, 600));  // any translation still to come
  const count = (await translations()) - before;
  assert.ok(count <= 2, `${count} translations for 10 keystrokes`);
  const typed = template.replace("\n", "0123456789\n");
  assert.deepStrictEqual(await downloaded(), nativePage("blog", script, typed).page);

  // Real keys, for the timing only.
  await page.evaluate(() => {
    const editor = playground.inputs.template.editor;
    editor.setCursor({ line: 0, ch: editor.getLine(0).length });
    editor.focus();
  });
  const started = Date.now();
  await page.keyboard.type("abcdefghij");
  t.diagnostic(`a keystroke in a 1 MB template: ${((Date.now() - started) / 10).toFixed(0)} ms`);

  const startedLink = Date.now();
  const link = await share();
  t.diagnostic(`share link of the 1 MB page: ${link.length} characters in ${Date.now() - startedLink} ms`);
  assert.ok(link.length < template.length / 10, `a link of ${link.length} characters`);
  const other = await browser.newPage();
  await other.goto(link);
  await other.waitForFunction(() => window.playground && playground.translations > 0 &&
                              playground.inputs.template.editor.lineCount() > 1000);
  const text = await other.evaluate(() => playground.inputs.template.editor.getValue("\n"));
  assert.strictEqual(text, typed.replace("0123456789\n", "0123456789abcdefghij\n"));
  await other.close();
});

test("a pasted page brings its own line ends", { timeout: 60000 }, async () => {
  await page.select("#example", "hello");
  await page.waitForFunction(() => document.getElementById("template-eol").textContent === "CR LF");
  const template = fs.readFileSync(path.join(repo, "examples/hello/hello.zot"), "latin1").replace(/\r\n/g, "\n");
  const script = fs.readFileSync(path.join(repo, "examples/hello/hello.zoq"), "latin1");
  const count = await translations();
  await page.evaluate((text) => {
    const editor = playground.inputs.template.editor;
    editor.execCommand("selectAll");
    const data = new DataTransfer();
    data.setData("text/plain", text);
    editor.getInputField().dispatchEvent(new ClipboardEvent("paste", { clipboardData: data, bubbles: true, cancelable: true }));
  }, template);
  await nextTranslation(count);
  assert.strictEqual(await page.$eval("#template-eol", (e) => e.textContent), "LF");
  assert.deepStrictEqual(await downloaded(), nativePage("hello", script, template).page);
});

test("\"(your own page)\" brings back the page typed before an example", { timeout: 60000 }, async () => {
  await typeInto("script", 0, " // mine");
  assert.strictEqual(await page.$eval("#example", (e) => e.value), "");  // edited: no longer hello
  await page.select("#example", "catalogue");
  await page.select("#example", "");
  assert.strictEqual(await page.evaluate(() => playground.inputs.script.editor.getLine(0)), "<?php // mine");
  assert.strictEqual(await page.$eval("#template-eol", (e) => e.textContent), "LF");  // as it was
});

test("a page opened once opens again without a network", { timeout: 60000 }, async () => {
  const own = await serve(site);
  const other = await browser.newPage();
  try {
    await other.goto(`http://127.0.0.1:${own.address().port}/`);
    await other.waitForFunction(() => window.playground && playground.translations > 0);
    await other.evaluate(() => navigator.serviceWorker.ready);
    await other.waitForFunction(() => navigator.serviceWorker.controller !== null);
    own.close();
    own.closeAllConnections();
    await other.reload();
    await other.waitForFunction(() => window.playground && playground.translations > 0);
    assert.match(await other.$eval("#status", (e) => e.textContent), /^Compile sucessful\./);
  } finally {
    own.close();
    await other.close();
  }
});

test("a squiggle and its fix-its land in their columns after wide letters", async () => {
  // "€" is three bytes, the emoji four: zoqc's byte columns are not the editor's. The fix-it
  // puts "(" and ")" on one line, so the second must be placed as if the first were not there.
  const script = '<?php\n<<*r\n<<<a<<$r["€"] ?? "😀"\nforeach ([["€" => 1]] as $r) {\n<<+r\n}\n';
  await page.evaluate((s) => {
    playground.inputs.template.editor.setValue("<!--BEGIN r-->{a}<!--END r-->\n");
    playground.inputs.script.editor.setValue(s);
  }, script);
  await page.waitForFunction(() => document.querySelector("#script .diag button.fix"));
  assert.strictEqual(await page.$eval("#script .squiggle-warning", (e) => e.textContent), "??");
  const count = await translations();
  await page.click("#script .diag button.fix");
  await nextTranslation(count);
  assert.strictEqual(await page.evaluate(() => playground.inputs.script.editor.getLine(2)),
                     '<<<a<<($r["€"] ?? "😀")');
});
