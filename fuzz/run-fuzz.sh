#!/usr/bin/env bash
# Runs fuzz targets one after the other: every seed of fuzz/corpus/NAME, then SECONDS of fuzzing.
# usage: run-fuzz.sh BUILD_FUZZ_DIR SECONDS [NAME...]   (no names: every target of the build)
# FUZZ_FLAGS adds libFuzzer options (for example -runs=N instead of a time). One process a target:
# the corpus directory is not read again while it runs (-reload=0).
# Prints per target executions, executions per second and coverage. A crash (or leak, timeout,
# out-of-memory) leaves its input in fuzz/findings/NAME/ and makes the exit status 1. AddressSanitizer
# keeps 16 MB of freed blocks in quarantine, not 256: an input frees a few kilobytes, and fresh
# pages for every allocation would cost the targets half their speed.
set -uo pipefail

build=$1
seconds=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  mapfile -t names < "$build/targets.txt"
fi

failed=0
summary=()
for name in "${names[@]}"; do
  [ -n "$name" ] || continue
  binary=$build/${name}_fuzz
  seeds=$here/corpus/$name
  work=$build/corpus/$name        # what fuzzing adds, kept for the next run
  findings=$here/findings/$name
  log=$build/$name.log
  mkdir -p "$work" "$findings"
  if [ ! -x "$binary" ]; then
    echo "run-fuzz: $binary is not built" >&2
    failed=1
    continue
  fi
  echo "run-fuzz: $name for $seconds s (log: $log)"
  ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16} \
  UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    "$binary" -max_total_time="$seconds" -print_final_stats=1 -timeout=30 -rss_limit_mb=2048 -reload=0 \
      -artifact_prefix="$findings/" ${FUZZ_FLAGS:-} "$work" "$seeds" > "$log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1)
  corpus=$(find "$work" -type f | wc -l)
  if [ $status -ne 0 ]; then
    failed=1
    result="FAILED (status $status; inputs in $findings)"
    grep -m 5 -E 'ERROR|runtime error|lumivex fuzz|Test unit written' "$log" >&2
  else
    result="no finding"
  fi
  summary+=("$(printf '%-18s %12s executions %8s exec/s  %-22s corpus %6s  %s' \
    "$name" "${runs:-?}" "${speed:-?}" "${cov:-cov: ?}" "$corpus" "$result")")
done

echo "run-fuzz: $seconds s per target"
printf '%s\n' "${summary[@]}"
exit $failed
