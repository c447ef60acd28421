#!/usr/bin/env python3
"""make bench-page: what the saver page costs in headless Chromium. The shipped page
`index.html?seed=5` full window at each size, beside a blank black page: CPU time per second of
display of Chromium's renderer processes (the page), its GPU process and its browser process.

    /usr/bin/python3 scripts/bench-page.py --site build/web/site

CPU time is user plus system time from /proc/PID/stat over the measured seconds, after a warm-up;
the processes are the browser's own (its profile folder in their command line), told apart by the
`--type=` of their command line. Headless Chromium has no GPU here: its GPU process rasterises and
composites in software (SwiftShader), so its figure is CPU time a real GPU would mostly take over.
"""
import argparse
import os
import re
import sys
import time
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import harness  # noqa: E402

BLANK = "data:text/html,<!DOCTYPE html><body style='margin:0;background:#000'></body>"


# With --probes: the least each drawing costs, on a full-window canvas at every animation frame
# (the saver page's pace), without the saver.
PROBE_PAGE = ("<!DOCTYPE html><body style='margin:0;background:#000;overflow:hidden'>"
              "<canvas id=c></canvas><script>var c = document.getElementById('c'); c.width = innerWidth; "
              "c.height = innerHeight; var W = c.width, H = c.height, n = 0; CODE "
              "function f() { ++n; step(); requestAnimationFrame(f); } requestAnimationFrame(f);</script></body>")
GL_POINTS = r"""
var g = c.getContext('webgl2', {alpha: false, antialias: false});
function sh(t, src) { var s = g.createShader(t); g.shaderSource(s, src); g.compileShader(s); return s; }
var p = g.createProgram();
g.attachShader(p, sh(g.VERTEX_SHADER, '#version 300 es\nlayout(location = 0) in ivec2 q; uniform vec2 z; ' +
  'void main() { gl_Position = vec4((vec2(q) + 0.5) / z * 2.0 - 1.0, 0, 1); gl_PointSize = 1.0; }'));
g.attachShader(p, sh(g.FRAGMENT_SHADER, '#version 300 es\nprecision mediump float; out vec4 o; ' +
  'void main() { o = vec4(0, 1, 0, 1); }'));
g.linkProgram(p); g.useProgram(p); g.uniform2f(g.getUniformLocation(p, 'z'), W, H);
var b = g.createBuffer(); g.bindBuffer(g.ARRAY_BUFFER, b);
g.enableVertexAttribArray(0); g.vertexAttribIPointer(0, 2, g.INT, 0, 0);
var pts = new Int32Array(60000);
function step() {
  for (var i = 0; i < 60000; i += 2) { pts[i] = (i * 7919 + n) % W; pts[i + 1] = (i * 104729 + 3 * n) % H; }
  g.clear(g.COLOR_BUFFER_BIT); g.bufferData(g.ARRAY_BUFFER, pts, g.STREAM_DRAW); g.drawArrays(g.POINTS, 0, 30000);
}
"""
PROBES = {
    "2d: putImageData of one pixel": "var g = c.getContext('2d', {alpha: false}); var d = new ImageData(1, 1); "
                                     "d.data.fill(255); function step() { g.putImageData(d, n % W, n % H); }",
    "2d: putImageData of a box W/2 x H/2": "var g = c.getContext('2d', {alpha: false}); "
                                           "var d = new ImageData(W >> 1, H >> 1); "
                                           "function step() { d.data[4 * (n % 1000)] = n; g.putImageData(d, W >> 2, H >> 2); }",
    "2d desynchronized: putImageData of one pixel": (
        "var g = c.getContext('2d', {alpha: false, desynchronized: true}); var d = new ImageData(1, 1); "
        "d.data.fill(255); function step() { g.putImageData(d, n % W, n % H); }"),
    "2d, a 64x64 canvas: putImageData of one pixel": (
        "c.width = c.height = W = H = 64; var g = c.getContext('2d', {alpha: false}); var d = new ImageData(1, 1); "
        "d.data.fill(255); function step() { g.putImageData(d, n % W, n % H); }"),
    "webgl2: clear": "var g = c.getContext('webgl2', {alpha: false, antialias: false}); "
                     "function step() { g.clearColor(0, n % 2, 0, 1); g.clear(g.COLOR_BUFFER_BIT); }",
    "webgl2: clear, 30,000 one-pixel points": GL_POINTS,
}


