#!/usr/bin/env python3
"""Tests of tests/harness.py itself: a case stopped by a signal or by its time limit leaves nothing
running, two screens at once get displays of their own, an unprivileged user gets a runtime
folder of its own, a broken screenshot is refused, and the waits and checks that cases share."""
import json
import os
import signal
import stat
import sys
import time

import pytest

import harness
from harness import Failure, User, check, log


def alive(pid):
    """Whether the process runs (a zombie waiting to be reaped does not)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


@pytest.mark.skipif(not os.environ.get("LUMIVEX_HANG"), reason="run by the case cleanup alone")
@pytest.mark.host(width=64, height=48)
def case_hang(opts, x11):
    """Not a test: the case the test `cleanup` stops. It starts a screen and a program that leaves
    a grandchild, writes their ids to hang.json, and waits."""
    child = x11.start(["sh", "-c", "sleep 300 & echo $!; sleep 300"])
    loose = harness.start(["sleep", "300"])  # started outside the session: the case's cleanup ends it
    deadline = time.time() + 10
    while not harness.output_of(child).strip() and time.time() < deadline:
        time.sleep(0.05)
    pids = [x11.server.pid, child.pid, loose.pid, int(harness.output_of(child).split()[0])]
    with open(os.path.join(opts.work, "hang.json.part"), "w") as f:
        json.dump(pids, f)
    os.rename(os.path.join(opts.work, "hang.json.part"), os.path.join(opts.work, "hang.json"))
    time.sleep(300)


def case_cleanup(opts):
    """Ended by SIGTERM, SIGINT, or its own time limit, the case `hang` fails, its screen is saved,
    and none of the programs it started runs on."""
    ways = [("SIGTERM", signal.SIGTERM, []), ("SIGINT", signal.SIGINT, []),
            ("the time limit", None, ["--case-timeout", "3"])]
    for name, sig, extra in ways:
        record = os.path.join(opts.work, "hang.json")
        if os.path.exists(record):
            os.remove(record)
        # Started through the harness, so that a failure here ends it too.
        out_path = os.path.join(opts.work, "hang-out.txt")
        case = harness.start([sys.executable, "-m", "pytest", os.path.abspath(__file__) + "::case_hang", "--work",
                              opts.work] + extra, output=out_path, env=dict(os.environ, LUMIVEX_HANG="1"))
        deadline = time.time() + 20
        while not os.path.exists(record) and time.time() < deadline and case.poll() is None:
            time.sleep(0.1)
        check(os.path.exists(record), "%s: the case hang did not start its programs: %s"
              % (name, harness.output_of(case)))
        with open(record) as f:
            pids = json.load(f)
        check(all(alive(pid) for pid in pids), "%s: not every program of the case runs: %s" % (name, pids))
        if sig is not None:
            case.send_signal(sig)
        harness.wait_exit(case, 30, "%s: the case" % name)
        out = harness.output_of(case)
        check(case.returncode == 1 and "Failure: " in out, "%s: the case ended with %d: %r" % (name, case.returncode, out))
        with open(os.path.join(opts.work, "hang", "at-failure.ppm"), "rb") as f:
            shot = harness.parse_ppm(f.read())
        check((shot.width, shot.height) == (64, 48), "%s: the screenshot at the failure is %dx%d, expected 64x48"
              % (name, shot.width, shot.height))
        deadline = time.time() + 5
        while any(alive(pid) for pid in pids) and time.time() < deadline:
            time.sleep(0.1)
        left = [pid for pid in pids if alive(pid)]
        for pid in left:
            os.kill(pid, signal.SIGKILL)
        check(not left, "%s: programs still run after the case ended: %s of %s" % (name, left, pids))
        log("ok: %s: the case failed (%s) and its screen, programs and their children ended"
            % (name, [line for line in out.splitlines() if "Failure: " in line][-1].strip()))


def case_screens(x11_factory):
    """Two screens at once: displays of their own, of the asked sizes and depths, gone once closed; a
    broken screenshot is refused."""
    a, b = x11_factory(200, 100), x11_factory(120, 90, depth=16)
    check(a.display != b.display, "two screens share %s" % a.display)
    for screen, size in ((a, (200, 100)), (b, (120, 90))):
        shot = screen.shot()
        check((shot.width, shot.height) == size, "%s is %dx%d, expected %s"
              % (screen.display, shot.width, shot.height, size))
    log("ok: %s and %s side by side" % (a.display, b.display))
    a.close()
    b.close()
    check(a.server.poll() is not None and b.server.poll() is not None, "a screen outlived its session")
    good = b"P6 2 1 255\n" + bytes(6)
    check(harness.parse_ppm(good).pixel(1, 0) == (0, 0, 0), "a 2x1 picture does not parse")
    for bad in (good[:-1], b"P6 2 1 65535\n" + bytes(12), b"P3 2 1 255\n0 0 0 0 0 0\n"):
        try:
            harness.parse_ppm(bad)
        except Failure:
            continue
        raise Failure("parse_ppm took %r" % bad)
    log("ok: a cut picture, 16-bit channels and text PPM are refused")


def case_user(case_dir):
    """A program run as the test user runs as that user (not root, when the tests run as root), with
    a runtime folder that only it may enter; the folder goes with the case."""
    user = User()
    user.give(case_dir)
    process = harness.start(user.command(["sh", "-c", 'id -u; echo "$XDG_RUNTIME_DIR"; touch "$XDG_RUNTIME_DIR/x" '
                                          '&& echo wrote']), os.path.join(case_dir, "out.txt"), user.env())
    harness.ends_with(process, 0, 20, "a program as %s" % user.name)
    uid, runtime, wrote = harness.output_of(process).split()
    check(int(uid) == user.uid and (os.geteuid() != 0 or user.uid != 0), "it ran as %s" % uid)
    info = os.stat(runtime)
    check(wrote == "wrote" and info.st_uid == user.uid and stat.S_IMODE(info.st_mode) == 0o700,
          "the runtime folder %s: owner %d, mode %o" % (runtime, info.st_uid, stat.S_IMODE(info.st_mode)))
    harness.cleanup()
    check(not os.path.exists(runtime), "the runtime folder %s outlived the case" % runtime)
    log("ok: %s (%d) with the runtime folder %s, removed at the end" % (user.name, user.uid, runtime))


def fails(fn):
    """Whether fn() raises the harness's Failure."""
    try:
        fn()
    except Failure:
        return True
    return False


