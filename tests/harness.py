"""The one harness of every test that runs a real host (Wine, X11, Wayland, a browser).

A test file holds its cases as functions `case_NAME(opts, ...)`; pytest runs them, with the fixtures
of tests/conftest.py: the options as `opts` (the time limit, the end of everything a case started),
and the hosts a case names (x11, sway, chromium, wine), set by its @pytest.mark.host(...).
CTest runs `python3 -m pytest FILE::case_NAME --work DIR [--render EXE --source DIR ...]` (the CMake
function `lumivex_harness_cases` of cmake/harness.cmake; by hand the same, from anywhere).

The API, all of it:

  Failure, check(cond, msg), log(msg)     a case fails by raising Failure; check raises it
  SKIPPED (77)                            the exit code of a run whose cases were skipped (pytest.skip)
  start(argv, output=None, env=None, cwd=None)
                                          starts a program in a process group of its own, kept for
                                          cleanup; its output (both streams) goes to the file `output`
  stop(process)                           ends the process's group: TERM, then KILL after 5 s
  at_cleanup(fn)                          fn() runs at the end of the case, also on failure
  wait_exit(process, timeout, what)       the exit code, or a Failure after timeout s
  ends_with(process, code, timeout, what) the exit code must be `code` (modulo 256)
  input_ends(process, what, action, ends) action() ends the saver with 0, or (ends False) does not
  wait_until(condition, what, timeout=10, process=None)
                                          condition()'s first true result, or a Failure
  output_of(process)                      what a started program wrote to its log
  write_ini(folder, count, text=None)     writes lumivex.ini: `text`, or the test gallery (GALLERY)
  Shot, parse_ppm(bytes), read_picture(path), save_ppm(shot, path)
                                          RGB screenshots; colours(), region(), crop(), mask_hash()
  start_xvfb(width, height, depth, args)  an X server on a free display (-displayfd): (process, ":N")
  Session(opts, folder, width, height, ...)
                                          a case's programs on an Xvfb (the fixture x11): .start(argv,
                                          env, cwd, user), .shot(), .xdotool(), .save(), .wait_points()
  HeadlessSway(opts, folder, config, output)
                                          the same on a headless sway as the test user (fixture
                                          sway): .swaymsg(), .shot(output, cursor), .runtime
  Rendered(opts, folder, ini, width, height, seed, ...)
                                          lumivex-render's held frames of the same file, seed, size
                                          and clock; .match(shot, top, strip) compares a screenshot
                                          with them (strip=False: the status strip left out)
  wait_exact(s, process, rendered, timeout, strip)
                                          screenshots until one equals a held frame
  render_still(opts, folder, width, height, seed, dt, ticks, ini=None, extra=())
                                          lumivex-render's last frame of a run, as a Shot
  check_corner(shot, expected, what)      the shot's top-left corner equals the expected Shot
  serve(folder, command=None, port=None)  serves a folder on 127.0.0.1 until the case ends: the
                                          server process, its base URL in .url
  Chromium()                              headless Chromium through Selenium, one at a time
                                          (fixture chromium): .open(width, height, scale) the driver,
                                          .close(); page_shot(driver), no_console_errors(driver),
                                          wait_script(driver, script, timeout, what)
  wait_rendered(take_shot, process, rendered, timeout), held_subset(shot, rendered)
                                          the same for a whole screen, also taking a subset of a
                                          held frame's points from a saver that lowered its count
  cpu_seconds(pid)                        user plus system CPU time of a process
  User(name)                              an unprivileged user with its own XDG_RUNTIME_DIR (made when
                                          missing): .command(argv), .env(base), .give(path)
  Wine(prefix)                            a Wine prefix (fixture wine_prefix): .env(), .boot(),
                                          .run(), .kill(); tests/wine_saver.py's session on it (wine)
"""
import base64
import contextlib
import json
import os
import pwd
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

