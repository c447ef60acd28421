#!/usr/bin/env python3
"""Tests of the browser build (the saver page and the playground) in headless Chromium, driven by
Selenium and chromedriver; run by CTest, one case per call.

Every case starts its own static server on 127.0.0.1 and a fresh browser for each page (the fixture
chromium), and stops them when it ends: also on failure, timeout or signal.
"""
import base64
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import time
import urllib.parse
import zipfile
import zlib

import harness
from harness import STRIP, check, check_corner, log, no_console_errors, page_shot, read_picture, render_still, \
    serve, wait_script, wait_until

harness.REGULATION = "web"  # the renderer models this host's point regulation
OPTIONS = ("site",)


def needs(opts):
    return {None: [opts.render, opts.source]}


def site_folder(opts):
    index = os.path.join(opts.site, "index.html")
    check(os.path.isfile(index), "no web site at %s: build it first with `make web`" % opts.site)
    return os.path.abspath(opts.site)


def site_with(opts, case_dir, files):
    """A folder of the session that serves the site and, beside it, the given files ({name: bytes})."""
    site = site_folder(opts)
    folder = os.path.join(case_dir, "site")
    os.makedirs(folder)
    for name in os.listdir(site):
        os.symlink(os.path.join(site, name), os.path.join(folder, name))
    for name, data in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    return folder


def saver_url(base, **query):
    return base + "index.html?" + urllib.parse.urlencode(query)


def case_saver_pixels(opts, case_dir, chromium):
    """The saver page's stills equal lumivex-render's last frame: mid-morph, in a hold, just after a
    pick, at device scale factors 1 and 2."""
    wild = os.path.join(opts.source, "tests", "data", "golden_wild.ini")
    with open(wild, "rb") as f:
        folder = site_with(opts, case_dir, {"wild.ini": f.read()})
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
    base = serve(folder).url
    for scale in (2, 1):
        for width, height, seed, dt, ticks, ini, what in stills:
            if scale == 2 and width > 400:
                continue  # the viewport holds 800x600 device pixels
            expected = render_still(opts, case_dir, width, height, seed, dt, ticks,
                                    ini=os.path.join(folder, ini) if ini else None)
            check(len(expected.colours(0, expected.height)) >= 2,
                  "the renderer's %s frame is all one colour" % what)
            query = {"size": "%dx%d" % (width, height), "seed": seed, "dt": dt, "ticks": ticks}
            if ini:
                query["ini"] = ini
            driver = chromium(1100, 800, scale) if width > 400 else chromium(400, 300, scale)
            driver.get(saver_url(base, **query))
            wait_script(driver, "return document.body.dataset.ready", what=what)
            check_corner(page_shot(driver), expected,
                         "%s at scale %d, against lumivex-render's frame" % (what, scale))
            no_console_errors(driver)
            log("ok: %s (%dx%d seed %d dt %d ticks %d) at device scale %d equals lumivex-render's frame"
                % (what, width, height, seed, dt, ticks, scale))


