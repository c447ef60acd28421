# Lumivex: the two commands of the README, and a few more.
.PHONY: help all deps build check build-asan build-windows build-fuzz build-soak build-web web run-web test fuzz soak run run-windows install uninstall bench bench-x11 bench-wayland bench-web bench-page bench-hosts gallery dist clean

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# Where `make install` puts lumivex (DESTDIR is honoured too, for packaging).
PREFIX ?= /usr/local
FUZZ_SECONDS ?= 300
SOAK_TICKS ?= 10000000
# The port of make run-web's server.
WEB_PORT ?= 8123

# Each target installs only what it uses, by group of scripts/install-deps.sh, and only where it is
# missing: when all is there the check is quick and silent, and apt-get is never called.
DEPS = @bash scripts/install-deps.sh
# A preset's configure and build (CMakePresets.json's workflow presets), JOBS at once.
WORKFLOW = CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) cmake --workflow --preset

all: build ## the native build (make build)

# Every target with its line: the `## ` comment on the target's own line.
help: ## this list
	@sed -n 's/^\([a-z0-9-]*\):.*## \(.*\)/  \1|\2/p' $(firstword $(MAKEFILE_LIST)) | awk -F'|' '{printf "%-15s %s\n", $$1, $$2}'

# Everything any target needs.
deps: ## installs what every target needs (Debian's apt)
	$(DEPS) all

build: ## the native saver, lumivex-render, the unit tests (build/default)
	$(DEPS) native native-tests
	$(WORKFLOW) default

# The unit tests alone (label unit: GoogleTest's, the layers and the map), built and run.
check: ## builds and runs the unit tests alone
	$(DEPS) native native-tests
	$(WORKFLOW) check

build-asan: ## the native build with AddressSanitizer and UndefinedBehaviorSanitizer
	$(DEPS) native native-tests
	$(WORKFLOW) asan

# lumivex.scr (32-bit) and lumivex64.scr, with lumivex-render.exe and the tests' host program (the
# cross builds draw their icon with a native build of lumivex-icon: hence native).
build-windows: ## lumivex.scr and lumivex64.scr (MinGW-w64)
	$(DEPS) native windows
	$(WORKFLOW) mingw32
	$(WORKFLOW) mingw64

# The fuzz targets (clang, libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) and the soak
# (optimised, UndefinedBehaviorSanitizer), each in a build of its own.
build-fuzz: ## the fuzz targets (clang, libFuzzer)
	$(DEPS) native fuzz
	$(WORKFLOW) fuzz

build-soak: ## the soak (optimised, UndefinedBehaviorSanitizer)
	$(DEPS) native native-tests
	$(WORKFLOW) soak

# The browser build (Emscripten): the saver page and the playground in build/web/site.
# Emscripten's configure step is slow: it runs once, and the build configures again by itself
# when a CMakeLists.txt changes.
build-web: ## the browser build (Emscripten)
	$(DEPS) web
	test -f build/web/CMakeCache.txt || cmake --preset web >/dev/null
	cmake --build --preset web -j $(JOBS)

web: build-web ## the site in build/web/site
	@echo "make web: the site is in build/web/site (index.html, playground.html)"

# Serves the site on this machine only; Ctrl-C ends it.
run-web: web ## serves the site on this machine (port WEB_PORT)
	@echo "Lumivex in your browser: http://127.0.0.1:$(WEB_PORT)/ and the playground: http://127.0.0.1:$(WEB_PORT)/playground.html"
	python3 -m http.server --bind 127.0.0.1 $(WEB_PORT) --directory build/web/site

# The default tests include the end-to-end tests of lumivex64.scr under Wine (label e2e); the
# fuzz preset's tests run every fuzz target over its seeds and 20 s more (label fuzz), the soak
# preset's 200,000 ticks of the soak (label soak).
test: ## every build and every test (CI)
	$(DEPS) all
	$(MAKE) build build-web build-asan build-windows build-fuzz build-soak
	ctest --preset default -j $(JOBS)
	ctest --preset asan -j $(JOBS)
	ctest --preset fuzz -j $(JOBS)
	ctest --preset soak

# Each fuzz target for FUZZ_SECONDS; a finding leaves its input in fuzz/findings/ and fails.
fuzz: build-fuzz ## each fuzz target for FUZZ_SECONDS
	bash fuzz/run-fuzz.sh build/fuzz/fuzz $(FUZZ_SECONDS)

# The saver on the shipped file at 320x240 for SOAK_TICKS ticks of a random clock.
soak: build-soak ## the soak for SOAK_TICKS ticks
	./build/soak/tests/soak/lumivex-soak --ticks $(SOAK_TICKS) --size 320x240 resources/lumivex.ini

