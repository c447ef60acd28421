// The saver page inside the web-wallpaper hosts: Lively Wallpaper's and Wallpaper Engine's
// property callbacks and pause events, turned into the page's own run (saver.js attaches).
"use strict";

var LumivexHosts = (function () {
  // What the hosts asked for; null: as the page was opened (its query, its file).
  var wanted = { definition: 0, seed: null, status: null, fps: 0, hostFps: 0, paused: false };
  var page = null, pending = false;

  // The file with its point count and only its n-th definition (1: the first), laid out as the
  // saver reads it: the count is the first line that starts with a whole number; each
  // definition a header line starting with its number of maps m, m map lines and a box line.
  // Other lines between definitions are left out. 0, or a file without it: the file as it is.
  function oneDefinition(file, n) {
    if (!(n > 0)) return file;
    var text = typeof file === "string" ? file : new TextDecoder().decode(file);
    var lines = text.replace(/\r/g, "").split("\n"), i = 0, count = null;
    for (; i < lines.length && count === null; ++i) if (/^\s*[-+]?\d/.test(lines[i])) count = lines[i];
    for (var k = 1; i < lines.length; ++i) {
      var maps = /^\s*\+?(\d+)/.exec(lines[i]);
      if (!maps || Number(maps[1]) <= 0) continue;
      var end = i + Number(maps[1]) + 2;
      if (k === n) return [count].concat(lines.slice(i, end)).join("\n") + "\n";
      i = end - 1;
      ++k;
    }
    return file;
  }

  // The settings now in force, as the page's run takes them.
  function run() {
    return {
      file: oneDefinition(page.file, wanted.definition),
      seed: wanted.seed === null ? page.seed : wanted.seed,
      status: wanted.status === null ? page.status : wanted.status,
    };
  }

  // Changes that come together (a host hands over every property at load) make one new run.
  function restart() {
    if (!page || pending) return;
    pending = true;
    setTimeout(function () {
      pending = false;
      page.restart(run());
      document.body.dataset.hostRuns = String(Number(document.body.dataset.hostRuns || 0) + 1);
    }, 0);
  }

  // The frame-rate cap: the lower of the user's and the host's, never above the saver's own.
  function pace() {
    if (!page || !page.player) return;
    var caps = [wanted.fps, wanted.hostFps].filter(function (f) { return f > 0; });
    var fps = caps.length ? Math.min.apply(null, caps) : 0;
    page.player.period = fps > 0 ? Math.max(10, Math.floor(1000 / fps)) : 10;
  }

  function pause(paused) {
    wanted.paused = !!paused;
    if (page && page.player) page.player.pause(wanted.paused);
  }

  // A host is driving the page: it is a wallpaper, so the full-screen button stays away.
  function hosted() {
    if (document.body) document.body.classList.add("hosted");
  }

  // One property by its name in the package files, whichever host sends it.
  function set(name, value) {
    hosted();
    if (name === "definition") {
      var n = Number(value);
      wanted.definition = Number.isInteger(n) && n >= 0 ? n : 0;
    } else if (name === "seed") {
      var text = String(value === undefined || value === null ? "" : value).trim();
      wanted.seed = /^[0-9]{1,10}$/.test(text) && Number(text) <= 4294967295 ? Number(text) >>> 0 : null;
    } else if (name === "status") {
      wanted.status = value === true || value === "true" || value === 1;
    } else if (name === "fps") {
      wanted.fps = Number(value) > 0 ? Number(value) : 0;
      return pace();
    } else {
      return;
    }
    restart();
  }

  // Lively Wallpaper: one call per property of LivelyProperties.json (a dropdown's index, a
  // checkbox's boolean, a text box's text, a slider's number), and with --pause-event its
  // playback state as JSON.
  window.livelyPropertyListener = function (name, value) { set(name, value); };
  window.livelyWallpaperPlaybackChanged = function (data) {
    hosted();
    try {
      pause(JSON.parse(data).IsPaused);
    } catch (e) {
      // not the documented JSON: leave the run as it is
    }
  };

  // Wallpaper Engine: the changed user properties of project.json ({key: {value}}), the
  // general settings (its frame-rate limit) and pause.
  window.wallpaperPropertyListener = {
    applyUserProperties: function (properties) {
      ["definition", "seed", "status"].forEach(function (name) {
        if (properties && properties[name]) set(name, properties[name].value);
      });
    },
    applyGeneralProperties: function (properties) {
      hosted();
      if (properties && "fps" in properties) {
        wanted.hostFps = Number(properties.fps) > 0 ? Number(properties.fps) : 0;
        pace();
      }
    },
    setPaused: function (paused) {
      hosted();
      pause(paused);
    },
  };

  // The page's run is ready: {file, seed, status, player (none for a still), restart(run)}.
  // Whatever the hosts sent before is applied now.
  function attach(hooks) {
    page = hooks;
    pace();
    if (page.player && wanted.paused) page.player.pause(true);
    if (wanted.definition || wanted.seed !== null || wanted.status !== null) restart();
  }

  return { attach: attach, oneDefinition: oneDefinition };
})();
