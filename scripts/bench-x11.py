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
import random
import resource
import shutil
import signal
import subprocess
import sys
import time

TICK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def stop(process):
    if process is None or process.poll() is not None:
        return
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(5)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def start_xvfb(width, height):
    first = random.randrange(20, 90)
    for number in [20 + (first - 20 + i) % 70 for i in range(70)]:
        if os.path.exists("/tmp/.X%d-lock" % number) or os.path.exists("/tmp/.X11-unix/X%d" % number):
            continue
        xvfb = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "%dx%dx24" % (width, height),
                                 "-nolisten", "tcp"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 10
        while time.time() < deadline and xvfb.poll() is None and not os.path.exists("/tmp/.X11-unix/X%d" % number):
            time.sleep(0.05)
        try:
            with open("/tmp/.X%d-lock" % number) as f:
                owner = int(f.read().strip())
        except (OSError, ValueError):
            owner = None
        if owner == xvfb.pid and xvfb.poll() is None:
            time.sleep(0.3)
            return xvfb, ":%d" % number
        stop(xvfb)
    raise SystemExit("no free display for Xvfb")


def measure_saver(opts, width, height):
    xvfb, display = start_xvfb(width, height)
    saver = None
    try:
        env = dict(os.environ, DISPLAY=display)
        env.pop("XSCREENSAVER_WINDOW", None)
        saver = subprocess.Popen([opts.lumivex, "--root", "--ini", opts.ini, "--seed", str(opts.seed)], env=env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        time.sleep(opts.warmup)
        if saver.poll() is not None:
            raise SystemExit("lumivex ended: %s" % saver.stderr.read().decode())
        wall0, s0, x0 = time.time(), cpu_seconds(saver.pid), cpu_seconds(xvfb.pid)
        time.sleep(opts.seconds)
        wall1, s1, x1 = time.time(), cpu_seconds(saver.pid), cpu_seconds(xvfb.pid)
        wall = wall1 - wall0
        return (s1 - s0) / wall, (x1 - x0) / wall
    finally:
        stop(saver)
        stop(xvfb)


def render_cpu(opts, width, height, ticks):
    process = subprocess.Popen([opts.render, "--ini", opts.ini, "--size", "%dx%d" % (width, height), "--seed",
                                str(opts.seed), "--ticks", str(ticks)], stdout=subprocess.DEVNULL)
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
    opts = parser.parse_args()
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
