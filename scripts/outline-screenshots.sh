#!/usr/bin/env bash
# The screenshots of areas given as outlines, under a real window manager
# (openbox on Xvfb) on a 1366x768 screen, from the bundle's
# kestrane-showcase: the area picker on a province with "Use outline"
# ticked, and the tile viewer drawing the outline of an L-shaped area over
# its tiles (downloaded from the sample service).
#   scripts/outline-screenshots.sh [BUNDLE]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bundle=${1:-$root/build/bin}
work=$(mktemp -d /tmp/kestrane-shots-XXXXXX)
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
x11_start 96 1366x768
cp -r "$bundle" "$work/bin"
tasks=$work/tasks
mkdir -p "$tasks"

# shot STATE FILE [ARGS...]: the showcase in STATE, then a picture of the
# screen.
shot() {
  local state=$1 file=$2
  shift 2
  "$work/bin/kestrane-showcase" --showcase "$state" "$@" >/dev/null 2>&1 &
  local pid=$!
  sleep "${SHOT_WAIT:-5}"
  xdotool mousemove 1360 760 2>/dev/null || true
  import -window root "$work/shot.png"
  # Small files: 256 colours are plenty for windows.
  convert "$work/shot.png" -colors 256 "PNG8:docs/$file"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  echo "docs/$file"
}

shot picker-outline screenshot-picker-outline.png

# An L over a few blocks of a city, its tiles from the sample service.
cat >"$work/city-l.geojson" <<'EOS'
{"type": "Polygon", "coordinates": [[
 [-122.3420, 47.6005], [-122.3360, 47.6005], [-122.3360, 47.6020],
 [-122.3395, 47.6020], [-122.3395, 47.6045], [-122.3420, 47.6045],
 [-122.3420, 47.6005]]]}
EOS
e2e_start_service "$work/server.out" "$work/server.err"
e2e_point_hosts "$port"
KESTRANE_PACING_SCALE=0 "$work/bin/kestrane-cli" download --task city \
  --path "$tasks" --area-from "$work/city-l.geojson" --zoom 18 \
  >/dev/null 2>&1 || true
SHOT_WAIT=7 shot viewer-outline screenshot-tileview-outline.png \
  --task "$tasks/city.ktsk"
