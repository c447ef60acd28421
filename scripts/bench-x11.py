#!/usr/bin/env python3
"""What the Linux saver costs on a real X server: `lumivex --root` under Xvfb, CPU time per second
of display for the saver and for the X server, beside the floor (the same ticks on the headless
backend through lumivex-render, which presents nothing).

    python3 scripts/bench-x11.py --lumivex build/default/lumivex --render build/default/lumivex-render

CPU time is user plus system time from /proc/PID/stat over the measured seconds, after a warm-up.
The floor is lumivex-render's CPU time for N ticks less its time for 0 ticks (start-up), from the
kernel's accounting of the ended child, per 100 ticks: a second of display at the 10 ms timer.
"""
import argparse
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from harness import cpu_seconds, start, start_xvfb, stop  # noqa: E402


def measure_saver(opts, width, height):
    xvfb, display = start_xvfb(width, height)
    saver = None
    try:
        env = dict(os.environ, DISPLAY=display)
        env.pop("XSCREENSAVER_WINDOW", None)
        log = os.path.join(opts.work, "lumivex-%dx%d.txt" % (width, height))
        saver = start([opts.lumivex, "--root", "--ini", opts.ini, "--seed", str(opts.seed)], output=log, env=env)
        time.sleep(opts.warmup)
        if saver.poll() is not None:
            with open(log) as f:
                raise SystemExit("lumivex ended: %s" % f.read())
        wall0, s0, x0 = time.time(), cpu_seconds(saver.pid), cpu_seconds(xvfb.pid)
        time.sleep(opts.seconds)
        wall1, s1, x1 = time.time(), cpu_seconds(saver.pid), cpu_seconds(xvfb.pid)
        wall = wall1 - wall0
        return (s1 - s0) / wall, (x1 - x0) / wall
    finally:
        stop(saver)
        stop(xvfb)


def render_cpu(opts, width, height, ticks):
    process = start([opts.render, "--ini", opts.ini, "--size", "%dx%d" % (width, height), "--seed",
                                str(opts.seed), "--ticks", str(ticks)])
    _pid, status, usage = os.wait4(process.pid, 0)
    process.returncode = status
    if status != 0:
        raise SystemExit("lumivex-render failed (status %d)" % status)
    return usage.ru_utime + usage.ru_stime


def measure_floor(opts, width, height):
    ticks = int(opts.seconds * 100)
    start = min(render_cpu(opts, width, height, 0) for _ in range(3))
    return max(0.0, render_cpu(opts, width, height, ticks) - start) / opts.seconds


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--lumivex", required=True)
    parser.add_argument("--render", required=True)
    parser.add_argument("--ini", default=os.path.join(here, "..", "resources", "lumivex.ini"))
    parser.add_argument("--sizes", default="1920x1080,3840x2160")
    parser.add_argument("--seconds", type=float, default=20.0, help="measured seconds of display per run")
    parser.add_argument("--warmup", type=float, default=2.0)
    parser.add_argument("--runs", type=int, default=1, help="runs per size, one after the other")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--work", default=os.path.join(here, "..", "build", "bench-x11"), help="folder of the logs")
    opts = parser.parse_args()
    os.makedirs(opts.work, exist_ok=True)
    if shutil.which("Xvfb") is None:
        raise SystemExit("Xvfb is missing (bash scripts/install-deps.sh headless)")
    opts.ini = os.path.abspath(opts.ini)
    print("CPU time per second of display, %% of one core; %g s a run, seed %d, %s"
          % (opts.seconds, opts.seed, opts.ini), flush=True)
    print("| screen | run | lumivex | X server | together | floor (ticks alone) |")
    print("|---|---:|---:|---:|---:|---:|", flush=True)
    for size in opts.sizes.split(","):
        width, height = (int(v) for v in size.split("x"))
        for run in range(1, opts.runs + 1):
            saver, server = measure_saver(opts, width, height)
            floor = measure_floor(opts, width, height)
            print("| %s | %d | %.1f %% | %.1f %% | %.1f %% | %.1f %% |"
                  % (size, run, 100 * saver, 100 * server, 100 * (saver + server), 100 * floor), flush=True)
    print("load average after the runs: %.2f %.2f %.2f" % os.getloadavg())
    return 0


if __name__ == "__main__":
    sys.exit(main())
