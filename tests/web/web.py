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
        deadline = time.time() + 10  # the browser's own processes take a moment to go
        while processes_using(profile) and time.time() < deadline:
            time.sleep(0.1)
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


def rendered_frame(render, work, width, height, seed, dt, ticks, ini=None, extra=()):
    """lumivex-render's last frame for the same arguments, as a Picture."""
    folder = tempfile.mkdtemp(prefix="render-", dir=work)
    args = [render, "--size", "%dx%d" % (width, height), "--seed", str(seed), "--dt", str(dt), "--ticks", str(ticks),
            "--png", folder, "--every", str(ticks)] + list(extra)
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
    return os.path.abspath(opts.site)


def site_with(opts, files):
    """A folder that serves the site and, beside it, the given files ({name: bytes})."""
    site = site_folder(opts)
    folder = tempfile.mkdtemp(prefix="site-", dir=opts.work)
    for name in os.listdir(site):
        os.symlink(os.path.join(site, name), os.path.join(folder, name))
    for name, data in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    return folder


def saver_url(base, **query):
    return base + "index.html?" + urllib.parse.urlencode(query)


def case_saver_pixels(opts):
    """The saver page's stills equal lumivex-render's last frame: mid-morph, in a hold, just after a
    pick, at device scale factors 1 and 2."""
    wild = os.path.join(opts.source, "tests", "data", "golden_wild.ini")
    with open(wild, "rb") as f:
        folder = site_with(opts, {"wild.ini": f.read()})
    # (width, height, seed, dt, ticks, ini, what): the first morph runs 3000 ms, the hold 1500 ms.
    # The wild file's maps push coordinates past 2^32 and 2^63, to NaN and to empty boxes: the
    # vector loops' long way.
    stills = [
        (320, 240, 7, 10, 150, None, "mid-morph"),
        (320, 240, 7, 10, 400, None, "hold"),
        (300, 200, 11, 13, 360, None, "just after a pick"),
        (257, 181, 3, 37, 400, None, "a later morph, odd size"),
        (1023, 769, 13, 16, 700, "wild.ini", "wild coordinates"),
        (333, 222, 31337, 40, 2100, "wild.ini", "wild coordinates, later"),
    ]
    with static_server(folder) as base:
        for scale in (2, 1):
            for width, height, seed, dt, ticks, ini, what in stills:
                if scale == 2 and width > 400:
                    continue  # the viewport holds 800x600 device pixels
                expected = rendered_frame(opts.render, opts.work, width, height, seed, dt, ticks,
                                          ini=os.path.join(folder, ini) if ini else None)
                check(len(expected.colours()) >= 2, "the renderer's %s frame is all one colour" % what)
                query = {"size": "%dx%d" % (width, height), "seed": seed, "dt": dt, "ticks": ticks}
                if ini:
                    query["ini"] = ini
                with chromium(1100, 800, scale) if width > 400 else chromium(400, 300, scale) as driver:
                    driver.get(saver_url(base, **query))
                    wait_for(driver, "return document.body.dataset.ready", what=what)
                    compare(screenshot(driver), expected, "%s at scale %d" % (what, scale))
                    errors = console_errors(driver)
                    check(not errors, "console errors: %s" % errors)
                log("ok: %s (%dx%d seed %d dt %d ticks %d) at device scale %d equals lumivex-render's frame"
                    % (what, width, height, seed, dt, ticks, scale))