# scripts/x11_screenshot.py: make run's screenshot and the one binding of libX11.
sys.path.append(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
import x11_screenshot  # noqa: E402

SKIPPED = 77
STRIP = 16  # rows of the status strip above the saver's image

PALETTE = [0x0000FF, 0x003FFF, 0x007FCF, 0x00CFCF, 0x00CF7C, 0x00FF3F, 0x00FF00, 0x3FFF00, 0x7FCF00,
           0xCFCF00, 0xCF7F00, 0xFF4F00, 0xFF3F3F, 0xCF3F7F, 0xCF3FCF, 0x7F1FCF, 0x3F00FF, 0xFF00FF,
           0x00FFFF]
PALETTE_RGB = {((c >> 16) & 255, (c >> 8) & 255, c & 255) for c in PALETTE}

# A small gallery: the triangle and the carpet, few points, so every frame is cheap. A negative
# count turns the status line on.
GALLERY = """; test gallery
{count}
; Sierpinski triangle
3
0.5 0 0 0.5 0 0 33
0.5 0 0 0.5 0.5 0 33
0.5 0 0 0.5 0.25 0.5 34
-0.05 -0.05 1.05 1.05
; Sierpinski carpet
8
0.3333 0 0 0.3333 0 0 12
0.3333 0 0 0.3333 0.3333 0 12
0.3333 0 0 0.3333 0.6667 0 13
0.3333 0 0 0.3333 0 0.3333 12
0.3333 0 0 0.3333 0.6667 0.3333 13
0.3333 0 0 0.3333 0 0.6667 12
0.3333 0 0 0.3333 0.3333 0.6667 13
0.3333 0 0 0.3333 0.6667 0.6667 13
-0.02 -0.02 1.02 1.02
"""
NO_DEFINITIONS_INI = "; a count and nothing else\n500\n"


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def log(message):
    print(message, flush=True)


# ---------------------------------------------------------------------------------------------
# Processes: each in a group of its own, all ended when the case ends.

_started = []
_cleanups = []


def start(argv, output=None, env=None, cwd=None, pass_fds=()):
    """Starts a program without waiting. Its output (both streams) goes to the file `output`, or
    nowhere."""
    out = open(output, "wb") if output else subprocess.DEVNULL
    try:
        process = subprocess.Popen([str(a) for a in argv], env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out,
                                   stderr=subprocess.STDOUT, start_new_session=True, pass_fds=pass_fds)
    finally:
        if output:
            out.close()
    process.log_path = output
    _started.append(process)
    return process


def stop(process):
    """Ends the process and everything in its group; waits for it."""
    if process is None:
        return
    for sig, grace in ((signal.SIGTERM, 5), (signal.SIGKILL, 5)):
        try:
            os.killpg(process.pid, sig)
        except (ProcessLookupError, PermissionError):
            if process.poll() is None:
                process.send_signal(sig)
        try:
            process.wait(grace)
            break
        except subprocess.TimeoutExpired:
            continue
    # Members of the group that outlived its leader.
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass


def at_cleanup(fn):
    _cleanups.append(fn)


def cleanup():
    """Stops every program started, newest first, and runs the cleanups; never raises."""
    while _started:
        try:
            stop(_started.pop())
        except Exception as error:  # noqa: BLE001 - the rest must still be stopped
            log("cleanup: %s" % error)
    while _cleanups:
        try:
            _cleanups.pop()()
        except Exception as error:  # noqa: BLE001
            log("cleanup: %s" % error)


def wait_exit(process, timeout, what):
    try:
        return process.wait(timeout)
    except subprocess.TimeoutExpired:
        raise Failure("%s did not end within %s s" % (what, timeout))


def ends_with(process, code, timeout, what):
    """The process must end within timeout with the exit code (modulo 256, as Wine reports it)."""
    got = wait_exit(process, timeout, what)
    check(got == code % 256, "%s: exit code %d, expected %d" % (what, got, code % 256))
    log("ok: %s, exit code %d" % (what, got))


def input_ends(process, what, action, ends=True):
    """Does action() to a running saver: with `ends`, the saver must end with 0 within 3 s; else
    it must go on for a second, and then SIGTERM ends it with 0."""
    check(process.poll() is None, "%s: the saver ended by itself" % what)
    action()
    if ends:
        ends_with(process, 0, 3, "%s" % what)
        return
    time.sleep(1.0)
    check(process.poll() is None, "%s ended the saver (exit code %s)" % (what, process.poll()))
    log("ok: %s: the saver goes on" % what)
    process.send_signal(signal.SIGTERM)
    ends_with(process, 0, 3, "after %s, SIGTERM" % what)


def wait_until(condition, what, timeout=10, process=None, pause=0.1):
    """Calls condition() until it gives something true, and returns that; a Failure naming `what`
    after timeout s, or as soon as `process` has ended."""
    deadline = time.time() + timeout
    while True:
        result = condition()
        if result:
            return result
        if process is not None and process.poll() is not None:
            raise Failure("%s: the saver ended (exit code %s)" % (what, process.poll()))
        check(time.time() < deadline, "%s within %s s" % (what, timeout))
        time.sleep(pause)


# Seconds of one morph (3 s) and one hold (1.5 s): the picture moves within any span this long,
# whatever the span's start (a hold stands still for its 1.5 s).
CYCLE = 4.5


def wait_change(take_shot, what, process=None, cycles=4):
    """Screenshots (take_shot() gives a picture's bytes) until one differs from the first: the
    animation's own event, not a fixed delay. A picture that stays the same over `cycles` whole
    cycles stands still, a Failure naming `what`."""
    first = take_shot()
    return wait_until(lambda: take_shot() != first, what, timeout=cycles * CYCLE, process=process, pause=0.2)


def output_of(process):
    if not process.log_path:
        return ""
    with open(process.log_path, "rb") as f:
        return f.read().decode("utf-8", "replace")


def write_ini(folder, count, text=None):
    path = os.path.join(folder, "lumivex.ini")
    with open(path, "w") as f:
        f.write(text if text is not None else GALLERY.format(count=count))
    return path


# ---------------------------------------------------------------------------------------------
# Pictures


class Shot:
    """A screenshot: width, height and RGB bytes, top row first."""

    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return self.data[i], self.data[i + 1], self.data[i + 2]

    def region(self, left, top, right, bottom):
        """The RGB bytes of the rectangle, top row first."""
        return b"".join(self.data[(y * self.width + left) * 3:(y * self.width + right) * 3] for y in range(top, bottom))

    def crop(self, width, height):
        """The window at the screen's corner, as RGB bytes."""
        return self.region(0, 0, width, height)

    def colours(self, top, bottom, left=0, right=None):
        """The set of colours in rows top to bottom-1 (columns left to right-1)."""
        view = self.region(left, top, self.width if right is None else right, bottom)
        return {(view[i], view[i + 1], view[i + 2]) for i in range(0, len(view), 3)}

    def mask_hash(self, top, rows, width):
        """FNV-1a of the 0/1 mask (1 = not black) of `rows` rows from row `top`, bottom row first,
        `width` bytes a row: the dump's "image" hash. Also the set of lit colours."""
        h = 0xCBF29CE484222325
        lit = set()
        stride = self.width * 3
        for y in range(top + rows - 1, top - 1, -1):
            line = self.data[y * stride:y * stride + width * 3]
            for x in range(width):
                r, g, b = line[3 * x], line[3 * x + 1], line[3 * x + 2]
                v = 0
                if r or g or b:
                    v = 1
                    lit.add((r, g, b))
                h = ((h ^ v) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
        return "%016x" % h, lit


def parse_ppm(data):
    match = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
    check(match is not None, "the picture is not a PPM image")
    check(match.group(3) == b"255", "the picture has %s levels a channel, expected 255" % match.group(3).decode())
    width, height = int(match.group(1)), int(match.group(2))
    pixels = data[match.end():match.end() + width * height * 3]
    check(len(pixels) == width * height * 3, "the picture is cut short")
    return Shot(width, height, pixels)


def read_picture(path, data=None):
    """Any picture ImageMagick reads (PNG from the renderer, PPM), as a Shot: the file at path,
    or with data, those bytes (path "-")."""
    return parse_ppm(subprocess.run(["convert", path, "-depth", "8", "ppm:-"], input=data, check=True,
                                    capture_output=True, timeout=30).stdout)


def check_corner(shot, expected, what, skip=0):
    """Fails unless the shot's top-left corner equals the expected Shot, pixel for pixel (its first
    `skip` rows left out)."""
    check(expected.width <= shot.width and expected.height <= shot.height, "%s: a %dx%d picture has no %dx%d corner"
          % (what, shot.width, shot.height, expected.width, expected.height))
    start = skip * expected.width * 3
    window, data = shot.crop(expected.width, expected.height)[start:], expected.data[start:]
    if window == data:
        return
    differ = [i // 3 for i in range(0, len(window), 3) if window[i:i + 3] != data[i:i + 3]]
    x, y = differ[0] % expected.width, differ[0] // expected.width + skip
    raise Failure("%s: %d pixels differ, the first at (%d, %d): %s, expected %s"
                  % (what, len(differ), x, y, tuple(window[differ[0] * 3:differ[0] * 3 + 3]), expected.pixel(x, y)))


def save_ppm(shot, path):
    with open(path, "wb") as f:
        f.write(b"P6 %d %d 255\n" % (shot.width, shot.height) + shot.data)
    return path


# ---------------------------------------------------------------------------------------------
# X


def start_xvfb(width, height, depth=24, args=()):
    """Starts Xvfb on a free display of its choosing (it writes the number to -displayfd once it
    answers; a server that hangs is the case's time limit); (the process, ":N")."""
    read, write = os.pipe()
    try:
        # -noreset: a server resets when its last client goes (a screenshot, xdpyinfo), and a client
        # that connects during the reset is refused.
        process = start(["Xvfb", "-displayfd", str(write), "-screen", "0", "%dx%dx%d" % (width, height, depth),
                         "-nolisten", "tcp", "-noreset"] + list(args), pass_fds=(write,))
    finally:
        os.close(write)
    number = b""
    with os.fdopen(read, "rb", buffering=0) as pipe:
        while not number.endswith(b"\n"):
            chunk = pipe.read(16)
            if not chunk:
                break  # the server ended without a display
            number += chunk
    if not number.strip().isdigit():
        stop(process)
        raise Failure("Xvfb did not start (exit code %s)" % process.poll())
    return process, ":" + number.decode().strip()


class Session:
    """One case's programs, run in its folder `dir` on an Xvfb of width x height (unless `display` is
    False). The fixtures of tests/conftest.py make it and close it when the case ends."""

    def __init__(self, opts, folder, width=320, height=240, depth=24, xvfb_args=(), display=True):
        self.opts, self.dir = opts, folder
        self.width, self.height, self.depth = width, height, depth
        self.processes = []
        self.closing = []  # what ends after a failure's screenshot, before the programs
        self.server = self.display = None
        self.env = dict(os.environ)
        if display:
            self.server, self.display = start_xvfb(width, height, depth, xvfb_args)
            self.env["DISPLAY"] = self.display
            for name in ("XSCREENSAVER_WINDOW", "WAYLAND_DISPLAY"):
                self.env.pop(name, None)

    def close(self, failed=False):
        """After a failure the screen is saved first, as the failure left it; then what `closing`
        holds ends (a host's windows go with the connection that made them), the programs, the screen."""
        if failed:
            try:
                log("screen at the failure: %s" % self.save(self.shot(), "at-failure"))
            except Exception:  # noqa: BLE001 - the failure itself matters more
                pass
        while self.closing:
            self.closing.pop()()
        self.stop_programs()
        stop(self.server)

    def stop_programs(self):
        for process in reversed(self.processes):
            stop(process)

    def start(self, argv, env=None, cwd=None, user=None):
        """Starts a program of the case; its output goes to out-N.txt in the folder (output_of reads
        it). With a User, the program runs as that user, in its surroundings (env is the base)."""
        env = env or self.env
        if user is not None:
            argv, env = user.command(argv), user.env(env)
        process = start(argv, output=os.path.join(self.dir, "out-%d.txt" % len(self.processes)), env=env,
                        cwd=cwd or self.dir)
        self.processes.append(process)
        return process

    def shot(self):
        check(self.server is not None and self.server.poll() is None, "this session has no X screen")
        if self.depth == 24:
            # make run's own screenshot: every pixel test of a 24-bit screen checks it too.
            width, height, rgb = x11_screenshot.grab(self.display)
            return Shot(width, height, rgb)
        return parse_ppm(subprocess.run(["import", "-display", self.display, "-window", "root", "-depth", "8", "ppm:-"],
                                        check=True, capture_output=True, timeout=30).stdout)

    def xdotool(self, *args):
        subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, check=True, timeout=20,
                       stdout=subprocess.DEVNULL)

    def save(self, shot, name):
        return save_ppm(shot, os.path.join(self.dir, name + ".ppm"))

    def wait_points(self, process, width, height, timeout=20):
        """Waits until the window at the screen's corner shows points on black below the strip;
        the screenshot that shows them."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            check(process.poll() is None, "the saver ended (exit code %s) before drawing" % process.poll())
            shot = self.shot()
            image = shot.colours(STRIP, height, 0, width)
            if (0, 0, 0) in image and len(image) >= 2:
                return shot
            time.sleep(0.2)
        raise Failure("no points appeared within %d s" % timeout)


class HeadlessSway(Session):
    """A session on one headless sway (pixman renderer, no input devices) run as the unprivileged
    test user, with that user's own runtime folder; every program the case starts runs as that user
    on this compositor. `config` is sway's configuration, `output` the first output's settings."""

    def __init__(self, opts, folder, config="", output=None):
        super().__init__(opts, folder, display=False)
        os.chmod(self.dir, 0o755)
        self.user = User()
        path = os.path.join(self.dir, "sway.config")
        with open(path, "w") as f:
            f.write(config)
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "WLR_BACKENDS": "headless", "WLR_RENDERER": "pixman",
               "WLR_LIBINPUT_NO_DEVICES": "1"}
        self.sway = super().start(["sway", "--config", path], env=env, user=self.user)
        self.runtime = self.user.runtime
        deadline = time.time() + 20
        self.ipc = None
        while time.time() < deadline and (self.display is None or self.ipc is None):
            check(self.sway.poll() is None, "sway ended at start (exit code %s): %s"
                  % (self.sway.poll(), output_of(self.sway)[-2000:]))
            for name in os.listdir(self.runtime):
                if name.startswith("wayland-") and not name.endswith(".lock"):
                    self.display = name
                elif name.startswith("sway-ipc.") and name.endswith(".sock"):
                    self.ipc = os.path.join(self.runtime, name)
            time.sleep(0.05)
        check(self.display is not None and self.ipc is not None, "sway made no sockets within 20 s")
        self.env = dict(self.user.env({"PATH": env["PATH"]}), HOME=self.dir, WAYLAND_DISPLAY=self.display,
                        SWAYSOCK=self.ipc)
        if output:
            self.swaymsg("output HEADLESS-1 " + output)

    def start(self, argv, env=None, cwd=None, user=None):
        """A program run as the user on this compositor, in its own process group."""
        return super().start(argv, env=env or self.env, cwd=cwd, user=user or self.user)

    def swaymsg(self, command, kind=None, must=True):
        argv = ["swaymsg", "--socket", self.ipc] + (["-t", kind] if kind else []) + ([command] if command else [])
        result = subprocess.run(argv, env=self.env, capture_output=True, text=True, timeout=20)
        check(result.returncode == 0 or not must, "swaymsg %s: %s %s" % (command, result.stdout, result.stderr))
        return result.stdout if result.returncode == 0 else None

    def shot(self, output="HEADLESS-1", cursor=False):
        """One output as grim sees it, at the output's scale; with the pointer drawn when asked."""
        argv = ["grim", "-t", "ppm"] + (["-c"] if cursor else []) + (["-o", output] if output else []) + ["-"]
        result = subprocess.run(self.user.command(argv), env=self.env, capture_output=True, timeout=30)
        check(result.returncode == 0, "grim: %s" % result.stderr.decode(errors="replace"))
        return parse_ppm(result.stdout)


# ---------------------------------------------------------------------------------------------
# The renderer's frames of the same run


# Which host's point regulation the renderer's frames model (lumivex-render --regulation): each
# host's file of cases names its own (harness.REGULATION = "x11"); the Windows saver's by default.
REGULATION = "windows"


def render_command(opts, ini, width, height, seed, ticks, dt=None, extra=()):
    """lumivex-render run for `ticks` ticks (`dt` ms apart, else its own clock) of the file `ini`
    (None: the shipped one beside it) at width x height from seed, with the regulation of the
    host under test (REGULATION)."""
    command = [opts.render, "--size", "%dx%d" % (width, height), "--seed", str(seed), "--ticks", str(ticks),
               "--regulation", REGULATION]
    if ini:
        command += ["--ini", ini]
    if dt is not None:
        command += ["--dt", str(dt)]
    return command + list(extra)


def render_still(opts, folder, width, height, seed, dt, ticks, ini=None, extra=()):
    """lumivex-render's last frame of `ticks` ticks `dt` ms apart, as a Shot (its PNG is kept in
    folder)."""
    out = os.path.join(folder, "still-%dx%d-%d-%d-%d" % (width, height, seed, dt, ticks))
    shutil.rmtree(out, ignore_errors=True)
    subprocess.run(render_command(opts, ini, width, height, seed, ticks, dt, extra)
                   + ["--png", out, "--every", str(ticks)], check=True, capture_output=True, timeout=300)
    picture = read_picture(os.path.join(out, "frame-00001.png"))
    check((picture.width, picture.height) == (width, height), "the renderer's still is %dx%d, expected %dx%d"
          % (picture.width, picture.height, width, height))
    return picture


class Rendered:
    """The frames lumivex-render holds (ticks run in the Hold phase) for a file, size, seed and
    clock (`dt` ms a tick): {image hash: (colour, picture or None)}. With pictures, every
    EVERY-th tick is kept as a PNG; a hold lasts 150 ticks of 10 ms, so each keeps three (at a
    slower clock EVERY shrinks with it, to keep the same share of a hold)."""

    EVERY = 40

    def __init__(self, opts, folder, ini, width, height, seed, ticks=3000, pictures=True, dt=None, extra=()):
        self.width, self.height, self.seed = width, height, seed
        command = render_command(opts, ini, width, height, seed, ticks, dt, extra) + ["--dump", "-"]
        if dt is not None:
            self.EVERY = max(1, Rendered.EVERY * 10 // dt)
        out = None
        if pictures:
            out = os.path.join(folder, "render-%dx%d-%d" % (width, height, seed))
            shutil.rmtree(out, ignore_errors=True)
            command += ["--png", out, "--every", str(self.EVERY)]
        result = subprocess.run(command, check=True, capture_output=True, timeout=180)
        self.frames = {}
        before = None
        for line in result.stdout.decode().splitlines():
            tick = json.loads(line)
            if "phase" not in tick:
                continue
            if before == 2 and tick["image"] not in self.frames:
                c = tick["colour"]
                colour = ((c >> 16) & 255, (c >> 8) & 255, c & 255)
                if not pictures:
                    self.frames[tick["image"]] = (colour, None)
                elif tick["tick"] % self.EVERY == 0:
                    picture = read_picture(os.path.join(out, "frame-%05d.png" % (tick["tick"] // self.EVERY)))
                    check((picture.width, picture.height) == (width, height), "the renderer's picture is %dx%d"
                          % (picture.width, picture.height))
                    self.frames[tick["image"]] = (colour, picture)
            before = tick["phase"]
        if pictures:
            check(len(self.frames) >= 3, "the renderer held only %d frames" % len(self.frames))

    def pictures(self):
        return [picture.data for _colour, picture in self.frames.values() if picture is not None]

    @staticmethod
    def strip_only_differs(window, picture, width):
        """The held points with another status line: the next definition's number shows in the
        tick or two between a hold's end and the morph (a resized window can show it at once).
        Not a held frame, and no fault."""
        strip = STRIP * width * 3
        return window[strip:] == picture[strip:] and window[:strip] != picture[:strip]

    def match(self, shot, top=STRIP, strip=True):
        """Whether the screenshot's window at the corner shows a held frame: its image (rows from
        `top`) has a held frame's mask, then its points must have that frame's colour and, with
        pictures, every pixel of the window (strip included unless strip is False) must equal it,
        or it is a Failure."""
        h, lit = shot.mask_hash(top, self.height - top, self.width)
        if h not in self.frames:
            return False
        colour, picture = self.frames[h]
        check(lit == {colour}, "the held frame's points are %s, expected %s" % (sorted(lit), colour))
        if picture is not None:
            # Only a comparison that includes the strip waits out another status line; without it
            # the image alone decides.
            if strip and self.strip_only_differs(shot.crop(self.width, self.height), picture.data, self.width):
                return False
            check_corner(shot, picture, "the window against the renderer's held frame", 0 if strip else STRIP)
        return True


def wait_exact(s, process, rendered, timeout=16, strip=True):
    """Screenshots until one equals a held frame of the renderer, pixel for pixel (without the
    status strip when strip is False)."""
    deadline = time.time() + timeout
    shots = 0
    while time.time() < deadline:
        check(process.poll() is None, "the saver ended (exit code %s)" % process.poll())
        shots += 1
        if rendered.match(s.shot(), strip=strip):
            log("ok: the %dx%d window equals a held frame of lumivex-render, strip %s (screenshot %d)"
                % (rendered.width, rendered.height, "included" if strip else "left out", shots))
            return
        time.sleep(0.1)
    raise Failure("none of %d screenshots in %d s equals a held frame of lumivex-render at %dx%d"
                  % (shots, timeout, rendered.width, rendered.height))


def _lit_positions(data, colour, start):
    """Byte offsets, from start on, of the pixels of that colour."""
    found = set()
    i = data.find(colour, start)
    while i >= 0:
        if i % 3 == 0:
            found.add(i)
        i = data.find(colour, i + 1)
    return found


def held_subset(shot, rendered):
    """The image below the strip shows some of the points of a held frame of the renderer, in
    its places and colour, and nothing else: what a saver shows that lowered its point count on
    slow ticks (a busy machine). The share of the frame's lit pixels shown; 0 when none fits."""
    start = STRIP * shot.width * 3
    data = shot.data
    found = re.search(rb"[^\x00]", data[start:])
    if found is None:
        return 0
    first = start + found.start()
    first -= first % 3
    colour = data[first:first + 3]
    lit = _lit_positions(data, colour, start)
    picture = bytearray(len(data) - start)
    for i in lit:
        picture[i - start:i - start + 3] = colour
    if bytes(picture) != data[start:]:
        return 0  # another colour below the strip
    for frame in rendered.pictures():
        held = _lit_positions(frame, colour, start)
        if held and lit <= held:
            return len(lit) / len(held)
    return 0


def wait_rendered(take_shot, process, rendered, timeout=40):
    """Screenshots of a whole screen (take_shot()) until one equals a held frame of the renderer,
    pixel for pixel; or, when the saver lowered its point count on slow ticks, shows a subset of
    one of at least 3/4 of its points (said in the result, as the exact comparison could not be
    made). (the screenshot, how it matched). Whole pictures are compared as bytes: quick even at
    1600x1200 on a busy machine."""
    deadline = time.time() + timeout
    shots = 0
    while time.time() < deadline:
        check(process.poll() is None, "the saver ended (exit code %s)" % process.poll())
        shot = take_shot()
        shots += 1
        check((shot.width, shot.height) == (rendered.width, rendered.height),
              "the screenshot is %dx%d, the renderer's frame %dx%d" % (shot.width, shot.height, rendered.width,
                                                                        rendered.height))
        pictures = rendered.pictures()
        if shot.data in pictures:
            return shot, "equals a held frame of lumivex-render, pixel for pixel (screenshot %d)" % shots
        if any(rendered.strip_only_differs(shot.data, picture, shot.width) for picture in pictures):
            time.sleep(0.1)
            continue
        share = held_subset(shot, rendered)
        if share >= 0.75:
            return shot, ("shows %.0f%% of the lit pixels of a held frame of lumivex-render, in their places and colour, "
                          "and nothing else (screenshot %d; the saver lowered its points on slow ticks, so no exact "
                          "comparison)" % (100 * share, shots))
        # Each screenshot costs the host a copy: a slower pace keeps the saver's ticks short, so
        # that it shows all its points, as the renderer does.
        time.sleep(0.4)
    raise Failure("none of %d screenshots in %d s equals a held frame of lumivex-render at %dx%d"
                  % (shots, timeout, rendered.width, rendered.height))


def cpu_seconds(pid):
    """User plus system time of a process, from /proc/PID/stat."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


# ---------------------------------------------------------------------------------------------
# A browser: Debian's Chromium, headless, through Selenium and chromedriver, on pages that a
# static server of the case serves.


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def serve(folder, command=None, port=None):
    """Serves folder on 127.0.0.1 (with `python3 -m http.server` unless command, a list with {port}
    and {folder} in it, says otherwise), on a free port unless given one, until the case ends or
    stop(server). The server, its base URL in .url."""
    port = port or free_port()
    argv = command or [sys.executable, "-m", "http.server", "--bind", "127.0.0.1", "{port}", "--directory", "{folder}"]
    argv = [a.format(port=port, folder=folder) for a in argv]
    server = start(argv)
    deadline = time.time() + 20
    while True:
        check(server.poll() is None, "the static server ended at once (%s)" % " ".join(argv))
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                break
        except OSError:
            check(time.time() < deadline, "the static server does not answer on port %d" % port)
            time.sleep(0.1)
    server.url = "http://127.0.0.1:%d/" % port
    return server


CHROMIUM_ARGS = ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--disable-dev-shm-usage", "--hide-scrollbars",
                 "--mute-audio", "--disable-features=Translate"]


class Chromium:
    """Headless Chromium through Selenium, one browser at a time. open(width, height, scale) ends the
    browser before and starts one of its own (fresh profile) with a viewport of width x height CSS
    pixels at the device scale factor `scale`, set through the DevTools protocol (the command-line
    flag does not give exact screenshots); its driver. close() ends it: the browser, its driver and
    the profile are gone after, and a browser process that outlives them is a Failure."""

    def __init__(self):
        self.driver = self.service = self.profile = None

    def open(self, width=800, height=600, scale=1):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service

        self.close()
        self.profile = tempfile.mkdtemp(prefix="lumivex-chromium-")
        options = webdriver.ChromeOptions()
        options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
        for arg in CHROMIUM_ARGS + ["--user-data-dir=" + self.profile, "--window-size=%d,%d" % (width, height)]:
            options.add_argument(arg)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        self.service = Service(shutil.which("chromedriver") or "/usr/bin/chromedriver",
                               popen_kw={"start_new_session": True})
        self.driver = webdriver.Chrome(service=self.service, options=options)
        self.driver.set_page_load_timeout(60)
        self.driver.set_script_timeout(120)
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                    {"width": width, "height": height, "deviceScaleFactor": scale, "mobile": False})
        return self.driver

    def close(self):
        driver, service, profile = self.driver, self.service, self.profile
        self.driver = self.service = self.profile = None
        if profile is None:
            return
        if driver is not None:
            with contextlib.suppress(Exception):
                driver.quit()
        if getattr(service, "process", None) is not None:
            stop(service.process)
        deadline = time.time() + 10  # the browser's own processes take a moment to go
        while processes_using(profile) and time.time() < deadline:
            time.sleep(0.1)
        left = processes_using(profile)
        for pid in left:
            with contextlib.suppress(OSError):
                os.kill(pid, signal.SIGKILL)
        shutil.rmtree(profile, ignore_errors=True)
        check(not left, "chromium processes %s outlived their driver" % left)


def check_run_script(opts, folder, script, program, env=None):
    """`make run` or `make run-windows` as on a machine without a display: the script starts its own
    Xvfb, runs the saver with the shipped definitions and saves a screenshot, which must show the
    fractal's points on black; the script must leave no Xvfb behind."""
    shot_path = os.path.join(folder, "run.png")
    before = set(processes_using("-displayfd\x003\x00-screen\x000\x00800x600x24"))
    env = dict(env or os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(name, None)
    # From the top of the tree, as the Makefile calls it.
    result = subprocess.run(["bash", "scripts/" + script, program, "resources/lumivex.ini", shot_path],
                            cwd=opts.source, env=env, capture_output=True, text=True, timeout=120)
    log(result.stdout.strip() + result.stderr.strip())
    check(result.returncode == 0, "%s ended with %d" % (script, result.returncode))
    shot = read_picture(shot_path)
    check((shot.width, shot.height) == (800, 600), "the screenshot is %dx%d" % (shot.width, shot.height))
    lit = sum(1 for y in range(STRIP, shot.height, 4) for x in range(0, shot.width, 4) if shot.pixel(x, y) != (0, 0, 0))
    check(lit > 100, "the screenshot shows %d lit pixels of a sample: no fractal" % lit)
    left = [pid for pid in processes_using("-displayfd\x003\x00-screen\x000\x00800x600x24") if pid not in before]
    check(not left, "%s left its Xvfb running (%s)" % (script, left))


def processes_using(marker):
    """Process ids whose command line holds marker (a browser's own profile folder)."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                if marker.encode() in f.read():
                    found.append(int(entry))
        except OSError:
            pass
    return found


def no_console_errors(driver, what="the page"):
    """Fails on the browser console's errors (SEVERE entries) since the last look."""
    errors = [e["message"] for e in driver.get_log("browser") if e.get("level") == "SEVERE"]
    check(not errors, "%s: console errors: %s" % (what, errors))


def page_shot(driver):
    """The page's viewport in device pixels, as the DevTools protocol captures it, as a Shot."""
    shot = driver.execute_cdp_cmd("Page.captureScreenshot", {"format": "png", "captureBeyondViewport": False})
    return read_picture("-", base64.b64decode(shot["data"]))


def wait_script(driver, script, timeout=30, what="the page"):
    """Runs a script in the page until it returns something true; returns that."""
    deadline = time.time() + timeout
    while True:
        value = driver.execute_script(script)
        if value:
            return value
        check(time.time() < deadline, "%s: not ready within %d s (%s)" % (what, timeout, script))
        time.sleep(0.1)


# ---------------------------------------------------------------------------------------------
# An unprivileged user (compositors refuse root)


class User:
    """Runs programs as `name`, made (a system user with a home) when missing, with a runtime folder
    of its own. Run by someone else than root, programs run as that one instead."""

    def __init__(self, name="lumivex-test"):
        if os.geteuid() != 0:
            entry = pwd.getpwuid(os.geteuid())
        else:
            try:
                entry = pwd.getpwnam(name)
            except KeyError:
                subprocess.run(["useradd", "--system", "--create-home", "--shell", "/usr/sbin/nologin", name],
                               check=True, capture_output=True, timeout=60)
                entry = pwd.getpwnam(name)
        self.name, self.uid, self.gid, self.home = entry.pw_name, entry.pw_uid, entry.pw_gid, entry.pw_dir
        self.runtime = os.path.join("/tmp", "lumivex-runtime-%d-%d" % (self.uid, os.getpid()))
        shutil.rmtree(self.runtime, ignore_errors=True)
        os.makedirs(self.runtime, mode=0o700)
        if os.geteuid() == 0:
            os.chown(self.runtime, self.uid, self.gid)
        at_cleanup(lambda: shutil.rmtree(self.runtime, ignore_errors=True))

    def command(self, argv):
        if os.geteuid() != 0:
            return list(argv)
        return ["setpriv", "--reuid=%d" % self.uid, "--regid=%d" % self.gid, "--init-groups"] + list(argv)

    def env(self, base=None):
        env = dict(os.environ if base is None else base)
        env.update({"XDG_RUNTIME_DIR": self.runtime, "HOME": self.home, "USER": self.name, "LOGNAME": self.name})
        return env

    def give(self, path):
        """Makes a file or folder of the test the user's, so that its programs may write there."""
        if os.geteuid() == 0:
            for root, dirs, files in os.walk(path):
                for name in [root] + [os.path.join(root, n) for n in dirs + files]:
                    os.chown(name, self.uid, self.gid)


# ---------------------------------------------------------------------------------------------
# Wine


class Wine:
    """A Wine prefix of the tests (made by boot()); its server is ended at cleanup."""

    WINE = "/usr/lib/wine/wine64"
    SERVER = "/usr/lib/wine/wineserver"

    def __init__(self, prefix):
        self.prefix = prefix
        at_cleanup(self.kill)

    def env(self, display=None):
        env = dict(os.environ)
        env.update({"WINEPREFIX": self.prefix, "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="})
        env.pop("DISPLAY", None)
        if display:
            env["DISPLAY"] = display
        return env

    @property
    def system32(self):
        return os.path.join(self.prefix, "drive_c", "windows", "system32")

    def kill(self):
        """Ends every program of the prefix and its server."""
        if os.path.isdir(self.prefix):
            subprocess.run([self.SERVER, "-k"], env=self.env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=30)
            subprocess.run([self.SERVER, "-w"], env=self.env(), timeout=30)

    def idle(self, timeout=60):
        """Waits until the prefix's server ends (its programs have ended, the registry is written)."""
        subprocess.run([self.SERVER, "-w"], env=self.env(), timeout=timeout)

    def boot(self):
        """A fresh prefix, in a second attempt when wineboot gives up at once (seen once)."""
        started = time.time()
        for attempt in (1, 2):
            self.kill()
            shutil.rmtree(self.prefix, ignore_errors=True)
            os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
            result = subprocess.run([self.WINE, "wineboot", "-i"], env=self.env(), stdout=subprocess.PIPE,
                                    stderr=subprocess.STDOUT, timeout=200)
            self.idle()
            if result.returncode == 0:
                break
            log("wineboot (attempt %d) failed with %d:\n%s" % (attempt, result.returncode,
                                                               result.stdout.decode("latin-1")[-2000:]))
        check(result.returncode == 0, "wineboot failed with %d" % result.returncode)
        check(os.path.isdir(self.system32), "the prefix has no system directory")
        log("ok: fresh Wine prefix %s in %.1f s" % (self.prefix, time.time() - started))

    def remove(self):
        self.kill()
        shutil.rmtree(self.prefix, ignore_errors=True)

    def run(self, *args, timeout=120, display=None):
        """Runs a Wine program to the end, then waits until the server is idle (a silent uninstaller
        starts a copy of itself and ends at once); its exit code."""
        result = subprocess.run([self.WINE] + list(args), env=self.env(display), stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, timeout=timeout)
        self.idle(timeout)
        return result.returncode


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")
