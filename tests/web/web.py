#!/usr/bin/env python3
"""Tests of the browser build (the saver page and the playground) in headless Chromium, driven by
Selenium and chromedriver; run by CTest, one case per call.

Every case starts its own static server on 127.0.0.1 and its own browser, and stops both when it
ends: also on failure, timeout or signal.
"""
import argparse
import contextlib
import glob
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request
import zipfile
import zlib


# =============================================================================================
# Generic pieces of a real-host test: failures, a static server, a headless Chromium, PNG
# pictures and the renderer's frames. Nothing here knows about the pages.


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def log(message):
    print(message, flush=True)


def on_signal(number, _frame):
    raise Failure("stopped by signal %d" % number)


def stop_process(process, timeout=5):
    """Ends a process we started (its whole process group when it leads one) and reaps it."""
    if process is None or process.poll() is not None:
        return
    try:
        os.killpg(process.pid, signal.SIGTERM)
    except OSError:
        process.terminate()
    try:
        process.wait(timeout)
    except subprocess.TimeoutExpired:
        with contextlib.suppress(OSError):
            os.killpg(process.pid, signal.SIGKILL)
        process.kill()
        process.wait(timeout)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@contextlib.contextmanager
def static_server(folder, command=None):
    """Serves folder on 127.0.0.1 (by default with `python3 -m http.server`; command, when given,
    is a list with {port} and {folder} in it). Yields the base URL; the server is stopped after."""
    port = free_port()
    args = command or [sys.executable, "-m", "http.server", "--bind", "127.0.0.1", "{port}", "--directory", "{folder}"]
    args = [a.format(port=port, folder=folder) for a in args]
    server = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL,
                              start_new_session=True)
    try:
        deadline = time.time() + 20
        while True:
            check(server.poll() is None, "the static server ended at once (%s)" % " ".join(args))
            try:
                with socket.create_connection(("127.0.0.1", port), timeout=1):
                    break
            except OSError:
                check(time.time() < deadline, "the static server does not answer on port %d" % port)
                time.sleep(0.1)
        yield "http://127.0.0.1:%d/" % port
    finally:
        stop_process(server)


CHROMIUM_ARGS = ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--disable-dev-shm-usage", "--hide-scrollbars",
                 "--mute-audio", "--disable-features=Translate"]


@contextlib.contextmanager
def chromium(width=800, height=600, scale=1):
    """A headless Chromium of its own (fresh profile) through chromedriver, with a viewport of
    width x height CSS pixels at the given device scale factor, set through the DevTools
    protocol. Yields the Selenium driver; the browser, the driver and the profile go after."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    profile = tempfile.mkdtemp(prefix="lumivex-chromium-")
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    for arg in CHROMIUM_ARGS + ["--user-data-dir=" + profile, "--window-size=%d,%d" % (width, height)]:
        options.add_argument(arg)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    service = Service(shutil.which("chromedriver") or "/usr/bin/chromedriver", popen_kw={"start_new_session": True})
    driver = None
    try:
        driver = webdriver.Chrome(service=service, options=options)
        driver.set_page_load_timeout(60)
        driver.set_script_timeout(120)
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                               {"width": width, "height": height, "deviceScaleFactor": scale, "mobile": False})
        yield driver
    finally:
        if driver is not None:
            with contextlib.suppress(Exception):
                driver.quit()
        stop_process(getattr(service, "process", None))
        left = processes_using(profile)
        for pid in left:
            with contextlib.suppress(OSError):
                os.kill(pid, signal.SIGKILL)
        shutil.rmtree(profile, ignore_errors=True)
        check(not left, "chromium processes %s outlived their driver" % left)


def processes_using(marker):
    """Process ids whose command line holds marker (a test's own profile folder)."""
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


def console_errors(driver):
    """The browser console's errors since the last call (SEVERE entries)."""
    return [e["message"] for e in driver.get_log("browser") if e.get("level") == "SEVERE"]


class Picture:
    """An RGB picture: width, height and bytes, rows from the top."""

    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def crop(self, width, height):
        check(width <= self.width and height <= self.height, "a %dx%d picture has no %dx%d corner"
              % (self.width, self.height, width, height))
        rows = [self.rgb[y * self.width * 3:(y * self.width + width) * 3] for y in range(height)]
        return Picture(width, height, b"".join(rows))

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i:i + 3])

    def colours(self):
        return {self.rgb[i:i + 3] for i in range(0, len(self.rgb), 3)}