# The native saver full screen with the shipped gallery: on your display, or without one under
# Xvfb for a few seconds with a screenshot in out/run.png (Xvfb comes only then). No test library:
# the configure leaves the tests out until make build has installed them.
run: ## the native saver on your display, or under Xvfb with a screenshot
	$(DEPS) native $(if $(DISPLAY),,headless)
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS) --target lumivex
	@bash scripts/run-linux.sh build/default/lumivex resources/lumivex.ini out/run.png

# The real Windows saver under Wine, the same way.
run-windows: ## the Windows saver under Wine
	$(DEPS) native windows windows-tests $(if $(DISPLAY),,headless)
	cmake --preset mingw64 >/dev/null
	cmake --build --preset mingw64 -j $(JOBS) --target lumivex-scr
	@bash scripts/run-windows.sh build/mingw64/lumivex64.scr resources/lumivex.ini out/run.png

# lumivex and lumivex-render, the XScreenSaver description (under PREFIX, and where XScreenSaver's
# settings dialog reads it, /usr/share/xscreensaver/config), definitions, desktop entry, icon and
# manual pages under PREFIX, copied from the build of `make build` (run that first, as yourself):
# nothing is built here, so `sudo make install` leaves the build tree as it was. The program finds
# the installed definitions from its own place, so the same build serves any PREFIX.
install: ## installs the build of make build under PREFIX
	@test -x build/default/lumivex || { echo "make install: nothing to install; run make build first" >&2; exit 1; }
	DESTDIR="$(DESTDIR)" python3 scripts/install.py install --build build/default --prefix "$(PREFIX)"

# Removes what the last make install put (build/default/install_manifest.txt) and the folders it
# made; give the same DESTDIR.
uninstall: ## removes what make install put
	DESTDIR="$(DESTDIR)" python3 scripts/install.py uninstall --build build/default

# The README's pictures, from the shipped definitions (docs/gallery/, docs/gallery.md).
gallery: build ## the README's pictures (docs/gallery/)
	bash scripts/render-gallery-pictures.sh build/default/lumivex-render resources/lumivex.ini docs/gallery

# Medians of five repetitions; the table and the ratios to the floors come at the end.
bench: ## the benchmarks of the tick
	$(DEPS) native native-tests
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS) --target lumivex_bench
	./build/default/bench/lumivex_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
	  --benchmark_color=false --benchmark_out=build/default/bench.json --benchmark_out_format=json \
	  | tee build/default/bench.txt

# The Linux saver on a real X server: lumivex --root under Xvfb at 1920x1080 and 3840x2160 with
# the shipped file, 20 s each, CPU time of the saver and of the X server beside the tick alone.
bench-x11: ## the Linux saver's CPU time under Xvfb
	$(DEPS) native headless
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS) --target lumivex lumivex-render
	python3 scripts/bench-x11.py --lumivex build/default/lumivex --render build/default/lumivex-render \
	  | tee build/default/bench-x11.txt

# The Linux saver on a Wayland compositor: lumivex --layer background on headless sway at 1920x1080
# and 3840x2160 with the shipped file, 20 s each after 4 s, CPU time of the saver and of sway.
bench-wayland: ## the Linux saver's CPU time on headless sway
	$(DEPS) native wayland
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS) --target lumivex
	python3 scripts/bench-wayland.py --lumivex build/default/lumivex | tee build/default/bench-wayland.txt

# The tick as WebAssembly in headless Chromium beside the native one of make bench (run that first
# for the ratios).
bench-web: web ## the tick as WebAssembly in headless Chromium
	$(DEPS) web-tests
	/usr/bin/python3 bench/web/bench_web.py --site build/web/site --native build/default/bench.json

# The saver page in headless Chromium at 1920x1080 and 3840x2160, 20 s each after 4 s: CPU time
# of its renderer process, of the GPU and browser processes, beside a blank page's.
bench-page: web ## the saver page's CPU time in headless Chromium
	$(DEPS) web-tests
	/usr/bin/python3 scripts/bench-page.py --site build/web/site | tee build/web/bench-page.txt

# What each host's present costs, one after the other on the same machine: X11, Wayland, the page.
bench-hosts: bench-x11 bench-wayland bench-page ## each host's present measured one after the other

# Release files in dist/: the Windows zip and installer, the Debian package (with the Linux
# saver and lumivex-render), the web site's zip and their SHA256SUMS. It builds the programs it
# packs, not the tests: no test library, no Wine, no browser.
dist: build-windows build-web ## the release files in dist/
	$(DEPS) native dist
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS) --target lumivex lumivex-render
	cmake --build --preset default --target dist

clean: ## removes build/ and out/
	rm -rf build out
