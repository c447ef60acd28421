#!/usr/bin/env bash
# Installs what a part of Lumivex needs, where it is missing: install-deps.sh GROUP...
# Each make target asks only for its own groups (see the Makefile); `all` is every group.
# On Debian (and Ubuntu) it uses apt-get; elsewhere it says what to install. When everything is
# there it prints nothing and does not touch apt.
set -euo pipefail

# One function per group; each adds its packages to `packages`. A new group is a new function,
# named group_NAME, and a line in `all` below.

# The native saver and renderer: what make run builds.
group_native() {
  # python3: the build configures its Python test harnesses even when they are not run, and make
  # run takes its screenshot with it.
  # lumivex speaks X11 and Wayland: Xlib (with XCB's Present, to follow the display's refresh),
  # libwayland-client and the protocols it is built from.
  packages+=(g++ cmake make python3 libpng-dev libgif-dev libx11-dev libxext-dev libx11-xcb-dev libxcb-present-dev
    libwayland-dev wayland-protocols)
}

# The libraries of the default build's unit tests and benchmarks (make build, make bench), and
# pytest, which runs the Python tests and the real-host cases.
group_native_tests() {
  packages+=(libgtest-dev libbenchmark-dev python3-pytest)
}

# A run without a display: a virtual X server (scripts/x11_screenshot.py reads it with libX11).
group_headless() {
  packages+=(xvfb)
}

# The native saver's tests against real hosts (Xvfb, xsecurelock) and of its installed files.
group_x11_tests() {
  packages+=(python3 python3-pytest xvfb xdotool imagemagick x11-utils xsecurelock libxml2-utils desktop-file-utils)
}

# The native saver's tests on Wayland: headless sway, and grim for its screenshots.
group_wayland_tests() {
  packages+=(python3 python3-pytest sway grim)
}

# The native saver's Wayland part whole: what builds it and what tests it.
group_wayland() {
  packages+=(libwayland-dev wayland-protocols)
  group_wayland_tests
}

# The Windows builds (MinGW-w64): what make build-windows and make dist use.
group_windows() {
  packages+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64)
}

# The Windows saver under Wine: make run-windows and the end-to-end tests.
group_windows_tests() {
  packages+=(wine64 python3 python3-pytest xvfb xdotool imagemagick x11-utils)
}

# The fuzz targets: clang brings libFuzzer and the sanitizers' runtimes.
group_fuzz() {
  packages+=(clang)
}

# Release files (make dist): the Windows installer, the Debian package and its checks.
group_dist() {
  packages+=(nsis dpkg-dev lintian)
}

# The browser build (Debian's Emscripten, make web): it runs through cmake, and the server of make
# run-web is Python's.
group_web() {
  packages+=(cmake make python3 emscripten)
}

# The web pages' tests and benchmark in headless Chromium driven by Selenium; the tests read
# pictures with ImageMagick.
group_web_tests() {
  packages+=(chromium chromium-driver python3-selenium python3-pytest imagemagick)
}

# Every group: what `make test` needs.
group_all() {
  group_native
  group_native_tests
  group_headless
  group_x11_tests
  group_wayland
  group_windows
  group_windows_tests
  group_fuzz
  group_dist
  group_web
  group_web_tests
}

if [ $# -eq 0 ]; then
  echo "usage: install-deps.sh GROUP... (groups: $(declare -F | sed -n 's/^declare -f group_//p' | tr '_\n' '- '))" >&2
  exit 2
fi
packages=()
for group in "$@"; do
  if ! declare -F "group_${group//-/_}" >/dev/null; then
    echo "install-deps: no group '$group'" >&2
    exit 2
  fi
  "group_${group//-/_}"
done
# Each package once, in order.
mapfile -t packages < <(printf '%s\n' "${packages[@]}" | awk '!seen[$0]++')

if ! command -v dpkg-query >/dev/null 2>&1; then
  echo "install-deps: not a Debian system; please install: ${packages[*]}" >&2
  exit 0
fi

# One quiet query for them all: a package that is not installed shows no "ii" line.
installed=$(dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' "${packages[@]}" 2>/dev/null | awk '$1 == "ii" {print $2}' || true)
missing=()
for p in "${packages[@]}"; do
  grep -qxF "$p" <<<"$installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
