"""Runs one command on a display of its own: a fresh Xvfb, stopped when the command ends.

usage: under_xvfb.py COMMAND [ARG...]   (the command's exit code is the script's; a command still
running after 100 s is killed and the script fails, before CTest's own limit, so nothing is left)
"""
import contextlib
import os
import subprocess
import sys


@contextlib.contextmanager
def xvfb_display():
    """A fresh Xvfb on a display number it picks itself (-displayfd: no race with other tests)."""
    read_end, write_end = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "640x480x24", "-nolisten", "tcp"],
                              pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    try:
        with os.fdopen(read_end) as numbers:
            number = numbers.readline().strip()
        if not number:
            raise SystemExit("Xvfb did not start")
        yield ":" + number
    finally:
        server.terminate()
        try:
            server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()


def main():
    with xvfb_display() as display:
        try:
            return subprocess.run(sys.argv[1:], env=dict(os.environ, DISPLAY=display), timeout=100).returncode
        except subprocess.TimeoutExpired:
            print("under_xvfb.py: %s still running after 100 s, killed" % sys.argv[1], file=sys.stderr)
            return 1


if __name__ == "__main__":
    sys.exit(main())
