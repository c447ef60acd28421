#!/usr/bin/env python3
"""Tests of the native Linux saver `lumivex` under Xvfb (run by CTest, one case per call).

Every case starts its own Xvfb on a free display and stops it, with every saver and host it
started, when the case ends: also on failure, timeout or signal.
Windows "of a host" are made by this script through Xlib (ctypes), as XScreenSaver would make them.
"""
import argparse
import ctypes
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from e2e import GALLERY, PALETTE_RGB, STRIP, Failure, check, log, on_signal, parse_ppm, stop  # noqa: E402

MISSING_NAMED = "lumivex: I cannot find '%s'. I *need* that file, no nice gfx without it! Now quitting."
NO_DEFINITIONS = ("lumivex: I cannot start, there are no IFS definitions in the lumivex.ini file. No definitons "
                  "mean no gfx, no screensaver. Sorry. Quitting now.")


# ---------------------------------------------------------------------------------------------
# A host's windows, made with Xlib


class Xlib:
    """One connection to the test's display, for windows of a host's own."""

    def __init__(self, display):
        lib = ctypes.CDLL("libX11.so.6")
        lib.XOpenDisplay.restype = ctypes.c_void_p
        lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        lib.XDefaultRootWindow.restype = ctypes.c_ulong
        lib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        lib.XCreateSimpleWindow.restype = ctypes.c_ulong
        lib.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                            ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_ulong]
        for name in ("XMapWindow", "XDestroyWindow"):
            getattr(lib, name).argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        lib.XResizeWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_uint, ctypes.c_uint]
        lib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        lib.XInternAtom.restype = ctypes.c_ulong
        lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        lib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
        lib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.lib = lib
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


# ---------------------------------------------------------------------------------------------
# A test session: one Xvfb and whatever ran on it, all stopped at the end.


class Session:
    def __init__(self, opts, name, width=480, height=360, xvfb_args=(), depth=24):
        self.opts, self.width, self.height, self.depth = opts, width, height, depth
        self.xvfb_args = list(xvfb_args)
        self.dir = os.path.join(opts.work, name)
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        self.processes = []
        self.xvfb = None
        self.x = None

    def __enter__(self):
        # Displays from :20 to :89 (the Windows tests use :91 to :99), from a random start so that
        # cases running side by side rarely try the same one; Xvfb's lock file decides.
        first = random.randrange(20, 90)
        for number in [20 + (first - 20 + i) % 70 for i in range(70)]:
            if os.path.exists("/tmp/.X%d-lock" % number) or os.path.exists("/tmp/.X11-unix/X%d" % number):
                continue
            if self.start_xvfb(number):
                break
        if self.x is None:
            raise Failure("no Xvfb could be started on a free display from :20 to :89")
        self.env = dict(os.environ, DISPLAY=self.display)
        self.env.pop("XSCREENSAVER_WINDOW", None)
        self.env.pop("WAYLAND_DISPLAY", None)  # these cases speak X11, whatever desktop runs them
        return self

    def start_xvfb(self, number):
        xvfb = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "%dx%dx%d" % (self.width, self.height, self.depth),
                                 "-nolisten", "tcp"] + self.xvfb_args,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 10
        while time.time() < deadline and xvfb.poll() is None and not os.path.exists("/tmp/.X11-unix/X%d" % number):
            time.sleep(0.05)
        owner = None
        try:
            with open("/tmp/.X%d-lock" % number) as f:
                owner = int(f.read().strip())
        except (OSError, ValueError):
            pass
        if owner != xvfb.pid or xvfb.poll() is not None:
            stop(xvfb)  # another server holds the display
            return False
        self.xvfb, self.display = xvfb, ":%d" % number
        try:
            self.x = Xlib(self.display)
        except Failure:
            stop(xvfb)
            self.xvfb = None
            return False
        return True

    def __exit__(self, exc_type, *_exc):
        if exc_type is not None:
            try:
                path = os.path.join(self.dir, "at-failure.ppm")
                shot = self.shot()
                with open(path, "wb") as f:
                    f.write(b"P6 %d %d 255\n" % (shot.width, shot.height) + shot.data)
                log("screen at the failure: %s" % path)
            except Exception:
                pass
        for process in self.processes:
            stop(process)
        if self.x is not None:
            self.x.close()
        stop(self.xvfb)
        return False

    def start(self, *args, env=None, program=None):
        """Starts a program without waiting; its standard error goes to a file of the case."""
        err = open(os.path.join(self.dir, "stderr-%d.txt" % len(self.processes)), "wb")
        process = subprocess.Popen([program or self.opts.lumivex] + list(args), env=env or self.env,
                                   stdout=subprocess.DEVNULL, stderr=err, stdin=subprocess.DEVNULL)
        process.stderr_path = err.name
        self.processes.append(process)
        return process

    def xdotool(self, *args):
        subprocess.run(["xdotool"] + list(args), env=self.env, check=True, timeout=20, stdout=subprocess.DEVNULL)

    def shot(self):
        data = subprocess.run(["import", "-display", self.display, "-window", "root", "-depth", "8", "ppm:-"],
                              check=True, capture_output=True, timeout=30).stdout
        return parse_ppm(data)

    def wait_points(self, process, width, height, timeout=20):
        """Waits until the window at the corner shows points on black below the strip."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            check(process.poll() is None, "the saver ended (exit code %s) before drawing" % process.poll())
            shot = self.shot()
            image = region_colours(shot, 0, STRIP, width, height)
            if (0, 0, 0) in image and len(image) >= 2:
                return shot
            time.sleep(0.2)
        raise Failure("no points appeared within %d s" % timeout)


def region_colours(shot, left, top, right, bottom):
    seen = set()
    for y in range(top, bottom):
        row = shot.data[(y * shot.width + left) * 3:(y * shot.width + right) * 3]
        for i in range(0, len(row), 3):
            seen.add((row[i], row[i + 1], row[i + 2]))
    return seen


def crop(shot, width, height):
    """The window at the screen's corner, as RGB bytes."""
    return b"".join(shot.data[y * shot.width * 3:(y * shot.width + width) * 3] for y in range(height))


