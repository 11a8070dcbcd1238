#!/usr/bin/env bash
# The area picker's screenshots in docs/, under a real window manager
# (openbox on Xvfb) on a 1366x768 screen, from the bundle's
# kestrane-showcase: a search whose match is chosen with the arrow keys,
# the match shown, and a city with three earlier tasks (two over the same
# area), the tile grid, the scale bar and the pointer's place.
#   scripts/picker-screenshots.sh [BUNDLE]
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
cleanup() {
  x11_stop
  rm -rf "$work"
}
trap cleanup EXIT
x11_start 95 1366x768
cp -r "$bundle" "$work/app"
tasks=$work/tasks
mkdir -p "$tasks"
printf '[IniParas]\r\nDefaultPath=%s\r\n' "$tasks" >"$work/app/ini/config.ini"
plan() { # plan NAME LEFT RIGHT TOP BOTTOM
  "$work/app/kestrane-cli" plan --path "$tasks" --task "$1" --left "$2" \
    --right "$3" --top "$4" --bottom "$5" --zoom 17 >/dev/null
}
plan louvre 2.325 2.345 48.866 48.857
plan louvre-again 2.325 2.345 48.866 48.857
plan montmartre 2.33 2.35 48.892 48.882

# shot STATE FILE: the showcase in STATE; KEYS (xdotool key names), when
# set, are typed after TYPED; POINTER ("X Y") is where the pointer rests.
shot() {
  "$work/app/kestrane-showcase" --showcase "$1" >/dev/null 2>&1 &
  local pid=$!
  sleep "${SHOT_WAIT:-4}"
  if [ -n "${TYPED:-}" ]; then
    xdotool type --delay 80 "$TYPED"
    sleep 0.5
    # shellcheck disable=SC2086
    xdotool key $KEYS
    sleep 1
  fi
  xdotool mousemove ${POINTER:-1360 760}
  sleep 0.5
  import -window root "$work/shot.png"
  # Small files: 256 colours are plenty for windows.
  convert "$work/shot.png" -colors 256 "PNG8:docs/$2"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  echo "docs/$2"
}

TYPED=bay KEYS="Down Down Down Down Down Down Down" \
  shot picker-world screenshot-picker-search.png
TYPED=bay KEYS="Down Down Down Down Down Down Down Return" \
  shot picker-world screenshot-picker-province.png
POINTER="1000 330" shot picker-city screenshot-picker-city.png
