#!/usr/bin/env python3
"""Tests of the native Linux saver `lumivex` under Xvfb (run by CTest, one case per call).

Every case runs on an Xvfb of its own (the fixture x11), stopped with every saver and host it
started when the case ends: also on failure, timeout or signal.
Windows "of a host" are made by this script through Xlib (ctypes), as XScreenSaver would make them.
"""
import ctypes
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import pytest

import harness
from harness import NO_DEFINITIONS_INI, PALETTE_RGB, STRIP, Failure, Rendered, check, cpu_seconds, ends_with, \
    input_ends, log, output_of, wait_exact, write_ini

harness.REGULATION = "x11"  # the renderer models this host's point regulation
OPTIONS = ("lumivex", "build", "contract")
pytestmark = pytest.mark.host(width=480, height=360)


def needs(opts):
    return {None: [opts.lumivex, opts.render]}


MISSING_NAMED = "lumivex: I cannot find '%s'. I *need* that file, no nice gfx without it! Now quitting."
NO_DEFINITIONS = ("lumivex: I cannot start, there are no IFS definitions in '%s'. No definitons "
                  "mean no gfx, no screensaver. Sorry. Quitting now.")
UNREADABLE = "lumivex: I cannot read '%s': %s. Now quitting."


# ---------------------------------------------------------------------------------------------
# A host's windows, made with Xlib


class Xlib:
    """One connection to the test's display, for windows of a host's own."""

    def __init__(self, display):
        lib = self.lib = harness.x11_screenshot.libX11()
        deadline = time.time() + 5
        self.dpy = lib.XOpenDisplay(display.encode())
        while not self.dpy and time.time() < deadline:
            time.sleep(0.1)
            self.dpy = lib.XOpenDisplay(display.encode())
        check(self.dpy, "cannot open display %s" % display)

    def window(self, width, height):
        """A mapped window at the screen's corner, white until someone draws in it."""
        w = self.lib.XCreateSimpleWindow(self.dpy, self.lib.XDefaultRootWindow(self.dpy), 0, 0, width, height, 0, 0,
                                         0xFFFFFF)
        self.lib.XMapWindow(self.dpy, w)
        self.lib.XSync(self.dpy, 0)
        return w

    def resize(self, window, width, height):
        self.lib.XResizeWindow(self.dpy, window, width, height)
        self.lib.XSync(self.dpy, 0)

    def destroy(self, window):
        self.lib.XDestroyWindow(self.dpy, window)
        self.lib.XSync(self.dpy, 0)

    def ask_to_close(self, window):
        """What a window manager sends when the user closes a window: WM_DELETE_WINDOW."""
        class ClientMessage(ctypes.Structure):
            _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                        ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                        ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]
        event = ClientMessage()
        event.type = 33  # ClientMessage
        event.window = window
        event.message_type = self.lib.XInternAtom(self.dpy, b"WM_PROTOCOLS", 0)
        event.format = 32
        event.data[0] = self.lib.XInternAtom(self.dpy, b"WM_DELETE_WINDOW", 0)
        self.lib.XSendEvent(self.dpy, window, 0, 0, ctypes.byref(event))
        self.lib.XSync(self.dpy, 0)

    def close(self):
        if self.dpy:
            self.lib.XCloseDisplay(self.dpy)
            self.dpy = None


@pytest.fixture
def x11(x11, opts):
    """The harness's screen, with an Xlib connection to it (.x) and .saver(*args, env)."""
    x11.x = Xlib(x11.display)
    x11.closing.append(x11.x.close)
    x11.saver = lambda *args, env=None: x11.start([opts.lumivex] + list(args), env=env)
    return x11


# ---------------------------------------------------------------------------------------------
# Cases