def case_saver_page(opts, case_dir, chromium):
    """The running saver page: canvas in device pixels at scale 2, points drawn, a resize followed
    within a tick with the points re-fitted, the status line with status=1; ini=URL with a file of
    its own (status line on) gives lumivex-render's still for that file."""
    with open(os.path.join(opts.source, "resources", "lumivex.ini")) as f:
        gallery = f.read()
    # A negative count: the status line on.
    folder = site_with(opts, case_dir, {"status.ini": gallery.replace("\n30000\n", "\n-2000\n", 1).encode()})
    status_ini = os.path.join(folder, "status.ini")
    base = serve(folder).url
    driver = chromium(400, 300, 2)
    driver.get(saver_url(base, seed=5, status=1))
    wait_script(driver, "return document.body.dataset.ready", what="the saver page")
    size = driver.execute_script("var c = document.getElementById('screen'); return [c.width, c.height, "
                                 "innerWidth, innerHeight];")
    check(size[:2] == [size[2] * 2, size[3] * 2], "the canvas is %dx%d for a %dx%d window at scale 2"
          % tuple(size))
    time.sleep(1.5)
    shot = page_shot(driver)
    check((shot.width, shot.height) == (800, 600), "the screenshot is %dx%d" % (shot.width, shot.height))
    check((255, 255, 255) in {shot.pixel(x, y) for x in range(0, 160) for y in range(0, 16)},
          "status=1 draws no status line in the strip")
    image = shot.colours(0, 600, 0, 800) - {(0, 0, 0), (255, 255, 255)}
    check(image, "no points on the saver page")
    glyph = driver.execute_script("var b = document.getElementById('fullscreen');"
                                  "return [b.textContent.trim(), b.querySelectorAll('svg path').length];")
    check(glyph == ["Full screen", 1], "the full-screen button is %r, not a drawn icon and its words" % glyph)
    log("ok: the saver page runs full window in device pixels (800x600 at scale 2), status line shown")
    # A resize: the next tick fits the picture to the new size.
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 300, "height": 200, "deviceScaleFactor": 2, "mobile": False})
    wait_script(driver, "var c = document.getElementById('screen'); "
                "return c.width == 600 && c.height == 400", timeout=15, what="the resize")
    time.sleep(0.2)
    shot = page_shot(driver)
    check(shot.colours(0, 400, 0, 600) - {(0, 0, 0), (255, 255, 255)}, "no points after the resize")
    log("ok: a resize to 300x200 at scale 2 gives a 600x400 canvas with the picture at once")
    # Hidden: no tick; shown again: the gap taken by one tick, then ticks at the frame rate.
    hide = ("Object.defineProperty(document, 'hidden', "
            "{get: function () { return %s; }, configurable: true});"
            "document.dispatchEvent(new Event('visibilitychange'));"
            "var p = LumivexSaverPage.player; return [p.ticks, p.lastNow];")
    ticks, before = driver.execute_script(hide % "true")
    time.sleep(1.5)
    check(driver.execute_script("return LumivexSaverPage.player.ticks") == ticks, "ticks while hidden")
    driver.execute_script(hide % "false")
    wait_script(driver, "return LumivexSaverPage.player.ticks > %d" % ticks, timeout=15,
                what="the page shown again")
    time.sleep(0.5)
    after, recent = driver.execute_script("var p = LumivexSaverPage.player; return [p.ticks, p.recent];")
    shown = recent[-(after - ticks + 1):]  # the last tick before hiding, then those after
    check(len(shown) == after - ticks + 1 and shown[0] == before, "the page's clock history is short")
    steps = [(b - a) % 2 ** 32 for a, b in zip(shown, shown[1:])]
    check(steps[0] >= 1400 and all(10 <= step < 1000 for step in steps[1:]),
          "shown again: the ticks came %s ms apart" % steps)
    burst = after - ticks - 1
    check(0 < burst <= 0.5 * 120, "%d ticks in the 0.5 s after showing again" % burst)
    no_console_errors(driver)
    log("ok: hidden, the page does not tick; shown, one tick takes the %d ms gap, then %d ticks in 0.5 s"
        % (steps[0], burst))
    expected = render_still(opts, case_dir, 320, 240, 9, 10, 500, ini=status_ini)
    driver = chromium(400, 300, 1)
    driver.get(saver_url(base, ini="status.ini", size="320x240", seed=9, dt=10, ticks=500))
    wait_script(driver, "return document.body.dataset.ready", what="the still of status.ini")
    check_corner(page_shot(driver), expected, "ini=status.ini, against lumivex-render's frame")
    log("ok: ini=URL with its status line equals lumivex-render's frame for the same file")


# The saver page's own ticks are the test's: requestAnimationFrame never calls back, so the
# player ticks only when the test hands it a clock value.
STILL_FRAMES = "window.requestAnimationFrame = function () { return 1; }; window.cancelAnimationFrame = function () {};"

TICKS_AT = """var page = LumivexSaverPage, sent = [];
for (var t of arguments[0]) { var before = page.screen.uploads; page.player.tick(t); sent.push(page.screen.uploads - before); }
return sent;"""


def cycles_clock():
    """The clock of three cycles and more, 10 ms a tick, with a stretch of 100 ms ticks in the
    first morph that makes the regulation take points away."""
    clock, t = [], 0
    for i in range(1500):
        t += 100 if 60 <= i < 80 else 10
        clock.append(t)
    return clock