def case_saver_page(opts):
    """The running saver page: canvas in device pixels at scale 2, points drawn, a resize followed
    within a tick with the points re-fitted, the status line with status=1; ini=URL with a file of
    its own (status line on) gives lumivex-render's still for that file."""
    with open(os.path.join(opts.source, "resources", "lumivex.ini")) as f:
        gallery = f.read()
    # A negative count: the status line on.
    folder = site_with(opts, {"status.ini": gallery.replace("\n30000\n", "\n-2000\n", 1).encode()})
    status_ini = os.path.join(folder, "status.ini")
    with static_server(folder) as base:
        with chromium(400, 300, 2) as driver:
            driver.get(saver_url(base, seed=5, status=1))
            wait_for(driver, "return document.body.dataset.ready", what="the saver page")
            size = driver.execute_script("var c = document.getElementById('screen'); return [c.width, c.height, "
                                         "innerWidth, innerHeight];")
            check(size[:2] == [size[2] * 2, size[3] * 2], "the canvas is %dx%d for a %dx%d window at scale 2"
                  % tuple(size))
            time.sleep(1.5)
            shot = screenshot(driver)
            check((shot.width, shot.height) == (800, 600), "the screenshot is %dx%d" % (shot.width, shot.height))
            check((255, 255, 255) in {shot.pixel(x, y) for x in range(0, 160) for y in range(0, 16)},
                  "status=1 draws no status line in the strip")
            image = shot.crop(800, 600).colours() - {b"\x00\x00\x00", b"\xff\xff\xff"}
            check(image, "no points on the saver page")
            log("ok: the saver page runs full window in device pixels (800x600 at scale 2), status line shown")
            # A resize: the next tick fits the picture to the new size.
            driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                   {"width": 300, "height": 200, "deviceScaleFactor": 2, "mobile": False})
            wait_for(driver, "var c = document.getElementById('screen'); return c.width == 600 && c.height == 400",
                     timeout=15, what="the resize")
            time.sleep(0.2)
            shot = screenshot(driver)
            check(shot.crop(600, 400).colours() - {b"\x00\x00\x00", b"\xff\xff\xff"}, "no points after the resize")
            log("ok: a resize to 300x200 at scale 2 gives a 600x400 canvas with the picture at once")
            # Hidden: no tick; shown again: the gap taken by one tick, then ticks at the frame rate.
            hide = ("Object.defineProperty(document, 'hidden', {get: function () { return %s; }, configurable: true});"
                    "document.dispatchEvent(new Event('visibilitychange'));"
                    "var p = LumivexSaverPage.player; return [p.ticks, p.lastNow];")
            ticks, before = driver.execute_script(hide % "true")
            time.sleep(1.5)
            check(driver.execute_script("return LumivexSaverPage.player.ticks") == ticks, "ticks while hidden")
            driver.execute_script(hide % "false")
            wait_for(driver, "return LumivexSaverPage.player.ticks > %d" % ticks, timeout=15, what="the page shown again")
            time.sleep(0.5)
            after, recent = driver.execute_script("var p = LumivexSaverPage.player; return [p.ticks, p.recent];")
            shown = recent[-(after - ticks + 1):]  # the last tick before hiding, then those after
            check(len(shown) == after - ticks + 1 and shown[0] == before, "the page's clock history is short")
            steps = [(b - a) % 2 ** 32 for a, b in zip(shown, shown[1:])]
            check(steps[0] >= 1400 and all(10 <= s < 1000 for s in steps[1:]),
                  "shown again: the ticks came %s ms apart" % steps)
            burst = after - ticks - 1
            check(0 < burst <= 0.5 * 120, "%d ticks in the 0.5 s after showing again" % burst)
            errors = console_errors(driver)
            check(not errors, "console errors: %s" % errors)
            log("ok: hidden, the page does not tick; shown, one tick takes the %d ms gap, then %d ticks in 0.5 s"
                % (steps[0], burst))
        expected = rendered_frame(opts.render, opts.work, 320, 240, 9, 10, 500, ini=status_ini)
        with chromium(400, 300, 1) as driver:
            driver.get(saver_url(base, ini="status.ini", size="320x240", seed=9, dt=10, ticks=500))
            wait_for(driver, "return document.body.dataset.ready", what="the still of status.ini")
            compare(screenshot(driver), expected, "ini=status.ini")
        log("ok: ini=URL with its status line equals lumivex-render's frame for the same file")


def share_fragment(file_bytes, seed, size):
    """A share link's fragment as the playground writes it: deflate-raw and base64url."""
    import base64
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    packed = packer.compress(file_bytes) + packer.flush()
    return "seed=%d&size=%s&file=%s" % (seed, size, base64.urlsafe_b64encode(packed).decode().rstrip("="))


def open_playground(driver, base, fragment=""):
    driver.get(base + "playground.html" + ("#" + fragment if fragment else ""))
    wait_for(driver, "return document.body.dataset.ready && document.body.dataset.checked", what="the playground")


def editor_text(driver):
    return driver.execute_script("return document.getElementById('text').value")


def wait_checked_after(driver, before):
    wait_for(driver, "return Number(document.body.dataset.checked) > %d" % before, what="the report after an edit")


def checked(driver):
    return int(driver.execute_script("return document.body.dataset.checked"))


def warned_lines(driver):
    return driver.execute_script("return Array.from(document.querySelectorAll('#report .warning a'))"
                                 ".map(function (a) { return Number(a.dataset.line); })")


