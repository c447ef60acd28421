#!/usr/bin/env bash
# Runs the native saver lumivex full screen with the given definitions: on the user's display, or,
# where there is none, under Xvfb for a few seconds, saving a screenshot.
# Usage: run-linux.sh LUMIVEX INI SCREENSHOT
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)  # before any cd: $0 may be relative
source "$here/xvfb.sh"

saver=$(realpath "$1")
ini=$(realpath "$2")
shot=$(realpath -m "$3")

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: lumivex --fullscreen on ${WAYLAND_DISPLAY:-$DISPLAY}; move the mouse or press a key to end it"
  code=0
  "$saver" --fullscreen --ini "$ini" || code=$?
  echo "run: the saver ended with exit code $code"
  exit 0
fi

xvfb="" pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  return 0
}
trap cleanup EXIT INT TERM

start_xvfb

echo "run: no display; running lumivex --fullscreen under Xvfb on $DISPLAY for a few seconds"
"$saver" --x11 --fullscreen --ini "$ini" &
pid=$!
sleep 5
kill -0 "$pid" 2>/dev/null || { wait "$pid" || echo "run: the saver ended early with exit code $?" >&2; exit 1; }
mkdir -p "$(dirname "$shot")"
python3 "$here/x11_screenshot.py" "$shot"
kill -TERM "$pid"
code=0
wait "$pid" || code=$?
pid=""
echo "run: screenshot saved to $shot; the saver ended on SIGTERM with exit code $code"
