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

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import harness  # noqa: E402

BLANK = "data:text/html,<!DOCTYPE html><body style='margin:0;background:#000'></body>"


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


def measure(opts, url, width, height):
    """(% of a core by kind, what the page said) for one page at one size."""
    with harness.chromium(width, height) as driver:
        profile = driver.capabilities["chrome"]["userDataDir"]
        driver.get(url)
        running = url != BLANK
        if running:
            harness.wait_script(driver, "return document.body.dataset.ready", what="the saver page")
        time.sleep(opts.warmup)
        kinds = processes(profile)
        ticks0 = driver.execute_script("return window.LumivexSaverPage ? LumivexSaverPage.player.ticks : 0")
        wall0, cpu0 = time.time(), cpu_by_kind(kinds)
        time.sleep(opts.seconds)
        wall1, cpu1 = time.time(), cpu_by_kind(kinds)
        said = ""
        if running:
            ticks1, status = driver.execute_script(
                "var p = LumivexSaverPage.player; return [p.ticks, p.m.UTF8ToString(p.m._lvx_status())];")
            said = "%.0f ticks/s, %s" % ((ticks1 - ticks0) / (wall1 - wall0), status.split(";")[-1].strip())
        wall = wall1 - wall0
        return {k: 100 * (cpu1.get(k, 0.0) - cpu0.get(k, 0.0)) / wall for k in cpu1}, said


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--site", default="build/web/site")
    parser.add_argument("--sizes", default="1920x1080,3840x2160")
    parser.add_argument("--seconds", type=float, default=20.0, help="measured seconds per run")
    parser.add_argument("--warmup", type=float, default=4.0)
    parser.add_argument("--runs", type=int, default=1, help="runs per size, one after the other")
    parser.add_argument("--query", default="seed=5", help="the saver page's query")
    opts = parser.parse_args()
    site = os.path.abspath(opts.site)
    if not os.path.isfile(os.path.join(site, "index.html")):
        raise SystemExit("no site at %s: make web first" % site)
    print("CPU time per second of display, %% of one core; %g s a run after %g s, %s, index.html?%s"
          % (opts.seconds, opts.warmup, site, opts.query), flush=True)
    print("| screen | page | run | renderer | GPU process (software) | browser | other | load average |")
    print("|---|---|---:|---:|---:|---:|---:|---|", flush=True)
    with harness.static_server(site) as base:
        for size in opts.sizes.split(","):
            width, height = (int(v) for v in size.split("x"))
            for page, url in (("blank", BLANK), ("saver", base + "index.html?" + opts.query)):
                for run in range(1, opts.runs + 1):
                    cpu, said = measure(opts, url, width, height)
                    other = sum(v for k, v in cpu.items() if k not in ("renderer", "gpu", "browser"))
                    print("| %s | %s | %d | %.1f %% | %.1f %% | %.1f %% | %.1f %% | %s |%s"
                          % (size, page, run, cpu.get("renderer", 0.0), cpu.get("gpu", 0.0),
                             cpu.get("browser", 0.0), other, "%.2f %.2f %.2f" % os.getloadavg(),
                             " " + said if said else ""), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