def case_playground_edit(opts):
    """An edit that breaks a map line shows its warning at that line; undo clears it; "fit the box"
    (and the weights) gives lumivex-render --fit's text and is undone in one step."""
    from selenium.webdriver.common.keys import Keys
    site = site_folder(opts)
    gallery_path = os.path.join(opts.source, "resources", "lumivex.ini")
    with open(gallery_path) as f:
        gallery = f.read()
    lines = gallery.split("\n")
    target = lines.index("0.85 0.04 -0.04 0.85 0 1.6 85") + 1  # the fern's second map, a line number
    with static_server(site) as base, chromium(1280, 800) as driver:
        open_playground(driver, base)
        check(editor_text(driver) == gallery, "the playground does not start with the shipped gallery")
        check(target not in warned_lines(driver), "the gallery already has a warning at line %d" % target)
        start = len("\n".join(lines[:target - 1])) + 1
        driver.execute_script("var t = document.getElementById('text'); t.focus(); t.setSelectionRange(%d, %d);"
                              % (start, start + len(lines[target - 1])))
        before = checked(driver)
        driver.switch_to.active_element.send_keys("0.85 0.04")
        wait_checked_after(driver, before)
        check(target in warned_lines(driver), "no warning at line %d after breaking it (warnings at %s)"
              % (target, warned_lines(driver)))
        check(driver.execute_script("return document.querySelectorAll('#gutter span')[%d].className" % (target - 1))
              == "warned", "line %d is not marked in the gutter" % target)
        log("ok: breaking line %d shows its warning, linked to that line" % target)
        before = checked(driver)
        for _ in range(len("0.85 0.04")):
            driver.switch_to.active_element.send_keys(Keys.CONTROL, "z")
            if editor_text(driver) == gallery:
                break
        wait_checked_after(driver, before)
        check(editor_text(driver) == gallery, "undo does not give the gallery back")
        check(target not in warned_lines(driver), "the warning at line %d stays after undo" % target)
        log("ok: undo clears the warning")

        driver.execute_script("var s = document.getElementById('size'); s.value = '800x600';"
                              "s.dispatchEvent(new Event('change'));")
        for weights in (False, True):
            out = os.path.join(opts.work, "fitted%s.ini" % ("-weights" if weights else ""))
            subprocess.run([opts.render, "--fit", "--ini", gallery_path, "--out", out, "--size", "800x600"]
                           + (["--weights"] if weights else []), capture_output=True, timeout=120)
            with open(out) as f:
                fitted = f.read()
            check(fitted != gallery, "lumivex-render --fit changed nothing")
            before = checked(driver)
            driver.find_element("id", "fit-weights" if weights else "fit").click()
            check(editor_text(driver) == fitted, "the playground's fit%s differs from lumivex-render --fit"
                  % (" with weights" if weights else ""))
            wait_checked_after(driver, before)
            driver.find_element("id", "undo").click()
            check(editor_text(driver) == gallery, "undo does not take the fit back")
            log("ok: fit the box%s gives lumivex-render --fit's text, undone in one step"
                % (" and weights" if weights else ""))

        # Open a file, download the text, save the frame as PNG.
        downloads = tempfile.mkdtemp(prefix="downloads-", dir=opts.work)
        driver.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": downloads})
        opened = os.path.join(opts.work, "opened.ini")
        with open(opened, "w") as f:
            f.write("500\n" + "\n".join(lines[13:19]) + "\n")
        driver.execute_script("document.getElementById('file').hidden = false;")
        driver.find_element("id", "file").send_keys(opened)
        wait_for(driver, "return document.getElementById('text').value.startsWith('500\\n')", what="the opened file")
        driver.find_element("id", "download").click()
        driver.find_element("id", "png").click()
        deadline = time.time() + 20
        while time.time() < deadline and sorted(os.listdir(downloads)) != ["lumivex-%s.png" % driver.execute_script(
                "return document.getElementById('seed').value"), "lumivex.ini"]:
            time.sleep(0.2)
        with open(os.path.join(downloads, "lumivex.ini")) as f:
            check(f.read() == editor_text(driver), "the downloaded file differs from the editor's text")
        png = glob.glob(os.path.join(downloads, "*.png"))
        check(len(png) == 1, "no PNG of the frame was saved: %s" % os.listdir(downloads))
        with open(png[0], "rb") as f:
            frame = read_png(f.read())
        check((frame.width, frame.height) == (800, 600) and len(frame.colours()) >= 2,
              "the PNG is %dx%d in %d colours" % (frame.width, frame.height, len(frame.colours())))
        driver.find_element("id", "undo").click()
        check(editor_text(driver) == gallery, "undo does not take the opened file back")
        log("ok: a file opened (undoable), the text downloaded as it stands, the frame saved as an 800x600 PNG")
        errors = console_errors(driver)
        check(not errors, "console errors: %s" % errors)


