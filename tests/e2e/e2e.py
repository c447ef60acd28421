#!/usr/bin/env python3
"""End-to-end tests of the real lumivex64.scr under Wine and Xvfb, run by CTest, one case per call.

The `prefix` case makes one Wine prefix for the test run; every other case runs the saver in it on an
Xvfb of its own (tests/harness.py, tests/wine_saver.py). Whatever a case starts (Xvfb, Wine
processes, the prefix's wineserver) is stopped when it ends, also on failure, timeout or a signal.
"""
import os
import re
import subprocess
import time

import pytest

import harness
from harness import GALLERY, NO_DEFINITIONS_INI, STRIP, Failure, Rendered, Wine, check, ends_with, log, \
    windows_path, write_ini
from wine_saver import check_saver_picture

OPTIONS = ("scr64", "host", "render_exe")
TIMEOUTS = {"prefix": 220}
CAPTION = "Lumivex: Error"

MISSING_FILE = ("I cannot find 'lumivex.ini'.\\n\\nI *need* that file, no nice gfx without it!\\n\\n"
                "Please put it either into current directory or into the system directory "
                "('C:\\windows\\system32\\'). Now quitting.")
NO_DEFINITIONS = ("I cannot start, there are no IFS definitions in the lumivex.ini file.\\n\\n"
                  "No definitons mean no gfx, no screensaver. Sorry.\\n\\nQuitting now.")


def needs(opts):
    return {"render_dumps_match": [opts.render, opts.render_exe], "prefix": [Wine.WINE], "prefix_cleanup": [],
            None: [opts.scr64, opts.host, opts.render]}


def case_prefix(wine_prefix):
    wine_prefix.boot()


def case_prefix_cleanup(wine_prefix):
    wine_prefix.remove()
    log("ok: removed %s" % wine_prefix.prefix)


def case_no_switch(opts, wine):
    write_ini(wine.dir, 500)
    code, out = wine.host("watch", "20000", windows_path(opts.scr64))
    log(out.strip())
    # A saver that ran would not end by itself within the watch's 20 s.
    check(code == 0 and "exit=0 windows=0" in out, "without a switch the saver must end with 0 and show no window")
    ends_with(wine.saver(), 0, 20, "no switch")
    # It took no lock: a full-screen run right after starts and draws.
    saver = wine.saver("/s")
    wine.wait_picture(saver)
    wine.xdotool("key", "space")
    ends_with(saver, 0, 10, "/s right after a run without a switch")


def run_and_end(s, action, status=False, count=800):
    write_ini(s.dir, -count if status else count)
    saver = s.saver("/s")
    s.wait_picture(saver)
    colour = check_saver_picture(s, saver, status)
    log("ok: window %dx%d, points in %s on black, strip %s" % (s.width, s.height - 1, colour,
                                                               "with status line" if status else "black"))
    time.sleep(0.5)
    check(saver.poll() is None, "the saver ended by itself")
    action(s)
    ends_with(saver, 0, 10, s.opts.case)


def case_saver_picture(wine):
    run_and_end(wine, lambda s: s.xdotool("key", "Escape"))


def case_status_line(wine):
    run_and_end(wine, lambda s: s.xdotool("key", "Escape"), status=True)


def case_end_on_mouse_move(wine):
    run_and_end(wine, lambda s: s.xdotool("mousemove_relative", "--", "1", "0"))


def case_end_on_key(wine):
    run_and_end(wine, lambda s: s.xdotool("key", "a"))


def case_end_on_left_button(wine):
    run_and_end(wine, lambda s: s.xdotool("click", "1"))


def case_end_on_right_button(wine):
    run_and_end(wine, lambda s: s.xdotool("click", "3"))


def case_end_on_middle_button(wine):
    run_and_end(wine, lambda s: s.xdotool("click", "2"))


