// zoqc --serve with its real parts: PHP's development server and Debian's headless Chromium,
// driven over the DevTools protocol (through a pipe, so nothing beyond node is needed). A
// session as a user has it on the blog example: open the page, edit its template and see it
// reload, break its script and see the error page point at the line, fix it and see the page
// back, make PHP warn and see the script line behind the warning; the sources and the folders
// above the site are refused; a server that cannot start is exit code 2 before anything else;
// SIGTERM leaves no temporary folder and frees the port.
//
//   node --test tests/serve/serve.test.js   (ZOQC: the binary; CHROMIUM: /usr/bin/chromium;
//                                            ZOQC_SERVE_BENCH=1: also the timings of
//                                            docs/BENCHMARKS.md)
"use strict";
const assert = require("node:assert");
const { spawn } = require("node:child_process");
const fs = require("node:fs");
const http = require("node:http");
const net = require("node:net");
const os = require("node:os");
const path = require("node:path");
const test = require("node:test");

const repo = path.resolve(__dirname, "../..");
const zoqc = path.resolve(process.env.ZOQC || path.join(repo, "build-release/zoqc"));
const chromium = process.env.CHROMIUM || "/usr/bin/chromium";
const bench = process.env.ZOQC_SERVE_BENCH === "1";
const kCeiling = 60000;  // the longest any one event is waited for: the machine may be busy

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), "zoqc-serve-test-"));
const tmp = path.join(scratch, "tmp");  // zoqc's TMPDIR: its private folder goes here
fs.mkdirSync(tmp);
const src = path.join(scratch, "src");
fs.mkdirSync(src);
const blogScript = fs.readFileSync(path.join(repo, "examples/blog/blog.zoq"), "utf8");
const blogTemplate = fs.readFileSync(path.join(repo, "examples/blog/blog.zot"), "utf8");
fs.writeFileSync(path.join(src, "blog.zoq"), blogScript);
fs.writeFileSync(path.join(src, "blog.zot"), blogTemplate);

// Resolves when APredicate() yields a truthy value (which it returns); fails past the ceiling.
async function until(APredicate, AWhat, ACeiling = kCeiling) {
  const end = Date.now() + ACeiling;
  for (;;) {
    let value;
    try {
      value = await APredicate();
    } catch (e) {
      value = undefined;  // a page between two loads has no document to ask
    }
    if (value) return value;
    if (Date.now() > end) throw new Error(`waited ${ACeiling} ms for ${AWhat}`);
    await new Promise((resolve) => setTimeout(resolve, 10));
  }
}

// zoqc with AArgs in the scratch folder; its output collected as it comes.
function run(AArgs, AEnv = {}) {
  const child = spawn(zoqc, AArgs, { cwd: scratch, env: { ...process.env, TMPDIR: tmp, ...AEnv } });
  const run = { child, out: "", err: "", code: undefined, signal: undefined };
  child.stdout.on("data", (d) => (run.out += d));
  child.stderr.on("data", (d) => (run.err += d));
  run.exited = new Promise((resolve) =>
    child.on("exit", (code, signal) => {
      run.code = code;
      run.signal = signal;
      resolve();
    }));
  return run;
}

// The status and body of a GET of APath, sent as it is (no dot segments removed).
function get(AUrl, APath) {
  const url = new URL(AUrl);
  return new Promise((resolve, reject) => {
    const request = http.get({ host: url.hostname, port: url.port, path: APath }, (response) => {
      let body = "";
      response.on("data", (d) => (body += d));
      response.on("end", () => resolve({ status: response.statusCode, body }));
    });
    request.on("error", reject);
  });
}

// Headless Chromium, spoken to over --remote-debugging-pipe: NUL-ended JSON messages.
function launchChromium() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "zoqc-chromium-"));
  const child = spawn(chromium, ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    `--user-data-dir=${profile}`, "--remote-debugging-pipe", "about:blank"],
    { stdio: ["ignore", "ignore", "ignore", "pipe", "pipe"] });
  const pending = new Map();
  let next = 0;
  let buffer = Buffer.alloc(0);
  child.stdio[4].on("data", (chunk) => {
    buffer = Buffer.concat([buffer, chunk]);
    for (let end; (end = buffer.indexOf(0)) >= 0; buffer = buffer.subarray(end + 1)) {
      const message = JSON.parse(buffer.subarray(0, end).toString());
      const waiting = pending.get(message.id);
      if (!waiting) continue;
      pending.delete(message.id);
      if (message.error) waiting.reject(new Error(message.error.message));
      else waiting.resolve(message.result);
    }
  });
  const send = (method, params = {}, sessionId = undefined) => new Promise((resolve, reject) => {
    const id = ++next;
    pending.set(id, { resolve, reject });
    child.stdio[3].write(JSON.stringify({ id, method, params, sessionId }) + "\0");
  });
  const close = async () => {
    await send("Browser.close").catch(() => {});
    await new Promise((resolve) => (child.exitCode !== null ? resolve() : child.on("exit", resolve)));
    fs.rmSync(profile, { recursive: true, force: true });
  };
  return { send, close };
}

