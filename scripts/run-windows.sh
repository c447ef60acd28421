#!/usr/bin/env bash
# Runs lumivex64.scr with "/s" under Wine with the shipped definitions: on the user's display, or,
# where there is none, under Xvfb for a few seconds, saving a screenshot.
# Usage: run-windows.sh SCR INI SCREENSHOT
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)  # before any cd: $0 may be relative
source "$here/xvfb.sh"

scr=$(realpath "$1")
ini=$(realpath "$2")
shot=$(realpath -m "$3")
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)

# A prefix of our own beside the build, made once (about 10 s), so the user's ~/.wine stays untouched.
export WINEPREFIX=${LUMIVEX_WINEPREFIX:-$(realpath -m "$(dirname "$scr")/wine-run")}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -d "$WINEPREFIX/drive_c" ]; then
  echo "run: making a Wine prefix in $WINEPREFIX"
  env -u DISPLAY "$wine" wineboot -i >/dev/null 2>&1
  "$wineserver" -w
fi

# The saver reads lumivex.ini from its current directory.
cd "$(dirname "$ini")"

if [ -n "${DISPLAY:-}" ]; then
  echo "run: lumivex64.scr /s on $DISPLAY; move the mouse or press a key to end it"
  code=0
  "$wine" "$scr" /s || code=$?
  echo "run: the saver ended with exit code $code"
  exit 0
fi

xvfb=""
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  return 0
}
trap cleanup EXIT INT TERM

start_xvfb

echo "run: no display; running lumivex64.scr /s under Xvfb on $DISPLAY for a few seconds"
"$wine" "$scr" /s &
sleep 6
mkdir -p "$(dirname "$shot")"
python3 "$here/x11_screenshot.py" "$shot"
echo "run: screenshot saved to $shot"