def case_wheel_does_not_end(wine):
    write_ini(wine.dir, 800)
    saver = wine.saver("/s")
    wine.wait_picture(saver)
    for button in ("4", "5", "4", "5"):
        wine.xdotool("click", button)
    time.sleep(1.5)
    check(saver.poll() is None, "the mouse wheel ended the saver (exit code %s)" % saver.poll())
    wine.wait_picture(saver)
    log("ok: the wheel turned and the saver goes on")
    wine.xdotool("key", "space")
    ends_with(saver, 0, 10, "key after the wheel")


def case_second_instance(opts, wine):
    write_ini(wine.dir, 800)
    first = wine.saver("/s")
    wine.wait_picture(first)
    ends_with(wine.saver("/s"), -1, 20, "second /s")
    code, out = wine.host("watch", "20000", windows_path(opts.scr64), "/s")
    log(out.strip())
    check(code == 0 and "exit=-1 windows=0" in out, "a second start must end with -1 and show no window")
    check(first.poll() is None, "the first saver ended")
    wine.wait_picture(first)
    log("ok: the first saver goes on")
    wine.xdotool("key", "space")
    ends_with(first, 0, 10, "first /s")


def case_preview_bad_handle(opts, wine):
    write_ini(wine.dir, 800)
    ends_with(wine.saver("/p", "123456789"), -3, 20, "/p with a number that names no window")
    code, out = wine.host("watch", "20000", windows_path(opts.scr64), "/p", "123456789")
    log(out.strip())
    check(code == 0 and "exit=-3 windows=0" in out, "/p with no such window must end with -3 and show no box")
    # The watch does see windows: a full-screen run shows one (the watch ends it after 8 s, time
    # enough for Wine to start it on a busy machine).
    code, out = wine.host("watch", "8000", windows_path(opts.scr64), "/s")
    log(out.strip())
    check(re.search(r"timeout windows=[1-9]", out) is not None, "the watch saw no window of a running saver")


def case_preview_host(opts, wine):
    write_ini(wine.dir, 800)
    code, out = wine.host("preview", windows_path(opts.scr64), timeout=60)
    log(out.strip())
    check(code == 0, "the preview's lifecycle in a host window failed")


def message_box_case(s, expected, ini_text):
    os.makedirs(os.path.join(s.dir, "run"))
    if ini_text is not None:
        write_ini(os.path.join(s.dir, "run"), 0, ini_text)
    check(not os.path.exists(os.path.join(s.prefix.system32, "lumivex.ini")),
          "the prefix's system directory holds a lumivex.ini")
    saver = s.saver("/s", cwd=os.path.join(s.dir, "run"))
    code, out = s.host("msgbox", CAPTION, "20000")
    log(out.strip())
    check(code == 0, "no message box captioned \"%s\"" % CAPTION)
    text = re.search(r"^text=(.*)$", out, re.M).group(1)
    check(text == expected, "message text:\n  %s\nexpected:\n  %s" % (text, expected))
    check(re.search(r"^owner=0+$", out, re.M) is not None, "the message box has an owner window")
    check(saver.poll() is None, "the saver did not wait for the message box")
    x, y = re.search(r"^ok=(-?\d+),(-?\d+)$", out, re.M).groups()
    s.xdotool("mousemove", x, y, "click", "1")
    ends_with(saver, 1, 10, "%s, after OK" % s.opts.case)


@pytest.mark.host(width=640, height=480)
def case_missing_file(wine):
    message_box_case(wine, MISSING_FILE, None)


@pytest.mark.host(width=640, height=480)
def case_no_definitions(wine):
    message_box_case(wine, NO_DEFINITIONS, NO_DEFINITIONS_INI)


def case_system_directory(wine):
    target = os.path.join(wine.prefix.system32, "lumivex.ini")
    harness.at_cleanup(lambda: os.path.exists(target) and os.remove(target))
    os.makedirs(os.path.join(wine.dir, "run"))
    # Only this file turns the status line on: seeing it shows which file was read.
    write_ini(wine.prefix.system32, -600)
    saver = wine.saver("/s", cwd=os.path.join(wine.dir, "run"))
    wine.wait_picture(saver)
    check_saver_picture(wine, saver, status=True)
    log("ok: the file in the system directory was read")
    wine.xdotool("key", "space")
    ends_with(saver, 0, 10, "/s with the file in the system directory")


