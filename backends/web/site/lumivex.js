// The web backend's page side, shared by both pages: loading a module, handing it a file,
// running the saver on a canvas tick by tick, and the share links.
"use strict";

var Lumivex = (function () {
  // At most one tick per this many ms, as the desktop timer.
  var TickPeriod = 10;

  // A page opened from file:// cannot fetch the module's wasm (the browser refuses), so there
  // it comes from a script beside it, as hex text, and is handed to the module ready-made.
  var wasmScripts = {};
  function wasmScript(name) {
    wasmScripts[name] = wasmScripts[name] || new Promise(function (resolve, reject) {
      var script = document.createElement("script");
      script.src = name + ".wasm.js";
      script.onload = function () {
        var hex = (window.LumivexWasm || {})[name] || "", bytes = new Uint8Array(hex.length >> 1);
        for (var i = 0; i < bytes.length; ++i) bytes[i] = parseInt(hex.substr(2 * i, 2), 16);
        resolve(bytes);
      };
      script.onerror = function () { reject(new Error("cannot read " + script.src)); };
      document.head.appendChild(script);
    });
    return wasmScripts[name];
  }

  function load(factory) {
    var options = { print: function () {}, printErr: function () {} };
    if (location.protocol !== "file:") return factory(options);
    return wasmScript(factory === window.LumivexPlay ? "lumivex-play" : "lumivex-web").then(function (bytes) {
      options.wasmBinary = bytes;
      return factory(options);
    });
  }

  function utf8(text) {
    return typeof text === "string" ? new TextEncoder().encode(text) : new Uint8Array(text);
  }

  // The file the next run (and check and fit) reads: a string or bytes.
  function setFile(m, text) {
    var bytes = utf8(text);
    var p = m._malloc(bytes.length + 1);
    if (!p) return false;
    m.HEAPU8.set(bytes, p);
    var failed = m._lvx_set_file(p, bytes.length);
    m._free(p);
    return failed === 0;
  }

  function messages(m) {
    var list = [];
    for (var i = 0, n = m._lvx_message_count(); i < n; ++i) list.push(m.UTF8ToString(m._lvx_message(i)));
    return list;
  }

  // A run on a canvas: the picture of the module copied to the canvas, changed rectangles only.
  function Screen(m, canvas) {
    this.m = m;
    this.canvas = canvas;
    this.ctx = canvas.getContext("2d", { alpha: false });
    this.image = null;
    this.key = "";
  }
  Screen.prototype.imageData = function () {
    var m = this.m, p = m._lvx_picture(), w = m._lvx_width(), h = m._lvx_height();
    if (!p || w <= 0 || h <= 0) return null;
    var key = [m.HEAPU8.buffer.byteLength, p, w, h].join(",");
    if (key !== this.key || this.image.data.buffer !== m.HEAPU8.buffer) {
      this.image = new ImageData(new Uint8ClampedArray(m.HEAPU8.buffer, p, w * h * 4), w, h);
      this.key = key;
    }
    return this.image;
  };
  // Copies what changed since the last copy (everything with whole).
  Screen.prototype.show = function (whole) {
    var m = this.m, image = this.imageData();
    if (!image) { m._lvx_dirty_taken(); return; }
    // The canvas is the picture's size, unless the page fixed a larger one (a still whose CSS size
    // must be whole pixels): then the picture takes its top-left corner.
    var w = Math.max(image.width, this.fixedWidth || 0), h = Math.max(image.height, this.fixedHeight || 0);
    if (this.canvas.width !== w || this.canvas.height !== h) {
      this.canvas.width = w;
      this.canvas.height = h;
      whole = true;
    }
    if (whole) {
      this.ctx.putImageData(image, 0, 0);
    } else {
      var n = m._lvx_dirty_count(), r = m._lvx_dirty() >> 2;
      for (var i = 0; i < n; ++i) {
        var left = m.HEAP32[r + 4 * i], top = m.HEAP32[r + 4 * i + 1];
        var right = m.HEAP32[r + 4 * i + 2], bottom = m.HEAP32[r + 4 * i + 3];
        this.ctx.putImageData(image, 0, 0, left, top, right - left, bottom - top);
      }
    }
    m._lvx_dirty_taken();
  };

  // Starts a run: {seed, width, height, preview, status}. The exit code (0: running).
  function start(m, o) {
    return m._lvx_start(o.seed >>> 0, o.width | 0, o.height | 0, o.preview ? 1 : 0, o.status ? 1 : 0);
  }

  // The still of lumivex-render --size WxH --seed S --dt MS --ticks N: its last frame.
  function still(m, dt, ticks) {
    return m._lvx_run(dt >>> 0, dt >>> 0, ticks >>> 0);
  }

  // Ticks a run from animation frames: at most every TickPeriod ms, on a millisecond clock that
  // wraps at 2^32 as the desktop's does; nothing while the page is hidden, and the gap taken in
  // one tick when it shows again. A tick that took long is followed by as long a rest, so the
  // page always has half the time for itself.
  function Player(m, screen, options) {
    this.m = m;
    this.screen = screen;
    this.clockBase = (options && options.clock) >>> 0;
    this.period = TickPeriod;  // a host's frame-rate cap may lengthen it
    this.paused = false;
    this.running = false;
    this.frame = 0;
    this.restUntil = 0;
    this.onTick = (options && options.onTick) || function () {};
    this.onEnd = (options && options.onEnd) || function () {};
    var self = this;
    this.loop = function (t) { self.step(t); };
    document.addEventListener("visibilitychange", function () {
      if (document.hidden) self.halt();
      else self.go();
    });
  }
  Player.prototype.now = function () {
    return (Math.floor(performance.now()) + this.clockBase) >>> 0;
  };
  Player.prototype.go = function () {
    this.running = true;
    if (!this.frame && !this.paused && !document.hidden) this.frame = requestAnimationFrame(this.loop);
  };
  Player.prototype.halt = function () {
    if (this.frame) cancelAnimationFrame(this.frame);
    this.frame = 0;
  };
  Player.prototype.stop = function () {
    this.halt();
    this.running = false;
  };
  // A pause stops the clock: it runs on from where it stood, without the paused time as a gap.
  Player.prototype.pause = function (paused) {
    if (paused === this.paused) return;
    this.paused = paused;
    if (paused) {
      this.halt();
      this.pausedAt = this.lastNow === undefined ? this.now() : this.lastNow;
    } else {
      this.clockBase = (this.clockBase + this.pausedAt - this.now()) >>> 0;
      if (this.running) this.go();
    }
  };
  // One tick 10 ms after the last, while paused.
  Player.prototype.stepOnce = function () {
    if (!this.paused || !this.running) return false;
    this.pausedAt = (this.pausedAt + TickPeriod) >>> 0;
    return this.tick(this.pausedAt);
  };
  Player.prototype.tick = function (at) {
    var now = at === undefined ? this.now() : at;
    this.lastNow = now;
    this.ticks = (this.ticks || 0) + 1;
    (this.recent = this.recent || []).push(now);  // the last clock values, for the tests
    if (this.recent.length > 64) this.recent.shift();
    var alive = this.m._lvx_tick(now);
    this.screen.show(false);
    this.onTick();
    if (!alive) {
      this.stop();
      this.onEnd();
    }
    return alive;
  };
  Player.prototype.step = function (t) {
    this.frame = 0;
    if (!this.running || this.paused) return;
    // The clock of the frame's own time: ticks a whole period apart on the saver's clock.
    var now = (Math.floor(t) + this.clockBase) >>> 0;
    if ((this.lastNow === undefined || ((now - this.lastNow) >>> 0) >= this.period) && t >= this.restUntil) {
      var begun = performance.now();
      if (!this.tick(now)) return;
      var took = performance.now() - begun;
      this.restUntil = took > TickPeriod ? performance.now() + took : 0;
    }
    this.frame = requestAnimationFrame(this.loop);
  };

  // --- Share links: the file, seed and size in the fragment, deflated and in base64url. ---

  // The most a share link may unpack to: far more than any sensible definition file.
  var MaxSharedBytes = 4 << 20;

  function base64url(bytes) {
    var s = "";
    for (var i = 0; i < bytes.length; i += 0x8000) s += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    return btoa(s).replace(/\+/g, "-").replace(/\//g, "_").replace(/=+$/, "");
  }
  function fromBase64url(text) {
    var s = atob(text.replace(/-/g, "+").replace(/_/g, "/"));
    var bytes = new Uint8Array(s.length);
    for (var i = 0; i < s.length; ++i) bytes[i] = s.charCodeAt(i);
    return bytes;
  }
  async function pipe(bytes, stream, limit) {
    var reader = new Blob([bytes]).stream().pipeThrough(stream).getReader();
    var parts = [], total = 0;
    for (;;) {
      var r = await reader.read();
      if (r.done) break;
      total += r.value.length;
      if (total > limit) {
        reader.cancel();
        throw new Error("the shared file unpacks to more than " + (limit >> 20) + " MB");
      }
      parts.push(r.value);
    }
    var out = new Uint8Array(total), at = 0;
    parts.forEach(function (p) { out.set(p, at); at += p.length; });
    return out;
  }
  // more: the playground's other settings, {status: true, ifs: "3"}; the file comes last.
  async function packShare(fileBytes, seed, size, more) {
    var packed = await pipe(utf8(fileBytes), new CompressionStream("deflate-raw"), Infinity);
    var extra = (more && more.status ? "&status=1" : "") +
      (more && more.ifs && more.ifs !== "all" ? "&ifs=" + encodeURIComponent(more.ifs) : "");
    return "seed=" + (seed >>> 0) + "&size=" + encodeURIComponent(size) + extra + "&file=" + base64url(packed);
  }
  // {file: bytes, seed, size, status, ifs} from a fragment, or null when it carries no file.
  async function unpackShare(fragment) {
    var params = new URLSearchParams(fragment.replace(/^#/, ""));
    if (!params.has("file")) return null;
    var packed;
    try {
      packed = fromBase64url(params.get("file"));
    } catch (e) {
      throw new Error("the link's file is not base64url");
    }
    var file;
    try {
      file = await pipe(packed, new DecompressionStream("deflate-raw"), MaxSharedBytes);
    } catch (e) {
      throw new Error(/unpacks/.test(e.message) ? e.message : "the link's file cannot be unpacked");
    }
    return { file: file, seed: params.get("seed"), size: params.get("size"), status: params.get("status") === "1",
             ifs: params.get("ifs") };
  }

  // A size "WxH" by the saver's own rule (each side 1 to 16384), or null.
  function parseSize(m, text) {
    if (typeof text !== "string" || text.length > 64) return null;
    var bytes = utf8(text), p = m._malloc(bytes.length + 1), out = m._malloc(8);
    m.HEAPU8.set(bytes, p);
    m.HEAPU8[p + bytes.length] = 0;
    var ok = m._lvx_parse_size(p, out, out + 4);
    var size = ok ? { width: m.HEAP32[out >> 2], height: m.HEAP32[(out >> 2) + 1] } : null;
    m._free(p);
    m._free(out);
    return size;
  }

  // The canvas's size in device pixels for its CSS box: one point, one device pixel.
  function devicePixels(cssWidth, cssHeight) {
    var ratio = window.devicePixelRatio || 1;
    return { width: Math.max(1, Math.round(cssWidth * ratio)), height: Math.max(1, Math.round(cssHeight * ratio)) };
  }

  function calendarSeed() {
    return Math.floor(Date.now() / 1000) >>> 0;
  }

  return {
    load: load, setFile: setFile, messages: messages, Screen: Screen, start: start, still: still, Player: Player,
    packShare: packShare, unpackShare: unpackShare, parseSize: parseSize, devicePixels: devicePixels,
    calendarSeed: calendarSeed, utf8: utf8,
  };
})();