def case_waits(opts):
    """wait_until gives the first true result, fails at its time limit and as soon as the program
    watched has ended; input_ends tells a saver that input ends from one it does not; held_subset
    takes a part of a held frame's points, in their places and colour, and nothing else."""
    calls = []
    check(harness.wait_until(lambda: calls.append(1) or (len(calls) >= 3 and "third"), "three calls", 5) == "third",
          "wait_until did not give the first true result")
    check(fails(lambda: harness.wait_until(lambda: False, "never", 0.3)), "wait_until never gave up")
    ended = harness.start(["true"])
    started = time.time()
    check(fails(lambda: harness.wait_until(lambda: False, "never", 30, ended)) and time.time() - started < 5,
          "wait_until waited on a program that had ended")
    program = 'trap "exit 0" TERM USR1; while :; do sleep 0.05; done'
    for action_ends, expected_ends in ((True, True), (False, False), (True, False), (False, True)):
        process = harness.start(["sh", "-c", program])
        time.sleep(0.3)
        action = (lambda p=process: p.send_signal(signal.SIGUSR1)) if action_ends else (lambda: None)
        got = fails(lambda: harness.input_ends(process, "input", action, expected_ends))
        check(got == (action_ends != expected_ends), "input_ends: ends %s, expected %s: failure %s"
              % (action_ends, expected_ends, got))
        harness.stop(process)
    log("ok: wait_until and input_ends")

    colour = bytes((255, 0, 0))
    black = bytes(3)

    class Frames:
        width, height = 4, harness.STRIP + 2

        def pictures(self):
            rows = [black * 4] * harness.STRIP + [colour * 2 + black * 2, colour + black * 3]
            return [b"".join(rows)]

    def shot(below):
        return harness.Shot(4, harness.STRIP + 2, black * 4 * harness.STRIP + b"".join(below))

    for below, share in (([colour * 2 + black * 2, black * 4], 2 / 3),      # two of the three points
                         ([colour * 2 + black * 2, colour + black * 3], 1),  # all of them
                         ([colour * 3 + black, black * 4], 0),               # one out of place
                         ([colour + bytes((0, 255, 0)) + black * 2, black * 4], 0),  # another colour
                         ([black * 4, black * 4], 0)):                       # nothing
        got = harness.held_subset(shot(below), Frames())
        check(abs(got - share) < 1e-9, "held_subset of %r: %s, expected %s" % (below, got, share))
    log("ok: held_subset")

    # Rendered.match: a window whose image equals a held frame but whose status line differs is
    # waited out when the strip is compared, and is that frame when it is left out.
    white = bytes((255, 255, 255))
    image = [colour * 2 + black * 2, colour + black * 3]
    picture = harness.Shot(4, harness.STRIP + 2, white + black * 3 + black * 4 * (harness.STRIP - 1) + b"".join(image))
    rendered = harness.Rendered.__new__(harness.Rendered)
    rendered.width, rendered.height = picture.width, picture.height
    rendered.frames = {picture.mask_hash(harness.STRIP, 2, 4)[0]: ((255, 0, 0), picture)}
    same_strip = picture.data[:4 * 3 * harness.STRIP]
    other_strip = black * 4 * harness.STRIP
    green = bytes((0, 255, 0))
    for strip, below, compare, expected in ((same_strip, image, True, True),
                                            (other_strip, image, True, False),   # another status line
                                            (other_strip, image, False, True),   # the strip left out
                                            (same_strip, [colour * 3 + black, black * 4], False, False),
                                            (same_strip, [green * 2 + black * 2, green + black * 3], False, "fail")):
        window = harness.Shot(4, harness.STRIP + 2, strip + b"".join(below))
        try:
            got = rendered.match(window, strip=compare)
        except Failure:
            got = "fail"
        check(got == expected, "match with strip=%s of %r: %s, expected %s" % (compare, below, got, expected))
    log("ok: Rendered.match with and without the strip")

