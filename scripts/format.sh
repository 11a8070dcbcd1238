#!/usr/bin/env bash
# Formats every C++ file of the tree with the repository's .clang-format.
#   scripts/format.sh          rewrites the files in place
#   scripts/format.sh --check  lists the files that differ, exits 1 if any
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
  bad=0
  for f in "${files[@]}"; do
    if ! clang-format --style=file "$f" | cmp -s - "$f"; then
      echo "$f"
      bad=1
    fi
  done
  exit "$bad"
fi
clang-format --style=file -i "${files[@]}"
