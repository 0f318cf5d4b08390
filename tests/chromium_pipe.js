// Debian's headless Chromium for the browser tests, spoken to over --remote-debugging-pipe
// (NUL-ended JSON messages), so that nothing beyond node is needed. CHROMIUM names another.
"use strict";
const { spawn } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");

const chromium = process.env.CHROMIUM || "/usr/bin/chromium";

// Starts it with AFlags besides the usual ones; yields send(method, params, sessionId), on(handler)
// (each event, {method, params, sessionId}, to handler; yields a function that stops it) and close().
function launchChromium(AFlags = []) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "zoqc-chromium-"));
  const child = spawn(chromium, ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    ...AFlags,
    `--user-data-dir=${profile}`, "--remote-debugging-pipe", "about:blank"],
    { stdio: ["ignore", "ignore", "ignore", "pipe", "pipe"] });
  const pending = new Map();
  const handlers = new Set();
  let next = 0;
  let buffer = Buffer.alloc(0);
  child.stdio[4].on("data", (chunk) => {
    buffer = Buffer.concat([buffer, chunk]);
    for (let end; (end = buffer.indexOf(0)) >= 0; buffer = buffer.subarray(end + 1)) {
      const message = JSON.parse(buffer.subarray(0, end).toString());
      if (message.id === undefined) {
        for (const handler of handlers) handler(message);
        continue;
      }
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
  const on = (AHandler) => {
    handlers.add(AHandler);
    return () => handlers.delete(AHandler);
  };
  const close = async () => {
    await send("Browser.close").catch(() => {});
    await new Promise((resolve) => (child.exitCode !== null ? resolve() : child.on("exit", resolve)));
    fs.rmSync(profile, { recursive: true, force: true });
  };
  return { send, on, close };
}

module.exports = { launchChromium };