def ends_with(process, code, timeout, what):
    try:
        got = process.wait(timeout)
    except subprocess.TimeoutExpired:
        raise Failure("%s: the saver did not end within %s s" % (what, timeout))
    check(got == code % 256, "%s: exit code %d, expected %d" % (what, got, code % 256))
    log("ok: %s, exit code %d" % (what, got))


def stderr_of(process):
    with open(process.stderr_path, "rb") as f:
        return f.read().decode("utf-8", "replace")


def write_ini(folder, count, text=None):
    path = os.path.join(folder, "lumivex.ini")
    with open(path, "w") as f:
        f.write(text if text is not None else GALLERY.format(count=count))
    return path


def cpu_seconds(pid):
    """User plus system time of a process, from /proc/PID/stat."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


# ---------------------------------------------------------------------------------------------
# The renderer's pictures of the same run


class Rendered:
    """The held frames of lumivex-render for a file, size and seed: {image hash: window picture}.
    Every tick of a hold shows the same window, so a few kept ticks of each hold are enough."""

    EVERY = 40  # a hold lasts 150 ticks of 10 ms: at least three of its ticks are kept

    def __init__(self, opts, folder, ini, width, height, seed, ticks=3000):
        pictures = os.path.join(folder, "render-%dx%d" % (width, height))
        shutil.rmtree(pictures, ignore_errors=True)
        result = subprocess.run([opts.render, "--ini", ini, "--size", "%dx%d" % (width, height), "--seed", str(seed),
                                 "--ticks", str(ticks), "--dump", "-", "--png", pictures, "--every", str(self.EVERY)],
                                check=True, capture_output=True, timeout=180)
        self.width, self.height = width, height
        self.frames = {}
        before = None
        for line in result.stdout.decode().splitlines():
            tick = json.loads(line)
            if "phase" not in tick:
                continue
            if before == 2 and tick["tick"] % self.EVERY == 0 and tick["image"] not in self.frames:
                path = os.path.join(pictures, "frame-%05d.png" % (tick["tick"] // self.EVERY))
                ppm = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], check=True, capture_output=True,
                                     timeout=30).stdout
                picture = parse_ppm(ppm)
                check((picture.width, picture.height) == (width, height), "the renderer's picture is %dx%d"
                      % (picture.width, picture.height))
                self.frames[tick["image"]] = picture.data
            before = tick["phase"]
        check(len(self.frames) >= 3, "the renderer held only %d frames" % len(self.frames))

    def match(self, shot):
        """The screenshot's window equals a held frame of the renderer: True; its image matches
        none: False; its image matches but another pixel differs: a failure."""
        h, _lit = shot.image_mask_hash(STRIP, self.height - STRIP, self.width)
        picture = self.frames.get(h)
        if picture is None:
            return False
        window = crop(shot, self.width, self.height)
        strip = STRIP * self.width * 3
        if window[strip:] == picture[strip:] and window[:strip] != picture[:strip]:
            # The held points with the next definition's number in the status line: the tick or
            # two between a hold's end and the morph (a resized window can show it at once).
            return False
        if window != picture:
            differ = [i // 3 for i in range(0, len(window), 3) if window[i:i + 3] != picture[i:i + 3]]
            x, y = differ[0] % self.width, differ[0] // self.width
            raise Failure("%d pixels differ from the renderer's held frame, the first at (%d, %d): %s, expected %s"
                          % (len(differ), x, y, window[differ[0] * 3:differ[0] * 3 + 3],
                             picture[differ[0] * 3:differ[0] * 3 + 3]))
        return True


def wait_exact(s, saver, rendered, timeout=16):
    """Screenshots until one equals a held frame of the renderer, pixel for pixel."""
    deadline = time.time() + timeout
    shots = 0
    while time.time() < deadline:
        check(saver.poll() is None, "the saver ended (exit code %s)" % saver.poll())
        shots += 1
        if rendered.match(s.shot()):
            log("ok: the %dx%d window equals a held frame of lumivex-render, strip included (screenshot %d)"
                % (rendered.width, rendered.height, shots))
            return
        time.sleep(0.1)
    raise Failure("none of %d screenshots in %d s equals a held frame of lumivex-render at %dx%d"
                  % (shots, timeout, rendered.width, rendered.height))


# ---------------------------------------------------------------------------------------------
# Cases


def case_pixel_exact(opts):
    """--window-id in a window of the test's own: exact pictures, resized twice, the CPU time over
    5 s, and the window destroyed under it."""
    seed = 4242
    sizes = [(320, 240), (400, 300), (256, 200)]
    with Session(opts, "pixel_exact", 480, 360) as s:
        ini = write_ini(s.dir, -1200)  # negative: the status line too
        renders = [Rendered(opts, s.dir, ini, w, h, seed) for w, h in sizes]
        window = s.x.window(*sizes[0])
        saver = s.start("-window-id", "0x%x" % window, "--ini", ini, "--seed", str(seed))
        s.wait_points(saver, *sizes[0])

        wall, cpu = time.time(), cpu_seconds(saver.pid)
        wait_exact(s, saver, renders[0])
        time.sleep(max(0.0, 5 - (time.time() - wall)))
        used = cpu_seconds(saver.pid) - cpu
        wall = time.time() - wall
        check(used < 0.5 * wall, "the saver used %.2f s of CPU in %.2f s" % (used, wall))
        log("ok: %.2f s of CPU time in %.2f s of running" % (used, wall))

        for w, h in sizes[1:]:
            s.x.resize(window, w, h)
            time.sleep(0.3)
            check(region_colours(s.shot(), 0, 0, w, h) != {(255, 255, 255)}, "nothing drawn after the resize")
            wait_exact(s, saver, renders[sizes.index((w, h))], timeout=20)

        s.x.destroy(window)
        ends_with(saver, 0, 5, "window destroyed under the saver")
        lines = stderr_of(saver).splitlines()
        check(len(lines) <= 1, "standard error holds %d lines: %s" % (len(lines), lines))


def case_hosts(opts):
    """XScreenSaver's contract: --root with XSCREENSAVER_WINDOW in hex and in decimal, the root
    window without it; SIGTERM, SIGINT, SIGHUP and the loss of the display end it with 0;
    SIGSTOP/SIGCONT do not break it."""
    with Session(opts, "hosts", 480, 360) as s:
        ini = write_ini(s.dir, 1500)
        for form, sig in (("0x%x", signal.SIGTERM), ("%d", signal.SIGINT)):
            window = s.x.window(300, 200)
            env = dict(s.env, XSCREENSAVER_WINDOW=form % window)
            saver = s.start("--root", "--ini", ini, env=env)
            shot = s.wait_points(saver, 300, 200)
            check(region_colours(shot, 300, 0, 480, 360) <= {(0, 0, 0)}, "the saver drew outside its window")
            if sig == signal.SIGTERM:
                # Stopped for a second and continued: it goes on drawing, and on ticking at its pace.
                saver.send_signal(signal.SIGSTOP)
                time.sleep(1.0)
                saver.send_signal(signal.SIGCONT)
                before = crop(s.shot(), 300, 200)
                time.sleep(1.0)
                check(saver.poll() is None, "the saver ended after SIGCONT")
                check(crop(s.shot(), 300, 200) != before, "the picture stands still after SIGCONT")
                log("ok: SIGSTOP for 1 s, SIGCONT: the saver goes on")
            # Input on a host's window ends nothing.
            s.xdotool("mousemove", "100", "100", "click", "1", "key", "a", "mousemove", "150", "120")
            time.sleep(0.5)
            check(saver.poll() is None, "input ended a saver in a host's window")
            saver.send_signal(sig)
            ends_with(saver, 0, 2, "--root, XSCREENSAVER_WINDOW=%s, %s" % (form % window, sig.name))
            check(stderr_of(saver) == "", "standard error: %r" % stderr_of(saver))
            s.x.destroy(window)
        saver = s.start("-root", "-ini", ini)
        s.wait_points(saver, 480, 360)
        saver.send_signal(signal.SIGHUP)
        ends_with(saver, 0, 2, "-root in the root window, SIGHUP")
        # The display goes away under a running saver: it ends quietly with 0.
        saver = s.start("-root", "-ini", ini)
        s.wait_points(saver, 480, 360)
        s.x.close()
        s.x = None
        stop(s.xvfb)
        ends_with(saver, 0, 3, "the X server gone")
        check(stderr_of(saver) == "", "standard error: %r" % stderr_of(saver))


def case_xsecurelock(opts):
    """Debian's xsecurelock as the host: the saver draws in the window it is given and ends with it."""
    with Session(opts, "xsecurelock", 480, 360) as s:
        config = os.path.join(s.dir, "config", "lumivex")
        os.makedirs(config)
        write_ini(config, 1500)
        # A wrapper that records the saver's command line, surroundings and exit code.
        wrapper = os.path.join(s.dir, "saver.sh")
        record = os.path.join(s.dir, "saver.txt")
        with open(wrapper, "w") as f:
            # It outlives the signals that end the saver, to see how the saver ended.
            f.write("#!/bin/sh\ntrap true TERM INT HUP\n%s \"$@\" &\nchild=$!\n"
                    "echo \"args=$* window=$XSCREENSAVER_WINDOW pid=$child\" >> %s\n"
                    "while :; do wait $child; code=$?; kill -0 $child 2>/dev/null || break; done\n"
                    "echo \"exit=$code\" >> %s\n" % (opts.lumivex, record, record))
        os.chmod(wrapper, 0o755)
        env = dict(s.env, XSECURELOCK_SAVER=wrapper, XSECURELOCK_NO_COMPOSITE="1",
                   XDG_CONFIG_HOME=os.path.join(s.dir, "config"), XSECURELOCK_PASSWORD_PROMPT="disco")
        lock = s.start(program="xsecurelock", env=env)
        deadline = time.time() + 20
        shot = None
        while time.time() < deadline:
            check(lock.poll() is None, "xsecurelock ended (exit code %s): %s" % (lock.poll(), stderr_of(lock)))
            shot = s.shot()
            image = region_colours(shot, 0, STRIP, s.width, s.height)
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