def case_pixel_exact(opts, x11):
    """--window-id in a window of the test's own: exact pictures, resized twice, the CPU time over
    5 s, no more frames than the display refreshes, and the window destroyed under it."""
    seed = 4242
    sizes = [(320, 240), (400, 300), (256, 200)]
    ini = write_ini(x11.dir, -1200)  # negative: the status line too
    renders = [Rendered(opts, x11.dir, ini, w, h, seed) for w, h in sizes]
    window = x11.x.window(*sizes[0])
    log_path = os.path.join(x11.dir, "presents.txt")
    began = time.time()
    saver = x11.saver("-window-id", "0x%x" % window, "--ini", ini, "--seed", str(seed),
                      env=dict(x11.env, LUMIVEX_PRESENT_LOG=log_path))
    x11.wait_points(saver, *sizes[0])

    wall, cpu = time.time(), cpu_seconds(saver.pid)
    wait_exact(x11, saver, renders[0])
    time.sleep(max(0.0, 5 - (time.time() - wall)))
    used = cpu_seconds(saver.pid) - cpu
    wall = time.time() - wall
    check(used < 0.5 * wall, "the saver used %.2f s of CPU in %.2f s" % (used, wall))
    log("ok: %.2f s of CPU time in %.2f s of running" % (used, wall))

    for w, h in sizes[1:]:
        x11.x.resize(window, w, h)
        time.sleep(0.3)
        check(x11.shot().colours(0, h, 0, w) != {(255, 255, 255)}, "nothing drawn after the resize")
        wait_exact(x11, saver, renders[sizes.index((w, h))], timeout=20)

    x11.x.destroy(window)
    ends_with(saver, 0, 5, "window destroyed under the saver")
    # Xvfb's Present refreshes at 60 Hz: the 10-ms period alone would make 100 frames a second.
    with open(log_path) as f:
        presents, seconds = sum(1 for _ in f), time.time() - began
    check(presents < 65 * seconds, "%d frames in %.1f s: more than the display refreshes" % (presents, seconds))
    log("ok: %d frames in %.1f s, the display's 60 Hz" % (presents, seconds))
    lines = output_of(saver).splitlines()
    check(len(lines) <= 1, "standard error holds %d lines: %s" % (len(lines), lines))


