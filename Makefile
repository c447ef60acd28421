# Lumivex: the two commands of the README, and a few more.
.PHONY: all deps build test run bench clean

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

# Medians of five repetitions; the table and the ratios to the floors come at the end.
bench: deps
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS) --target lumivex_bench
	./build/default/bench/lumivex_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
	  --benchmark_color=false --benchmark_out=build/default/bench.json --benchmark_out_format=json \
	  | tee build/default/bench.txt

clean:
	rm -rf build out
