// zoqc --serve with its real parts: PHP's development server and Debian's headless Chromium,
// driven over the DevTools protocol (through a pipe, so nothing beyond node is needed). A
// session as a user has it on the blog example: open the page, edit its template and see it
// reload, break its script and see the error page point at the line, fix it and see the page
// back, make PHP warn and see the script line behind the warning; the sources and the folders
// above the site are refused; a server that cannot start is exit code 2 before anything else;
// SIGTERM leaves no temporary folder and frees the port. Only the site is served, and only to
// this machine's own names: no source or copy of one, no dot file, nothing a link leads to out
// of the site, no host a foreign name was rebound to. A page's translation warnings show over
// it; a page stuck in a loop holds up neither the other pages nor the reloads; kill -9 leaves
// no process, and its folder goes at the next start.
//
// Every wait ends as soon as its outcome is known; each test has a limit a few times its time
// on a busy machine, so that a fault (a reload that never fires) fails in seconds.
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
const { launchChromium } = require("../chromium_pipe.js");
const bench = process.env.ZOQC_SERVE_BENCH === "1";
const kWait = 8000;       // the longest any one event is waited for: seconds on a busy machine
const kTestLimit = 20000; // the longest any one test takes

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), "zoqc-serve-test-"));
const tmp = path.join(scratch, "tmp");  // zoqc's TMPDIR: its private folder goes here
fs.mkdirSync(tmp);
const src = path.join(scratch, "src");
fs.mkdirSync(src);
const blogScript = fs.readFileSync(path.join(repo, "examples/blog/blog.zoq"), "utf8");
const blogTemplate = fs.readFileSync(path.join(repo, "examples/blog/blog.zot"), "utf8");
fs.writeFileSync(path.join(src, "blog.zoq"), blogScript);
fs.writeFileSync(path.join(src, "blog.zot"), blogTemplate);
// A page whose translation warns (a typo), one whose line holds two bindings, one that hangs.
const warnScript = "<?php\n<<price<<\"3\"\n";
const warnTemplate = "<!DOCTYPE html><html><body><p>Price: {prcie}</p></body></html>\n";
fs.writeFileSync(path.join(src, "warn.zoq"), warnScript);
fs.writeFileSync(path.join(src, "warn.zot"), warnTemplate);
fs.writeFileSync(path.join(src, "two.zoq"), "<?php\n<<a<<$zoqc_first\n<<b<<$zoqc_second['k']\n");
fs.writeFileSync(path.join(src, "two.zot"), "<!DOCTYPE html><html><body><p>{a} and {b}</p></body></html>\n");
const stuckMark = path.join(scratch, "stuck-started");
fs.writeFileSync(path.join(src, "stuck.zoq"),
  `<?php\ntouch(${JSON.stringify(stuckMark)});\nsleep(25);\n<<t<<"late"\n`);
fs.writeFileSync(path.join(src, "stuck.zot"), "<p>{t}</p>\n");

