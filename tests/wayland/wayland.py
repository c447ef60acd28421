#!/usr/bin/env python3
"""Tests of the native Linux saver `lumivex` on Wayland (run by CTest, one case per call).

Every case runs on a headless sway of its own (the fixture sway) as an unprivileged user, with its
own XDG_RUNTIME_DIR, stopped with everything started in it when the case ends: also on failure,
timeout or signal.
Screenshots come from grim; outputs, their size and scale from swaymsg; keys and pointer events
from a virtual keyboard and pointer that this script makes over the Wayland wire protocol itself.
"""
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import threading
import time

import pytest

import harness
from harness import Failure, Rendered, at_cleanup, check, cpu_seconds, ends_with, input_ends, log, output_of, \
    wait_exact, wait_rendered, wait_until, write_ini

harness.REGULATION = "wayland"  # the renderer models this host's point regulation
OPTIONS = ("lumivex",)


def needs(opts):
    return {None: [opts.lumivex, opts.render]}

EMPTY_OUTPUT = (63, 63, 63)  # what sway shows where nothing is drawn


# ---------------------------------------------------------------------------------------------
# The Wayland wire protocol, enough for a virtual keyboard and pointer and for a compositor
# that offers little.


def wire_message(obj, opcode, body=b""):
    return struct.pack("<II", obj, ((8 + len(body)) << 16) | opcode) + body


def wire_string(text):
    data = text.encode() + b"\0"
    return struct.pack("<I", len(data)) + data + b"\0" * (-len(data) % 4)


def wire_read(sock, buffer):
    """One message (object, opcode, body) from the socket, the rest kept in buffer."""
    while len(buffer) < 8 or len(buffer) < (struct.unpack_from("<I", buffer, 4)[0] >> 16):
        data = sock.recv(65536)
        if not data:
            raise Failure("the peer closed the Wayland connection")
        buffer.extend(data)
    obj, word = struct.unpack_from("<II", buffer)
    size = word >> 16
    body = bytes(buffer[8:size])
    del buffer[:size]
    return obj, word & 0xFFFF, body


def wire_read_string(body, offset):
    length = struct.unpack_from("<I", body, offset)[0]
    text = body[offset + 4:offset + 4 + length - 1].decode()
    return text, offset + 4 + length + (-length % 4)


KEYMAP = b"""xkb_keymap {
  xkb_keycodes "lumivex" { minimum = 8; maximum = 255; <K30> = 38; };
  xkb_types "lumivex" { include "complete" };
  xkb_compat "lumivex" { include "complete" };
  xkb_symbols "lumivex" { key <K30> { [ a ] }; };
};
"""
KEY_A, BTN_LEFT, BTN_RIGHT, BTN_MIDDLE = 30, 0x110, 0x111, 0x112


