#!/usr/bin/env bash
# Runs clang-tidy with the repository's .clang-tidy over the product sources
# (not the tests), from the compile commands of a build folder.
#   scripts/tidy.sh [build-folder]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
[ -f "$dir/compile_commands.json" ] || cmake -S . -B "$dir" >/dev/null
tidy=$(command -v clang-tidy || command -v clang-tidy-14)
mapfile -t files < <(git ls-files '*.cpp' | grep -Ev '^(tests|bench|fuzz)/')
# GCC-only warning options in the compile commands are not clang's to judge.
"$tidy" -p "$dir" --quiet --extra-arg=-Wno-unknown-warning-option "${files[@]}"