def read_png(data):
    """Decodes a non-interlaced PNG of 8-bit RGB or RGBA, or a palette of 1 to 8 bits."""
    check(data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG")
    at, idat, palette = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _c, _f, interlace = struct.unpack(">IIBBBBB", body)
        elif kind == b"PLTE":
            palette = [body[i:i + 3] for i in range(0, len(body), 3)]
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    check(interlace == 0, "interlaced PNG")
    channels = {2: 3, 6: 4, 3: 1}[colour]
    check(colour == 3 or depth == 8, "PNG of %d-bit channels" % depth)
    bits = channels * depth
    stride = (width * bits + 7) // 8
    step = max(1, bits // 8)
    raw = zlib.decompress(idat)
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - step] if i >= step else 0
            b = previous[i]
            c = previous[i - step] if i >= step else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        previous = line
    out = bytearray()
    for line in rows:
        if colour == 2:
            out += line
        elif colour == 6:
            for x in range(width):
                out += line[x * 4:x * 4 + 3]
        else:
            per = 8 // depth
            for x in range(width):
                index = (line[x // per] >> ((per - 1 - x % per) * depth)) & ((1 << depth) - 1)
                out += palette[index]
    return Picture(width, height, bytes(out))


def screenshot(driver):
    """The page's viewport in device pixels, as the DevTools protocol captures it."""
    import base64
    shot = driver.execute_cdp_cmd("Page.captureScreenshot", {"format": "png", "captureBeyondViewport": False})
    return read_png(base64.b64decode(shot["data"]))


def rendered_frame(render, work, width, height, seed, dt, ticks, ini=None):
    """lumivex-render's last frame for the same arguments, as a Picture."""
    folder = tempfile.mkdtemp(prefix="render-", dir=work)
    args = [render, "--size", "%dx%d" % (width, height), "--seed", str(seed), "--dt", str(dt), "--ticks", str(ticks),
            "--png", folder, "--every", str(ticks)]
    if ini:
        args += ["--ini", ini]
    subprocess.run(args, check=True, capture_output=True, timeout=300)
    with open(os.path.join(folder, "frame-00001.png"), "rb") as f:
        picture = read_png(f.read())
    shutil.rmtree(folder, ignore_errors=True)
    return picture


def compare(shot, expected, what):
    """Fails unless the screenshot's top-left corner equals the expected picture, pixel for pixel."""
    got = shot.crop(expected.width, expected.height)
    if got.rgb == expected.rgb:
        return
    differ = [i // 3 for i in range(0, len(got.rgb), 3) if got.rgb[i:i + 3] != expected.rgb[i:i + 3]]
    x, y = differ[0] % expected.width, differ[0] // expected.width
    raise Failure("%s: %d pixels differ from lumivex-render's frame, the first at (%d, %d): %s, expected %s"
                  % (what, len(differ), x, y, got.pixel(x, y), expected.pixel(x, y)))


def wait_for(driver, script, timeout=30, what="the page"):
    """Polls a script until it returns something true; returns that."""
    deadline = time.time() + timeout
    while True:
        value = driver.execute_script(script)
        if value:
            return value
        check(time.time() < deadline, "%s: not ready within %d s (%s)" % (what, timeout, script))
        time.sleep(0.1)


# =============================================================================================
# The cases


def site_folder(opts):
    index = os.path.join(opts.site, "index.html")
    check(os.path.isfile(index), "no web site at %s: build it first with `make web`" % opts.site)
    return opts.site


def saver_url(base, **query):
    return base + "index.html?" + urllib.parse.urlencode(query)


def case_saver_pixels(opts):
    """The saver page's stills equal lumivex-render's last frame: mid-morph, in a hold, just after a
    pick, at device scale factors 1 and 2."""
    site = site_folder(opts)
    # (width, height, seed, dt, ticks, what): the first morph runs 3000 ms, the hold 1500 ms.
    stills = [
        (320, 240, 7, 10, 150, "mid-morph"),
        (320, 240, 7, 10, 400, "hold"),
        (300, 200, 11, 13, 360, "just after a pick"),
        (257, 181, 3, 37, 400, "a later morph, odd size"),
    ]
    with static_server(site) as base:
        for scale in (2, 1):
            for width, height, seed, dt, ticks, what in stills:
                expected = rendered_frame(opts.render, opts.work, width, height, seed, dt, ticks)
                check(len(expected.colours()) >= 2, "the renderer's %s frame is all one colour" % what)
                with chromium(400, 300, scale) as driver:
                    driver.get(saver_url(base, size="%dx%d" % (width, height), seed=seed, dt=dt, ticks=ticks))
                    wait_for(driver, "return document.body.dataset.ready", what=what)
                    compare(screenshot(driver), expected, "%s at scale %d" % (what, scale))
                    errors = console_errors(driver)
                    check(not errors, "console errors: %s" % errors)
                log("ok: %s (%dx%d seed %d dt %d ticks %d) at device scale %d equals lumivex-render's frame"
                    % (what, width, height, seed, dt, ticks, scale))


CASES = {
    "saver_pixels": case_saver_pixels,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--site", required=True, help="the built site (build/web/site)")
    parser.add_argument("--render", required=True, help="lumivex-render")
    parser.add_argument("--source", required=True, help="the source tree")
    parser.add_argument("--work", required=True, help="a folder for the cases' files")
    opts = parser.parse_args()
    os.makedirs(opts.work, exist_ok=True)
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    try:
        CASES[opts.case](opts)
    except Failure as failure:
        log("FAIL: %s" % failure)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
