#!/usr/bin/env bash
# The README's screenshots under a real window manager (openbox on Xvfb):
# the main window with the estimate line, the converter beside a message
# box, and the Re-Download window after a run. Writes docs/screenshot-*.png
# from the bundle in build/bin, whose kestrane-showcase (a program of the
# build, not installed) puts the windows into these states.
set -euo pipefail
cd "$(dirname "$0")/.."
bundle=$(pwd)/build/bin
work=$(mktemp -d)
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
source tests/support/x11_lib.sh
source tests/support/e2e_lib.sh
cleanup() {
  e2e_stop_service
  x11_stop
  rm -rf "$work"
}
trap cleanup EXIT
x11_start 93
cp -r "$bundle" "$work/bin"

shot() { # shot STATE FILE [ARGS...]
  local state=$1 file=$2
  shift 2
  "$work/bin/kestrane-showcase" --showcase "$state" "$@" >/dev/null 2>&1 &
  local pid=$!
  sleep "${SHOT_WAIT:-4}"
  import -window root "docs/$file"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  echo "docs/$file"
}

shot estimate screenshot-estimate.png
shot message screenshot-converter.png
e2e_start_service "$work/server.out" "$work/server.err" --fail-first 3 \
  --faults 500
e2e_point_hosts "$port"
KESTRANE_PACING_SCALE=0 "$work/bin/kestrane-cli" download --task demo \
  --path "$work/tiles" --left -122.3400 --right -122.3375 --top 47.6010 \
  --bottom 47.6000 --zoom 18 >/dev/null 2>&1 || true
shot redownload screenshot-redownload.png --ftl "$work/tiles/demo_failed.ftl"