// Resolves when APredicate() yields a truthy value (which it returns); fails past ACeiling ms.
async function until(APredicate, AWhat, ACeiling = kWait) {
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

// zoqc with AArgs in the scratch folder; its output collected as it comes. Each still running
// at the end is killed, so that a test that failed half-way never leaves the run hanging.
const runs = [];
function run(AArgs, AEnv = {}) {
  const child = spawn(zoqc, AArgs, { cwd: scratch, env: { ...process.env, TMPDIR: tmp, ...AEnv } });
  const run = { child, out: "", err: "", code: undefined, signal: undefined };
  runs.push(run);
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

// The status and body of a GET of APath, sent as it is (no dot segments removed), with the
// headers AHeaders; fails past ALimit ms.
function get(AUrl, APath, AHeaders = {}, ALimit = kWait) {
  const url = new URL(AUrl);
  return new Promise((resolve, reject) => {
    const request = http.get({ host: url.hostname, port: url.port, path: APath,
      headers: AHeaders, timeout: ALimit }, (response) => {
      let body = "";
      response.on("data", (d) => (body += d));
      response.on("end", () => resolve({ status: response.statusCode, body }));
    });
    request.on("timeout", () => request.destroy(new Error(`no answer to ${APath} in ${ALimit} ms`)));
    request.on("error", reject);
  });
}

// Resolves once a listener can take APort on 127.0.0.1 again; fails past kWait.
function portFree(APort) {
  return until(() => new Promise((resolve) => {
    const listener = net.createServer();
    listener.on("error", () => resolve(false));
    listener.listen(APort, "127.0.0.1", () => listener.close(() => resolve(true)));
  }), `port ${APort} free`);
}


// A tab of the browser: open a URL, evaluate an expression in the page shown, the URLs it asked
// for.
async function openTab(ABrowser, AContext = undefined) {
  const { targetId } = await ABrowser.send("Target.createTarget",
    { url: "about:blank", browserContextId: AContext });
  const { sessionId } = await ABrowser.send("Target.attachToTarget", { targetId, flatten: true });
  const requests = [];
  ABrowser.on((AEvent) => {
    if (AEvent.sessionId === sessionId && AEvent.method === "Network.requestWillBeSent")
      requests.push(AEvent.params.request.url);
  });
  await ABrowser.send("Network.enable", {}, sessionId);
  const evaluate = async (AExpression) => {
    const answer = await ABrowser.send("Runtime.evaluate",
      { expression: AExpression, returnByValue: true }, sessionId);
    if (answer.exceptionDetails) throw new Error(answer.exceptionDetails.text);
    return answer.result.value;
  };
  return {
    open: (AUrl) => ABrowser.send("Page.navigate", { url: AUrl }, sessionId),
    front: () => ABrowser.send("Page.bringToFront", {}, sessionId),
    close: () => ABrowser.send("Target.closeTarget", { targetId }),
    requests,
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
  url = (await until(() => /on (http:\/\/\S+) /.exec(server.out), "the URL", 30000))[1];
  await until(() => server.out.includes("watching "), "the watch", 30000);
  // A name a foreign site has rebound to this machine, as DNS rebinding does.
  browser = launchChromium(["--host-resolver-rules=MAP rebound.test 127.0.0.1"]);
  tab = await openTab(browser);
});
test.after(async () => {
  if (browser) await browser.close();
  for (const left of runs) {
    if (left.code !== undefined || left.signal !== undefined) continue;
    left.child.kill("SIGKILL");
    await left.exited;
  }
  fs.rmSync(scratch, { recursive: true, force: true });
});

const scriptPath = path.join(src, "blog.zoq");
const templatePath = path.join(src, "blog.zot");
let edits = 0;
// Writes the template with its sidebar heading set to a new text, and waits for the page in
// the browser to show it; yields the time from the save to the reloaded page.
async function editTemplate(ALimit = kWait, ATab = tab) {
  const heading = `Edited ${++edits}`;
  const saved = Date.now();
  fs.writeFileSync(templatePath, blogTemplate.replace("Elsewhere · Ailleurs", heading));
  await until(async () => (await ATab.text()).includes(heading), `the page with '${heading}'`, ALimit);
  return (await ATab.loadedAt()) - saved;
}

test("a page reloads by itself when its template is saved", { timeout: kTestLimit }, async () => {
  await tab.open(url + "blog.php");
  await until(async () => (await tab.text()).includes("Notes from the workshop"), "the blog");
  // The page waits on zoqc's own listener, on a port of its own, and is told of the save there:
  // it never asks PHP's server (it would after a second without the listener).
  const waits = await until(() => tab.requests.filter((u) => u.includes("/__zoqc__/events?page=blog.php&")),
    "the page's wait for its reload");
  assert.notStrictEqual(new URL(waits[0]).port, new URL(url).port);
  const heading = `Edited ${++edits}`;
  fs.writeFileSync(templatePath, blogTemplate.replace("Elsewhere · Ailleurs", heading));
  const how = await until(async () => (tab.requests.some((u) => u.includes("/__zoqc__/poll")) && "polled") ||
    ((await tab.text()).includes(heading) && "pushed"), `the page with '${heading}'`);
  assert.strictEqual(how, "pushed");
  const onDisk = fs.readFileSync(path.join(scratch, "out/blog.php"), "utf8");
  assert.ok(onDisk.includes("Edited 1"));
  assert.ok(!onDisk.includes("__zoqc__"), "the reload script is added by the router only");
});

test("a hidden tab is told after the tab shown, neither asking PHP's server", { timeout: kTestLimit }, async () => {
  const behind = await openTab(browser);
  await behind.open(url + "blog.php");
  await until(async () => (await behind.text()).includes("Notes from the workshop"), "the second tab");
  await tab.front();
  assert.strictEqual(await behind.evaluate("document.visibilityState"), "hidden");
  await until(() => behind.requests.some((u) => u.includes("/__zoqc__/events?page=blog.php&") &&
    u.endsWith("&hidden=1")), "the hidden tab's wait");
  const asked = [tab.requests.length, behind.requests.length];
  const heading = `Edited ${++edits}`;
  fs.writeFileSync(templatePath, blogTemplate.replace("Elsewhere · Ailleurs", heading));
  const how = await until(async () => ([tab, behind].some((t, i) =>
    t.requests.slice(asked[i]).some((u) => u.includes("/__zoqc__/poll"))) && "polled") ||
    ((await tab.text()).includes(heading) && (await behind.text()).includes(heading) && "pushed"),
    `both tabs with '${heading}'`);
  assert.strictEqual(how, "pushed");
  const started = (t) => t.evaluate("performance.timeOrigin");
  assert.ok(await started(behind) >= await started(tab), "the tab shown reloads first");
  await behind.close();
});

test("a broken script shows its diagnostic, and the page comes back once fixed", { timeout: kTestLimit }, async () => {
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

test("a PHP warning or exception shows the script line behind its page line", { timeout: kTestLimit }, async () => {
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
  assert.doesNotMatch(fatal, /router\.php|zoqc-serve-/, "zoqc's own router is no place of the page");
  assert.strictEqual(await tab.evaluate("document.querySelectorAll('i').length"), 0);
  assert.strictEqual((await get(url, "/blog.php")).status, 500);
  fs.writeFileSync(scriptPath, blogScript);
  await until(async () => !(await tab.evaluate("document.getElementById('zoqc-php-errors')")) &&
    (await tab.text()).includes("Notes from the workshop"), "the page without the warning");
});

test("the sources and what lies above the site are refused", { timeout: kTestLimit }, async () => {
  fs.writeFileSync(path.join(scratch, "secret.txt"), "not for the browser");
  for (const asked of ["/blog.zoq", "/BLOG.ZOT", "/blog.zoq/x", "/../secret.txt",
                       "/%2e%2e/secret.txt", "/x/..%2f..%2fsecret.txt"]) {
    const answer = await get(url, asked);
    assert.ok(answer.status >= 400, `${asked}: ${answer.status}`);
    assert.ok(!answer.body.includes("not for the browser") && !answer.body.includes("<<title"),
      asked);
  }
});

test("only the site is served: no copy of a source, no dot file, no link out", { timeout: kTestLimit }, async () => {
  const out = path.join(scratch, "out");
  const secret = "not for the browser";
  fs.writeFileSync(path.join(scratch, "secret.txt"), secret);
  fs.writeFileSync(path.join(out, "notes.txt"), "public notes");
  fs.symlinkSync("notes.txt", path.join(out, "inside.txt"));           // a link within: served
  fs.symlinkSync("../secret.txt", path.join(out, "leak.txt"));         // a link out: refused
  fs.linkSync(scriptPath, path.join(out, "script.txt"));               // the script, hard-linked
  fs.linkSync(templatePath, path.join(out, "layout.html"));            // the template, too
  fs.symlinkSync(".env", path.join(out, "env.txt"));                   // a link to a dot file
  fs.writeFileSync(path.join(out, ".env"), `DB_PASSWORD=${secret}`);
  fs.mkdirSync(path.join(out, ".git"));
  fs.writeFileSync(path.join(out, ".git/config"), secret);
  for (const copy of ["blog.zoq~", ".blog.zoq.swp", "#blog.zoq#", "blog.zoq.bak", "blog.zoq.orig",
                      "blog.zot~", "blog.php~", "blog.php.bak", "blog.zoq.old", "blog.zot.2"])
    fs.writeFileSync(path.join(out, copy), `${secret} <<title<<`);
  for (const [asked, status] of [["/notes.txt", 200], ["/inside.txt", 200], ["/leak.txt", 403],
      ["/script.txt", 403], ["/layout.html", 403], ["/env.txt", 403], ["/.env", 403],
      ["/.git/config", 403], ["/.git/", 403], ["/blog.zoq~", 403], ["/.blog.zoq.swp", 403],
      ["/%23blog.zoq%23", 403], ["/blog.zoq.bak", 403], ["/blog.zoq.orig", 403],
      ["/blog.zot~", 403], ["/blog.php~", 403], ["/blog.php.bak", 403], ["/blog.zoq.old", 403],
      ["/blog.zot.2", 403]]) {
    const answer = await get(url, asked);
    assert.strictEqual(answer.status, status, asked);
    if (status === 200) assert.strictEqual(answer.body, "public notes");
    else assert.ok(!answer.body.includes(secret) && !answer.body.includes("<<title"), asked);
  }
});

test("only this machine's own names are answered", { timeout: kTestLimit }, async () => {
  const port = new URL(url).port;
  for (const host of ["localhost", "127.0.0.1", "127.0.0.2", "[::1]", "LocalHost",
    "[::ffff:127.0.0.1]", "[0:0:0:0:0:0:0:1]"]) {
    const answer = await get(url, "/blog.php", { Host: `${host}:${port}` });
    assert.strictEqual(answer.status, 200, host);
  }
  for (const host of ["rebound.test", "127.0.0.1.rebound.test", "192.168.1.5", "[::]",
    "[::ffff:192.168.1.5]"]) {
    const answer = await get(url, "/blog.php", { Host: `${host}:${port}` });
    assert.strictEqual(answer.status, 421, host);
    assert.ok(!answer.body.includes("Notes from the workshop"), host);
  }
  // Nor does zoqc's reload listener answer it.
  const reloads = /port=(\d+)/.exec((await get(url, "/blog.php")).body)[1];
  assert.strictEqual((await get(`http://127.0.0.1:${reloads}`, "/__zoqc__/events?page=blog.php&v=0&g=0",
    { Host: `rebound.test:${reloads}` })).status, 421);
  // In the browser: a foreign name resolving to this machine sees neither pages nor polls.
  await tab.open(`http://rebound.test:${port}/blog.php`);
  const shown = await until(() => tab.text(), "the refusal");
  assert.match(shown, /answers only for its own address/);
  assert.strictEqual((await get(url, "/__zoqc__/poll?page=blog.php&v=0&g=0",
    { Host: `rebound.test:${port}` })).status, 421);
  await until(() => server.err.includes("refused the requests for host 'rebound.test:"), "the line");
  assert.strictEqual(server.err.split(`host 'rebound.test:${port}'`).length - 1, 1,
    "said on the terminal the first time only");
});

test("a page's translation warnings show over it until they are fixed", { timeout: kTestLimit }, async () => {
  await tab.open(url + "warn.php");
  const panel = await until(() => tab.evaluate(
    "(e => e && e.innerText)(document.getElementById('zoqc-warnings'))"), "the warnings");
  assert.match(panel, /src\/warn\.zot:1:\d+: warning: nothing binds 'prcie'.*did you mean 'price'\?/);
  assert.match(panel, /src\/warn\.zoq:2:1: note: 'price' is bound here/);
  assert.match(panel, /\^~+/);  // the located rendering: source line and caret
  assert.strictEqual(await tab.evaluate("document.querySelectorAll('#zoqc-warnings').length"), 1);
  assert.ok((await tab.text()).includes("Price: {prcie}"), "the page is still there");
  assert.ok(!fs.readFileSync(path.join(scratch, "out/warn.php"), "utf8").includes("zoqc"),
    "the panel is never written into the page on disk");
  await tab.evaluate("document.querySelector('#zoqc-warnings button').click()");
  assert.strictEqual(await tab.evaluate("document.getElementById('zoqc-warnings')"), null);

  fs.writeFileSync(path.join(src, "warn.zot"), warnTemplate.replace("prcie", "price"));
  await until(async () => (await tab.text()).includes("Price: 3"), "the fixed page");
  assert.strictEqual(await tab.evaluate("document.getElementById('zoqc-warnings')"), null);
});

test("PHP's message about one binding of a line shows that binding alone", { timeout: kTestLimit }, async () => {
  await tab.open(url + "two.php");
  const second = await until(() => tab.evaluate("[...document.querySelectorAll('.zoqc-php-error')]" +
    ".map(e => e.innerText).find(t => t.includes('$zoqc_second in'))"), "the warning");
  assert.match(second, /src\/two\.zoq:3:6: 'b' is bound to \$zoqc_second\['k'\]/);
  assert.doesNotMatch(second, /two\.zoq:2:|two\.zot:/, "not the other binding, nor the markup");
  const first = await tab.evaluate("[...document.querySelectorAll('.zoqc-php-error')]" +
    ".map(e => e.innerText).find(t => t.includes('$zoqc_first in'))");
  assert.match(first, /src\/two\.zoq:2:6: 'a' is bound/);
  assert.doesNotMatch(first, /two\.zoq:3:/);
});

test("a page stuck in a slow call holds up neither other pages nor reloads", { timeout: kTestLimit }, async () => {
  const stuck = http.get(url + "stuck.php");
  stuck.on("error", () => {});  // ended with the server
  runs.push({ child: { kill: () => stuck.destroy() }, exited: Promise.resolve() });
  await until(() => fs.existsSync(stuckMark), "the stuck page running");
  const started = Date.now();
  const answer = await get(url, "/notes.txt", {}, 3000);
  assert.strictEqual(answer.status, 200);
  assert.ok(Date.now() - started < 3000);
  // A visitor who comes now: a context of its own, since a connection the browser opened ahead
  // of time before the stuck page started may be held by the busy worker (PHP's server).
  const { browserContextId } = await browser.send("Target.createBrowserContext");
  const visitor = await openTab(browser, browserContextId);
  await visitor.open(url + "blog.php");
  await until(async () => (await visitor.text()).includes("Notes from the workshop"), "the blog", 3000);
  await editTemplate(3000, visitor);
  await visitor.close();
  stuck.destroy();
});

test("a server that cannot start is said at once, with exit code 2", { timeout: kTestLimit }, async () => {
  const port = new URL(url).port;
  const taken = run(["--serve=127.0.0.1:" + port, "-r", "src", "-o", "out2"]);
  await taken.exited;
  assert.strictEqual(taken.code, 2);
  assert.match(taken.err, /cannot start PHP's development server on 127\.0\.0\.1:\d+: .*in use/);
  assert.strictEqual(taken.out, "", "nothing else happened");
  assert.ok(!fs.existsSync(path.join(scratch, "out2")), "not even the output folder is made");

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
  const address = (await until(() => /on (http:\/\/\S+) /.exec(big.out), "the URL", 60000))[1];
  await until(async () => {
    const answer = await get(address, "/d0/p0.php").catch(() => ({}));
    return answer.status === 200 && answer.body.includes("__zoqc__");
  }, "the first page", 60000);
  console.log(`2,000 pages: first page served ${Date.now() - started} ms after the start`);
  big.child.kill("SIGTERM");
  await big.exited;
});

test("kill -9 leaves no PHP behind, and the next start removes its folder", { timeout: kTestLimit }, async () => {
  const ours = fs.readdirSync(tmp);  // the session's server's folder, which must stay
  const killed = run(["-q", "--serve=127.0.0.1:0", "-r", "src", "-o", "out3"]);
  const port = Number(new URL((await until(() => /on (http:\/\/\S+) /.exec(killed.out), "the URL"))[1]).port);
  const left = fs.readdirSync(tmp).filter((name) => !ours.includes(name));
  assert.strictEqual(left.length, 1);
  killed.child.kill("SIGKILL");
  await killed.exited;
  await portFree(port);  // PHP's server and each of its workers are gone
  assert.ok(fs.existsSync(path.join(tmp, left[0])), "nothing removes it on kill -9");

  const next = run(["-q", "--serve=127.0.0.1:0", "-r", "src", "-o", "out3"]);
  await until(() => /on (http:\/\/\S+) /.exec(next.out), "the URL");
  const now = fs.readdirSync(tmp);
  assert.ok(!now.includes(left[0]), "the folder of the dead run is gone");
  assert.ok(ours.every((name) => now.includes(name)), "the folder of a live run stays");
  next.child.kill("SIGTERM");
  await next.exited;
});

test("SIGTERM ends zoqc and PHP, leaves no temporary folder and frees the port", { timeout: kTestLimit }, async () => {
  const port = Number(new URL(url).port);
  server.child.kill("SIGTERM");
  await server.exited;
  assert.strictEqual(server.signal, "SIGTERM");
  assert.deepStrictEqual(fs.readdirSync(tmp), []);
  await portFree(port);
});