def run_fullscreen(opts, s, ini, name, action, ends=True):
    saver = s.start("--fullscreen", "--ini", ini)
    s.wait_points(saver, s.width, s.height)
    time.sleep(0.3)
    check(saver.poll() is None, "%s: the saver ended by itself" % name)
    action()
    if ends:
        ends_with(saver, 0, 3, "--fullscreen, %s" % name)
    else:
        time.sleep(1.0)
        check(saver.poll() is None, "--fullscreen: %s ended the saver (exit code %s)" % (name, saver.poll()))
        log("ok: --fullscreen, %s: the saver goes on" % name)
        saver.send_signal(signal.SIGTERM)
        ends_with(saver, 0, 3, "--fullscreen after %s, SIGTERM" % name)


def case_fullscreen(opts):
    """The full-screen rules of /s: a one-pixel move, a key, each of three buttons end it (one run
    each); the wheel does not. Also the window's size and the strip. This display has no shared
    memory, as a remote one: the saver draws with plain XPutImage."""
    with Session(opts, "fullscreen", 320, 240, ["-extension", "MIT-SHM"]) as s:
        ini = write_ini(s.dir, -800)
        s.xdotool("mousemove", "100", "100")
        saver = s.start("--fullscreen", "--ini", ini)
        shot = s.wait_points(saver, s.width, s.height)
        info = subprocess.run(["xwininfo", "-display", s.display, "-root", "-tree"], capture_output=True, text=True,
                              timeout=20).stdout
        check(re.search(r'"Lumivex": \("lumivex" "Lumivex"\)\s+320x240\+0\+0', info) is not None,
              "no full-screen window titled Lumivex:\n%s" % info)
        check(shot.pixel(0, 0) == (255, 255, 255) and (0, 0, 0) in region_colours(shot, 0, 0, 320, STRIP),
              "no status line at the top left")
        saver.send_signal(signal.SIGTERM)
        ends_with(saver, 0, 3, "--fullscreen, SIGTERM")
        run_fullscreen(opts, s, ini, "the wheel", lambda: s.xdotool("click", "4", "click", "5"), ends=False)
        run_fullscreen(opts, s, ini, "a one-pixel move", lambda: s.xdotool("mousemove_relative", "--", "1", "0"))
        run_fullscreen(opts, s, ini, "a key", lambda: s.xdotool("key", "a"))
        for button, name in (("1", "left"), ("2", "middle"), ("3", "right")):
            run_fullscreen(opts, s, ini, "the %s button" % name, lambda: s.xdotool("click", button))