class VirtualInput:
    """A virtual keyboard (zwp_virtual_keyboard_v1) and pointer (zwlr_virtual_pointer_v1) on the
    compositor's seat: the input devices a headless compositor lacks."""

    def __init__(self, runtime, display):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(os.path.join(runtime, display))
        self.buffer = bytearray()
        self.ids = 1
        self.globals = {}
        registry = self.new_id()
        self.send(1, 1, struct.pack("<I", registry))  # wl_display.get_registry
        self.roundtrip(registry)
        seat = self.bind(registry, "wl_seat", 1)
        keyboards = self.bind(registry, "zwp_virtual_keyboard_manager_v1", 1)
        pointers = self.bind(registry, "zwlr_virtual_pointer_manager_v1", 1)
        self.keyboard = self.new_id()
        self.send(keyboards, 0, struct.pack("<II", seat, self.keyboard))
        fd = os.memfd_create("keymap")
        os.write(fd, KEYMAP + b"\0")
        self.send(self.keyboard, 0, struct.pack("<II", 1, len(KEYMAP) + 1), fds=[fd])  # xkb_v1
        os.close(fd)
        self.pointer = self.new_id()
        self.send(pointers, 0, struct.pack("<II", seat, self.pointer))
        self.roundtrip(registry)

    def new_id(self):
        self.ids += 1
        return self.ids

    def send(self, obj, opcode, body=b"", fds=()):
        message = wire_message(obj, opcode, body)
        if fds:
            self.sock.sendmsg([message], [(socket.SOL_SOCKET, socket.SCM_RIGHTS, struct.pack("<%di" % len(fds), *fds))])
        else:
            self.sock.sendall(message)

    def bind(self, registry, interface, version):
        check(interface in self.globals, "the compositor offers no %s" % interface)
        obj = self.new_id()
        self.send(registry, 0, struct.pack("<I", self.globals[interface]) + wire_string(interface) +
                  struct.pack("<II", version, obj))
        return obj

    def roundtrip(self, registry):
        done = self.new_id()
        self.send(1, 0, struct.pack("<I", done))  # wl_display.sync
        while True:
            obj, opcode, body = wire_read(self.sock, self.buffer)
            if obj == 1 and opcode == 0:
                raise Failure("the compositor refused the virtual input: %r" % body)
            if obj == registry and opcode == 0:
                name = struct.unpack_from("<I", body)[0]
                interface, _ = wire_read_string(body, 4)
                self.globals.setdefault(interface, name)
            if obj == done:
                return

    def now(self):
        return int(time.monotonic() * 1000) & 0xFFFFFFFF

    def key(self, code=KEY_A):
        for state in (1, 0):
            self.send(self.keyboard, 1, struct.pack("<III", self.now(), code, state))

    def motion(self, dx, dy):
        self.send(self.pointer, 0, struct.pack("<Iii", self.now(), int(dx * 256), int(dy * 256)))
        self.send(self.pointer, 4)  # frame

    def button(self, button):
        for state in (1, 0):
            self.send(self.pointer, 2, struct.pack("<III", self.now(), button, state))
            self.send(self.pointer, 4)

    def wheel(self):
        self.send(self.pointer, 3, struct.pack("<IIi", self.now(), 0, 10 * 256))  # vertical axis
        self.send(self.pointer, 4)

    def close(self):
        self.sock.close()


class ScantCompositor:
    """A Wayland server of this script's own that offers only wl_compositor, wl_shm and
    xdg_wm_base, or answers the first request after the registry with a protocol error."""

    def __init__(self, folder, error=False):
        self.path = os.path.join(folder, "wayland-scant")
        if os.path.exists(self.path):
            os.unlink(self.path)
        self.server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.server.bind(self.path)
        self.server.listen(1)
        self.server.settimeout(10)
        self.error = error

    def serve(self, process):
        """Answers one client until it hangs up or its process ends."""
        client, _ = self.server.accept()
        client.settimeout(0.2)
        buffer = bytearray()
        registry = None
        interfaces = [("wl_compositor", 4), ("wl_shm", 1), ("xdg_wm_base", 1)]
        while process.poll() is None:
            try:
                obj, opcode, body = wire_read(client, buffer)
            except (socket.timeout, Failure, OSError):
                continue
            if obj == 1 and opcode == 1:
                registry = struct.unpack_from("<I", body)[0]
                for name, (interface, version) in enumerate(interfaces, 1):
                    client.sendall(wire_message(registry, 0, struct.pack("<I", name) + wire_string(interface) +
                                                struct.pack("<I", version)))
            elif obj == 1 and opcode == 0:
                callback = struct.unpack_from("<I", body)[0]
                client.sendall(wire_message(callback, 0, struct.pack("<I", 1)) +
                               wire_message(1, 1, struct.pack("<I", callback)))
            elif self.error and obj != 1:
                # wl_display.error: the object, code 0, a message.
                client.sendall(wire_message(1, 0, struct.pack("<II", obj, 0) + wire_string("refused on purpose")))
        client.close()

    def close(self):
        self.server.close()
        if os.path.exists(self.path):
            os.unlink(self.path)




# =============================================================================================
# Cases


def shows_surface(shot):
    """The output is covered by a surface of the saver: none of sway's grey, and black."""
    return shot.data.count(bytes(EMPTY_OUTPUT) * 2) == 0 and shot.data.count(b"\0\0\0") > 0


def lit_extent(shot):
    """The rightmost column and lowest row of a pixel that is neither black, white nor grey."""
    right = bottom = -1
    data, width = shot.data, shot.width
    for y in range(shot.height):
        row = data[y * width * 3:(y + 1) * width * 3]
        for x in range(width - 1, right, -1):
            pixel = row[x * 3:x * 3 + 3]
            if pixel not in (b"\0\0\0", b"\xff\xff\xff", b"\x3f\x3f\x3f"):
                right = max(right, x)
                bottom = y
                break
    return right, bottom


