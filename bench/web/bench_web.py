#!/usr/bin/env python3
"""make bench-web: the saver's tick as WebAssembly in headless Chromium at 1920x1080 with 100,000
and 1,000,000 points, beside the native tick of `make bench` (build/default/bench.json) when there.

Prints a table; the target is a morph tick at most twice the native one.
"""
import argparse
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests"))
import harness  # noqa: E402

SCRIPT = """
const [points, phase, clock, ticks, convert] = arguments;
const m = await LumivexSaver({print() {}, printErr() {}});
const fern = LumivexGallery.split("\\n");
const at = fern.findIndex(l => /^; 1\\./.test(l));
const file = points + "\\n" + fern.slice(at + 1, at + 7).join("\\n") + "\\n";
Lumivex.setFile(m, file);
if (Lumivex.start(m, {seed: 1, width: 1920, height: 1080}) !== 0) return [-1, Lumivex.messages(m)];
m._lvx_bench_ticks(phase, clock, 20, convert);  // warm up
let best = Infinity;
for (let r = 0; r < 5; ++r) {
  const t0 = performance.now();
  m._lvx_bench_ticks(phase, clock, ticks, convert);
  best = Math.min(best, (performance.now() - t0) / ticks);
}
return [best, []];
"""

PAGES = {
    "index.html (saver page)": ["index.html", "site.css", "gallery.js", "lumivex.js", "lumivex-web.js",
                                "lumivex-web.wasm", "saver.js"],
    "playground.html": ["playground.html", "site.css", "gallery.js", "lumivex.js", "lumivex-play.js",
                        "lumivex-play.wasm", "playground.js"],
}
BUDGET = {"index.html (saver page)": 150, "playground.html": 400}  # KB over the wire, gzip


def transfer_sizes(site):
    """Each page's files together, raw and gzip -9, in KB."""
    import gzip
    print("| page | raw KB | gzip KB | budget KB |")
    print("|---|---|---|---|")
    for page, files in PAGES.items():
        raw = packed = 0
        for name in files:
            with open(os.path.join(site, name), "rb") as f:
                data = f.read()
            raw += len(data)
            packed += len(gzip.compress(data, 9, mtime=0))
        print("| %s | %.1f | %.1f | %d |" % (page, raw / 1024, packed / 1024, BUDGET[page]))
    print()


CASES = [("MorphTick", 0, 1500), ("HoldTick", 2, 1), ("PickTick", 3, 0)]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--site", default="build/web/site")
    parser.add_argument("--native", default="build/default/bench.json")
    opts = parser.parse_args()
    native = {}
    if os.path.isfile(opts.native):
        with open(opts.native) as f:
            for b in json.load(f)["benchmarks"]:
                if b.get("aggregate_name") == "median":
                    native[b["run_name"]] = b["real_time"] / 1000.0  # microseconds to ms
    transfer_sizes(opts.site)
    rows = []
    with harness.static_server(os.path.abspath(opts.site)) as base, harness.chromium(800, 600) as driver:
        driver.get(base + "index.html?size=16x16&ticks=1")
        harness.wait_script(driver, "return document.body.dataset.ready")
        for points in (100000, 1000000):
            for name, phase, clock in CASES:
                for convert in (0, 1):
                    ticks = 200 if points == 100000 else 40
                    if phase == 3:
                        ticks = max(5, ticks // 20)
                    ms, messages = driver.execute_script("return (async () => {" + SCRIPT + "})(...arguments)",
                                                         points, phase, clock, ticks, convert)
                    if ms < 0:
                        sys.exit("bench-web: the saver did not start: %s" % messages)
                    key = "%s/1920x1080/%d" % (name, points)
                    rows.append((key + (" +canvas" if convert else ""), ms, None if convert else native.get(key)))
    print("| case | wasm ms/tick | native ms/tick | wasm / native |")
    print("|---|---|---|---|")
    for key, ms, nat in rows:
        print("| %s | %.4f | %s | %s |" % (key, ms, "%.4f" % nat if nat else "-", "%.2f" % (ms / nat) if nat else "-"))


if __name__ == "__main__":
    main()
