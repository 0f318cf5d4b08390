// Serves a folder of static files (the playground's site) over HTTP on 127.0.0.1, for trying the
// page and for its browser test.
//
//   node web/serve.js FOLDER [PORT]      PORT 0 (or none): any free port; prints the address
"use strict";
const fs = require("fs");
const http = require("http");
const path = require("path");

const TYPES = {
  ".html": "text/html; charset=utf-8",
  ".js": "text/javascript; charset=utf-8",
  ".css": "text/css; charset=utf-8",
  ".wasm": "application/wasm",
  ".png": "image/png",
};

// Starts serving AFolder; resolves to the server once it listens.
function serve(AFolder, APort = 0) {
  const root = path.resolve(AFolder);
  const server = http.createServer((request, response) => {
    let file;
    try {
      file = path.join(root, decodeURIComponent(new URL(request.url, "http://localhost").pathname));
    } catch (error) {
      file = null; // a malformed escape
    }
    if (file === root || (file && file.endsWith(path.sep))) file = path.join(file, "index.html");
    if (file && !file.startsWith(root + path.sep)) file = null; // no way out of the folder
    fs.readFile(file || "", (error, data) => {
      if (error) {
        response.writeHead(404, { "Content-Type": "text/plain" });
        response.end("not found\n");
        return;
      }
      response.writeHead(200, {
        "Content-Type": TYPES[path.extname(file)] || "application/octet-stream",
        "Cache-Control": "no-cache",
      });
      response.end(data);
    });
  });
  return new Promise((resolve, reject) => {
    server.once("error", reject);
    server.listen(APort, "127.0.0.1", () => resolve(server));
  });
}

module.exports = { serve };

if (require.main === module) {
  const [folder, port] = process.argv.slice(2);
  if (!folder) {
    console.error("usage: node web/serve.js FOLDER [PORT]");
    process.exit(2);
  }
  serve(folder, Number(port || 0)).then((server) => {
    console.log(`zoqc playground: http://127.0.0.1:${server.address().port}/ (Ctrl-C ends it)`);
  });
}