def canvas_pixels(driver):
    return driver.execute_script("var c = document.getElementById('screen');"
                                 "return [c.width, c.height, c.toDataURL('image/png')];")


def case_playground_share(opts):
    """A share link opened in another browser gives the same text, seed, size and frame, and that
    frame is lumivex-render's for the same file and arguments."""
    import base64
    site = site_folder(opts)
    with open(os.path.join(opts.source, "resources", "lumivex.ini")) as f:
        gallery = f.read()
    edited = gallery.replace("\n30000\n", "\n4000\n", 1) + "; shared <b>as text</b> & more\n"
    with static_server(site) as base:
        with chromium(1280, 800) as driver:
            open_playground(driver, base)
            before = checked(driver)
            driver.execute_script("var t = document.getElementById('text'); t.focus(); t.select();"
                                  "document.execCommand('insertText', false, arguments[0]);", edited)
            wait_checked_after(driver, before)
            driver.execute_script("var s = document.getElementById('seed'); s.value = '4242';"
                                  "s.dispatchEvent(new Event('change'));"
                                  "var z = document.getElementById('size'); z.value = '800x600';"
                                  "z.dispatchEvent(new Event('change'));")
            driver.find_element("id", "share").click()
            link = wait_for(driver, "return document.getElementById('share-out').value", what="the share link")
            driver.execute_script("return LumivexPlayground.still(10, 700)")
            first = canvas_pixels(driver)
        check(link.startswith(base + "playground.html#"), "the share link is %s" % link[:80])
        with chromium(1024, 700) as driver:
            driver.get(link)
            wait_for(driver, "return document.body.dataset.ready && document.body.dataset.checked", what="the link")
            check(editor_text(driver) == edited, "the shared text differs")
            check(driver.execute_script("return document.getElementById('seed').value") == "4242", "the seed differs")
            check(driver.execute_script("return document.getElementById('size').value") == "800x600", "the size differs")
            check(driver.execute_script("return document.querySelector('#report b, #play-message b')") is None,
                  "the file's markup became elements")
            driver.execute_script("return LumivexPlayground.still(10, 700)")
            second = canvas_pixels(driver)
            # The settings preview: a tenth of the points in a child window, as lumivex-render
            # --preview --child draws it.
            driver.execute_script("var z = document.getElementById('size'); z.value = '152x112';"
                                  "z.dispatchEvent(new Event('change'));")
            driver.execute_script("return LumivexPlayground.still(10, 300)")
            preview = canvas_pixels(driver)
            errors = console_errors(driver)
            check(not errors, "console errors: %s" % errors)
        check(first[:2] == [800, 600] and first == second, "the shared link's frame differs from the original's")
        ini = os.path.join(opts.work, "shared.ini")
        with open(ini, "w") as f:
            f.write(edited)
        expected = rendered_frame(opts.render, opts.work, 800, 600, 4242, 10, 700, ini=ini)
        got = read_png(base64.b64decode(second[2].split(",", 1)[1]))
        compare(got, expected, "the shared picture")
        log("ok: a share link (%d characters) opens the same text, seed, size and frame, lumivex-render's"
            % len(link))
        expected = rendered_frame(opts.render, opts.work, 152, 112, 4242, 10, 300, ini=ini,
                                  extra=["--preview", "--child"])
        compare(read_png(base64.b64decode(preview[2].split(",", 1)[1])), expected, "the 152x112 preview")
        log("ok: the 152x112 preview equals lumivex-render --preview --child's frame")


