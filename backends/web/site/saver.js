// The saver page: the gallery (or ?ini=URL) full window, or a still for ?size=&dt=&ticks=.
"use strict";

(async function () {
  var params = new URLSearchParams(location.search);
  var canvas = document.getElementById("screen");
  var messageBox = document.getElementById("message");

  function say(lines) {
    messageBox.textContent = lines.join("\n\n");  // the file's words stay text
    messageBox.hidden = lines.length === 0;
  }

  var m = await Lumivex.load(LumivexSaver);
  var seed = /^[0-9]{1,10}$/.test(params.get("seed") || "") ? Number(params.get("seed")) >>> 0 : Lumivex.calendarSeed();
  var file = LumivexGallery;
  if (params.has("ini")) {
    try {
      var response = await fetch(params.get("ini"));
      if (!response.ok) throw new Error(response.status + " " + response.statusText);
      file = await response.arrayBuffer();
    } catch (e) {
      say(["Lumivex cannot read " + params.get("ini") + ": " + e.message]);
      return;
    }
  }
  if (!Lumivex.setFile(m, file)) {
    say(["Lumivex: no memory for the definition file"]);
    return;
  }
  var screen = new Lumivex.Screen(m, canvas, { drawing: params.get("drawing") });
  var status = params.get("status") === "1";
  var fixed = params.has("size") ? Lumivex.parseSize(m, params.get("size")) : null;
  if (params.has("size") && !fixed) {
    say(["Lumivex: size must be WxH, each side from 1 to 16384, not " + params.get("size")]);
    return;
  }

  if (fixed) {
    // A still: WxH device pixels at the top left, N ticks of a simulated clock, that frame held.
    // The canvas's CSS box in whole pixels (a fractional one is drawn resampled), so it may be a
    // little larger than the still, which takes its top-left corner on black.
    var ratio = window.devicePixelRatio || 1;
    var cssWidth = Math.ceil(fixed.width / ratio), cssHeight = Math.ceil(fixed.height / ratio);
    screen.fixedWidth = Math.round(cssWidth * ratio);
    screen.fixedHeight = Math.round(cssHeight * ratio);
    canvas.style.width = cssWidth + "px";
    canvas.style.height = cssHeight + "px";
    canvas.classList.add("still");
    var dt = /^[0-9]{1,9}$/.test(params.get("dt") || "") ? Number(params.get("dt")) : 10;
    var ticks = /^[0-9]{1,9}$/.test(params.get("ticks") || "") ? Number(params.get("ticks")) : 600;
    var code = Lumivex.start(m, { seed: seed, width: fixed.width, height: fixed.height, status: status });
    if (code === 0) Lumivex.still(m, dt, ticks);
    screen.show(true);
    say(Lumivex.messages(m));
    document.body.dataset.ready = "still";
    // A wallpaper host's settings (hosts.js) make the still again.
    if (window.LumivexHosts) LumivexHosts.attach({ file: file, seed: seed, status: status, restart: function (o) {
      if (!Lumivex.setFile(m, o.file)) return say(["Lumivex: no memory for the definition file"]);
      if (Lumivex.start(m, { seed: o.seed, width: fixed.width, height: fixed.height, status: o.status }) === 0)
        Lumivex.still(m, dt, ticks);
      screen.show(true);
      say(Lumivex.messages(m));
    } });
    return;
  }

  function windowSize() {
    return Lumivex.devicePixels(window.innerWidth, window.innerHeight);
  }
  var size = windowSize();
  var player = new Lumivex.Player(m, screen, {
    onEnd: function () { say(Lumivex.messages(m)); },
  });
  var code = Lumivex.start(m, { seed: seed, width: size.width, height: size.height, status: status });
  screen.show(true);
  say(Lumivex.messages(m));
  if (code !== 0) return;
  player.go();
  window.LumivexSaverPage = { player: player, screen: screen };  // for the tests: ticks, clock, uploads
  document.body.dataset.ready = "running";
  // A wallpaper host's settings (hosts.js) start the run again at the window's size.
  if (window.LumivexHosts) LumivexHosts.attach({ file: file, seed: seed, status: status, player: player, restart: function (o) {
    player.stop();
    if (!Lumivex.setFile(m, o.file)) return say(["Lumivex: no memory for the definition file"]);
    var started = Lumivex.start(m, { seed: o.seed, width: size.width, height: size.height, status: o.status });
    screen.show(true);
    say(Lumivex.messages(m));
    if (started === 0) player.go();
  } });

  // Resizes are followed at once: a new frame, the points re-fitted, shown on the next tick.
  function follow() {
    var next = windowSize();
    if (next.width === size.width && next.height === size.height) return;
    size = next;
    if (!m._lvx_resize(size.width, size.height)) {
      player.stop();
      say(Lumivex.messages(m));
    }
    screen.show(true);
  }
  window.addEventListener("resize", follow);
  if (window.matchMedia) {
    // A new device pixel ratio (the window moved to another screen, or zoom) changes the size too.
    (function watchRatio() {
      window.matchMedia("(resolution: " + window.devicePixelRatio + "dppx)")
        .addEventListener("change", function () { follow(); watchRatio(); }, { once: true });
    })();
  }

  // The full-screen toggle shows while the pointer moves.
  var button = document.getElementById("fullscreen");
  var hideTimer = 0;
  document.addEventListener("pointermove", function () {
    button.hidden = false;
    clearTimeout(hideTimer);
    hideTimer = setTimeout(function () { button.hidden = true; }, 2000);
  });
  button.addEventListener("click", function () {
    if (document.fullscreenElement) document.exitFullscreen();
    else document.documentElement.requestFullscreen().catch(function () {});
  });
})();