def wait_fitted(s, process, width, height, what, within=1.0):
    """Within `within` seconds of a resize, the picture spans the new size: lit points past three
    quarters of it on both axes (the old picture, smaller, could not reach there)."""
    deadline = time.time() + within
    seen = None
    while time.time() < deadline:
        check(process.poll() is None, "%s: the saver ended (exit code %s)" % (what, process.poll()))
        shot = s.shot()
        if (shot.width, shot.height) == (width, height):
            seen = lit_extent(shot)
            if seen[0] >= width * 3 // 4 and seen[1] >= height * 3 // 4:
                log("ok: %s: the picture spans %dx%d (lit up to %d, %d) within %.1f s" % (what, width, height, seen[0],
                                                                                       seen[1], within))
                return shot
        time.sleep(0.2)
    raise Failure("%s: the picture does not span %dx%d within %.1f s (lit up to %s)" % (what, width, height, within,
                                                                                     seen))



@pytest.mark.host(output="resolution 800x600")
def case_pixel_exact(opts, sway):
    """--layer background on an 800x600 output equals the renderer's held frame; the output changed
    to 1600x1200 at scale 2 under it, the picture is fitted within a second and is the renderer's;
    a run started at scale 2 (the buffer 1600x1200) equals the renderer's frame. SIGTERM ends each."""
    seed = 4242
    ini = write_ini(sway.dir, -1200)
    renders = {size: Rendered(opts, sway.dir, ini, size[0], size[1], seed) for size in ((800, 600), (1600, 1200))}
    saver = sway.start([opts.lumivex, "--layer", "background", "--ini", ini, "--seed", str(seed)])
    shot, how = wait_rendered(sway.shot, saver, renders[(800, 600)])
    sway.save(shot, "layer-800x600")
    log("ok: --layer background at 800x600 %s" % how)
    sway.swaymsg("output HEADLESS-1 resolution 1600x1200 scale 2")
    wait_fitted(sway, saver, 1600, 1200, "output resized to 1600x1200 at scale 2 under the layer")
    shot, how = wait_rendered(sway.shot, saver, renders[(1600, 1200)])
    log("ok: resized to scale 2, the 1600x1200 buffer %s" % how)
    saver.send_signal(signal.SIGTERM)
    ends_with(saver, 0, 3, "--layer, SIGTERM")
    check(output_of(saver) == "", "standard error: %r" % output_of(saver))
    # Started at scale 2, with no mode change to stall the first frames.
    saver = sway.start([opts.lumivex, "--layer", "background", "--ini", ini, "--seed", str(seed)])
    shot, how = wait_rendered(sway.shot, saver, renders[(1600, 1200)])
    sway.save(shot, "layer-1600x1200-scale2")
    log("ok: started at scale 2, the 1600x1200 buffer %s" % how)
    saver.send_signal(signal.SIGTERM)
    ends_with(saver, 0, 3, "--layer at scale 2, SIGTERM")


@pytest.mark.host(config="default_border none\n", output="resolution 640x480")
def case_resize(opts, sway):
    """--window, tiled by sway: titled Lumivex with app id lumivex, exact at its tile, fitted within
    a second when the output (and so the tile) grows; closed by the compositor: exit 0. A long
    --delay paces the frames below the compositor's rate."""
    seed = 77
    ini = write_ini(sway.dir, -1000)
    rendered = Rendered(opts, sway.dir, ini, 640, 480, seed)
    saver = sway.start([opts.lumivex, "--window", "--ini", ini, "--seed", str(seed)])
    shot, how = wait_rendered(sway.shot, saver, rendered)
    sway.save(shot, "window-640x480")
    tree = sway.swaymsg(None, "get_tree")
    check('"name": "Lumivex"' in tree and '"app_id": "lumivex"' in tree, "no window Lumivex (lumivex) in the tree")
    log("ok: the tiled window Lumivex (app id lumivex) %s" % how)
    sway.swaymsg("output HEADLESS-1 resolution 1024x768")
    shot = wait_fitted(sway, saver, 1024, 768, "the tile grown to 1024x768")
    sway.save(shot, "window-1024x768")
    sway.swaymsg("[app_id=lumivex] kill")
    ends_with(saver, 0, 3, "--window closed by the compositor")
    check(output_of(saver) == "", "standard error: %r" % output_of(saver))

    # The compositor offers a frame about 60 times a second; --delay 100000 takes at most 10.
    slow = sway.start(["env", "WAYLAND_DEBUG=1", opts.lumivex, "--window", "--delay", "100000", "--ini", ini])
    time.sleep(2)
    commits = lambda: len(re.findall(r"-> wl_surface@\d+\.commit\(\)", output_of(slow)))
    before = commits()
    time.sleep(3)
    frames = commits() - before
    check(10 <= frames <= 32, "--delay 100000: %d frames in 3 s" % frames)
    log("ok: --delay 100000: %d frames in 3 s" % frames)
    slow.send_signal(signal.SIGTERM)
    ends_with(slow, 0, 3, "--window --delay 100000, SIGTERM")


