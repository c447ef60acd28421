#!/usr/bin/env python3
"""What the Linux saver costs on a Wayland compositor: the real `lumivex --layer background` on a
headless sway (pixman renderer), CPU time per second of display for the saver and for sway.

    python3 scripts/bench-wayland.py --lumivex build/default/lumivex

Sway runs as the tests run it (tests/harness.py's HeadlessSway, the tests' fixture sway: an
unprivileged user with a runtime folder of its own, everything stopped at the end). CPU time is
user plus system time from /proc/PID/stat over the measured seconds, after a warm-up. The load
average is printed beside each run: the machine may be shared.
"""
import argparse
import os
import shutil
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "tests")]

import harness  # noqa: E402


def measure(opts, width, height, run):
    """(lumivex, sway) CPU seconds per second of display, and the load average after the run."""
    folder = os.path.join(opts.work, "bench-%dx%d-%d" % (width, height, run))
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    s = harness.HeadlessSway(opts, folder, output="resolution %dx%d" % (width, height))
    try:
        saver = s.start([opts.lumivex, "--layer", "background", "--ini", opts.ini, "--seed", str(opts.seed)])
        time.sleep(opts.warmup)
        harness.check(saver.poll() is None, "lumivex ended (exit code %s): %s" % (saver.poll(), harness.output_of(saver)))
        wall0, l0, w0 = time.time(), harness.cpu_seconds(saver.pid), harness.cpu_seconds(s.sway.pid)
        time.sleep(opts.seconds)
        wall1, l1, w1 = time.time(), harness.cpu_seconds(saver.pid), harness.cpu_seconds(s.sway.pid)
        harness.check(saver.poll() is None, "lumivex ended during the run (exit code %s)" % saver.poll())
        wall = wall1 - wall0
        return (l1 - l0) / wall, (w1 - w0) / wall, os.getloadavg()
    finally:
        s.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--lumivex", required=True)
    parser.add_argument("--ini", default=os.path.join(HERE, "..", "resources", "lumivex.ini"))
    parser.add_argument("--sizes", default="1920x1080,3840x2160")
    parser.add_argument("--seconds", type=float, default=20.0, help="measured seconds of display per run")
    parser.add_argument("--warmup", type=float, default=4.0)
    parser.add_argument("--runs", type=int, default=1, help="runs per size, one after the other")
    parser.add_argument("--seed", type=int, default=5)
    parser.add_argument("--work", default=os.path.join(HERE, "..", "build", "bench-wayland"),
                        help="folder of the sessions' files")
    opts = parser.parse_args()
    opts.ini, opts.lumivex = os.path.abspath(opts.ini), os.path.abspath(opts.lumivex)
    opts.work = os.path.abspath(opts.work)
    os.makedirs(opts.work, exist_ok=True)
    os.chmod(opts.work, 0o755)  # the sessions' user reads the sway configuration there
    for program in ("sway", "grim", "swaymsg"):
        if not any(os.access(os.path.join(d, program), os.X_OK) for d in os.environ.get("PATH", "").split(":")):
            raise SystemExit("%s is missing (bash scripts/install-deps.sh wayland)" % program)
    print("CPU time per second of display, %% of one core; lumivex --layer background on headless sway "
          "(pixman); %g s a run after %g s, seed %d, %s" % (opts.seconds, opts.warmup, opts.seed, opts.ini), flush=True)
    print("| screen | run | lumivex | sway | together | load average (1, 5, 15 min) |")
    print("|---|---:|---:|---:|---:|---|", flush=True)
    try:
        for size in opts.sizes.split(","):
            width, height = (int(v) for v in size.split("x"))
            for run in range(1, opts.runs + 1):
                saver, sway, load = measure(opts, width, height, run)
                print("| %s | %d | %.1f %% | %.1f %% | %.1f %% | %.2f %.2f %.2f |"
                      % (size, run, 100 * saver, 100 * sway, 100 * (saver + sway), *load), flush=True)
    except harness.Failure as failure:
        raise SystemExit("bench-wayland: %s" % failure)
    finally:
        harness.cleanup()
    return 0


if __name__ == "__main__":
    sys.exit(main())