def case_window(opts):
    """The default: a window of its own, 1280x800, titled Lumivex; input does not end it, the picture
    follows its size, and closing it (WM_DELETE_WINDOW, as a window manager asks) ends it with 0."""
    with Session(opts, "window", 1400, 900) as s:
        ini = write_ini(s.dir, -1000)
        saver = s.start("--ini", ini)
        s.wait_points(saver, 1280, 800)
        info = subprocess.run(["xwininfo", "-display", s.display, "-root", "-tree"], capture_output=True, text=True,
                              timeout=20).stdout
        match = re.search(r'(0x[0-9a-f]+) "Lumivex": \("lumivex" "Lumivex"\)\s+1280x800\+0\+0', info)
        check(match is not None, "no 1280x800 window titled Lumivex:\n%s" % info)
        window = int(match.group(1), 16)
        s.xdotool("mousemove", "300", "300", "click", "1", "key", "a", "mousemove", "320", "310")
        s.x.resize(window, 500, 300)
        time.sleep(1.0)
        check(saver.poll() is None, "input ended the saver in its own window (exit code %s)" % saver.poll())
        shot = s.wait_points(saver, 500, 300)
        check(region_colours(shot, 0, 300, 1280, 800) <= {(0, 0, 0)} and region_colours(shot, 500, 0, 1280, 800)
              <= {(0, 0, 0)}, "the saver still draws beyond its resized window")
        check(shot.pixel(0, 0) == (255, 255, 255), "no status line after the resize")
        log("ok: 1280x800 window titled Lumivex; input goes by; resized to 500x300, the picture follows")
        s.x.ask_to_close(window)
        ends_with(saver, 0, 3, "--window closed")
        check(stderr_of(saver) == "", "standard error: %r" % stderr_of(saver))


