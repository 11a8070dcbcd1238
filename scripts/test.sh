#!/usr/bin/env bash
# Runs every test of a build folder (default: build).
#   scripts/test.sh            the build of scripts/setup.sh
#   scripts/test.sh --sanitize builds build-asan with AddressSanitizer and
#                              UndefinedBehaviorSanitizer and runs it
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DKESTRANE_SANITIZE=ON \
    -DKESTRANE_WERROR=ON \
    -DKESTRANE_BENCH=OFF
  cmake --build "$dir" -j2
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --output-on-failure -j2 --timeout 600