// A tab of the browser: open a URL, evaluate an expression in the page shown.
async function openTab(ABrowser) {
  const { targetId } = await ABrowser.send("Target.createTarget", { url: "about:blank" });
  const { sessionId } = await ABrowser.send("Target.attachToTarget", { targetId, flatten: true });
  const evaluate = async (AExpression) => {
    const answer = await ABrowser.send("Runtime.evaluate",
      { expression: AExpression, returnByValue: true }, sessionId);
    if (answer.exceptionDetails) throw new Error(answer.exceptionDetails.text);
    return answer.result.value;
  };
  return {
    open: (AUrl) => ABrowser.send("Page.navigate", { url: AUrl }, sessionId),
    evaluate,
    text: () => evaluate("document.readyState === 'complete' ? document.body.innerText : ''"),
    // When the page now shown was loaded, on the clock of Date.now().
    loadedAt: () => evaluate("performance.timeOrigin + " +
      "performance.getEntriesByType('navigation')[0].domContentLoadedEventEnd"),
  };
}

let server;  // the zoqc --serve of the session
let url;     // its address, "http://127.0.0.1:PORT/"
let browser;
let tab;
test.before(async () => {
  server = run(["--serve=127.0.0.1:0", "-r", "src", "-o", "out"]);
  url = (await until(() => /on (http:\/\/\S+) /.exec(server.out), "the URL"))[1];
  await until(() => server.out.includes("watching "), "the watch");
  browser = launchChromium();
  tab = await openTab(browser);
});
test.after(async () => {
  if (browser) await browser.close();
  if (server && server.code === undefined && server.signal === undefined) {
    server.child.kill("SIGKILL");
    await server.exited;
  }
  fs.rmSync(scratch, { recursive: true, force: true });
});

const scriptPath = path.join(src, "blog.zoq");
const templatePath = path.join(src, "blog.zot");
let edits = 0;
// Writes the template with its sidebar heading set to a new text, and waits for the page in
// the browser to show it; yields the time from the save to the reloaded page.
async function editTemplate() {
  const heading = `Edited ${++edits}`;
  const saved = Date.now();
  fs.writeFileSync(templatePath, blogTemplate.replace("Elsewhere · Ailleurs", heading));
  await until(async () => (await tab.text()).includes(heading), `the page with '${heading}'`);
  return (await tab.loadedAt()) - saved;
}

test("a page reloads by itself when its template is saved", async () => {
  await tab.open(url + "blog.php");
  await until(async () => (await tab.text()).includes("Notes from the workshop"), "the blog");
  await editTemplate();
  const onDisk = fs.readFileSync(path.join(scratch, "out/blog.php"), "utf8");
  assert.ok(onDisk.includes("Edited 1"));
  assert.ok(!onDisk.includes("__zoqc__"), "the reload script is added by the router only");
});

test("a broken script shows its diagnostic, and the page comes back once fixed", async () => {
  fs.writeFileSync(scriptPath, blogScript.replace("<<title<<", "<<title "));
  const title = await until(async () => {
    const shown = await tab.evaluate("document.title");
    return shown.includes("translation failed") && shown;
  }, "the error page");
  assert.match(title, /blog: translation failed/);
  const diagnostics = await tab.evaluate("document.getElementById('zoqc-diagnostics').innerText");
  const line = blogScript.split("\n").findIndex((l) => l.startsWith("<<title<<")) + 1;
  assert.match(diagnostics, new RegExp(`src/blog\\.zoq:${line}:\\d+: error: `));
  assert.match(diagnostics, /<<title \$?/);  // the source line, then its caret
  assert.match(diagnostics, /\n\s*\^/);
  assert.strictEqual((await get(url, "/blog.php")).status, 500);

  fs.writeFileSync(scriptPath, blogScript);
  await until(async () => (await tab.text()).includes("Notes from the workshop"), "the page back");
  assert.strictEqual((await get(url, "/blog.php")).status, 200);
});