@pytest.mark.host(output="resolution 640x480")
def case_outputs(opts, sway):
    """Two outputs, one surface each with the same picture; one removed, the run goes on; back, it
    gets its surface again, as does a third one added; --output draws on that output alone."""
    ini = write_ini(sway.dir, 1500)
    sway.swaymsg("create_output")
    sway.swaymsg("output HEADLESS-2 resolution 640x480")
    saver = sway.start([opts.lumivex, "--layer", "bottom", "--ini", ini, "--seed", "5"])
    def same_fractal():
        one, two = sway.shot("HEADLESS-1"), sway.shot("HEADLESS-2")
        return one if one.data == two.data and len(one.colours(16, 480, 0, 640)) == 2 else None
    one = wait_until(same_fractal, "the two outputs show the same fractal", process=saver)
    sway.save(one, "two-outputs-1")
    log("ok: two outputs, the same fractal on each")
    # Sway 1.7 cannot unplug a headless output; disabling it takes it away from clients as well.
    sway.swaymsg("output HEADLESS-2 disable")
    time.sleep(0.5)
    harness.wait_change(lambda: sway.shot("HEADLESS-1").data, "the picture on the remaining output moving", saver)
    log("ok: one output removed, the run goes on")
    sway.swaymsg("output HEADLESS-2 enable")
    wait_until(lambda: shows_surface(sway.shot("HEADLESS-2")), "HEADLESS-2, back, gets its surface", 5)
    log("ok: the output back, its surface is back")
    sway.swaymsg("create_output")
    outputs = sway.swaymsg(None, "get_outputs")
    third = "HEADLESS-3" if "HEADLESS-3" in outputs else "HEADLESS-2"
    wait_until(lambda: shows_surface(sway.shot(third)), "the new output %s gets a surface" % third, 5)
    log("ok: a new output (%s) gets its surface" % third)
    saver.send_signal(signal.SIGINT)
    ends_with(saver, 0, 3, "--layer, SIGINT")

    only = sway.start([opts.lumivex, "--layer", "bottom", "--output", third, "--ini", ini])
    wait_until(lambda: shows_surface(sway.shot(third)), "--output %s draws there" % third, 5, only)
    time.sleep(0.3)
    check(sway.shot("HEADLESS-1").colours(0, 480, 0, 640) == {EMPTY_OUTPUT},
          "--output %s drew on HEADLESS-1 too" % third)
    log("ok: --output %s draws there alone" % third)
    only.send_signal(signal.SIGHUP)
    ends_with(only, 0, 3, "--layer --output, SIGHUP")


@pytest.mark.host(output="resolution 640x480")
def case_fullscreen(opts, sway):
    """--fullscreen: a pointer motion, a key and each of three buttons end it, each in its own run;
    the wheel does not. The pointer, shown over the empty output, is hidden over the picture."""
    ini = write_ini(sway.dir, -800)
    device = VirtualInput(sway.runtime, sway.display)
    sway.closing.append(device.close)
    device.motion(100, 100)
    # The pointer's white edge, below the strip, where nothing else is white.
    pointer_drawn = lambda: (255, 255, 255) in sway.shot(cursor=True).colours(16, 480, 0, 640)
    time.sleep(0.3)
    check(pointer_drawn(), "the pointer does not show on the empty output")
    runs = [("the wheel", device.wheel, False), ("a one-pixel motion", lambda: device.motion(1, 0), True),
            ("a key", device.key, True)] + \
           [("the %s button" % name, lambda b=b: device.button(b), True)
            for name, b in (("left", BTN_LEFT), ("middle", BTN_MIDDLE), ("right", BTN_RIGHT))]
    for name, action, ends in runs:
        saver = sway.start([opts.lumivex, "--fullscreen", "--ini", ini])
        # Until the picture covers the output, status line at the top left (sway may show
        # the window tiled for a frame before it is made full screen).
        wait_until(lambda: (lambda shot: shot.pixel(0, 0) == (255, 255, 255) and
                            len(shot.colours(16, 480, 0, 640)) >= 2)(sway.shot()),
                   "%s: the full-screen picture with its status line" % name, process=saver)
        check(not pointer_drawn(), "%s: the pointer shows over the full-screen picture" % name)
        time.sleep(0.3)
        input_ends(saver, "--fullscreen, %s" % name, action, ends)