def case_pixel_exact(opts, wine):
    count = 1500
    ini = write_ini(wine.dir, count)
    started = int(time.time())
    saver = wine.saver("/s")
    wine.wait_picture(saver)
    # The seed is the clock's second at the saver's start, which a loaded machine may put
    # seconds after its launch: every second up to its first picture is a candidate.
    drawn = int(time.time())
    # The saver seeds itself from the clock: the held frames of the seeds around its start.
    renders = {seed: Rendered(opts, wine.dir, ini, wine.width, wine.height - 1, seed, 2500, pictures=False)
               for seed in range(started - 2, drawn + 1)}
    # Screenshots until one shows a held frame: a hold comes in every cycle, however slowly
    # the screenshots come; several cycles without one is a failure.
    deadline = time.time() + 6 * harness.CYCLE
    shots = 0
    while time.time() < deadline:
        check(saver.poll() is None, "the saver ended")
        shot = wine.shot()
        shots += 1
        seeds = [seed for seed, rendered in renders.items() if rendered.match(shot)]
        if seeds:
            log("ok: screenshot %d equals a held frame of lumivex-render with seed %d (%d held frames)"
                % (shots, seeds[0], len(renders[seeds[0]].frames)))
            wine.xdotool("key", "space")
            ends_with(saver, 0, 10, "pixel-exact run")
            return
        time.sleep(0.15)
    raise Failure("none of %d screenshots in %d s equals a held frame of lumivex-render for seeds %d to %d"
                  % (shots, 6 * harness.CYCLE, started - 2, drawn))


def case_render_dumps_match(opts, case_dir, wine_prefix):
    status_ini = write_ini(case_dir, -2000)
    runs = [["--ini", os.path.join(opts.source, "resources", "lumivex.ini"), "--size", "333x201", "--seed", "12345",
             "--ticks", "1200"],
            ["--ini", status_ini, "--size", "160x120", "--preview", "--child", "--seed", "7", "--ticks", "900",
             "--dt", "37"]]
    for i, run in enumerate(runs):
        linux = os.path.join(case_dir, "linux-%d.jsonl" % i)
        win = os.path.join(case_dir, "windows-%d.jsonl" % i)
        subprocess.run([opts.render] + run + ["--dump", linux], check=True, timeout=120)
        win_run = [windows_path(a) if a.startswith("/") else a for a in run]
        result = subprocess.run([Wine.WINE, opts.render_exe] + win_run + ["--dump", windows_path(win)],
                                env=wine_prefix.env(), timeout=180, stdout=subprocess.DEVNULL)
        check(result.returncode == 0, "lumivex-render.exe failed with %d" % result.returncode)
        with open(linux, "rb") as a, open(win, "rb") as b:
            left, right = a.read(), b.read()
        lines = left.count(b"\n")
        check(lines > 100, "the Linux dump has only %d lines" % lines)
        if left != right:
            for n, (x, y) in enumerate(zip(left.splitlines(), right.splitlines())):
                check(x == y, "dumps differ at line %d:\n  linux:   %s\n  windows: %s" % (n + 1, x[:200], y[:200]))
            raise Failure("dumps differ in length: %d and %d bytes" % (len(left), len(right)))
        log("ok: %s: identical dumps, %d lines" % (" ".join(run[2:]), lines))


# --- DPI


ONE_FRACTAL = GALLERY.split("; Sierpinski carpet")[0].replace("; test gallery", "; the triangle alone")
STATUS = "IFS # 0; 800 points   "  # the status line of ONE_FRACTAL at -800


def set_dpi(prefix, dpi):
    """The display's DPI for the prefix's programs; Wine reads it when its server starts."""
    result = subprocess.run([Wine.WINE, "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t",
                             "REG_DWORD", "/d", str(dpi), "/f"], env=prefix.env(), capture_output=True, timeout=60)
    check(result.returncode == 0, "cannot set LogPixels to %d" % dpi)
    prefix.kill()


