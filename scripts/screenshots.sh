#!/usr/bin/env bash
# The README's screenshots under a real window manager (openbox on Xvfb) on
# a 1366x768 screen: the main window (fresh, with an estimate, during a
# download), its questions and messages, the converter, the options, the
# about box, the tile viewer and joiner opened beside the main window, and
# the Re-Download window after a run. Writes
# docs/screenshot-*.png from the bundle in build/bin, whose
# kestrane-showcase (a program of the build, not installed) puts the
# windows into these states. scripts/picker-screenshots.sh takes the area
# picker's.
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
x11_start 93 1366x768
cp -r "$bundle" "$work/bin"
tasks=$work/tasks
mkdir -p "$tasks"

# shot STATE FILE [ARGS...]: the showcase in STATE, then a picture of the
# screen; AFTER (a shell command), when set, runs before the picture.
AFTER=
shot() {
  local state=$1 file=$2
  shift 2
  "$work/bin/kestrane-showcase" --showcase "$state" "$@" >/dev/null 2>&1 &
  local pid=$!
  sleep "${SHOT_WAIT:-4}"
  [ -n "$AFTER" ] && eval "$AFTER"
  xdotool mousemove 1360 760 2>/dev/null || true
  import -window root "$work/shot.png"
  # Small files: 256 colours are plenty for windows.
  convert "$work/shot.png" -colors 256 "PNG8:docs/$file"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  AFTER=
  echo "docs/$file"
}
close_tool() { # close_tool TITLE: the tool program the showcase started
  local id pid
  for id in $(xdotool search --name "$1" 2>/dev/null); do
    pid=$(xdotool getwindowpid "$id" 2>/dev/null) || continue
    kill "$pid" 2>/dev/null || true
  done
}

# A service whose tiles fail at first: the demo task gives them up, for
# the Re-Download window; then one that answers at once.
e2e_start_service "$work/server.out" "$work/server.err" --fail-first 3 \
  --faults 500
e2e_point_hosts "$port"
cli=$work/bin/kestrane-cli
KESTRANE_PACING_SCALE=0 "$cli" download --task demo --path "$tasks" \
  --left -122.3400 --right -122.3375 --top 47.6010 --bottom 47.6000 \
  --zoom 18 >/dev/null 2>&1 || true
# The list's addresses name this service: the re-download runs against it.
shot redownload screenshot-redownload.png --ftl "$tasks/demo_failed.ftl"
e2e_stop_service
e2e_start_service "$work/server.out" "$work/server.err"
e2e_point_hosts "$port"
printf '[IniParas]\r\nDefaultPath=%s\r\n' "$tasks" >>"$work/bin/ini/config.ini"
KESTRANE_PACING_SCALE=0 "$cli" download --task city --path "$tasks" \
  --left -122.342 --right -122.336 --top 47.6045 --bottom 47.6005 \
  --zoom 18 >/dev/null 2>&1 || true
"$cli" plan --path "$tasks" --task seattle --left -122.345 --right -122.33 \
  --top 47.612 --bottom 47.602 --zoom 18 >/dev/null

shot greeting screenshot-greeting.png
shot estimate screenshot-estimate.png
SHOT_WAIT=8 shot download screenshot-main.png --task "$tasks/seattle.ktsk"
shot restart screenshot-restart.png --task "$tasks/city.ktsk"
shot longtask screenshot-longtask.png
shot message screenshot-converter.png
shot options screenshot-options.png
shot opener screenshot-opener.png
shot about screenshot-about.png
SHOT_WAIT=6 shot viewer screenshot-tileview-beside.png --task "$tasks/city.ktsk"
close_tool "^Tile Viewer"
# The joiner opened on the task; Tab to "Join" and press it.
AFTER='xdotool search --sync --name "^Tile Joiner$" windowactivate --sync;
  xdotool key Tab Tab Tab Tab Tab Tab space; sleep 3' \
  SHOT_WAIT=5 shot joiner screenshot-tilejoin.png --task "$tasks/city.ktsk"
close_tool "^Tile Joiner$"
