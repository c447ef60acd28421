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

  // --- The drawing: how a run's frame reaches its canvas. ---
  //
  // Points: with WebGL2 on a real GPU the page draws the frame's points itself, one pixel each,
  // and the status strip from the module's picture of it (the renderer's font): a frame costs the
  // page its points, not its pixels. Picture: elsewhere the module keeps an RGBA picture up to
  // date point by point and the page copies the rectangles that changed with putImageData. A
  // WebGL2 that draws in software (SwiftShader, llvmpipe) goes with a compositor in software too,
  // which reads every WebGL frame back whole: there the picture costs the page as much and the
  // browser far less (docs/performance.md). Either way a frame that changed nothing touches the
  // canvas not at all; `uploads` counts the canvas's updates (putImageData calls, WebGL frames).

  // The status strip's drawn cells are never wider than this (a 63-character line).
  var StripTextureWidth = 64 * 8;

  var PointShader = "#version 300 es\n" +
    "layout(location = 0) in ivec2 point;\n" +
    "uniform vec2 origin;\n" +  // the image's bottom-left pixel in drawing-buffer pixels
    "uniform vec2 size;\n" +
    "void main() {\n" +
    "  gl_Position = vec4((vec2(point) + origin + 0.5) / size * 2.0 - 1.0, 0.0, 1.0);\n" +
    "  gl_PointSize = 1.0;\n" +
    "}\n";
  var ColourShader = "#version 300 es\nprecision mediump float;\nuniform vec4 colour;\nout vec4 pixel;\n" +
    "void main() { pixel = colour; }\n";
  // The strip: a triangle over the whole buffer, scissored to the strip, each pixel from its texel.
  var StripShader = "#version 300 es\n" +
    "void main() {\n" +
    "  vec2 corner = vec2(gl_VertexID == 1 ? 3.0 : -1.0, gl_VertexID == 2 ? 3.0 : -1.0);\n" +
    "  gl_Position = vec4(corner, 0.0, 1.0);\n" +
    "}\n";
  var StripPixelShader = "#version 300 es\nprecision highp float;\nuniform highp sampler2D strip;\n" +
    "uniform int top;\nout vec4 pixel;\n" +
    "void main() { pixel = texelFetch(strip, ivec2(int(gl_FragCoord.x), top - int(gl_FragCoord.y)), 0); }\n";

  function program(gl, vertex, fragment) {
    var p = gl.createProgram();
    [[gl.VERTEX_SHADER, vertex], [gl.FRAGMENT_SHADER, fragment]].forEach(function (s) {
      var shader = gl.createShader(s[0]);
      gl.shaderSource(shader, s[1]);
      gl.compileShader(shader);
      gl.attachShader(p, shader);
    });
    gl.linkProgram(p);
    return gl.getProgramParameter(p, gl.LINK_STATUS) ? p : null;
  }

  // Whether a WebGL2 would draw in software. Asked on a canvas of its own, which is then dropped:
  // a canvas that has had a WebGL context can never take a 2D one.
  function softwareWebGL() {
    var gl = null;
    try {
      gl = document.createElement("canvas").getContext("webgl2");
    } catch (e) {
      gl = null;
    }
    if (!gl) return true;
    var info = gl.getExtension("WEBGL_debug_renderer_info");
    var name = String(gl.getParameter(info ? info.UNMASKED_RENDERER_WEBGL : gl.RENDERER));
    var lose = gl.getExtension("WEBGL_lose_context");
    if (lose) lose.loseContext();
    return /swiftshader|llvmpipe|softpipe|software/i.test(name);
  }

  // WebGL2's drawing of the points; its gl is unset where the browser has none to give.
  function PointsDrawing(canvas, keep) {
    var gl = null;
    try {
      gl = canvas.getContext("webgl2", { alpha: false, antialias: false, depth: false, stencil: false,
                                         preserveDrawingBuffer: !!keep, powerPreference: "low-power" });
    } catch (e) {
      gl = null;
    }
    if (!gl || !this.prepare(gl)) return;
    this.gl = gl;
    // A context the GPU lost (a driver reset, a sleep) comes back empty: made again, then the
    // next frame is drawn whole.
    var self = this;
    canvas.addEventListener("webglcontextlost", function (e) { e.preventDefault(); });
    canvas.addEventListener("webglcontextrestored", function () {
      self.prepare(gl);
      self.lost = true;
    });
  }
  // The programs, buffer, texture and state of a new context; false when the shaders fail.
  PointsDrawing.prototype.prepare = function (gl) {
    var points = program(gl, PointShader, ColourShader), strip = program(gl, StripShader, StripPixelShader);
    if (!points || !strip) return false;
    this.points = points;
    this.strip = strip;
    this.where = { origin: gl.getUniformLocation(points, "origin"), size: gl.getUniformLocation(points, "size"),
                   colour: gl.getUniformLocation(points, "colour"), top: gl.getUniformLocation(strip, "top") };
    this.buffer = gl.createBuffer();
    this.texture = gl.createTexture();
    this.stripWidth = 0;
    this.stripRows = 0;
    this.empty = gl.createVertexArray();  // the strip's triangle reads no attribute
    this.vertices = gl.createVertexArray();
    gl.bindVertexArray(this.vertices);
    gl.bindBuffer(gl.ARRAY_BUFFER, this.buffer);
    gl.enableVertexAttribArray(0);
    gl.vertexAttribIPointer(0, 2, gl.INT, 0, 0);
    gl.bindVertexArray(null);
    gl.disable(gl.DITHER);
    gl.disable(gl.BLEND);
    gl.disable(gl.DEPTH_TEST);
    gl.clearColor(0, 0, 0, 1);
    return true;
  };
  // The whole frame: black, the strip, the points. The strip's texture is sent again only when
  // its pixels changed, the points every frame.
  PointsDrawing.prototype.draw = function (m, canvasWidth, canvasHeight, stripChanged) {
    var gl = this.gl, p = m._lvx_picture(), width = m._lvx_width();
    var rows = Math.min(m._lvx_picture_rows(), canvasHeight);
    gl.viewport(0, 0, canvasWidth, canvasHeight);
    gl.disable(gl.SCISSOR_TEST);
    gl.clear(gl.COLOR_BUFFER_BIT);
    gl.enable(gl.SCISSOR_TEST);
    var stripWidth = Math.min(width, StripTextureWidth);
    if (p && rows > 0 && stripWidth > 0) {
      gl.bindTexture(gl.TEXTURE_2D, this.texture);
      if (stripChanged || stripWidth !== this.stripWidth || rows !== this.stripRows) {
        gl.pixelStorei(gl.UNPACK_ALIGNMENT, 4);
        gl.pixelStorei(gl.UNPACK_ROW_LENGTH, width);
        gl.texImage2D(gl.TEXTURE_2D, 0, gl.RGBA8, stripWidth, rows, 0, gl.RGBA, gl.UNSIGNED_BYTE, m.HEAPU8, p);
        gl.pixelStorei(gl.UNPACK_ROW_LENGTH, 0);
        gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.NEAREST);
        gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, gl.NEAREST);
        this.stripWidth = stripWidth;
        this.stripRows = rows;
      }
      gl.useProgram(this.strip);
      gl.uniform1i(this.where.top, canvasHeight - 1);
      gl.scissor(0, canvasHeight - rows, stripWidth, rows);
      gl.bindVertexArray(this.empty);
      gl.drawArrays(gl.TRIANGLES, 0, 3);
    }
    var n = m._lvx_shown_count(), top = m._lvx_image_top();
    var imageWidth = Math.min(m._lvx_image_width(), width), imageRows = m._lvx_image_height();
    // A child preview's image runs past the window's foot: those rows are not shown.
    var shownRows = Math.min(imageRows, m._lvx_height() - top);
    if (n > 0 && imageWidth > 0 && shownRows > 0) {
      var c = m._lvx_colour();
      // Image row 0 is window row top + imageRows - 1, drawing-buffer row canvasHeight - top - imageRows.
      gl.useProgram(this.points);
      gl.uniform2f(this.where.origin, 0, canvasHeight - top - imageRows);
      gl.uniform2f(this.where.size, canvasWidth, canvasHeight);
      gl.uniform4f(this.where.colour, (c >> 16 & 255) / 255, (c >> 8 & 255) / 255, (c & 255) / 255, 1);
      gl.scissor(0, canvasHeight - top - shownRows, imageWidth, shownRows);
      gl.bindVertexArray(this.vertices);
      gl.bindBuffer(gl.ARRAY_BUFFER, this.buffer);
      gl.bufferData(gl.ARRAY_BUFFER, m.HEAP32, gl.STREAM_DRAW, m._lvx_shown() >> 2, 2 * n);
      gl.drawArrays(gl.POINTS, 0, n);
    }
    gl.bindVertexArray(null);
  };

  // Today's drawing: the module's RGBA picture, the changed rectangles copied with putImageData.
  function PictureDrawing(canvas) {
    this.ctx = canvas.getContext("2d", { alpha: false });
    this.image = null;
    this.key = "";
  }
  PictureDrawing.prototype.imageData = function (m) {
    var p = m._lvx_picture(), w = m._lvx_width(), h = m._lvx_height();
    if (!p || w <= 0 || h <= 0) return null;
    var key = [m.HEAPU8.buffer.byteLength, p, w, h].join(",");
    if (key !== this.key || this.image.data.buffer !== m.HEAPU8.buffer) {
      this.image = new ImageData(new Uint8ClampedArray(m.HEAPU8.buffer, p, w * h * 4), w, h);
      this.key = key;
    }
    return this.image;
  };
  // The number of canvas updates it made.
  PictureDrawing.prototype.draw = function (m, whole) {
    var image = this.ctx && this.imageData(m);  // no 2D context: a WebGL2 that failed took the canvas
    if (!image) return 0;
    if (whole) {
      this.ctx.putImageData(image, 0, 0);
      return 1;
    }
    var n = m._lvx_dirty_count(), r = m._lvx_dirty() >> 2;
    for (var i = 0; i < n; ++i) {
      var left = m.HEAP32[r + 4 * i], top = m.HEAP32[r + 4 * i + 1];
      var right = m.HEAP32[r + 4 * i + 2], bottom = m.HEAP32[r + 4 * i + 3];
      this.ctx.putImageData(image, 0, 0, left, top, right - left, bottom - top);
    }
    return n;
  };

  // A run on a canvas. options: drawing ("points" or "picture" rather than the choice above; points
  // falls back to the picture where WebGL2 is missing), keep (the canvas keeps its pixels after a
  // frame, for toBlob and toDataURL at any time). Chosen before the module's first run: the
  // module keeps a picture of the size the drawing needs.
  function Screen(m, canvas, options) {
    options = options || {};
    this.m = m;
    this.canvas = canvas;
    this.uploads = 0;
    var points = options.drawing === "points" || (options.drawing !== "picture" && !softwareWebGL());
    this.gl = points ? new PointsDrawing(canvas, options.keep) : null;
    if (this.gl && !this.gl.gl) this.gl = null;
    this.picture = this.gl ? null : new PictureDrawing(canvas);
    this.drawing = this.gl ? "points" : "picture";
    m._lvx_set_drawing(this.gl ? 1 : 0);
  }
  // Shows what changed since the last show (everything with whole); nothing when nothing did.
  Screen.prototype.show = function (whole) {
    var m = this.m, w0 = m._lvx_width(), h0 = m._lvx_height();
    if (!m._lvx_picture() || w0 <= 0 || h0 <= 0) { m._lvx_dirty_taken(); return; }
    // The canvas is the picture's size, unless the page fixed a larger one (a still whose CSS size
    // must be whole pixels): then the picture takes its top-left corner.
    var w = Math.max(w0, this.fixedWidth || 0), h = Math.max(h0, this.fixedHeight || 0);
    if (this.canvas.width !== w || this.canvas.height !== h) {
      this.canvas.width = w;
      this.canvas.height = h;
      whole = true;
    }
    if (this.gl) {
      if (this.gl.lost) whole = true;
      this.gl.lost = false;
      if (whole || m._lvx_dirty_count() > 0 || m._lvx_strip_changed()) {
        this.gl.draw(m, w, h, whole || m._lvx_strip_changed());
        this.uploads += 1;
      }
    } else {
      this.uploads += this.picture.draw(m, whole);
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
