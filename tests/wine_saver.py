"""The Windows saver under Wine, for the tests built on tests/harness.py: a session that runs Wine
programs on its Xvfb (the fixture wine of tests/conftest.py), and the checks of a full-screen saver's
picture.

  Session(opts, folder, prefix, width=320, height=240)
      prefix is a harness.Wine; .saver() and .host() need opts.scr64 and opts.host;
      .program(*args, cwd), .saver(*args, cwd), .host(*args, timeout) -> (exit code, output),
      .wait_picture(process, timeout); the prefix's programs end with the session.
  check_saver_picture(s, process, status) -> the points' colour
"""
import re
import subprocess
import time

import harness
from harness import PALETTE_RGB, STRIP, Failure, check, log


class Session(harness.Session):
    def __init__(self, opts, folder, prefix, width=320, height=240):
        super().__init__(opts, folder, width, height)
        self.prefix = prefix
        # The pointer rests away from the corner; a saver reads it once at start-up.
        self.xdotool("mousemove", "100", "100")

    def stop_programs(self):
        self.prefix.kill()
        super().stop_programs()

    def program(self, *args, cwd=None):
        """Starts a Wine program without waiting; its output goes to a file in the case folder."""
        return self.start([harness.Wine.WINE] + list(args), env=self.prefix.env(self.display), cwd=cwd)

    def host(self, *args, timeout=30):
        """Runs the Windows test host to the end; its exit code and output."""
        process = self.program(self.opts.host, *args)
        code = harness.wait_exit(process, timeout, "the test host (%s)" % args[0])
        return code, harness.output_of(process).replace("\r\n", "\n")

    def saver(self, *args, cwd=None):
        return self.program(self.opts.scr64, *args, cwd=cwd)

    def wait_picture(self, process, timeout=20):
        """Waits until the saver's image area (the screen less its lowest row) shows points."""
        return self.wait_points(process, self.width, self.height - 1, timeout)


def check_frame(shot, height, status):
    """One frame of a full-screen saver: the strip, and points of one colour on black below it.
    Returns the points' colour."""
    image = shot.colours(STRIP, height - 1)
    lit = image - {(0, 0, 0)}
    check((0, 0, 0) in image, "the image has no black ground")
    check(len(lit) == 1, "the image shows %d colours besides black, expected one: %s" % (len(lit), sorted(lit)[:5]))
    strip = shot.colours(0, STRIP)
    if status:
        # Black text on a white band; the font's smoothing adds greys between them.
        check({(0, 0, 0), (255, 255, 255)} <= strip and all(r == g == b for r, g, b in strip),
              "the status strip shows %s, expected black text on white" % sorted(strip)[:5])
        check(shot.pixel(0, 0) == (255, 255, 255), "the status line does not start at the window's corner")
    else:
        check(strip == {(0, 0, 0)}, "the status strip is not black: %s" % sorted(strip)[:5])
    return next(iter(lit))


def saver_windows(s):
    """Geometries of the X windows with the saver's class hint, and what xwininfo printed. Only the
    class is matched, not the window's name, which Wine may set when it likes."""
    result = subprocess.run(["xwininfo", "-display", s.display, "-root", "-tree"], capture_output=True,
                            text=True, timeout=20)
    tree = result.stdout + result.stderr
    return re.findall(r'\("lumivex64\.scr" "lumivex64\.scr"\)\s+(\d+x\d+[+-]\d+[+-]\d+)', tree), tree


def check_saver_picture(s, process, status):
    """A full-screen saver: the window's geometry, then frames until one is held (its colour is a
    palette colour; while morphing the colour is a blend)."""
    expected = "%dx%d+0+0" % (s.width, s.height - 1)
    # Once seen on CI: a picture on the screen and no such window in the tree. The walk of the tree
    # can race the helper windows that Wine makes and drops, so it is asked again for a while.
    deadline = time.time() + 5
    geometry, tree = saver_windows(s)
    while expected not in geometry and time.time() < deadline:
        check(process.poll() is None, "the saver ended by itself (exit code %s) after its first picture"
              % process.poll())
        time.sleep(0.2)
        geometry, tree = saver_windows(s)
    if expected not in geometry:
        log("the X window tree:\n" + tree)
    check(expected in geometry, "the saver's window is %s, expected %s (the screen less its lowest row)"
          % (geometry, expected))
    # A hold shows the palette colour for 1.5 s of every cycle: several cycles, however slowly the
    # screenshots come.
    deadline = time.time() + 4 * harness.CYCLE
    while time.time() < deadline:
        colour = check_frame(s.shot(), s.height, status)
        if colour in PALETTE_RGB:
            return colour
        check(process.poll() is None, "the saver ended")
        time.sleep(0.1)
    raise Failure("no frame within %d s shows its points in a palette colour" % (4 * harness.CYCLE))