HOSTILE = [
    # (what, file, text the page must show)
    ("10^8 maps header", b"1000\n100000000\n0.5 0 0 0.5 0 0 100\n0 0 1 1\n", "there are no IFS definitions"),
    ("10^8 points", b"100000000\n1\n0.5 0 0 0.5 0 0 100\n0 0 1 1\n", "Not enough memory (Pts1)"),
    ("10^7 points, within the bound: heavy ticks", b"10000000\n1\n0.5 0 0 0.5 0 0 100\n0 0 1 1\n", None),
    ("a 2 MB line", b"1000\n2\n0.5 0 0 0.5 0 0 50\n0.5 0 0 0.5 0.5 0 50 " + b"9" * (2 << 20) + b"\n0 0 1 1\n", None),
    ("NaN", b"1000\n2\n0.5 0 0 0.5 0 0 50\nnan nan 0 0.5 0.5 0 50\nnan 0 1 1\n", None),
    ("huge boxes", b"1000\n1\n0.5 0 0 0.5 0 0 100\n-1e308 -1e308 1e308 1e308\n2\n0.5 0 0 0.5 0 0 50\n"
                   b"0.5 0 0 0.5 1 0 50\n0 0 1e-300 1e-300\n", None),
    ("markup", b"<img src=x onerror=alert(1)>\n1000\n1\n0.5 0 0 0.5 0 0 100\n<b>0 0 1 1</b>\n", None),
]


def case_hostile_links(opts):
    """Share links from strangers: each opens with the saver's own message (or its picture) while a
    page timer keeps running, and the file's text never becomes markup."""
    site = site_folder(opts)
    with static_server(site) as base:
        for what, data, message in HOSTILE:
            with chromium(1024, 700) as driver:
                # The timer runs from the page's very start, before the link's file is read.
                driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {
                    "source": "window.beats = 0; setInterval(function () { window.beats++; }, 50);"})
                open_playground(driver, base, share_fragment(data, 1, "800x600"))
                first = driver.execute_script("return window.beats")
                time.sleep(1.5)
                beats = driver.execute_script("return window.beats") - first
                check(beats >= 10, "%s: the page timer ran %d times in 1.5 s" % (what, beats))
                shown = driver.execute_script("return document.getElementById('play-message').textContent")
                if message:
                    check(message in shown, "%s: the page shows %r, not the saver's message %r" % (what, shown, message))
                check(driver.execute_script("return document.querySelector('#report img, #report b, "
                                            "#play-message img, #play-message b')") is None,
                      "%s: the file's markup became elements" % what)
                check(driver.execute_script("return typeof window.alert === 'function'"), "%s: the page broke" % what)
                errors = console_errors(driver)
                check(not errors, "%s: console errors: %s" % (what, errors))
                log("ok: %s: %s, the page timer ran %d times in 1.5 s"
                    % (what, "message %r" % message if message else "no message", beats))


def case_pages_load(opts):
    """Both pages load and run with no console error, from make run-web's server and from the
    unpacked web zip of make dist."""
    site = site_folder(opts)
    out = tempfile.mkdtemp(prefix="dist-", dir=opts.work)
    subprocess.run([sys.executable, os.path.join(opts.source, "scripts", "dist.py"), "--version", "test",
                    "--source", opts.source, "--out", out, "--scr32", "-", "--scr64", "-", "--site", site,
                    "--only", "web"], check=False, capture_output=True, timeout=120)
    zips = glob.glob(os.path.join(out, "lumivex-*-web.zip"))
    check(len(zips) == 1, "dist.py --only web wrote %s" % os.listdir(out))
    unpacked = os.path.join(out, "unpacked")
    with zipfile.ZipFile(zips[0]) as archive:
        archive.extractall(unpacked)
    folders = glob.glob(os.path.join(unpacked, "lumivex-*-web"))
    check(len(folders) == 1, "the zip holds %s" % os.listdir(unpacked))
    run_web = ["python3", "-m", "http.server", "--bind", "127.0.0.1", "{port}", "--directory", "{folder}"]
    with open(os.path.join(opts.source, "Makefile")) as f:
        check("python3 -m http.server --bind 127.0.0.1 $(WEB_PORT) --directory build/web/site" in f.read(),
              "make run-web no longer serves the site this way: update this test")
    for where, folder in (("make run-web's server", site), ("the unpacked zip", folders[0])):
        with static_server(folder, run_web) as base:
            for page in ("index.html", "playground.html"):
                with chromium(1024, 700) as driver:
                    driver.get(base + page)
                    wait_for(driver, "return document.body.dataset.ready", what=page)
                    time.sleep(1)
                    errors = console_errors(driver)
                    check(not errors, "%s from %s: console errors: %s" % (page, where, errors))
                log("ok: %s loads from %s with no console error" % (page, where))


CASES = {
    "saver_pixels": case_saver_pixels,
    "saver_page": case_saver_page,
    "playground_edit": case_playground_edit,
    "playground_share": case_playground_share,
    "hostile_links": case_hostile_links,
    "pages_load": case_pages_load,
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