def case_failures(opts):
    """Messages on standard error and the exit codes: a missing file, a file without definitions,
    the user's file found by XDG_CONFIG_HOME, a bad option, no such window, no display."""
    with Session(opts, "failures", 320, 240) as s:
        def run(args, env=None, timeout=10):
            result = subprocess.run([opts.lumivex] + args, env=env or s.env, capture_output=True, text=True,
                                    timeout=timeout)
            return result.returncode, result.stderr.strip()

        missing = os.path.join(s.dir, "nowhere.ini")
        code, err = run(["--window-id", str(s.x.window(100, 80)), "--ini", missing])
        check((code, err) == (1, MISSING_NAMED % missing), "missing file: %d %r" % (code, err))
        log("ok: missing file: exit 1, %r" % err)

        empty = write_ini(s.dir, 0, "; a count and nothing else\n500\n")
        code, err = run(["--root", "--ini", empty])
        check((code, err) == (1, NO_DEFINITIONS), "no definitions: %d %r" % (code, err))
        log("ok: no definitions: exit 1")

        # The user's file comes before the installed one: this one has no definitions.
        folder = os.path.join(s.dir, "config", "lumivex")
        os.makedirs(folder)
        write_ini(folder, 0, "; a count and nothing else\n500\n")
        code, err = run(["--root"], env=dict(s.env, XDG_CONFIG_HOME=os.path.join(s.dir, "config")))
        check((code, err) == (1, NO_DEFINITIONS), "the file in XDG_CONFIG_HOME: %d %r" % (code, err))
        log("ok: the file in $XDG_CONFIG_HOME/lumivex/ is the one read")

        env = dict(s.env, XDG_CONFIG_HOME=os.path.join(s.dir, "nothing-here"), HOME=s.dir)
        try:
            code, err = run(["--root"], env=env, timeout=3)
            check(code == 1 and "nothing-here/lumivex/" in err and err.count("\n") == 0,
                  "no file in the usual places: %d %r" % (code, err))
            log("ok: no file in the usual places: exit 1, %r" % err)
        except subprocess.TimeoutExpired:
            log("skipped: no file in the usual places (this machine has an installed lumivex.ini)")

        for args, words in ((["--bogus"], "unknown option"), (["--delay", "10"], "--delay"),
                            (["--geometry", "0x10"], "--geometry"), (["--window-id", "0xZZ"], "--window-id"),
                            (["--ini"], "needs a value")):
            code, err = run(args)
            check(code == 2 and err.startswith("lumivex: ") and words in err and "\n" not in err,
                  "%s: %d %r" % (args, code, err))
        code, err = run(["--root"], env=dict(s.env, XSCREENSAVER_WINDOW="window"))
        check(code == 2 and "XSCREENSAVER_WINDOW" in err, "a bad XSCREENSAVER_WINDOW: %d %r" % (code, err))
        log("ok: bad options and values: exit 2, one line each")

        code, err = run(["--window-id", "0x3fffff0", "--ini", empty])
        check(code == 253 and err == "lumivex: There is no window 0x3fffff0 to draw in. Now quitting.",
              "no such window: %d %r" % (code, err))
        env = dict(s.env, DISPLAY=":4095")
        code, err = run(["--fullscreen"], env=env)
        check(code == 253 and "':4095'" in err, "no display: %d %r" % (code, err))
        log("ok: no such window, no display: exit 253 (-3) with a message")

        with Session(opts, "failures-16-bit", 160, 120, depth=16) as s16:
            code, err = run(["--fullscreen", "--ini", empty], env=s16.env)
            check(code == 1 and "TrueColor" in err, "a 16-bit screen: %d %r" % (code, err))
        log("ok: a 16-bit screen: exit 1, %r" % err)

        result = subprocess.run([opts.lumivex, "--version"], capture_output=True, text=True, timeout=10)
        check(result.returncode == 0 and re.fullmatch(r"lumivex \d+\.\d+\.\d+\n", result.stdout) is not None,
              "--version printed %r" % result.stdout)
        result = subprocess.run([opts.lumivex, "-help"], capture_output=True, text=True, timeout=10)
        check(result.returncode == 0 and "--window-id" in result.stdout, "-help printed %r" % result.stdout[:200])
        log("ok: --version and -help")