def case_saver_cycles(opts, case_dir, chromium):
    """The running saver page, its ticks on the test's clock, through three cycles: its screenshot
    equals lumivex-render's frame at the same clock (mid-morph, after slow ticks took points away,
    in a hold, just after a pick, status line on), then after a resize (the image, the points
    re-fitted); a tick of a hold that changed nothing touches the canvas not at all. Both drawings:
    WebGL2's points (and its stills at device scale 2, and the last still after the context was
    lost and given back) and the picture."""
    seed, sizes, resize_at = 21, ((320, 240), (400, 300)), 1000
    with open(os.path.join(opts.source, "resources", "lumivex.ini")) as f:
        gallery = f.read()
    folder = site_with(opts, case_dir, {"cycles.ini": gallery.replace("\n30000\n", "\n-3000\n", 1).encode()})
    ini = os.path.join(folder, "cycles.ini")
    clock = cycles_clock()
    renders = {}
    for width, height in sizes:
        out = os.path.join(case_dir, "cycles-%dx%d" % (width, height))
        result = subprocess.run(harness.render_command(opts, ini, width, height, seed, len(clock), extra=[
            "--clock", ",".join(map(str, clock)), "--dump", "-", "--png", out]),
            check=True, capture_output=True, timeout=300)
        ticks = [t for t in map(json.loads, result.stdout.decode().splitlines()) if "phase" in t]
        check(len(ticks) == len(clock), "the renderer ran %d ticks of %d" % (len(ticks), len(clock)))
        renders[(width, height)] = (out, ticks)
    _, ticks = renders[sizes[0]]
    # The stills: a mid-morph tick, the first ticks of every hold, pick and morph after it, the
    # last slow tick; then the same after the resize.
    stills = {150: "mid-morph", 79: "after the slow ticks"}
    for i in range(1, len(ticks)):
        if ticks[i]["phase"] != ticks[i - 1]["phase"]:
            stills[i] = "phase %d begins" % ticks[i]["phase"]
            stills[i + 40] = "phase %d, 40 ticks on" % ticks[i]["phase"]
    # WebGL2's context is lost and given back before a hold tick that changes nothing.
    same_keys = ("image", "colour", "status", "shown", "phase")
    loss_at = next(i for i in range(resize_at + 60, len(ticks)) if ticks[i]["phase"] == 2 and i - 1 not in stills
                   and all(ticks[i][k] == ticks[i - 1][k] for k in same_keys))
    stills[loss_at - 1] = "a hold"
    stills[loss_at] = "the same hold, the context lost and given back"
    stills = {i: what for i, what in stills.items() if i < len(ticks) and i != resize_at}
    shown = [t["shown"] for t in ticks]
    check(min(shown) < shown[0], "the slow ticks took no points away (the renderer shows %d throughout)" % shown[0])
    check(sum(1 for i in stills if i < resize_at and ticks[i]["phase"] == 2) >= 3
          and sum(1 for i in stills if i > resize_at and ticks[i]["phase"] == 2) >= 1,
          "the clock spans too few holds: %s" % sorted(stills))
    base = serve(folder).url
    for drawing in ("points", "picture"):
        driver = chromium(*sizes[0])
        driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": STILL_FRAMES})
        driver.get(saver_url(base, ini="cycles.ini", seed=seed, drawing=drawing))
        wait_script(driver, "return document.body.dataset.ready", what="the saver page")
        used = driver.execute_script("LumivexSaverPage.player.pause(true); "
                                     "return [LumivexSaverPage.screen.drawing, LumivexSaverPage.player.ticks || 0]")
        check(used == [drawing, 0], "the page draws %s after %d ticks of its own, expected %s and none"
              % (used[0], used[1], drawing))
        done, sent, compared, restored = 0, [], 0, None
        for at in sorted(stills) + [len(clock) - 1]:
            if done <= resize_at <= at:
                sent += driver.execute_script(TICKS_AT, clock[done:resize_at + 1])
                done = resize_at + 1
                driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                    "width": sizes[1][0], "height": sizes[1][1], "deviceScaleFactor": 1, "mobile": False})
                wait_script(driver, "var c = document.getElementById('screen'); return c.width == %d && "
                            "c.height == %d" % sizes[1], timeout=15, what="the resize")
            if drawing == "points" and done == loss_at:
                # The GPU loses the context (a driver reset) and gives it back empty:
                # the next tick draws the frame whole again.
                driver.execute_script("var g = LumivexSaverPage.screen.gl.gl, x = g.getExtension("
                                      "'WEBGL_lose_context'); x.loseContext(); "
                                      "setTimeout(function () { x.restoreContext(); }, 100);")
                wait_script(driver, "return LumivexSaverPage.screen.gl.lost", timeout=15,
                            what="the WebGL2 context given back")
                restored = done
            sent += driver.execute_script(TICKS_AT, clock[done:at + 1])
            done = at + 1
            size = sizes[at > resize_at]
            out, _ = renders[size]
            expected = read_picture(os.path.join(out, "frame-%05d.png" % (at + 1)))
            # The resized page's strip is black until its text changes; the renderer's
            # was drawn at its start.
            check_corner(page_shot(driver), expected, "%s: tick %d (%s) at %dx%d, against lumivex-render's "
                         "frame" % (drawing, at + 1, stills.get(at, "the last"), size[0], size[1]),
                         skip=STRIP if at > resize_at else 0)
            compared += 1
        no_console_errors(driver, drawing)
        # A tick of a hold whose frame equals the last one (image, colour and status line,
        # as the renderer dumped them) sends nothing; a tick that changed the image sends it.
        same = changed = 0
        check((restored is not None) == (drawing == "points"), "%s: the context was lost at %s" % (drawing, restored))
        if restored is not None:
            check(sent[restored] == 1, "points: the first tick after the context came back updated the "
                  "canvas %d times" % sent[restored])
        for i in range(1, len(ticks)):
            if i in (resize_at + 1, restored):
                continue  # the resized page's first tick, the first with the context back
            if ticks[i]["phase"] == 2 and all(ticks[i][k] == ticks[i - 1][k] for k in same_keys):
                check(sent[i] == 0, "%s: tick %d of a hold changed nothing and updated the canvas %d times"
                      % (drawing, i + 1, sent[i]))
                same += 1
            elif ticks[i]["image"] != ticks[i - 1]["image"]:
                check(sent[i] > 0, "%s: tick %d changed the image and the canvas was not updated" % (drawing, i + 1))
                changed += 1
        check(same >= 300, "only %d ticks of a hold changed nothing" % same)
        before = sum(1 for i in stills if i < resize_at)
        if drawing == "points":
            # The page's stills with WebGL2 at device scale 2 too (the page chooses the
            # picture with a WebGL2 in software, as here, so saver_pixels has that one).
            for at, what in ((150, "mid-morph"), (400, "hold")):
                expected = render_still(opts, case_dir, 320, 240, seed, 10, at, ini=ini)
                driver = chromium(200, 150, 2)
                driver.get(saver_url(base, ini="cycles.ini", size="320x240", seed=seed, dt=10, ticks=at,
                                     drawing=drawing))
                wait_script(driver, "return document.body.dataset.ready", what=what)
                check_corner(page_shot(driver), expected, "points: the %s still at device scale 2" % what)
            log("ok: points: the stills mid-morph and in a hold at device scale 2 equal lumivex-render's")
        log("ok: %s: %d stills through %d ticks equal lumivex-render's frames, %d before a resize to %dx%d and %d "
            "after (the points from %d to %d); %d ticks of a hold that changed nothing sent nothing, %d that "
            "changed the image sent it" % (drawing, compared, len(clock), before, sizes[1][0], sizes[1][1],
                                           compared - before, max(shown), min(shown), same, changed))