def processes(profile):
    """{pid: kind} of the browser's processes: renderer, gpu, browser or another --type."""
    kinds = {}
    for pid in harness.processes_using(profile):
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                line = f.read().replace(b"\0", b" ").decode(errors="replace")
        except OSError:
            continue
        if "chromedriver" in line.split(" ", 1)[0]:
            continue
        found = re.search(r"--type=(\S+)", line)
        kind = found.group(1) if found else "browser"
        kinds[pid] = {"gpu-process": "gpu"}.get(kind, kind)
    return kinds


def cpu_by_kind(kinds):
    total = {}
    for pid, kind in kinds.items():
        try:
            total[kind] = total.get(kind, 0.0) + harness.cpu_seconds(pid)
        except OSError:
            pass  # a process that ended: its time is lost from both samples alike
    return total


def measure(opts, url, width, height, probe=False):
    """(% of a core by kind, what the page said) for one page at one size."""
    browser = harness.Chromium()
    try:
        driver = browser.open(width, height)
        profile = driver.capabilities["chrome"]["userDataDir"]
        driver.get(url)
        running = "index.html" in url
        if running:
            harness.wait_script(driver, "return document.body.dataset.ready", what="the saver page")
        time.sleep(opts.warmup)
        kinds = processes(profile)
        ticks0 = driver.execute_script("return window.LumivexSaverPage ? LumivexSaverPage.player.ticks : 0")
        wall0, cpu0 = time.time(), cpu_by_kind(kinds)
        time.sleep(opts.seconds)
        wall1, cpu1 = time.time(), cpu_by_kind(kinds)
        said = ""
        if probe:
            said = "%.0f frames/s" % (driver.execute_script("return n") / (time.time() - wall0 + opts.warmup))
        if running:
            ticks1, status = driver.execute_script(
                "var p = LumivexSaverPage.player; return [p.ticks, p.m.UTF8ToString(p.m._lvx_status())];")
            said = "%.0f ticks/s, %s" % ((ticks1 - ticks0) / (wall1 - wall0), status.split(";")[-1].strip())
        wall = wall1 - wall0
        return {k: 100 * (cpu1.get(k, 0.0) - cpu0.get(k, 0.0)) / wall for k in cpu1}, said
    finally:
        browser.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--site", default="build/web/site")
    parser.add_argument("--sizes", default="1920x1080,3840x2160")
    parser.add_argument("--seconds", type=float, default=20.0, help="measured seconds per run")
    parser.add_argument("--warmup", type=float, default=4.0)
    parser.add_argument("--runs", type=int, default=1, help="runs per size, one after the other")
    parser.add_argument("--query", default="seed=5", help="the saver page's query")
    parser.add_argument("--chromium-args", default="", help="arguments for Chromium beside the tests' own "
                        "(a leading - takes one of those away: -disable-gpu)")
    parser.add_argument("--probes", action="store_true", help="also the least each drawing costs, without the saver")
    opts = parser.parse_args()
    for arg in opts.chromium_args.split():
        if arg.startswith("--"):
            harness.CHROMIUM_ARGS.append(arg)
        else:
            harness.CHROMIUM_ARGS.remove("-" + arg)
    site = os.path.abspath(opts.site)
    if not os.path.isfile(os.path.join(site, "index.html")):
        raise SystemExit("no site at %s: make web first" % site)
    print("CPU time per second of display, %% of one core; %g s a run after %g s, %s, index.html?%s"
          % (opts.seconds, opts.warmup, site, opts.query), flush=True)
    print("| screen | page | run | renderer | GPU process (software) | browser | other | load average |")
    print("|---|---|---:|---:|---:|---:|---:|---|", flush=True)
    base = harness.serve(site).url
    try:
        for size in opts.sizes.split(","):
            width, height = (int(v) for v in size.split("x"))
            pages = [("blank", BLANK), ("saver", base + "index.html?" + opts.query)]
            if opts.probes:
                pages += [(name, "data:text/html," + urllib.parse.quote(PROBE_PAGE.replace("CODE", code)))
                          for name, code in PROBES.items()]
            for page, url in pages:
                for run in range(1, opts.runs + 1):
                    cpu, said = measure(opts, url, width, height, page in PROBES)
                    other = sum(v for k, v in cpu.items() if k not in ("renderer", "gpu", "browser"))
                    print("| %s | %s | %d | %.1f %% | %.1f %% | %.1f %% | %.1f %% | %s |%s"
                          % (size, page, run, cpu.get("renderer", 0.0), cpu.get("gpu", 0.0),
                             cpu.get("browser", 0.0), other, "%.2f %.2f %.2f" % os.getloadavg(),
                             " " + said if said else ""), flush=True)
    finally:
        harness.cleanup()
    return 0


if __name__ == "__main__":
    sys.exit(main())