def case_install(opts):
    """The installed tree: every file at its place, the link to the hack, valid XML and desktop entry."""
    prefix = tempfile.mkdtemp(prefix="lumivex-install-")
    try:
        subprocess.run(["cmake", "--install", opts.build, "--prefix", prefix], check=True, capture_output=True,
                       timeout=120)
        files = {"libexec/xscreensaver/lumivex", "bin/lumivex", "share/xscreensaver/config/lumivex.xml",
                 "share/lumivex/lumivex.ini", "share/applications/lumivex.desktop", "share/man/man6/lumivex.6.gz",
                 "share/doc/lumivex/copyright", "share/doc/lumivex/changelog.gz"}
        found = set()
        for root, _dirs, names in os.walk(prefix):
            for name in names:
                found.add(os.path.relpath(os.path.join(root, name), prefix))
        check(found == files, "installed %s, expected %s" % (sorted(found), sorted(files)))
        link = os.path.join(prefix, "bin", "lumivex")
        check(os.path.islink(link) and not os.path.isabs(os.readlink(link)), "bin/lumivex is not a relative link")
        result = subprocess.run([link, "--version"], capture_output=True, text=True, timeout=10)
        check(result.returncode == 0 and result.stdout.startswith("lumivex "), "the link does not run the hack")
        subprocess.run(["xmllint", "--noout", os.path.join(prefix, "share/xscreensaver/config/lumivex.xml")],
                       check=True, timeout=30)
        subprocess.run(["desktop-file-validate", os.path.join(prefix, "share/applications/lumivex.desktop")],
                       check=True, timeout=30)
        with open(os.path.join(prefix, "share/xscreensaver/config/lumivex.xml")) as f:
            xml = f.read()
        check('<command arg="--root"/>' in xml and "--delay %" in xml and "--status" in xml and "--ini %" in xml,
              "the XML description lacks the command or an option")
        with open(os.path.join(prefix, "share/lumivex/lumivex.ini"), "rb") as a, \
                open(os.path.join(opts.source, "resources", "lumivex.ini"), "rb") as b:
            check(a.read() == b.read(), "the installed lumivex.ini is not the shipped one")
        log("ok: %d files installed, relative link, xmllint and desktop-file-validate pass" % len(found))
    finally:
        shutil.rmtree(prefix, ignore_errors=True)


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("case", choices=sorted(CASES))
    for option in ("work", "lumivex", "render", "source", "build"):
        parser.add_argument("--" + option, required=True)
    parser.add_argument("--timeout", type=int, default=150, help="seconds before the case gives up")
    opts = parser.parse_args()
    opts.work = os.path.abspath(opts.work)
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGALRM, lambda *_: (_ for _ in ()).throw(Failure("the case took over %d s" % opts.timeout)))
    signal.alarm(opts.timeout)
    for path in (opts.lumivex, opts.render):
        if not os.path.exists(path):
            print("FAIL: %s is missing (build it first)" % path)
            return 1
    try:
        CASES[opts.case](opts)
    except Failure as failure:
        print("FAIL: %s" % failure, flush=True)
        return 1
    finally:
        signal.alarm(0)
    return 0


if __name__ == "__main__":
    sys.exit(main())