def share_fragment(file_bytes, seed, size):
    """A share link's fragment as the playground writes it: deflate-raw and base64url."""
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    packed = packer.compress(file_bytes) + packer.flush()
    return "seed=%d&size=%s&file=%s" % (seed, size, base64.urlsafe_b64encode(packed).decode().rstrip("="))


def open_playground(driver, base, fragment=""):
    driver.get(base + "playground.html" + ("#" + fragment if fragment else ""))
    wait_script(driver, "return document.body.dataset.ready && document.body.dataset.checked", what="the playground")


def editor_text(driver):
    return driver.execute_script("return document.getElementById('text').value")


def wait_checked_after(driver, before):
    wait_script(driver, "return Number(document.body.dataset.checked) > %d" % before, what="the report after an edit")


def checked(driver):
    return int(driver.execute_script("return document.body.dataset.checked"))


def warned_lines(driver):
    return driver.execute_script("return Array.from(document.querySelectorAll('#report .warning a'))"
                                 ".map(function (a) { return Number(a.dataset.line); })")


def case_playground_edit(opts, case_dir, chromium):
    """An edit that breaks a map line shows its warning at that line; undo clears it; "fit the box"
    (and the weights) gives lumivex-render --fit's text and is undone in one step."""
    from selenium.webdriver.common.keys import Keys
    site = site_folder(opts)
    gallery_path = os.path.join(opts.source, "resources", "lumivex.ini")
    with open(gallery_path) as f:
        gallery = f.read()
    lines = gallery.split("\n")
    target = lines.index("0.85 0.04 -0.04 0.85 0 1.6 85") + 1  # the fern's second map, a line number
    base = serve(site).url
    driver = chromium(1280, 800)
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
    # A slow step between two undos lets a report of the text half-way come first: the one
    # of the whole undo follows it within the page's delay.
    wait_script(driver, "return !Array.from(document.querySelectorAll('#report .warning a'))"
                ".some(function (a) { return Number(a.dataset.line) == %d; })" % target, timeout=10,
                what="the warning at line %d after undo" % target)
    log("ok: undo clears the warning")

    driver.execute_script("var s = document.getElementById('size'); s.value = '800x600';"
                          "s.dispatchEvent(new Event('change'));")
    for weights in (False, True):
        out = os.path.join(case_dir, "fitted%s.ini" % ("-weights" if weights else ""))
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
    downloads = os.path.join(case_dir, "downloads")
    os.makedirs(downloads)
    driver.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": downloads})
    opened = os.path.join(case_dir, "opened.ini")
    with open(opened, "w") as f:
        f.write("500\n" + "\n".join(lines[13:19]) + "\n")
    driver.execute_script("document.getElementById('file').hidden = false;")
    driver.find_element("id", "file").send_keys(opened)
    wait_script(driver, "return document.getElementById('text').value.startsWith('500\\n')",
                what="the opened file")
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
        frame = read_picture("-", f.read())
    check((frame.width, frame.height) == (800, 600) and len(frame.colours(0, frame.height)) >= 2,
          "the PNG is %dx%d in %d colours" % (frame.width, frame.height, len(frame.colours(0, frame.height))))
    driver.find_element("id", "undo").click()
    check(editor_text(driver) == gallery, "undo does not take the opened file back")
    log("ok: a file opened (undoable), the text downloaded as it stands, the frame saved as an 800x600 PNG")
    no_console_errors(driver)


def canvas_pixels(driver):
    return driver.execute_script("var c = document.getElementById('screen');"
                                 "return [c.width, c.height, c.toDataURL('image/png')];")


