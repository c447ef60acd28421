// Makes the pages installable and usable offline: the web app manifest, and the service worker
// (sw.js) that keeps this release's files. A page opened from file:// gets neither: the browser
// refuses both there, and the page needs no server anyway.
"use strict";

if (/^https?:$/.test(location.protocol)) {
  (function () {
    var link = document.createElement("link");
    link.rel = "manifest";
    link.href = "manifest.webmanifest";
    document.head.appendChild(link);
  })();
  if ("serviceWorker" in navigator) {
    navigator.serviceWorker.register("sw.js").catch(function () {
      // a browser that refuses (a private window, say) shows the page as before
    });
  }
}
