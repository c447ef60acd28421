#!/usr/bin/env bash
# Installs what building and testing Lumivex needs, where it is missing.
# On Debian (and Ubuntu) it uses apt-get; elsewhere it says what to install.
set -euo pipefail

packages=(g++ cmake make libgtest-dev libbenchmark-dev libpng-dev libgif-dev
  # The fuzz targets: clang brings libFuzzer and the sanitizers' runtimes.
  clang
  # The Windows builds and their end-to-end tests under Wine.
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine64 xvfb xdotool imagemagick x11-utils python3
  # The native Linux saver, and its tests against a real host and of its installed files.
  libx11-dev libxext-dev xsecurelock libxml2-utils desktop-file-utils
  # Wayland: the client library and protocols, and headless sway with grim for its tests.
  libwayland-dev wayland-protocols sway grim
  # Release files (make dist): the Windows installer, the Debian package and its checks.
  nsis dpkg-dev lintian)

missing=()
if command -v dpkg-query >/dev/null 2>&1; then
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
else
  echo "install-deps: not a Debian system; please install: ${packages[*]}" >&2
  exit 0
fi

[ ${#missing[@]} -eq 0 ] && exit 0
echo "install-deps: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