def case_playground_share(opts, case_dir, chromium):
    """A share link opened in another browser gives the same text, seed, size and frame, and that
    frame is lumivex-render's for the same file and arguments; a link set on the open playground
    takes effect without a reload, with the status line box and the chosen definition."""
    site = site_folder(opts)
    with open(os.path.join(opts.source, "resources", "lumivex.ini")) as f:
        gallery = f.read()
    edited = gallery.replace("\n30000\n", "\n4000\n", 1) + "; shared <b>as text</b> & more\n"
    base = serve(site).url
    driver = chromium(1280, 800)
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
    link = wait_script(driver, "return document.getElementById('share-out').value", what="the share link")
    driver.execute_script("return LumivexPlayground.still(10, 700)")
    first = canvas_pixels(driver)
    # A second link: the status line on, one definition chosen, another seed.
    driver.execute_script("var b = document.getElementById('status'); b.checked = true;"
                          "b.dispatchEvent(new Event('change'));"
                          "var c = document.getElementById('definition'); c.value = '3';"
                          "c.dispatchEvent(new Event('change'));"
                          "var s = document.getElementById('seed'); s.value = '77';"
                          "s.dispatchEvent(new Event('change'));")
    driver.find_element("id", "share").click()
    other = wait_script(driver, "var v = document.getElementById('share-out').value;"
                        "return v != %s && v" % json.dumps(link), what="the second share link")
    check(link.startswith(base + "playground.html#"), "the share link is %s" % link[:80])
    driver = chromium(1024, 700)
    driver.get(link)
    wait_script(driver, "return document.body.dataset.ready && document.body.dataset.checked",
                what="the link")
    check(editor_text(driver) == edited, "the shared text differs")
    check(driver.execute_script("return document.getElementById('seed').value") == "4242",
          "the seed differs")
    check(driver.execute_script("return document.getElementById('size').value") == "800x600",
          "the size differs")
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
    # The second link pasted into this tab: only the fragment changes, and the page
    # takes it without a reload (the marker stays), status line box and definition too.
    before = checked(driver)
    driver.execute_script("window.lumivexNoReload = 1; location.hash = arguments[0].split('#')[1];", other)
    wait_checked_after(driver, before)
    settings = driver.execute_script(
        "return [window.lumivexNoReload, document.getElementById('seed').value,"
        "document.getElementById('size').value, document.getElementById('status').checked,"
        "document.getElementById('definition').value, document.getElementById('text').value]")
    check(settings[:5] == [1, "77", "800x600", True, "3"] and settings[5] == edited,
          "the link set on the open playground gives %s" % (settings[:5],))
    no_console_errors(driver)
    check(first[:2] == [800, 600] and first == second, "the shared link's frame differs from the original's")
    ini = os.path.join(case_dir, "shared.ini")
    with open(ini, "w") as f:
        f.write(edited)
    expected = render_still(opts, case_dir, 800, 600, 4242, 10, 700, ini=ini)
    got = read_picture("-", base64.b64decode(second[2].split(",", 1)[1]))
    check_corner(got, expected, "the shared picture, against lumivex-render's frame")
    log("ok: a share link (%d characters) opens the same text, seed, size and frame, lumivex-render's; "
        "another set on the open page takes effect without a reload, with its status line and definition"
        % len(link))
    expected = render_still(opts, case_dir, 152, 112, 4242, 10, 300, ini=ini, extra=["--preview", "--child"])
    check_corner(read_picture("-", base64.b64decode(preview[2].split(",", 1)[1])), expected,
                 "the 152x112 preview, against lumivex-render's frame")
    log("ok: the 152x112 preview equals lumivex-render --preview --child's frame")


IFS_FILE = b"""; classics, as a collection ships them
fern {  ; Barnsley's fern
   0      0      0     0.16   0   0      0.01
   0.85   0.04  -0.04  0.85   0   1.6    0.85
   0.2   -0.26   0.23  0.22   0   1.6    0.07
  -0.15   0.28   0.26  0.24   0   0.44   0.07
}
cube (3D) {
  0.5 0 0 0 0.5 0 0 0 0.5 0 0 0 1
}
sierpinski {
  0.5, 0, 0, 0.5, 0,    0,     0.333
  0.5, 0, 0, 0.5, 0.5,  0,     0.333
  0.5, 0, 0, 0.5, 0.25, 0.433, 0.334
}
broken {
  0.5 0 0 0.5 0
}
dragon {  ; no probabilities: weights by area
   0.5  -0.5   0.5   0.5   0   0
  -0.5  -0.5   0.5  -0.5   1   0
}
"""


