// The service worker of Lumivex's pages: this release's files kept in a cache named by the
// version and a hash of their content, served from there first so the pages run offline.
// A new release is a new cache: it is filled when the browser sees the new sw.js, takes over
// at once and the old cache is dropped, so the next visit shows the new release.
"use strict";

var CACHE = "@CACHE@";
var FILES = [@FILES@];

self.addEventListener("install", function (event) {
  // From the server itself, not the browser's HTTP cache, which may still hold the last release.
  event.waitUntil(caches.open(CACHE).then(function (cache) {
    return cache.addAll(FILES.map(function (name) { return new Request(name, { cache: "reload" }); }));
  }).then(function () {
    return self.skipWaiting();
  }));
});

self.addEventListener("activate", function (event) {
  event.waitUntil(caches.keys().then(function (names) {
    return Promise.all(names.filter(function (name) {
      return name !== CACHE && name.indexOf("lumivex-") === 0;
    }).map(function (name) { return caches.delete(name); }));
  }).then(function () {
    return self.clients.claim();
  }));
});

// The pages' own files from the cache (a page whatever its query), anything else from the
// network: a definition file of ?ini=URL is always read afresh.
self.addEventListener("fetch", function (event) {
  var request = event.request;
  if (request.method !== "GET" || new URL(request.url).origin !== location.origin) return;
  event.respondWith(caches.open(CACHE).then(function (cache) {
    return cache.match(request, { ignoreSearch: request.mode === "navigate" }).then(function (hit) {
      return hit || fetch(request);
    });
  }));
});
