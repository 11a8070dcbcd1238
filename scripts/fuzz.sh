#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for a
# bounded time; fails on any crash, leak or sanitizer report.
#   scripts/fuzz.sh              12 s per target (CI)
#   scripts/fuzz.sh --seconds N  N s per target
# The corpus of each target grows in build-fuzz/corpus/<target>; a failing
# input is kept in build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=12
while [ $# -gt 0 ]; do
  case "$1" in
  --seconds) seconds="$2"; shift 2 ;;
  *) echo "usage: $0 [--seconds N]" >&2; exit 2 ;;
  esac
done

dir=${KESTRANE_FUZZ_BUILD:-build-fuzz}
targets=(fuzz_ini fuzz_ftl fuzz_numbers fuzz_http fuzz_jpeg)
targets+=(fuzz_large fuzz_area fuzz_outline)
# Targets that read their input as a file get inputs up to 1 MiB, the bound
# of a project file; an area file up to 64 KiB (GDAL reads each whole); the
# others 4 KiB.
max_len() {
  case "$1" in
  fuzz_ini | fuzz_ftl | fuzz_large) echo 1048576 ;;
  fuzz_area | fuzz_outline) echo 65536 ;;
  *) echo 4096 ;;
  esac
}

CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTRANE_FUZZ=ON -DKESTRANE_GUI=OFF -DKESTRANE_TESTS=OFF \
  -DKESTRANE_BENCH=OFF -DKESTRANE_WERROR=ON >/dev/null
cmake --build "$dir" -j2 --target "${targets[@]}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$dir/artifacts"
status=0
passed=0
failed=0
printf '%-14s %8s %10s %8s %s\n' target seconds runs corpus result
for t in "${targets[@]}"; do
  corpus="$dir/corpus/$t"
  mkdir -p "$corpus"
  log="$dir/$t.log"
  # Seed inputs live beside the sources; the grown corpus stays in build.
  seeds=()
  [ -d "fuzz/seeds/$t" ] && seeds=("fuzz/seeds/$t")
  if "$dir/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len="$(max_len "$t")" -print_final_stats=1 \
    -artifact_prefix="$dir/artifacts/$t-" "$corpus" "${seeds[@]}" \
    >"$log" 2>&1; then
    result=ok
    passed=$((passed + 1))
  else
    result="FAILED (see $log)"
    status=1
    failed=$((failed + 1))
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  printf '%-14s %8s %10s %8s %s\n' "$t" "$seconds" "${runs:-?}" \
    "$(ls "$corpus" | wc -l)" "$result"
done
echo "fuzz: $passed passed, $failed failed"
exit $status
