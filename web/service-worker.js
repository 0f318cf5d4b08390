// The playground offline: the page's files are kept in a cache when the worker is installed and
// again whenever the network brings a newer copy; without a network, the kept copies answer.
// Network first, so that a page that changed on the server is never shown stale while online.
"use strict";

const CACHE = "zoqc-playground";
const FILES = ["./", "index.html", "playground.js", "playground.css", "zoqc.js", "zoqc-module.js",
               "zoqc-module.wasm", "examples.js", "codemirror.js", "codemirror.css"];

self.addEventListener("install", (event) => {
  event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(FILES)).then(() => self.skipWaiting()));
});

self.addEventListener("activate", (event) => event.waitUntil(self.clients.claim()));

self.addEventListener("fetch", (event) => {
  const request = event.request;
  if (request.method !== "GET" || new URL(request.url).origin !== self.location.origin) return;
  event.respondWith(
    fetch(request)
      .then((response) => {
        if (response.ok) {
          const copy = response.clone();
          event.waitUntil(caches.open(CACHE).then((cache) => cache.put(request, copy)));
        }
        return response;
      })
      .catch(() => caches.match(request, { ignoreSearch: true }).then((kept) => kept || Response.error())),
  );
});
