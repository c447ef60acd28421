# Sourced by the run scripts: start_xvfb starts an 800x600 Xvfb on a display it picks itself
# (-displayfd), as the tests start theirs, and sets xvfb (its pid) and DISPLAY; exits 1 if it
# does not come up. The caller's cleanup kills "$xvfb".
start_xvfb() {
  local fifo number=""
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  xvfb=$!
  read -r -t 15 number <"$fifo" || true
  rm -f "$fifo"
  if [ -z "$number" ] || ! kill -0 "$xvfb" 2>/dev/null; then echo "run: Xvfb did not start" >&2; exit 1; fi
  export DISPLAY=":$number"
}