def partial_presents(opts, x11, name):
    """Only what a tick changed goes to the server: the window still equals the renderer's held
    frames through many cycles, with the status line changing, after it was covered and uncovered,
    and after a resize; ticks that changed nothing send nothing."""
    seed = 777
    ini = write_ini(x11.dir, -1200)  # negative: the status line too
    # A tick every 100 ms: the regulation takes the count down to its floor over the first
    # ticks, as the renderer does with the same interval.
    renders = {size: Rendered(opts, x11.dir, ini, size[0], size[1], seed, ticks=900, dt=100)
               for size in ((320, 240), (400, 300))}
    log_path = os.path.join(x11.dir, "presents.txt")
    window = x11.x.window(320, 240)
    saver = x11.saver("-window-id", "0x%x" % window, "--ini", ini, "--seed", str(seed), "--delay", "100000",
                      env=dict(x11.env, LUMIVEX_PRESENT_LOG=log_path))
    x11.wait_points(saver, 320, 240)
    for _ in range(3):  # three holds, a cycle apart at least
        wait_exact(x11, saver, renders[(320, 240)], timeout=20)
        time.sleep(2.0)
    # Covered by another window and uncovered: the saver repaints what was lost.
    cover = x11.x.window(200, 150)
    time.sleep(0.5)
    x11.x.destroy(cover)
    time.sleep(0.3)
    wait_exact(x11, saver, renders[(320, 240)], timeout=20)
    # A status line leaves the cells of a longer one white until the strip is blackened: the
    # renderer, which began at this size with longer lines, keeps one more cell than the
    # resized saver. The strip is left out after the resize; the resized saver makes its pair
    # again at the new size, so its image equals one of the renderer's held frames at once.
    x11.x.resize(window, 400, 300)
    time.sleep(0.3)
    wait_exact(x11, saver, renders[(400, 300)], timeout=20, strip=False)
    saver.send_signal(signal.SIGTERM)
    ends_with(saver, 0, 3, "%s, SIGTERM" % name)

    presents = [dict(field.split("=") for field in line.split()[1:]) for line in open(log_path)]
    nothing = [p for p in presents if p["whole"] == "0" and p["rects"] == "0"]
    check(len(nothing) > len(presents) // 5, "only %d of %d presents changed nothing" % (len(nothing), len(presents)))
    sent = [p for p in nothing if p["requests"] != "0" or p["bytes"] != "0"]
    check(not sent, "%d presents that changed nothing sent something, the first: %s" % (len(sent), sent[:1]))
    wholes = sum(p["whole"] == "1" for p in presents)
    check(3 <= wholes <= 8, "%d whole presents, expected the first, after the Expose and after the resize" % wholes)
    partial = [p for p in presents if p["whole"] == "0" and p["rects"] != "0"]
    most = max(int(p["bytes"]) for p in partial)
    check(most < 400 * 300 * 4 // 2, "a partial present sent %d bytes" % most)
    log("ok: %d presents: %d changed nothing and sent nothing, %d whole, the largest partial %d bytes"
        % (len(presents), len(nothing), wholes, most))


def case_partial(opts, x11):
    partial_presents(opts, x11, "partial")


@pytest.mark.host(xvfb_args=["-extension", "MIT-SHM", "-extension", "Present"])
def case_partial_plain(opts, x11):
    """The same on a display without shared memory (plain XPutImage) and without Present (the
    timer alone paces the ticks)."""
    partial_presents(opts, x11, "partial_plain")


def case_hosts(opts, x11):
    """XScreenSaver's contract: --root with XSCREENSAVER_WINDOW in hex and in decimal, the root
    window without it; SIGTERM, SIGINT, SIGHUP and the loss of the display end it with 0;
    SIGSTOP/SIGCONT do not break it."""
    ini = write_ini(x11.dir, 1500)
    for form, sig in (("0x%x", signal.SIGTERM), ("%d", signal.SIGINT)):
        window = x11.x.window(300, 200)
        env = dict(x11.env, XSCREENSAVER_WINDOW=form % window)
        saver = x11.saver("--root", "--ini", ini, env=env)
        shot = x11.wait_points(saver, 300, 200)
        check(shot.colours(0, 360, 300, 480) <= {(0, 0, 0)}, "the saver drew outside its window")
        if sig == signal.SIGTERM:
            # Stopped for a second and continued: it goes on drawing, and on ticking at its pace.
            saver.send_signal(signal.SIGSTOP)
            time.sleep(1.0)
            saver.send_signal(signal.SIGCONT)
            harness.wait_change(lambda: x11.shot().crop(300, 200), "the picture moving after SIGCONT", saver)
            log("ok: SIGSTOP for 1 s, SIGCONT: the saver goes on")
        # Input on a host's window ends nothing.
        x11.xdotool("mousemove", "100", "100", "click", "1", "key", "a", "mousemove", "150", "120")
        time.sleep(0.5)
        check(saver.poll() is None, "input ended a saver in a host's window")
        saver.send_signal(sig)
        ends_with(saver, 0, 2, "--root, XSCREENSAVER_WINDOW=%s, %s" % (form % window, sig.name))
        check(output_of(saver) == "", "standard error: %r" % output_of(saver))
        x11.x.destroy(window)
    saver = x11.saver("-root", "-ini", ini)
    x11.wait_points(saver, 480, 360)
    saver.send_signal(signal.SIGHUP)
    ends_with(saver, 0, 2, "-root in the root window, SIGHUP")
    # The display goes away under a running saver: it ends quietly with 0.
    saver = x11.saver("-root", "-ini", ini)
    x11.wait_points(saver, 480, 360)
    x11.x.close()
    harness.stop(x11.server)
    ends_with(saver, 0, 3, "the X server gone")
    check(output_of(saver) == "", "standard error: %r" % output_of(saver))


def case_xsecurelock(opts, x11):
    """Debian's xsecurelock as the host: the saver draws in the window it is given and ends with it."""
    config = os.path.join(x11.dir, "config", "lumivex")
    os.makedirs(config)
    write_ini(config, 1500)
    # A wrapper that records the saver's command line, surroundings and exit code.
    wrapper = os.path.join(x11.dir, "saver.sh")
    record = os.path.join(x11.dir, "saver.txt")
    with open(wrapper, "w") as f:
        # It outlives the signals that end the saver, to see how the saver ended.
        f.write("#!/bin/sh\ntrap true TERM INT HUP\n%s \"$@\" &\nchild=$!\n"
                "echo \"args=$* window=$XSCREENSAVER_WINDOW pid=$child\" >> %s\n"
                "while :; do wait $child; code=$?; kill -0 $child 2>/dev/null || break; done\n"
                "echo \"exit=$code\" >> %s\n" % (opts.lumivex, record, record))
    os.chmod(wrapper, 0o755)
    env = dict(x11.env, XSECURELOCK_SAVER=wrapper, XSECURELOCK_NO_COMPOSITE="1",
               XDG_CONFIG_HOME=os.path.join(x11.dir, "config"), XSECURELOCK_PASSWORD_PROMPT="disco")
    lock = x11.start(["xsecurelock"], env=env)
    deadline = time.time() + 20
    shot = None
    while time.time() < deadline:
        check(lock.poll() is None, "xsecurelock ended (exit code %s): %s" % (lock.poll(), output_of(lock)))
        shot = x11.shot()
        image = shot.colours(STRIP, x11.height, 0, x11.width)
        # Points of one colour on black: while held, a colour of the palette.
        if (0, 0, 0) in image and len(image) == 2 and (image - {(0, 0, 0)}) <= PALETTE_RGB:
            break
        time.sleep(0.3)
    else:
        raise Failure("no fractal on the screen under xsecurelock within 20 s")
    with open(record) as f:
        started = f.read()
    check(re.search(r"args=.*-root", started) is not None and re.search(r"window=\d+", started) is not None,
          "xsecurelock started the saver as: %s" % started.strip())
    log("ok: under xsecurelock the fractal shows; the saver was started with %s" % started.strip())
    pid = int(re.search(r"pid=(\d+)", started).group(1))
    lock.send_signal(signal.SIGTERM)
    try:
        lock.wait(10)
    except subprocess.TimeoutExpired:
        raise Failure("xsecurelock did not end on SIGTERM")
    deadline = time.time() + 5
    while time.time() < deadline and "exit=" not in open(record).read():
        time.sleep(0.1)
    text = open(record).read()
    check("exit=0" in text, "the saver did not end with 0 after xsecurelock ended: %s" % text.strip())
    check(not os.path.exists("/proc/%d" % pid), "the saver still runs")
    log("ok: xsecurelock ended and the saver with it, exit code 0")


def run_fullscreen(s, ini, name, action, ends=True):
    saver = s.saver("--fullscreen", "--ini", ini)
    s.wait_points(saver, s.width, s.height)
    time.sleep(0.3)
    input_ends(saver, "--fullscreen, %s" % name, action, ends)


@pytest.mark.host(width=320, height=240, xvfb_args=["-extension", "MIT-SHM"])
def case_fullscreen(x11):
    """The full-screen rules of /s: a one-pixel move, a key, each of three buttons end it (one run
    each); the wheel does not. Also the window's size and the strip. This display has no shared
    memory, as a remote one: the saver draws with plain XPutImage."""
    ini = write_ini(x11.dir, -800)
    x11.xdotool("mousemove", "100", "100")
    saver = x11.saver("--fullscreen", "--ini", ini)
    shot = x11.wait_points(saver, x11.width, x11.height)
    info = subprocess.run(["xwininfo", "-display", x11.display, "-root", "-tree"], capture_output=True, text=True,
                          timeout=20).stdout
    check(re.search(r'"Lumivex": \("lumivex" "Lumivex"\)\s+320x240\+0\+0', info) is not None,
          "no full-screen window titled Lumivex:\n%s" % info)
    check(shot.pixel(0, 0) == (255, 255, 255) and (0, 0, 0) in shot.colours(0, STRIP, 0, 320),
          "no status line at the top left")
    saver.send_signal(signal.SIGTERM)
    ends_with(saver, 0, 3, "--fullscreen, SIGTERM")
    run_fullscreen(x11, ini, "the wheel", lambda: x11.xdotool("click", "4", "click", "5"), ends=False)
    run_fullscreen(x11, ini, "a one-pixel move", lambda: x11.xdotool("mousemove_relative", "--", "1", "0"))
    run_fullscreen(x11, ini, "a key", lambda: x11.xdotool("key", "a"))
    for button, name in (("1", "left"), ("2", "middle"), ("3", "right")):
        run_fullscreen(x11, ini, "the %s button" % name, lambda: x11.xdotool("click", button))


@pytest.mark.host(width=1600, height=1000)
def case_window(opts, x11, x11_factory):
    """The default: a window of its own, 1280x800, titled Lumivex; input does not end it, the picture
    follows its size, and closing it (WM_DELETE_WINDOW, as a window manager asks) ends it with 0.
    On a 1024x768 screen the default window is fitted to it, its shape kept."""
    small = x11_factory(1024, 768)
    saver = small.start([opts.lumivex, "--ini", write_ini(small.dir, -1000)])
    small.wait_points(saver, 921, 575)
    info = subprocess.run(["xwininfo", "-display", small.display, "-root", "-tree"], capture_output=True, text=True,
                          timeout=20).stdout
    check(re.search(r'"Lumivex": \("lumivex" "Lumivex"\)\s+921x575\+0\+0', info) is not None,
          "no 921x575 window on the 1024x768 screen:\n%s" % info)
    log("ok: on a 1024x768 screen the default window is 921x575")
    small.close()
    ini = write_ini(x11.dir, -1000)
    saver = x11.saver("--ini", ini)
    x11.wait_points(saver, 1280, 800)
    info = subprocess.run(["xwininfo", "-display", x11.display, "-root", "-tree"], capture_output=True, text=True,
                          timeout=20).stdout
    match = re.search(r'(0x[0-9a-f]+) "Lumivex": \("lumivex" "Lumivex"\)\s+1280x800\+0\+0', info)
    check(match is not None, "no 1280x800 window titled Lumivex:\n%s" % info)
    window = int(match.group(1), 16)
    x11.xdotool("mousemove", "300", "300", "click", "1", "key", "a", "mousemove", "320", "310")
    x11.x.resize(window, 500, 300)
    time.sleep(1.0)
    check(saver.poll() is None, "input ended the saver in its own window (exit code %s)" % saver.poll())
    shot = x11.wait_points(saver, 500, 300)
    check(shot.colours(300, 800, 0, 1280) <= {(0, 0, 0)} and shot.colours(0, 800, 500, 1280)
          <= {(0, 0, 0)}, "the saver still draws beyond its resized window")
    check(shot.pixel(0, 0) == (255, 255, 255), "no status line after the resize")
    log("ok: 1280x800 window titled Lumivex; input goes by; resized to 500x300, the picture follows")
    x11.x.ask_to_close(window)
    ends_with(saver, 0, 3, "--window closed")
    check(output_of(saver) == "", "standard error: %r" % output_of(saver))


def resident_kb(pid):
    """The resident memory of a process, in KB (0 once it is gone)."""
    try:
        with open("/proc/%d/status" % pid) as f:
            return next((int(line.split()[1]) for line in f if line.startswith("VmRSS:")), 0)
    except OSError:
        return 0


def starting_signals(s):
    """SIGTERM, SIGINT and SIGHUP during start-up end the saver quietly with 0: while it waits for
    the rest of a FIFO, and while it makes 20,000,000 points."""
    fifo = os.path.join(s.dir, "fifo")
    os.mkfifo(fifo)
    for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        saver = s.saver("--root", "--ini", fifo)
        writer = []

        def opened():
            try:
                writer.append(os.open(fifo, os.O_WRONLY | os.O_NONBLOCK))  # once the saver reads it
                return True
            except OSError:
                return False
        harness.wait_until(opened, "the saver opening the FIFO", timeout=20, process=saver)
        os.write(writer[0], b"3000\n1\n")
        saver.send_signal(number)
        ends_with(saver, 0, 5, "signal %d while reading a FIFO" % number)
        os.close(writer[0])
        check(output_of(saver) == "", "signal %d while reading a FIFO: %r" % (number, output_of(saver)))
    many = os.path.join(s.dir, "many")
    os.makedirs(many)
    saver = s.saver("--root", "--ini", write_ini(many, 20000000))
    harness.wait_until(lambda: resident_kb(saver.pid) > 100000, "the saver making its points", timeout=60, process=saver)
    saver.send_signal(signal.SIGTERM)
    ends_with(saver, 0, 5, "SIGTERM while making 20,000,000 points")
    check(output_of(saver) == "", "SIGTERM while making points: %r" % output_of(saver))
    log("ok: SIGTERM, SIGINT, SIGHUP while reading a FIFO, SIGTERM while making the points: exit 0, quietly")


def case_slow_spell(opts, x11):
    """Starved of the processor (stopped 90 ms of every 100, as on a busy machine), the saver
    lowers its count to three quarters; once its ticks are fast again the count comes back to the
    configured one, and the window equals the renderer's held frames again, status line included."""
    seed = 99
    ini = write_ini(x11.dir, -2000)  # negative: the status line shows the count
    rendered = Rendered(opts, x11.dir, ini, 320, 240, seed)
    window = x11.x.window(320, 240)
    log_path = os.path.join(x11.dir, "presents.txt")
    saver = x11.saver("-window-id", "0x%x" % window, "--ini", ini, "--seed", str(seed),
                      env=dict(x11.env, LUMIVEX_PRESENT_LOG=log_path))
    x11.wait_points(saver, 320, 240)
    wait_exact(x11, saver, rendered, timeout=30)

    def plotted():
        # A tick that moves the points plots every shown point (the log reaches the file a
        # block at a time).
        with open(log_path) as f:
            return [int(m.group(1)) for m in re.finditer(r"plotted=(\d+)", f.read())]
    seen = len(plotted())
    deadline = time.time() + 60
    while 1500 not in plotted()[seen:]:
        check(time.time() < deadline, "no tick of 1500 points after 60 s of starving the saver")
        check(saver.poll() is None, "the saver ended (exit code %s)" % saver.poll())
        for _ in range(10):
            saver.send_signal(signal.SIGSTOP)
            time.sleep(0.09)
            saver.send_signal(signal.SIGCONT)
            time.sleep(0.01)
    log("ok: starved, the saver went down to 1500 of its 2000 points")
    low = len(plotted())
    harness.wait_until(lambda: 2000 in plotted()[low:], "the count back at 2000 points", timeout=120, process=saver,
               pause=0.5)
    wait_exact(x11, saver, rendered, timeout=30)
    log("ok: fast again, the saver came back to its 2000 points")
    saver.send_signal(signal.SIGTERM)
    ends_with(saver, 0, 3, "slow spell, SIGTERM")


@pytest.mark.host(width=320, height=240)
def case_failures(opts, x11, x11_factory):
    """Messages on standard error and the exit codes: a missing file, a file without definitions,
    the user's file found by XDG_CONFIG_HOME, a bad option, no such window, no display."""
    def run(args, env=None, timeout=10):
        result = subprocess.run([opts.lumivex] + args, env=env or x11.env, capture_output=True, text=True,
                                timeout=timeout)
        return result.returncode, result.stderr.strip()

    missing = os.path.join(x11.dir, "nowhere.ini")
    code, err = run(["--window-id", str(x11.x.window(100, 80)), "--ini", missing])
    check((code, err) == (1, MISSING_NAMED % missing), "missing file: %d %r" % (code, err))
    log("ok: missing file: exit 1, %r" % err)

    empty = write_ini(x11.dir, 0, NO_DEFINITIONS_INI)
    code, err = run(["--root", "--ini", empty])
    check((code, err) == (1, NO_DEFINITIONS % empty), "no definitions: %d %r" % (code, err))
    log("ok: no definitions: exit 1")

    # A file that is there but cannot be read says what the system said, and names it.
    os.symlink("loop", os.path.join(x11.dir, "loop"))
    for path, why in ((x11.dir, "is a directory"), (os.path.join(x11.dir, "loop"), "too many levels of symbolic links"),
                      ("/dev/zero", "it goes on past 256 MB, far longer than any definition file")):
        code, err = run(["--root", "--ini", path], timeout=60)
        check((code, err) == (1, UNREADABLE % (path, why)), "%s: %d %r" % (path, code, err))
    log("ok: a directory, a loop of links, an endless file: exit 1, what happened and the file named")

    # The user's file comes before the installed one: this one has no definitions.
    folder = os.path.join(x11.dir, "config", "lumivex")
    os.makedirs(folder)
    write_ini(folder, 0, NO_DEFINITIONS_INI)
    code, err = run(["--root"], env=dict(x11.env, XDG_CONFIG_HOME=os.path.join(x11.dir, "config")))
    check((code, err) == (1, NO_DEFINITIONS % os.path.join(folder, "lumivex.ini")),
          "the file in XDG_CONFIG_HOME: %d %r" % (code, err))
    log("ok: the file in $XDG_CONFIG_HOME/lumivex/ is the one read")

    # A copy of the program in a folder of its own has no shipped file beside it, whatever the
    # machine has installed.
    alone = os.path.join(x11.dir, "alone")
    os.makedirs(alone)
    shutil.copy(opts.lumivex, alone)
    starting_signals(x11)

    env = dict(x11.env, XDG_CONFIG_HOME=os.path.join(x11.dir, "nothing-here"), HOME=x11.dir)
    result = subprocess.run([os.path.join(alone, os.path.basename(opts.lumivex)), "--root"], env=env,
                            capture_output=True, text=True, timeout=10)
    code, err = result.returncode, result.stderr.strip()
    check(code == 1 and "nothing-here/lumivex/" in err and "'%s/'" % alone in err and err.count("\n") == 0,
          "no file in the usual places: %d %r" % (code, err))
    log("ok: no file in the usual places: exit 1, %r" % err)

    for args, words in ((["--bogus"], "unknown option"), (["--delay", "10"], "--delay"),
                        (["--geometry", "0x10"], "--geometry"), (["--window-id", "0xZZ"], "--window-id"),
                        (["--ini"], "needs a value")):
        code, err = run(args)
        check(code == 2 and err.startswith("lumivex: ") and words in err and "\n" not in err,
              "%s: %d %r" % (args, code, err))
    code, err = run(["--root"], env=dict(x11.env, XSCREENSAVER_WINDOW="window"))
    check(code == 2 and "XSCREENSAVER_WINDOW" in err, "a bad XSCREENSAVER_WINDOW: %d %r" % (code, err))
    log("ok: bad options and values: exit 2, one line each")

    code, err = run(["--window-id", "0x3fffff0", "--ini", empty])
    check(code == 253 and err == "lumivex: There is no window 0x3fffff0 to draw in. Now quitting.",
          "no such window: %d %r" % (code, err))
    env = dict(x11.env, DISPLAY=":4095")
    code, err = run(["--fullscreen"], env=env)
    check(code == 253 and "':4095'" in err, "no display: %d %r" % (code, err))
    log("ok: no such window, no display: exit 253 (-3) with a message")

    code, err = run(["--fullscreen", "--ini", empty], env=x11_factory(160, 120, depth=16).env)
    check(code == 1 and "TrueColor" in err, "a 16-bit screen: %d %r" % (code, err))
    log("ok: a 16-bit screen: exit 1, %r" % err)

    result = subprocess.run([opts.lumivex, "--version"], capture_output=True, text=True, timeout=10)
    check(result.returncode == 0 and re.fullmatch(r"lumivex \d+\.\d+\.\d+\n", result.stdout) is not None,
          "--version printed %r" % result.stdout)
    result = subprocess.run([opts.lumivex, "-help"], capture_output=True, text=True, timeout=10)
    check(result.returncode == 0 and "--window-id" in result.stdout, "-help printed %r" % result.stdout[:200])
    log("ok: --version and -help")


def tree_of(root):
    """Every folder and file under root, relative, a folder with its "/"."""
    found = set()
    for folder, dirs, names in os.walk(root):
        found.update(os.path.relpath(os.path.join(folder, d), root) + "/" for d in dirs)
        found.update(os.path.relpath(os.path.join(folder, n), root) for n in names)
    return found


def case_install(opts):
    """make install into a DESTDIR under /usr/local: every file at its place, lumivex.xml also in the
    one folder XScreenSaver's settings dialog reads, the link to the hack, the prefix in the manual
    page, an installed lumivex-render that finds the installed definitions, valid XML and desktop
    entry; make uninstall leaves the tree as it was, a folder and a file of someone else's kept."""
    root = tempfile.mkdtemp(prefix="lumivex-install-")
    # The install writes its manifest into the build: a real install's stays as it was.
    kept = {}
    for name in ("install_manifest.txt", "install_folders.txt"):
        path = os.path.join(opts.build, name)
        if os.path.exists(path):
            with open(path, "rb") as f:
                kept[path] = f.read()
    script = os.path.join(opts.source, "scripts", "install.py")
    env = dict(os.environ, DESTDIR=root)
    try:
        os.makedirs(os.path.join(root, "usr/local/share/man"))
        with open(os.path.join(root, "usr/local/share/other"), "w") as f:
            f.write("someone else's\n")
        before = tree_of(root)
        subprocess.run([sys.executable, script, "install", "--build", opts.build, "--prefix", "/usr/local"], env=env,
                       check=True, capture_output=True, timeout=120)
        prefix = os.path.join(root, "usr/local")
        files = {"libexec/xscreensaver/lumivex", "bin/lumivex", "bin/lumivex-render",
                 "share/xscreensaver/config/lumivex.xml", "share/lumivex/lumivex.ini",
                 "share/applications/lumivex.desktop", "share/man/man6/lumivex.6.gz",
                 "share/man/man1/lumivex-render.1.gz", "share/doc/lumivex/copyright", "share/doc/lumivex/changelog.gz",
                 "share/other"} | {"share/icons/hicolor/%dx%d/apps/lumivex.png" % (n, n) for n in (32, 48, 64, 128, 256)}
        found = {p for p in tree_of(prefix) if not p.endswith("/")}
        check(found == files, "installed %s, expected %s" % (sorted(found), sorted(files)))
        dialog = os.path.join(root, "usr/share/xscreensaver/config/lumivex.xml")
        check(os.path.isfile(dialog) and open(dialog, "rb").read() == open(
            os.path.join(prefix, "share/xscreensaver/config/lumivex.xml"), "rb").read(),
            "lumivex.xml is not in /usr/share/xscreensaver/config, where XScreenSaver's settings dialog reads it")
        link = os.path.join(prefix, "bin", "lumivex")
        check(os.path.islink(link) and not os.path.isabs(os.readlink(link)), "bin/lumivex is not a relative link")
        result = subprocess.run([link, "--version"], capture_output=True, text=True, timeout=10)
        check(result.returncode == 0 and result.stdout.startswith("lumivex "), "the link does not run the hack")
        page = subprocess.run(["gzip", "-dc", os.path.join(prefix, "share/man/man6/lumivex.6.gz")], check=True,
                              capture_output=True, text=True, timeout=30).stdout
        check("XSECURELOCK_SAVER=/usr/local/libexec/xscreensaver/lumivex xsecurelock" in page
              and ".I /usr/local/share/lumivex/lumivex.ini" in page and "@" not in page.replace("@...@", ""),
              "the manual page does not name the installed places")
        empty = os.path.join(root, "cwd")
        os.makedirs(empty)
        result = subprocess.run([os.path.join(prefix, "bin/lumivex-render"), "--check"], cwd=empty,
                                capture_output=True, text=True, timeout=60)
        check(result.returncode == 0 and "17 definitions" in result.stdout,
              "the installed lumivex-render --check does not read the installed definitions (exit %d): %s"
              % (result.returncode, (result.stdout + result.stderr)[-300:]))
        # --import takes its point count from the installed definitions too.
        with open(os.path.join(empty, "t.ifs"), "w") as f:
            f.write("t {\n0.5 0 0 0.5 0 0 0.5\n0.5 0 0 0.5 0.5 0 0.5\n}\n")
        result = subprocess.run([os.path.join(prefix, "bin/lumivex-render"), "--import", "t.ifs"], cwd=empty,
                                capture_output=True, text=True, timeout=60)
        check(result.returncode == 0, "the installed lumivex-render --import without --points (exit %d): %s"
              % (result.returncode, (result.stdout + result.stderr)[-300:]))
        os.remove(os.path.join(empty, "t.ifs"))
        os.rmdir(empty)
        subprocess.run(["xmllint", "--noout", dialog], check=True, timeout=30)
        subprocess.run(["desktop-file-validate", os.path.join(prefix, "share/applications/lumivex.desktop")],
                       check=True, timeout=30)
        with open(dialog) as f:
            xml = f.read()
        check('<command arg="--root"/>' in xml and "--delay %" in xml and "--status" in xml and "--ini %" in xml,
              "the XML description lacks the command or an option")
        with open(os.path.join(prefix, "share/applications/lumivex.desktop")) as f:
            check("\nIcon=lumivex\n" in f.read(), "the desktop entry names no icon")
        with open(os.path.join(prefix, "share/lumivex/lumivex.ini"), "rb") as a, \
                open(os.path.join(opts.source, "resources", "lumivex.ini"), "rb") as b:
            check(a.read() == b.read(), "the installed lumivex.ini is not the shipped one")
        log("ok: %d files installed, lumivex.xml for the dialog, relative link, the prefix in the manual page, "
            "lumivex-render on the installed definitions, xmllint and desktop-file-validate pass" % len(found))
        subprocess.run([sys.executable, script, "uninstall", "--build", opts.build], env=env, check=True,
                       capture_output=True, timeout=120)
        after = tree_of(root)
        check(after == before, "make uninstall left %s and removed %s" % (sorted(after - before), sorted(before - after)))
        log("ok: make uninstall leaves the tree as it was found")
    finally:
        shutil.rmtree(root, ignore_errors=True)
        for path, data in kept.items():
            with open(path, "wb") as f:
                f.write(data)


@pytest.mark.host(width=640, height=480)
def case_contract(opts, x11):
    """The seam's rules, the same list as the headless host's, held against the X11 backend."""
    program = x11.start([opts.contract])
    code = harness.wait_exit(program, 100, "the contract program")
    check(code == 0, "the X11 backend breaks the seam's contract (exit %s):\n%s" % (code, harness.output_of(program)))
    log("ok: the X11 backend keeps the seam's contract")


def case_run_script(opts, case_dir):
    harness.check_run_script(opts, case_dir, "run-linux.sh", opts.lumivex)
