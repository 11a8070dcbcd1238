#!/usr/bin/env bash
# The area picker's screenshots in docs/, taken under Xvfb from the bundle:
# the world, a searched province, and a city with two earlier tasks and the
# tile grid over a drawn area.   scripts/picker-screenshots.sh [BUNDLE]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bundle=${1:-$root/build/bin}
work=$(mktemp -d /tmp/kestrane-shots-XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
cp -r "$bundle" "$work/app"
mkdir -p "$work/tasks"
printf '[IniParas]\r\nDefaultPath=%s\r\n' "$work/tasks" >"$work/app/ini/config.ini"
"$work/app/kestrane-cli" plan --path "$work/tasks" --task louvre --left 2.325 \
  --right 2.345 --top 48.866 --bottom 48.857 --zoom 17 >/dev/null
"$work/app/kestrane-cli" plan --path "$work/tasks" --task montmartre \
  --left 2.33 --right 2.35 --top 48.892 --bottom 48.882 --zoom 17 >/dev/null

export DISPLAY=:95
Xvfb :95 -screen 0 1280x800x24 >/dev/null 2>&1 &
pids+=($!)
sleep 1
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1
QT_QPA_PLATFORM=xcb "$work/app/kestrane" >/dev/null 2>&1 &
pids+=($!)
sleep 3
shot() { xdotool mousemove 1270 790; sleep 0.5; import -window root "$root/docs/$1"; }

xdotool mousemove 608 300 click 1 # the main window's "Map..." button
sleep 2
shot screenshot-picker-world.png
xdotool type --delay 60 "bay"
sleep 1
xdotool mousemove 999 195 click 1 # "Bayern, Germany" in the drop-down
sleep 1
shot screenshot-picker-province.png
xdotool mousemove 1050 94 click 1
xdotool key ctrl+a
xdotool type --delay 60 "Paris"
xdotool key Return
sleep 1
xdotool key Tab Tab # from the search field to the zoom level: 17
xdotool key ctrl+a
xdotool type "17"
xdotool key Tab
xdotool mousemove 470 380 click --repeat 3 4 # wheel: three steps in
sleep 0.5
xdotool mousemove 330 300 keydown shift mousedown 1
for i in $(seq 1 10); do
  xdotool mousemove $((330 + i * 30)) $((300 + i * 18))
  sleep 0.05
done
xdotool mouseup 1 keyup shift
sleep 0.5
shot screenshot-picker-city.png