def case_playground_ifs(opts, case_dir, chromium):
    """A .ifs file opened, and another dropped on the editor, come in as lumivex-render --import
    makes them: the same text (an undoable edit), its definitions to choose from and checked
    without a warning, and the entries it skipped in the report; Download .ifs saves
    lumivex-render --export-ifs's text."""
    import json
    site = site_folder(opts)
    opened = os.path.join(case_dir, "classics.ifs")
    with open(opened, "wb") as f:
        f.write(IFS_FILE)
    dropped_text = b"levy {\n0.5 -0.5 0.5 0.5 0 0 0.5\n0.5 0.5 -0.5 0.5 0.5 0.5 0.5\n}\n"
    dropped = os.path.join(case_dir, "dropped.ifs")
    with open(dropped, "wb") as f:
        f.write(dropped_text)

    def imported(path):
        run = subprocess.run([opts.render, "--import", path, "--size", "800x600"], capture_output=True,
                             timeout=120)
        return run.returncode, run.stdout.decode(), run.stderr.decode()

    code, expected, said = imported(opened)
    check(code == 1 and expected.count("\n; ") >= 3, "lumivex-render --import: exit %d, %r" % (code, said))
    skipped = ['classics.ifs:8: entry "cube (3D)": three-dimensional',
               'classics.ifs:17: entry "broken": 5 numbers, not 6 or 7']
    base = serve(site).url
    driver = chromium(1280, 800)
    open_playground(driver, base)
    driver.execute_script("var s = document.getElementById('size'); s.value = '800x600';"
                          "s.dispatchEvent(new Event('change'));")
    before = checked(driver)
    driver.execute_script("document.getElementById('file').hidden = false;")
    driver.find_element("id", "file").send_keys(opened)
    wait_script(driver, "return document.getElementById('text').value === %s" % json.dumps(expected),
                what="the imported file in the editor")
    wait_checked_after(driver, before)
    wait_script(driver, "return document.getElementById('import-report')", what="the import's report")
    report = driver.execute_script("return document.getElementById('import-report').textContent")
    for line in skipped + ["imported 3 of 5 entries from classics.ifs"]:
        check(line in report, "the import's report lacks %r: %r" % (line, report))
    choices = driver.execute_script("return Array.from(document.getElementById('definition').options)"
                                    ".map(function (o) { return o.textContent; })")
    check(len(choices) == 4, "the definitions to choose from: %s" % choices)
    check(warned_lines(driver) == [], "the imported file has warnings at lines %s" % warned_lines(driver))
    log("ok: an opened .ifs file is lumivex-render --import's text, 3 definitions checked without a "
        "warning, the 3D and the broken entry reported by line")

    # Dropped on the editor: the same import; the report of the first one is gone with its text.
    code, expected_drop, _ = imported(dropped)
    check(code == 0, "lumivex-render --import of the dropped file exits %d" % code)
    driver.execute_script("var dt = new DataTransfer();"
                          "dt.items.add(new File([arguments[0]], 'dropped.ifs', {type: 'text/plain'}));"
                          "document.getElementById('editor').dispatchEvent(new DragEvent('drop', "
                          "{dataTransfer: dt, bubbles: true, cancelable: true}));", dropped_text.decode())
    wait_script(driver, "return document.getElementById('text').value === %s" % json.dumps(expected_drop),
                what="the dropped file in the editor")
    wait_script(driver, "var r = document.getElementById('import-report');"
                "return r && r.textContent.indexOf('imported 1 of 1 entries from dropped.ifs') >= 0",
                what="the dropped file's report")
    check("cube" not in driver.execute_script("return document.getElementById('report').textContent"),
          "the first import's report stays")
    driver.find_element("id", "undo").click()
    check(editor_text(driver) == expected, "undo does not take the dropped file back")
    log("ok: a .ifs file dropped on the editor comes in the same way, and undo takes it back")

    # Download .ifs: lumivex-render --export-ifs's text of the editor's file.
    downloads = os.path.join(case_dir, "downloads")
    os.makedirs(downloads)
    driver.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": downloads})
    driver.find_element("id", "download-ifs").click()
    target = os.path.join(downloads, "lumivex.ifs")
    deadline = time.time() + 20
    while time.time() < deadline and not os.path.exists(target):
        time.sleep(0.2)
    ini = os.path.join(case_dir, "edited.ini")
    with open(ini, "w") as f:
        f.write(editor_text(driver))
    run = subprocess.run([opts.render, "--export-ifs", "--ini", ini], capture_output=True, timeout=120)
    check(os.path.exists(target), "Download .ifs saved nothing: %s" % os.listdir(downloads))
    with open(target, "rb") as f:
        saved = f.read()
    check(run.returncode == 0 and saved == run.stdout,
          "the saved .ifs differs from lumivex-render --export-ifs's (exit %d)" % run.returncode)
    check(saved.startswith(b"fern {\n") and b"dragon {\n" in saved, "the saved .ifs: %r" % saved[:200])
    no_console_errors(driver)
    log("ok: Download .ifs saves lumivex-render --export-ifs's entries of the edited file")


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


def case_hostile_links(opts, chromium):
    """Share links from strangers: each opens with the saver's own message (or its picture) while a
    page timer keeps running, and the file's text never becomes markup."""
    site = site_folder(opts)
    base = serve(site).url
    for what, data, message in HOSTILE:
        driver = chromium(1024, 700)
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
            check(message in shown, "%s: the page shows %r, not the saver's message %r"
                  % (what, shown, message))
        check(driver.execute_script("return document.querySelector('#report img, #report b, "
                                    "#play-message img, #play-message b')") is None,
              "%s: the file's markup became elements" % what)
        check(driver.execute_script("return typeof window.alert === 'function'"),
              "%s: the page broke" % what)
        no_console_errors(driver, what)
        log("ok: %s: %s, the page timer ran %d times in 1.5 s"
            % (what, "message %r" % message if message else "no message", beats))


