// The playground: edit a definition file, see its picture and the checker's report as you type.
"use strict";

(async function () {
  var $ = function (id) { return document.getElementById(id); };
  var text = $("text"), gutter = $("gutter"), reportBox = $("report"), canvas = $("screen"), stage = $("stage");
  var messageBox = $("play-message"), statusLine = $("statusline"), choice = $("definition"), seedBox = $("seed");
  var sizeBox = $("size"), statusBox = $("status"), shareOut = $("share-out");

  // One module runs the picture; another checks and fits, so that its readings never disturb the run.
  var runner = await Lumivex.load(LumivexPlay);
  var checker = await Lumivex.load(LumivexPlay);
  // The canvas keeps its pixels for "save the frame" (toBlob) whenever it is asked.
  var screen = new Lumivex.Screen(runner, canvas, { keep: true });
  var paused = false;
  var reports = [], summary = null, warnedLines = new Set();

  function say(box, lines) {
    box.textContent = lines.join("\n\n");  // words from the file stay text, never markup
    box.hidden = lines.length === 0;
  }

  var player = new Lumivex.Player(runner, screen, {
    onTick: showStatus,
    onEnd: function () { say(messageBox, Lumivex.messages(runner)); showStatus(); },
  });

  // --- What to start from: a share link, else the shipped gallery. ---
  // The definition a link chose, taken once the check has listed the definitions.
  var shareError = null, sharedChoice = null;
  function applyShare(shared) {
    text.value = shared ? new TextDecoder().decode(shared.file) : LumivexGallery;
    seedBox.value = shared && /^[0-9]{1,10}$/.test(shared.seed || "") && Number(shared.seed) <= 4294967295
      ? shared.seed : String(Lumivex.calendarSeed());
    if (shared && shared.size && Array.prototype.some.call(sizeBox.options, function (o) { return o.value === shared.size; }))
      sizeBox.value = shared.size;
    if (shared) statusBox.checked = shared.status;
    sharedChoice = shared && /^[0-9]{1,10}$/.test(shared.ifs || "") ? shared.ifs : "all";
  }
  async function readShare() {
    shareError = null;
    try {
      return await Lumivex.unpackShare(location.hash);
    } catch (e) {
      shareError = "This share link cannot be opened: " + e.message + ".";
      return null;
    }
  }
  applyShare(await readShare());

  // --- The editor: line numbers beside the text, warned lines marked. ---
  function drawGutter() {
    var count = text.value.split("\n").length;
    var frag = document.createDocumentFragment();
    for (var i = 1; i <= count; ++i) {
      var span = document.createElement("span");
      span.textContent = i + "\n";
      if (warnedLines.has(i)) span.className = "warned";
      frag.appendChild(span);
    }
    gutter.replaceChildren(frag);
    gutter.scrollTop = text.scrollTop;
  }
  text.addEventListener("scroll", function () { gutter.scrollTop = text.scrollTop; });

  function goToLine(n) {
    var lines = text.value.split("\n");
    var start = 0;
    for (var i = 0; i < n - 1 && i < lines.length; ++i) start += lines[i].length + 1;
    var end = start + (lines[n - 1] || "").length;
    text.focus();
    text.setSelectionRange(start, end);
    var lineHeight = parseFloat(getComputedStyle(text).lineHeight) || 19;
    text.scrollTop = Math.max(0, (n - 3) * lineHeight);
  }

  // Replaces the whole text as one step the editor's undo takes back.
  function replaceText(next) {
    text.focus();
    text.select();
    if (!document.execCommand("insertText", false, next)) text.value = next;
    schedule();
  }

  // --- The checker's report, one part per definition, each warning linked to its line. ---
  function pictureSize() {
    var v = sizeBox.value;
    if (v === "window") {
      var box = stage.getBoundingClientRect();
      return Lumivex.devicePixels(box.width, box.height);
    }
    return Lumivex.parseSize(runner, v);
  }

  function withCode(m, call) {
    var p = m._malloc(4);
    var answer = m.UTF8ToString(call(p));
    var code = m.HEAP32[p >> 2];
    m._free(p);
    return { text: answer, code: code };
  }

  async function renewChecker() {
    checker = await Lumivex.load(LumivexPlay);
  }

  function runCheck() {
    var size = pictureSize();
    if (!Lumivex.setFile(checker, text.value)) return { text: "", code: 2 };
    return withCode(checker, function (p) { return checker._lvx_check(size.width, size.height, p); });
  }

  // The line a warning is about: the one it names, else its map's or box's line, else the header.
  function lineOf(warning, report) {
    var m = /\bline (\d+)/.exec(warning);
    if (m) return Number(m[1]);
    var uses = report.lines.filter(function (l) { return l.use === "map"; });
    m = /^map (\d+)\b/.exec(warning);
    if (m && uses[Number(m[1]) - 1]) return uses[Number(m[1]) - 1].line;
    var box = report.lines.find(function (l) { return l.use === "box"; });
    if (/\bbox\b/.test(warning) && box) return box.line;
    return report.line;
  }

  function link(line, label) {
    var a = document.createElement("a");
    a.textContent = label;
    a.dataset.line = line;
    a.addEventListener("click", function () { goToLine(line); });
    return a;
  }

  function showReport(result) {
    reports = [];
    summary = null;
    var other = [];
    result.text.split("\n").forEach(function (line) {
      if (!line) return;
      var value = null;
      try { value = JSON.parse(line); } catch (e) { /* a message, not a report */ }
      if (value && "ifs" in value) reports.push(value);
      else if (value && "summary" in value) summary = value;
      else other.push(line);
    });
    warnedLines = new Set();
    var frag = document.createDocumentFragment();
    other.forEach(function (line) {
      var p = document.createElement("p");
      p.className = "warning";
      p.textContent = line;
      frag.appendChild(p);
    });
    reports.forEach(function (r) {
      var h = document.createElement("h3");
      h.appendChild(document.createTextNode("IFS # " + r.ifs + ", "));
      h.appendChild(link(r.line, "line " + r.line));
      h.appendChild(document.createTextNode(": " + r.maps.length + " map" + (r.maps.length === 1 ? "" : "s") +
        (r.suggested_box_line ? "; suggested box " + r.suggested_box_line : "")));
      frag.appendChild(h);
      r.notes.forEach(function (note) {
        var p = document.createElement("div");
        p.className = "note";
        p.textContent = "note: " + note;
        frag.appendChild(p);
      });
      r.warnings.forEach(function (warning) {
        var line = lineOf(warning, r);
        warnedLines.add(line);
        var p = document.createElement("div");
        p.className = "warning";
        p.appendChild(link(line, "line " + line));
        p.appendChild(document.createTextNode(": " + warning));
        frag.appendChild(p);
      });
    });
    if (summary) {
      summary.file_warnings.forEach(function (warning) {
        var p = document.createElement("div");
        p.className = "warning";
        var m = /\bline (\d+)/.exec(warning);
        if (m) {
          warnedLines.add(Number(m[1]));
          p.appendChild(link(Number(m[1]), "line " + m[1]));
          p.appendChild(document.createTextNode(": " + warning));
        } else {
          p.textContent = "warning: " + warning;
        }
        frag.appendChild(p);
      });
      var s = document.createElement("p");
      s.className = "summary";
      s.textContent = summary.summary;
      frag.appendChild(s);
    }
    reportBox.replaceChildren(frag);
    showImportLog();
    drawGutter();
    updateChoice();
  }

  // The definitions to choose from, numbered as the status line numbers them.
  function updateChoice() {
    var kept = sharedChoice !== null ? sharedChoice : choice.value;
    sharedChoice = null;
    while (choice.options.length > 1) choice.remove(1);
    reports.forEach(function (r) {
      var o = document.createElement("option");
      o.value = String(r.ifs);
      o.textContent = "IFS # " + r.ifs + " (line " + r.line + ")";
      choice.appendChild(o);
    });
    choice.value = Array.prototype.some.call(choice.options, function (o) { return o.value === kept; }) ? kept : "all";
  }

  // The file the picture shows: the whole text, or the point count and one definition's lines.
  function pictureFile() {
    if (choice.value === "all" || !summary) return text.value;
    var r = reports.find(function (x) { return String(x.ifs) === choice.value; });
    if (!r) return text.value;
    var lines = [String(summary.point_count)];
    r.lines.forEach(function (l) { if (l.use !== "skipped" && "text" in l) lines.push(l.text); });
    return lines.join("\n") + "\n";
  }

  // --- The picture. ---
  function placeCanvas() {
    var ratio = window.devicePixelRatio || 1;
    var box = stage.getBoundingClientRect();
    var w = canvas.width / ratio, h = canvas.height / ratio;
    var k = sizeBox.value === "window" ? 1 : Math.min(1, box.width / w, box.height / h);
    canvas.style.width = w * k + "px";
    canvas.style.height = h * k + "px";
  }

  var sizeNow = null;
  function runPicture() {
    player.stop();
    say(messageBox, shareError ? [shareError] : []);
    var size = pictureSize();
    sizeNow = size;
    var file = pictureFile();
    if (!Lumivex.setFile(runner, file)) {
      say(messageBox, ["Lumivex: no memory for the definition file"]);
      return;
    }
    var code = Lumivex.start(runner, {
      seed: Number(seedBox.value) >>> 0, width: size.width, height: size.height,
      preview: sizeBox.value === "152x112", status: statusBox.checked,
    });
    screen.show(true);
    placeCanvas();
    var messages = Lumivex.messages(runner);
    if (shareError) messages.unshift(shareError);
    say(messageBox, messages);
    showStatus();
    if (code === 0) {
      player.go();
      player.pause(paused);
    }
    document.body.dataset.runs = String(Number(document.body.dataset.runs || 0) + 1);
  }

  function showStatus() {
    var line = runner.UTF8ToString(runner._lvx_status()).trim();
    statusLine.textContent = line + (paused ? "   (paused)" : "") + "   seed " + seedBox.value +
      (sizeNow ? "   " + sizeNow.width + "x" + sizeNow.height : "");
  }

  // Shortly after the last edit: the report, then the picture.
  var timer = 0;
  function schedule() {
    clearTimeout(timer);
    timer = setTimeout(refresh, 300);
    drawGutter();
  }
  function refresh() {
    timer = 0;
    try {
      showReport(runCheck());
    } catch (e) {
      // The checker's module stopped (out of memory): a new one for the next edit.
      showReport({ text: "The checker stopped on this file: " + e.message, code: 2 });
      renewChecker();
    }
    runPicture();
    document.body.dataset.checked = String(Number(document.body.dataset.checked || 0) + 1);
  }

  text.addEventListener("input", schedule);
  choice.addEventListener("change", runPicture);
  seedBox.addEventListener("change", runPicture);
  sizeBox.addEventListener("change", refresh);
  statusBox.addEventListener("change", runPicture);
  $("pause").addEventListener("click", function () {
    paused = !paused;
    player.pause(paused);
    $("pause").textContent = paused ? "Run" : "Pause";
    showStatus();
  });
  $("step").addEventListener("click", function () {
    if (!paused) $("pause").click();
    player.stepOnce();
  });
  window.addEventListener("resize", function () {
    if (sizeBox.value !== "window") { placeCanvas(); return; }
    var next = pictureSize();
    if (sizeNow && next.width === sizeNow.width && next.height === sizeNow.height) return;
    sizeNow = next;
    runner._lvx_resize(next.width, next.height);
    screen.show(true);
    placeCanvas();
  });

  // --- Fit the box (and the weights), as lumivex-render --fit does, as one undoable edit. ---
  function fit(weights) {
    var size = pictureSize();
    if (!Lumivex.setFile(checker, text.value)) return;
    var result = withCode(checker, function (p) { return checker._lvx_fit(weights ? 1 : 0, size.width, size.height, p); });
    var log = checker.UTF8ToString(checker._lvx_fit_log());
    if (result.code !== 2 && result.text !== text.value) replaceText(result.text);
    var p = document.createElement("pre");
    p.className = result.code === 0 ? "summary" : "warning";
    p.textContent = log;
    reportBox.prepend(p);
  }
  $("fit").addEventListener("click", function () { fit(false); });
  $("fit-weights").addEventListener("click", function () { fit(true); });
  $("undo").addEventListener("click", function () {
    text.focus();
    document.execCommand("undo");
  });

  // --- Files: open, drop, download; the frame as PNG; the share link. ---
  function download(blob, name) {
    var a = document.createElement("a");
    a.href = URL.createObjectURL(blob);
    a.download = name;
    document.body.appendChild(a);
    a.click();
    a.remove();
    setTimeout(function () { URL.revokeObjectURL(a.href); }, 1000);
  }
  async function takeFile(file) {
    if (!file) return;
    if (/\.ifs$/i.test(file.name)) return importIfs(file.name, new Uint8Array(await file.arrayBuffer()));
    replaceText(await file.text());
  }
  $("open").addEventListener("click", function () { $("file").click(); });
  $("file").addEventListener("change", function () { takeFile($("file").files[0]); $("file").value = ""; });
  var editor = $("editor");
  editor.addEventListener("dragover", function (e) { e.preventDefault(); editor.classList.add("dropping"); });
  editor.addEventListener("dragleave", function () { editor.classList.remove("dropping"); });
  editor.addEventListener("drop", function (e) {
    e.preventDefault();
    editor.classList.remove("dropping");
    takeFile(e.dataTransfer.files[0]);
  });
  $("download").addEventListener("click", function () {
    download(new Blob([text.value], { type: "text/plain" }), "lumivex.ini");
  });
  $("png").addEventListener("click", function () {
    canvas.toBlob(function (blob) { download(blob, "lumivex-" + seedBox.value + ".png"); }, "image/png");
  });
  $("share").addEventListener("click", async function () {
    var fragment = await Lumivex.packShare(text.value, Number(seedBox.value) >>> 0, sizeBox.value,
                                           { status: statusBox.checked, ifs: choice.value });
    shareOut.value = location.origin + location.pathname + "#" + fragment;
    shareOut.select();
    if (navigator.clipboard) navigator.clipboard.writeText(shareOut.value).catch(function () {});
  });

  // --- .ifs files: imported in the page as lumivex-render --import makes them (one undoable edit),
  // the edited file saved as lumivex-render --export-ifs writes it. ---
  var importLog = null;  // what the last import said, shown above the report while its text stands
  function showImportLog() {
    if (!importLog) return;
    if (importLog.text && importLog.text !== text.value) { importLog = null; return; }
    var p = document.createElement("pre");
    p.id = "import-report";
    p.className = importLog.code === 0 ? "summary" : "warning";
    p.textContent = importLog.log;
    reportBox.prepend(p);
    if (!importLog.text) importLog = null;  // nothing came in: said once
  }
  function cString(m, s) {
    var bytes = Lumivex.utf8(s), p = m._malloc(bytes.length + 1);
    m.HEAPU8.set(bytes, p);
    m.HEAPU8[p + bytes.length] = 0;
    return p;
  }
  function importIfs(name, bytes) {
    var size = pictureSize();
    if (!Lumivex.setFile(checker, bytes)) return;
    var n = cString(checker, name), g = cString(checker, LumivexGallery);
    var result = withCode(checker, function (p) { return checker._lvx_import(n, g, size.width, size.height, p); });
    checker._free(n);
    checker._free(g);
    importLog = { text: result.code === 2 ? "" : result.text, log: checker.UTF8ToString(checker._lvx_ifs_log()),
                  code: result.code };
    if (importLog.text) replaceText(importLog.text);
    else showImportLog();
  }
  $("download-ifs").addEventListener("click", function () {
    if (!Lumivex.setFile(checker, text.value)) return;
    var result = withCode(checker, function (p) { return checker._lvx_export_ifs(p); });
    if (result.code !== 2 && result.text) download(new Blob([result.text], { type: "text/plain" }), "lumivex.ifs");
    var p = document.createElement("pre");
    p.className = result.code === 0 ? "summary" : "warning";
    p.textContent = checker.UTF8ToString(checker._lvx_ifs_log());
    reportBox.prepend(p);
  });

  // For a reproducible picture (and the tests): the run started again, paused, and ticks ticks
  // of a simulated clock dt ms apart run at once, as lumivex-render --dt --ticks runs them.
  window.LumivexPlayground = {
    still: function (dt, ticks) {
      if (!paused) $("pause").click();
      runPicture();
      player.pause(true);
      Lumivex.still(runner, dt, ticks);
      screen.show(true);
      showStatus();
      return Lumivex.messages(runner);
    },
  };

  // A share link pasted into this tab changes only the fragment: it takes effect without a reload.
  // A link that cannot be opened says so and leaves the file as it was.
  window.addEventListener("hashchange", async function () {
    var shared = await readShare();
    if (!shared && !shareError) return;  // a fragment without a file: not a share link
    if (shared) {
      applyShare(shared);
      clearTimeout(timer);
    }
    refresh();
  });

  refresh();
  document.body.dataset.ready = "1";
})();
