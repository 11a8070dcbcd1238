#!/usr/bin/env bash
# The desktop program's windows under a real window manager (openbox on
# Xvfb): every caption reads exactly as given, without the program's name
# appended; the converter never stacks above the program's message box or
# its Options dialog; the Re-Download window is centred on the screen. The
# build's kestrane-showcase builds the windows as the desktop program does
# and puts them into each state.
set -euo pipefail
bundle=${1:?usage: window_captions.sh BUNDLE_DIR}
[ -x "$bundle/kestrane-showcase" ] || {
  echo "no desktop program: skipped"
  exit 0
}
work=$(mktemp -d)
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
source "$(dirname "$0")/../support/x11_lib.sh"
source "$(dirname "$0")/../support/e2e_lib.sh"
program=
cleanup() {
  [ -n "$program" ] && kill "$program" 2>/dev/null
  e2e_stop_service
  x11_stop
  rm -rf "$work"
}
trap cleanup EXIT
x11_start $((90 + RANDOM % 400))
cp -r "$bundle" "$work/bin"
version=$(sed -n 's/^project(Kestrane VERSION \([0-9.]*\).*/\1/p' \
  "$(dirname "$0")/../../CMakeLists.txt")
main="Kestrane $version"
converter='Convert "Degrees,Minutes,Seconds" to "Degrees"'

# show STATE [ARGS...]: starts the showcase, waits until `want` windows are
# mapped, and leaves their captions, bottom to top, in $work/titles.
show() {
  local state=$1 want=$2
  shift 2
  "$work/bin/kestrane-showcase" --showcase "$state" "$@" >"$work/$state.log" 2>&1 &
  program=$!
  for _ in $(seq 100); do
    x11_titles "$program" >"$work/titles" 2>/dev/null || true
    [ "$(wc -l <"$work/titles")" -ge "$want" ] && break
    sleep 0.1
  done
  sleep 0.5
  x11_titles "$program" >"$work/titles"
}
done_with() {
  kill "$program" 2>/dev/null || true
  wait "$program" 2>/dev/null || true
  program=
}
expect_titles() { # the captions, bottom to top
  local want
  want=$(printf '%s\n' "$@")
  [ "$(cat "$work/titles")" = "$want" ] ||
    fail "$state_name: captions $(tr '\n' '|' <"$work/titles"), expected $(tr '\n' '|' <<<"$want")"
}

state_name=estimate
show estimate 1
expect_titles "$main"
done_with

state_name=message
show message 3
expect_titles "$main" "$converter" "Kestrane"
done_with

state_name=options
show options 3
expect_titles "$main" "$converter" "Options"
done_with

# A failed-tile list whose tiles the sample service answers at the second
# request: the first download gives them up, the window fetches them.
e2e_start_service "$work/server.out" "$work/server.err" --fail-first 3 \
  --faults 500
e2e_point_hosts "$port"
KESTRANE_PACING_SCALE=0 "$work/bin/kestrane-cli" download --task r \
  --path "$work/out" --left -122.3400 --right -122.3375 --top 47.6010 \
  --bottom 47.6000 --zoom 18 >/dev/null 2>&1 || true
state_name=redownload
show redownload 2 --ftl "$work/out/r_failed.ftl"
expect_titles "$main" "Re-Download failed files"
id=
for w in $(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g'); do
  [ "$(xdotool getwindowname "$w")" = "Re-Download failed files" ] && id=$w
done
[ -n "$id" ] || fail "no Re-Download window"
eval "$(xdotool getwindowgeometry --shell "$id")"
cx=$((X + WIDTH / 2))
cy=$((Y + HEIGHT / 2))
# The client area's centre. openbox places a dialog centred over its main
# window (itself centred on the screen, its title bar above it), whatever
# position the program asks for: down the screen it may lie that much off.
[ $((cx - 640)) -ge -3 ] && [ $((cx - 640)) -le 3 ] ||
  fail "Re-Download window not centred across: x $X width $WIDTH"
[ $((cy - 400)) -ge -50 ] && [ $((cy - 400)) -le 50 ] ||
  fail "Re-Download window not centred down: y $Y height $HEIGHT"
done_with

[ "$failures" -eq 0 ] || exit 1
echo "window_captions: ok"