@pytest.mark.host(output="resolution 320x240")
def case_endings(opts, sway):
    """The compositor killed under a layer: 0, quietly. A compositor without the layer shell: one
    line, 1. A protocol error: one line, 1. No compositor: one line, 253 (-3)."""
    ini = write_ini(sway.dir, 1000)
    saver = sway.start([opts.lumivex, "--layer", "overlay", "--ini", ini])
    wait_until(lambda: len(sway.shot().colours(16, 240, 0, 320)) >= 2, "the layer draws", process=saver)
    os.killpg(sway.sway.pid, signal.SIGKILL)
    ends_with(saver, 0, 3, "the compositor killed under --layer")
    check(output_of(saver) == "", "standard error: %r" % output_of(saver))

    def run(argv, env):
        result = subprocess.run(argv, env=env, capture_output=True, text=True, timeout=20)
        return result.returncode, result.stderr.strip()

    runtime = tempfile.mkdtemp(prefix="lumivex-run-")
    at_cleanup(lambda: shutil.rmtree(runtime, ignore_errors=True))
    base = {"PATH": os.environ.get("PATH", ""), "XDG_RUNTIME_DIR": runtime}
    # The scant compositor never configures a window: SIGTERM while the saver waits for it.
    for error, args, code_wanted, expected in ((False, ["--layer", "background"], 1, "layer shell"),
                                               (True, ["--window"], 1, "protocol error"),
                                               (False, ["--window"], 0, None)):
        scant = ScantCompositor(runtime, error)
        out = os.path.join(sway.dir, "scant-%s%s.txt" % (args[0].strip("-"), "-error" if error else ""))
        saver = harness.start([opts.lumivex, "--ini", ini] + args, env=dict(base, WAYLAND_DISPLAY="wayland-scant"),
                              output=out)
        timer = threading.Timer(1.5, lambda: saver.poll() is None and saver.send_signal(signal.SIGTERM))
        timer.start()
        scant.serve(saver)
        timer.cancel()
        code = saver.wait(5)
        err = output_of(saver).strip()
        scant.close()
        if expected is None:
            check(code == 0 and err == "", "SIGTERM before the first configure: %d %r" % (code, err))
            log("ok: SIGTERM while waiting for the first configure: exit 0, quietly")
            continue
        check(code == code_wanted and expected in err and "\n" not in err, "%s: %d %r" % (args, code, err))
        log("ok: %s on a scant compositor: exit 1, %r" % (" ".join(args), err))
    code, err = run([opts.lumivex, "--layer", "top", "--ini", ini], dict(base, WAYLAND_DISPLAY="wayland-none"))
    check(code == 253 and err == "lumivex: I cannot reach the Wayland compositor 'wayland-none'. Now quitting.",
          "no compositor: %d %r" % (code, err))
    log("ok: no compositor: exit 253 (-3), %r" % err)
    code, err = run([opts.lumivex, "--layer", "top", "--x11"], base)
    check(code == 2 and "--x11" in err and "\n" not in err, "--layer --x11: %d %r" % (code, err))
    log("ok: --layer with --x11: exit 2, %r" % err)