def case_pages_load(opts, case_dir, chromium):
    """Both pages load and run with no console error, from make run-web's server and from the
    unpacked web zip of make dist."""
    site = site_folder(opts)
    out = os.path.join(case_dir, "dist")
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
        base = serve(folder, run_web).url
        for page in ("index.html", "playground.html"):
            driver = chromium(1024, 700)
            driver.get(base + page)
            wait_script(driver, "return document.body.dataset.ready", what=page)
            time.sleep(1)
            no_console_errors(driver, "%s from %s" % (page, where))
            log("ok: %s loads from %s with no console error" % (page, where))


def definition_ini(opts, folder, ifs, count):
    """The shipped gallery's definition number ifs (0: all of them) alone, with the point count
    count, from the lines lumivex-render --check reads as that definition."""
    gallery = os.path.join(opts.source, "resources", "lumivex.ini")
    out = subprocess.run([opts.render, "--check", "--json", "--ini", gallery], capture_output=True, text=True,
                         timeout=120).stdout
    reports = [json.loads(line) for line in out.splitlines() if line.startswith('{"ifs"')]
    if ifs == 0:
        with open(gallery) as f:
            text = f.read().replace("\n30000\n", "\n%d\n" % count, 1)
    else:
        kept = [l["text"] for l in reports[ifs - 1]["lines"] if l["use"] != "skipped"]
        text = "\n".join([str(count)] + kept) + "\n"
    path = os.path.join(folder, "ifs-%d-%d.ini" % (ifs, count))
    with open(path, "w") as f:
        f.write(text)
    return path


# How each host hands its settings to the page: its property callback (with the value of a
# definition as its control gives it: Lively's dropdown an index, Wallpaper Engine's combo the
# option's value text), its frame-rate cap and its pause.
HOSTS = [
    ("Lively Wallpaper", "livelyPropertyListener(arguments[0], arguments[1]);", int,
     "livelyPropertyListener('fps', arguments[0]);",
     "livelyWallpaperPlaybackChanged(JSON.stringify({IsPaused: arguments[0]}));"),
    ("Wallpaper Engine", "var p = {}; p[arguments[0]] = {value: arguments[1]};"
     "wallpaperPropertyListener.applyUserProperties(p);", str,
     "wallpaperPropertyListener.applyGeneralProperties({fps: arguments[0]});",
     "wallpaperPropertyListener.setPaused(arguments[0]);"),
]
# (definition, seed, status): each a still of the page as the host set it.
HOST_STILLS = [(3, 77, True), (3, 77, False), (12, 4242, True), (0, 1234, False)]