test("a PHP warning or exception shows the script line behind its page line", async () => {
  const lines = blogScript.split("\n");
  lines.splice(1, 0, "$zoqc_sum = $zoqc_nowhere + 1;");  // line 2, a variable never set
  fs.writeFileSync(scriptPath, lines.join("\n"));
  const panel = await until(() => tab.evaluate(
    "(e => e && e.innerText)(document.getElementById('zoqc-php-errors'))"), "the warning");
  assert.match(panel, /PHP Warning: Undefined variable \$zoqc_nowhere in out\/blog\.php on line 2/);
  assert.match(panel, /src\/blog\.zoq:2:1:/);
  assert.match(panel, /2 \| \$zoqc_sum = \$zoqc_nowhere \+ 1;/);
  assert.ok((await tab.text()).includes("Notes from the workshop"), "the page is still there");

  // An uncaught exception: the error page in place of the page, PHP's message kept escaped.
  lines[1] = "throw new RuntimeException('boom <i>here</i>');";
  fs.writeFileSync(scriptPath, lines.join("\n"));
  const fatal = await until(() => tab.evaluate("document.title.includes('PHP stopped') && " +
    "document.getElementById('zoqc-php-errors').innerText"), "the error page of the exception");
  assert.match(fatal, /PHP Uncaught RuntimeException: boom <i>here<\/i> in out\/blog\.php on line 2/);
  assert.match(fatal, /src\/blog\.zoq:2:1:/);
  assert.strictEqual(await tab.evaluate("document.querySelectorAll('i').length"), 0);
  assert.strictEqual((await get(url, "/blog.php")).status, 500);
  fs.writeFileSync(scriptPath, blogScript);
  await until(async () => !(await tab.evaluate("document.getElementById('zoqc-php-errors')")) &&
    (await tab.text()).includes("Notes from the workshop"), "the page without the warning");
});

test("the sources and what lies above the site are refused", async () => {
  fs.writeFileSync(path.join(scratch, "secret.txt"), "not for the browser");
  for (const asked of ["/blog.zoq", "/BLOG.ZOT", "/blog.zoq/x", "/../secret.txt",
                       "/%2e%2e/secret.txt", "/x/..%2f..%2fsecret.txt"]) {
    const answer = await get(url, asked);
    assert.ok(answer.status >= 400, `${asked}: ${answer.status}`);
    assert.ok(!answer.body.includes("not for the browser") && !answer.body.includes("<<title"),
      asked);
  }
});

test("a server that cannot start is said at once, with exit code 2", async () => {
  const port = new URL(url).port;
  const taken = run(["--serve=127.0.0.1:" + port, "-r", "src", "-o", "out2"]);
  await taken.exited;
  assert.strictEqual(taken.code, 2);
  assert.match(taken.err, /cannot start PHP's development server on 127\.0\.0\.1:\d+: .*in use/);
  assert.strictEqual(taken.out, "", "nothing else happened");
  assert.ok(!fs.existsSync(path.join(scratch, "out2/blog.php")));

  const missing = run(["--serve=127.0.0.1:0", "--php=/nonexistent/php", "-r", "src"]);
  await missing.exited;
  assert.strictEqual(missing.code, 2);
  assert.match(missing.err, /cannot run '\/nonexistent\/php': No such file/);
});

test("measured: from a save to the reloaded page", { skip: !bench }, async () => {
  const times = [];
  for (let i = 0; i < 20; ++i) times.push(await editTemplate());
  times.sort((a, b) => a - b);
  // Of that, zoqc's own work: the translation with PHP's lint, as its watch lines say.
  const own = [...server.out.matchAll(/blog: translated in ([\d.]+) ms/g)].slice(-20)
    .map((m) => Number(m[1])).sort((a, b) => a - b);
  console.log(`save to reloaded page, 20 edits: median ${times[10].toFixed(0)} ms, ` +
    `fastest ${times[0].toFixed(0)} ms, slowest ${times[19].toFixed(0)} ms; ` +
    `translation with lint: median ${own[10]} ms`);
});

test("measured: a 2,000-page site serves its first page", { skip: !bench }, async () => {
  const site = path.join(scratch, "big");
  for (let i = 0; i < 2000; ++i) {
    const dir = path.join(site, `d${Math.floor(i / 100)}`);
    fs.mkdirSync(dir, { recursive: true });
    fs.writeFileSync(path.join(dir, `p${i}.zoq`), `<?php\n<<t<<"page ${i}"\n`);
    fs.writeFileSync(path.join(dir, `p${i}.zot`), "<!DOCTYPE html><title>{t}</title><p>{t}</p>\n");
  }
  const started = Date.now();
  const big = run(["-q", "--serve=127.0.0.1:0", "-r", "big", "-o", "big-out"]);
  const address = (await until(() => /on (http:\/\/\S+) /.exec(big.out), "the URL", kCeiling))[1];
  await until(async () => {
    const answer = await get(address, "/d0/p0.php").catch(() => ({}));
    return answer.status === 200 && answer.body.includes("__zoqc__");
  }, "the first page");
  console.log(`2,000 pages: first page served ${Date.now() - started} ms after the start`);
  big.child.kill("SIGTERM");
  await big.exited;
});

test("SIGTERM ends zoqc and PHP, leaves no temporary folder and frees the port", async () => {
  const port = Number(new URL(url).port);
  server.child.kill("SIGTERM");
  await server.exited;
  assert.strictEqual(server.signal, "SIGTERM");
  assert.deepStrictEqual(fs.readdirSync(tmp), []);
  await new Promise((resolve, reject) => {
    const listener = net.createServer();
    listener.on("error", reject);
    listener.listen(port, "127.0.0.1", () => listener.close(resolve));
  });
});