@pytest.mark.host(output="resolution 1920x1080")
def case_covered(opts, sway):
    """A layer at 1920x1080 costs CPU while shown and about none while a full-screen window covers
    it (no frame callbacks); uncovered, it draws again."""
    ini = write_ini(sway.dir, 1500)
    layer = sway.start([opts.lumivex, "--layer", "background", "--ini", ini])
    wait_until(lambda: shows_surface(sway.shot()), "the layer draws", process=layer)

    def measure():
        start, wall = cpu_seconds(layer.pid), time.time()
        time.sleep(5)
        return cpu_seconds(layer.pid) - start, time.time() - wall

    shown, wall = measure()
    log("the layer shown at 1920x1080: %.2f s of CPU in %.1f s (%.1f%%)" % (shown, wall, 100 * shown / wall))
    cover = sway.start([opts.lumivex, "--fullscreen", "--ini", ini])
    time.sleep(1.5)
    check(cover.poll() is None, "the covering window ended (exit code %s)" % cover.poll())
    covered, wall = measure()
    log("the layer covered: %.2f s of CPU in %.1f s (%.1f%%)" % (covered, wall, 100 * covered / wall))
    check(covered < 0.02 * wall, "the covered layer used %.2f s of CPU in %.1f s" % (covered, wall))
    cover.send_signal(signal.SIGTERM)
    ends_with(cover, 0, 3, "the covering window, SIGTERM")
    time.sleep(0.5)
    harness.wait_change(lambda: sway.shot().data, "the uncovered layer drawing again", layer)
    log("ok: uncovered, the layer draws again")
    layer.send_signal(signal.SIGTERM)
    ends_with(layer, 0, 3, "--layer, SIGTERM")



@pytest.mark.host(output="resolution 320x240")
def case_partial(opts, sway):
    """Buffers brought up to date point by point: the layer equals the renderer's held frames
    through several cycles with the status line on and the count regulated, after the output is
    resized and after its scale changes; a tick that changed nothing commits nothing, and the
    morph's frames go point by point."""
    seed = 777
    ini = write_ini(sway.dir, -1200)  # negative: the status line too
    # A tick every 100 ms: the regulation takes the count down to its floor over the first ticks,
    # as the renderer does with the same interval.
    renders = {size: Rendered(opts, sway.dir, ini, size[0], size[1], seed, ticks=900, dt=100)
               for size in ((320, 240), (400, 300), (800, 600))}
    log_path = os.path.join(sway.dir, "presents.txt")
    open(log_path, "w").close()
    os.chmod(log_path, 0o666)  # the saver runs as the session's user
    saver = sway.start([opts.lumivex, "--layer", "background", "--ini", ini, "--seed", str(seed), "--delay", "100000"],
                       env=dict(sway.env, LUMIVEX_PRESENT_LOG=log_path))
    for _ in range(3):  # three holds, a cycle apart at least
        wait_exact(sway, saver, renders[(320, 240)], timeout=25)
        time.sleep(2.0)
    # The resized saver makes its pair again at the new size: its image equals a held frame of
    # the renderer at that size at once; its strip may keep a cell of a longer line.
    sway.swaymsg("output HEADLESS-1 resolution 400x300")
    wait_exact(sway, saver, renders[(400, 300)], timeout=25, strip=False)
    time.sleep(2.0)
    wait_exact(sway, saver, renders[(400, 300)], timeout=25, strip=False)
    # Scale 2: a buffer of 800x600 under a surface of 400x300.
    sway.swaymsg("output HEADLESS-1 resolution 800x600 scale 2")
    wait_exact(sway, saver, renders[(800, 600)], timeout=25, strip=False)
    time.sleep(2.0)
    wait_exact(sway, saver, renders[(800, 600)], timeout=25, strip=False)
    saver.send_signal(signal.SIGTERM)
    ends_with(saver, 0, 3, "--layer, SIGTERM")
    check(output_of(saver) == "", "standard error: %r" % output_of(saver))

    presents = [dict(field.split("=") for field in line.split()[1:]) for line in open(log_path)]
    nothing = [p for p in presents if p["whole"] == "0" and p["rects"] == "0"]
    check(len(nothing) > len(presents) // 5, "only %d of %d presents changed nothing" % (len(nothing), len(presents)))
    sent = [p for p in nothing if p["commits"] != "0"]
    check(not sent, "%d presents that changed nothing committed, the first: %s" % (len(sent), sent[:1]))
    morph = [p for p in presents if p["commits"] != "0" and p["cleared"] != "0" and p["plotted"] != "0"]
    by_points = [p for p in morph if p["points"] != "0" and int(p["converted"]) <= 800 * 16]
    check(len(by_points) > len(morph) * 9 // 10, "only %d of %d frames that moved the points went point by point"
          % (len(by_points), len(morph)))
    cells = sum(p["damage"] == "cells" for p in morph)
    check(cells > 0, "the damage was never given in cells")
    log("ok: %d presents: %d changed nothing and committed nothing; %d of %d frames that moved the points went point "
        "by point, %d with the cells' damage" % (len(presents), len(nothing), len(by_points), len(morph), cells))