def white_rows(shot):
    return [y for y in range(shot.height) if any(shot.pixel(x, y) == (255, 255, 255) for x in range(shot.width))]


def default_font_strip(s):
    """The strip as a fresh window DC's default font writes STATUS at the corner, drawn by the test
    host in this prefix and on this screen (so with whatever fonts this machine has), and the
    font's cell height."""
    host = s.program(s.opts.host, "strip", str(s.width), str(STRIP), "20000", STATUS)
    deadline = time.time() + 30
    height, before = None, None
    while time.time() < deadline:
        check(host.poll() is None, "the test host (strip) ended with %s: %s" % (host.poll(), harness.output_of(host)))
        if height is None:
            match = re.search(r"drawn height=(\d+)", harness.output_of(host))
            height = int(match.group(1)) if match else None
        if height is not None:
            shot = s.shot()
            strip = shot.region(0, 0, s.width, STRIP)
            # Two screenshots alike, with the text's white band at the corner: the window is up.
            if shot.pixel(0, 0) == (255, 255, 255) and strip == before:
                harness.stop(host)
                return strip, height
            before = strip
        time.sleep(0.2)
    raise Failure("the test host's strip did not show within 30 s")


def case_status_line_dpi(wine):
    """At 96 DPI the status line is drawn with the DC's default font, as the test host draws it in
    the same prefix; at 144 DPI its band still fills only the strip, in a fitted font (so not the
    96-DPI pixels). Both runs on one screen, the prefix's server restarted between them."""
    default_96, height = None, 0
    harness.at_cleanup(lambda: set_dpi(wine.prefix, 96))
    write_ini(wine.dir, 0, ONE_FRACTAL.format(count=-800))
    for dpi in (96, 144):
        set_dpi(wine.prefix, dpi)
        if dpi == 96:
            default_96, height = default_font_strip(wine)
            log("the default font's cell at 96 DPI is %d rows high" % height)
        saver = wine.saver("/s")
        wine.wait_picture(saver)
        check_saver_picture(wine, saver, status=True)
        strips = set()
        for _ in range(8):
            shot = wine.shot()
            rows = white_rows(shot)
            check(rows and rows[0] == 0 and rows[-1] < STRIP,
                  "at %d DPI the status line's white band takes rows %s, beyond the strip (0 to %d)"
                  % (dpi, rows[:1] + rows[-1:], STRIP - 1))
            strips.add(shot.region(0, 0, wine.width, STRIP))
            time.sleep(0.1)
        # The point count in the line can drop on a slow tick: one picture of the full count will do.
        if dpi == 96 and height > STRIP:
            # This machine's default face is taller than the strip even at 96 DPI: the saver
            # fits it as on a scaled display.
            check(default_96 not in strips, "at 96 DPI the default font's cell is %d rows, yet the "
                  "status line is drawn in it unfitted" % height)
        elif dpi == 96:
            if default_96 not in strips:
                wine.save(harness.Shot(wine.width, STRIP, default_96), "default-font-strip")
                for i, strip in enumerate(sorted(strips)):
                    wine.save(harness.Shot(wine.width, STRIP, strip), "saver-strip-%d" % i)
            check(default_96 in strips, "at 96 DPI none of %d status strips is the default font's "
                  "(pictures in %s)" % (len(strips), wine.dir))
        else:
            check(default_96 not in strips, "at 144 DPI the status strip is the 96-DPI one: the DPI "
                  "did not take effect")
        log("ok: %d DPI: the status line's band stays within rows 0 to %d%s" % (
            dpi, STRIP - 1, ", in the DC's default font" if dpi == 96 else ""))
        wine.xdotool("key", "space")
        ends_with(saver, 0, 10, "%d DPI run" % dpi)


def case_run_script(opts, case_dir, wine_prefix):
    env = dict(wine_prefix.env(), LUMIVEX_WINEPREFIX=wine_prefix.prefix)
    harness.check_run_script(opts, case_dir, "run-windows.sh", opts.scr64, env)
