// Makes the pages installable and usable offline: the service worker (sw.js) keeps this
// release's files. Pages opened from file:// have no service worker; they need none.
"use strict";

if ("serviceWorker" in navigator && /^https?:$/.test(location.protocol)) {
  navigator.serviceWorker.register("sw.js").catch(function () {
    // a browser that refuses (a private window, say) shows the page as before
  });
}
