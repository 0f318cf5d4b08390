// The WebAssembly build answers what the native zoqc prints and writes (the page, the console
// lines after the banner, the exit code and the JSON diagnostics), on the examples, every golden
// case and every mistake case, and when its memory runs out.
//
//   node --test web/tests/same_bytes.test.js   (ZOQC: the native binary, build-release/zoqc;
//                                               ZOQC_SITE: the built site, build-web/site)
"use strict";
const assert = require("node:assert");
const { spawnSync } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const test = require("node:test");

const Zoqc = require("../zoqc.js");

const repo = path.resolve(__dirname, "../..");
const native = path.resolve(process.env.ZOQC || path.join(repo, "build-release/zoqc"));
const site = path.resolve(process.env.ZOQC_SITE || path.join(repo, "build-web/site"));

let zoqc;
let scratch;
test.before(async () => {
  const create = require(path.join(site, "zoqc-module.js"));
  zoqc = await Zoqc.load(create, { wasmBinary: fs.readFileSync(path.join(site, "zoqc-module.wasm")) });
  scratch = fs.mkdtempSync(path.join(os.tmpdir(), "zoqc-web-"));
}, { timeout: 120000 });
test.after(() => fs.rmSync(scratch, { recursive: true, force: true }));

// Runs the native zoqc on NAME.zoq and NAME.zot in a fresh folder, AShell around it.
function runNative(AName, AScript, ATemplate, ASwitches, AShell = '"$@"') {
  const dir = fs.mkdtempSync(path.join(scratch, "page-"));
  fs.writeFileSync(path.join(dir, AName + ".zoq"), AScript);
  fs.writeFileSync(path.join(dir, AName + ".zot"), ATemplate);
  const run = spawnSync(
    "sh",
    ["-c", AShell, "sh", native, "--diagnostics-format=json", ...ASwitches, AName],
    { cwd: dir, maxBuffer: 1 << 26, timeout: 60000 },  // a native run that hangs fails
  );
  const page = path.join(dir, AName + ".php");
  const result = {
    exit: run.status,
    out: run.stdout.toString("latin1").split("\n").slice(2).join("\n"),
    diagnosticsJson: run.stderr.toString(),
    page: fs.existsSync(page) ? fs.readFileSync(page) : null,
  };
  fs.rmSync(dir, { recursive: true });
  return result;
}

function assertSame(AName, AScript, ATemplate, ASwitches) {
  const want = runNative(AName, AScript, ATemplate, ASwitches);
  const got = zoqc.translate(AName, AScript, ATemplate, ASwitches.join(" "));
  assert.strictEqual(got.exit, want.exit, "exit code");
  assert.strictEqual(got.out, want.out, "console lines");
  assert.strictEqual(got.diagnosticsJson, want.diagnosticsJson, "diagnostics");
  assert.deepStrictEqual(got.page && Buffer.from(got.page), want.page, "page");
}

for (const name of fs.readdirSync(path.join(repo, "examples")).sort()) {
  const base = path.join(repo, "examples", name, name);
  if (!fs.existsSync(base + ".zoq")) continue;
  test(`examples/${name}`, () => {
    assertSame(name, fs.readFileSync(base + ".zoq"), fs.readFileSync(base + ".zot"), ["-Wall"]);
  });
}

for (const corpus of ["tests/cases", "tests/mistakes"]) {
  for (const name of fs.readdirSync(path.join(repo, corpus)).sort()) {
    const dir = path.join(repo, corpus, name);
    const read = (file) => fs.readFileSync(path.join(dir, file));
    const both = fs.existsSync(path.join(dir, "page.zoq")) && fs.existsSync(path.join(dir, "page.zot"));
    // The case's warning switches; its other options concern files, which a browser has none of.
    const args = fs.existsSync(path.join(dir, "args")) ? read("args").toString().split(/\s+/) : [];
    const switches = args.filter((arg) => /^-(w|W.+)$/.test(arg));
    test(`${corpus}/${name}`, { skip: !both && "a missing input: the playground always has both" }, () =>
      assertSame("page", read("page.zoq"), read("page.zot"), switches));
  }
}

test("running out of memory answers the failure report, and the next page translates", () => {
  // The native zoqc under a 40 MB address space limit with a 64 MB template, and the module,
  // whose memory stops at 512 MiB, with 200 MB: each needs several times its template.
  const want = runNative("big", "<?php\n", Buffer.alloc(64e6, "x"), [], 'ulimit -v 40000; exec "$@"');
  assert.strictEqual(want.exit, 217);
  const got = zoqc.translate("big", "<?php\n", new Uint8Array(200e6).fill(0x78));
  assert.deepStrictEqual(got, { ...want, diagnostics: JSON.parse(want.diagnosticsJson) });
  assert.strictEqual(zoqc.translate("small", "<?php\n", "x").exit, 0);
});

// What a visitor downloads before the first translation: the module and its loader, gzipped.
test("the module and its loader stay within 100,000 bytes gzipped", () => {
  const zlib = require("node:zlib");
  const gzipped = (AName) =>
    zlib.gzipSync(fs.readFileSync(path.join(site, AName)), { level: 9 }).length;
  const total = gzipped("zoqc-module.wasm") + gzipped("zoqc-module.js");
  assert.ok(total <= 100000, `${total} bytes gzipped`);
});