def case_hosts(opts, case_dir, chromium):
    """The saver page driven as Lively Wallpaper and Wallpaper Engine drive it: each property
    through the host's callback gives lumivex-render's still for that definition, seed and status
    line; the host's frame-rate cap spaces the ticks; its pause stops them and its resume starts
    them again; a hosted page shows no full-screen button."""
    site = site_folder(opts)
    base = serve(site).url
    for host, call, definition_value, fps_call, pause_call in HOSTS:
        driver = chromium(400, 300)
        driver.get(saver_url(base, size="320x240", seed=1, dt=10, ticks=400))
        wait_script(driver, "return document.body.dataset.ready", what=host)
        for definition, seed, status in HOST_STILLS:
            runs = int(driver.execute_script("return Number(document.body.dataset.hostRuns || 0)"))
            # All of a setting's properties at once, as a host hands them over at load.
            driver.execute_script(
                "".join("(function () { %s }).apply(null, arguments[%d]);" % (call, i) for i in range(3)),
                ["definition", definition_value(definition)], ["seed", str(seed)], ["status", status])
            wait_script(driver, "return Number(document.body.dataset.hostRuns || 0) > %d" % runs,
                        what="%s: the new still" % host)
            shot = page_shot(driver)
            ini = definition_ini(opts, case_dir, definition, -30000 if status else 30000)
            expected = render_still(opts, case_dir, 320, 240, seed, 10, 400, ini=ini)
            check_corner(shot, expected, "%s: definition %d, seed %d, status %s, against lumivex-render's "
                         "frame" % (host, definition, seed, "on" if status else "off"))
            strip = shot.colours(0, 16, 0, 320)
            check(((255, 255, 255) in strip) == status, "%s: the status line is %s in the strip (%s)"
                  % (host, "missing" if status else "drawn", sorted(strip)[:4]))
            log("ok: %s: definition %d, seed %d, status line %s: lumivex-render's still"
                % (host, definition, seed, "on" if status else "off"))
        no_console_errors(driver, host)

        driver = chromium(400, 300)
        driver.get(base + "index.html")
        wait_script(driver, "return document.body.dataset.ready", what=host)
        recent = "var p = LumivexSaverPage.player; return [p.ticks, p.recent.slice()];"

        def spacing(what):
            time.sleep(1.5)
            ticks, clock = driver.execute_script(recent)
            steps = [(b - a) % 2 ** 32 for a, b in zip(clock[-20:], clock[-19:])]
            check(len(steps) >= 10, "%s: %d ticks in 1.5 s (%s)" % (what, ticks, host))
            return sorted(steps)

        free = spacing("no cap")
        driver.execute_script(fps_call, 20)
        capped = spacing("a cap of 20 fps")
        check(free[len(free) // 2] < 40 <= 49 <= capped[0],
              "%s: ticks %s ms apart without a cap, %s with 20 fps" % (host, free, capped))
        log("ok: %s: a cap of 20 fps spaces the ticks %d ms apart at least (%d ms without)"
            % (host, capped[0], free[len(free) // 2]))
        driver.execute_script(pause_call, True)
        time.sleep(0.3)
        paused = driver.execute_script(recent)[0]
        time.sleep(1.5)
        check(driver.execute_script(recent)[0] == paused, "%s: the page ticks while the host paused it" % host)
        driver.execute_script(pause_call, False)
        wait_script(driver, "return LumivexSaverPage.player.ticks > %d + 5" % paused, timeout=10,
                    what="%s: the resume" % host)
        log("ok: %s: paused by the host, no tick in 1.5 s; resumed, it ticks again" % host)
        driver.execute_script("document.dispatchEvent(new PointerEvent('pointermove'))")
        check(driver.execute_script("return getComputedStyle(document.getElementById('fullscreen')).display")
              == "none", "%s: the hosted page shows its full-screen button" % host)
        no_console_errors(driver, host)


def caches(driver):
    return driver.execute_async_script("var done = arguments[arguments.length - 1];"
                                       "caches.keys().then(done, function () { done(null); });")


def drawn(driver, page):
    """The page is ready and its canvas shows points."""
    wait_script(driver, "return document.body.dataset.ready", what=page)
    time.sleep(0.5)
    check(page_shot(driver).colours(16, 300, 0, 400) - {(0, 0, 0)}, "%s: no points" % page)


def case_offline(opts, case_dir, chromium):
    """After one visit both pages reload and draw with the server stopped (the service worker's
    cache); a new release (a new sw.js) is taken at the next visit and its cache replaces the old
    one; from file:// both pages draw too (the wasm from its script), all with no console error."""
    site = site_folder(opts)
    folder = os.path.join(case_dir, "site")
    shutil.copytree(site, folder)
    with open(os.path.join(folder, "sw.js")) as f:
        worker = f.read()
    first = re.search(r'var CACHE = "(lumivex-[^"]+)";', worker)
    check(first is not None, "sw.js names no lumivex- cache")
    port = harness.free_port()  # both servers on it: the same origin
    driver = chromium(400, 300)
    server = serve(folder, port=port)
    base = server.url
    driver.get(base + "index.html?seed=5")
    drawn(driver, "index.html")
    wait_script(driver, "return navigator.serviceWorker.controller !== null", what="the service worker")
    wait_until(lambda: caches(driver) == [first.group(1)], "the cache %s" % first.group(1), timeout=20)
    manifest = driver.execute_cdp_cmd("Page.getAppManifest", {})
    check(manifest.get("url", "").endswith("/manifest.webmanifest") and not manifest.get("errors"),
          "the page's manifest: %s" % manifest)
    installable = driver.execute_cdp_cmd("Page.getInstallabilityErrors", {})
    check(not installable.get("installabilityErrors"), "not installable: %s" % installable)
    log("ok: the saver page is installable (its manifest, icons and service worker)")
    harness.stop(server)
    for page in ("index.html?seed=6", "playground.html"):
        driver.get(base + page)
        drawn(driver, page)
        no_console_errors(driver, "%s offline" % page)
        log("ok: %s reloads and draws with the server stopped" % page)

    # The next release: another page title, its sw.js with the cache of its content.
    with open(os.path.join(folder, "index.html")) as f:
        page = f.read()
    with open(os.path.join(folder, "index.html"), "w") as f:
        f.write(page.replace("<title>Lumivex</title>", "<title>Lumivex next</title>"))
    with open(os.path.join(folder, "sw.js"), "w") as f:
        f.write(worker.replace(first.group(1), "lumivex-next-0123456789abcdef"))
    server = serve(folder, port=port)
    driver.get(base + "index.html")
    drawn(driver, "index.html")
    wait_until(lambda: caches(driver) == ["lumivex-next-0123456789abcdef"], "the new release's cache", timeout=30)
    driver.get(base + "index.html")
    drawn(driver, "index.html")
    check(driver.title == "Lumivex next", "the visit after a new release shows %r" % driver.title)
    log("ok: a new release's sw.js replaces the cache, and the next visit shows the new page")
    harness.stop(server)
    no_console_errors(driver)

    driver = chromium(400, 300)
    for page in ("index.html", "playground.html"):
        driver.get("file://" + os.path.join(site, page))
        drawn(driver, "%s from file://" % page)
        no_console_errors(driver, "%s from file://" % page)
        log("ok: %s draws from file://" % page)

