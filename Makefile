# Lumivex: the two commands of the README, and a few more.
.PHONY: all deps build test run gallery clean

JOBS ?= $(shell nproc 2>/dev/null || echo 2)

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS)

build-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)

test: build build-asan
	ctest --preset default -j $(JOBS)
	ctest --preset asan -j $(JOBS)

run: build
	@mkdir -p out
	./build/default/lumivex-render --ticks 300 --seed 1 --dump out/run.jsonl
	@echo "lumivex-render ran 300 ticks of the shipped gallery; its dump is in out/run.jsonl"

# The README's pictures, from the shipped definitions (docs/gallery/, docs/gallery.md).
gallery: build
	bash scripts/make-gallery.sh build/default/lumivex-render resources/lumivex.ini docs/gallery

clean:
	rm -rf build out
