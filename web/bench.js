// Times the playground's module on a page in node: the entry alone (the inputs already in the
// module's memory) and through web/zoqc.js as the page calls it, each after as many warm-up runs.
//
//   node web/bench.js [SITE [PAGE [RUNS]]]   SITE: build-web/site; PAGE: examples/blog/blog
"use strict";
const fs = require("fs");
const path = require("path");
const Zoqc = require("./zoqc.js");

const repo = path.resolve(__dirname, "..");
const site = path.resolve(process.argv[2] || path.join(repo, "build-web/site"));
const base = path.resolve(process.argv[3] || path.join(repo, "examples/blog/blog"));
const runs = Number(process.argv[4] || 5000);

// Microseconds per call of AFn, after as many calls to warm up.
function time(AFn) {
  for (let i = 0; i < runs; i++) AFn();
  const started = process.hrtime.bigint();
  for (let i = 0; i < runs; i++) AFn();
  return Number(process.hrtime.bigint() - started) / runs / 1000;
}

async function main() {
  const create = require(path.join(site, "zoqc-module.js"));
  const module = await create({ wasmBinary: fs.readFileSync(path.join(site, "zoqc-module.wasm")) });
  const name = path.basename(base);
  const script = fs.readFileSync(base + ".zoq");
  const template = fs.readFileSync(base + ".zot");
  const copy = (bytes) => {
    const at = module._malloc(bytes.length + 1);
    module.HEAPU8.set(bytes, at);
    module.HEAPU8[at + bytes.length] = 0;
    return at;
  };
  const [n, s, t, w] = [Buffer.from(name), script, template, Buffer.alloc(0)].map(copy);
  const entry = time(() => module._zoqc_translate(n, s, script.length, t, template.length, w));
  const zoqc = Zoqc.wrap(module);
  const [scriptText, templateText] = [script.toString(), template.toString()];
  const wrapped = time(() => zoqc.translate(name, scriptText, templateText));
  const wasm = fs.statSync(path.join(site, "zoqc-module.wasm")).size;
  console.log(`${name}: ${script.length + template.length} bytes; module ${wasm} bytes`);
  console.log(`entry alone: ${entry.toFixed(1)} µs; through zoqc.js: ${wrapped.toFixed(1)} µs`);
}

main();
