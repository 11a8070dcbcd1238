#!/usr/bin/env bash
# `kestrane-cli open`: the eight field lines a project file loads into the
# window, with the defaults of missing keys, and the refusal of a missing
# file.
set -euo pipefail
bundle=${1:?usage: open.sh BUNDLE_DIR}
cli=$bundle/kestrane-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# expect_open FILE EXPECTED: the output of `open FILE` must be EXPECTED.
expect_open() {
  local got
  got=$("$cli" open "$1") || fail "open $1 exited with $?"
  [ "$got" = "$2" ] || fail "open $1 printed:
$got
expected:
$2"
}

project() { # project FILE DIR [AREA LINES...]
  local file=$1 dir=$2
  shift 2
  {
    printf '[MapsType]\r\nMapsType=21\r\n\r\n[AREA]\r\n'
    printf '%s\r\n' "$@"
    printf '\r\n[Zoom]\r\nZoom=18\r\n\r\n[Dir]\r\nDir=%s\r\n' "$dir"
  } >"$file"
}

area=(LeftLongitude=-122.34 RightLongitude=-122.33 TopLatitude=47.61
  BottomLatitude=47.6)

# A North task.
project "$work/mytask.ktsk" 0 "${area[@]}"
expect_open "$work/mytask.ktsk" "Left Longitude: -122.34
Right Longitude: -122.33
Top Latitude: 47.61
Bottom Latitude: 47.6
Zoom level: 18
Direction: North
Path to save: $work/
Task name: mytask.ktsk"

# Direction 2 is South; an index outside the list names no direction.
project "$work/south.ktsk" 2 "${area[@]}"
"$cli" open "$work/south.ktsk" | grep -qx 'Direction: South' ||
  fail "Dir=2 is not South"
project "$work/odd.ktsk" 9 "${area[@]}"
"$cli" open "$work/odd.ktsk" | grep -qx 'Direction: ' ||
  fail "Dir=9 must print an empty direction"

# Comma coordinates are shown as stored.
project "$work/comma.ktsk" 0 LeftLongitude=116,25 RightLongitude=116,5 \
  TopLatitude=39,9 BottomLatitude=39,75
"$cli" open "$work/comma.ktsk" | grep -qx 'Left Longitude: 116,25' ||
  fail "comma coordinates changed"

# Not a project file at all: every key takes its default.
echo "just text" >"$work/other.ktsk"
expect_open "$work/other.ktsk" "Left Longitude: 
Right Longitude: 
Top Latitude: 
Bottom Latitude: 
Zoom level: 0
Direction: North
Path to save: $work/
Task name: other.ktsk"

# A name without a folder lies in the current folder.
(cd "$work" && "$cli" open mytask.ktsk) | grep -qx 'Path to save: ./' ||
  fail "a bare file name must give the current folder"

# A project file written by `plan` shows the numbers as the task wrote them.
"$cli" plan --path "$work/planned" --task p --left -122.340 --right -122.33 \
  --top 47.61 --bottom 47.600 --zoom 18 --dir East >/dev/null ||
  fail "plan failed"
expect_open "$work/planned/p.ktsk" "Left Longitude: -122.34
Right Longitude: -122.33
Top Latitude: 47.61
Bottom Latitude: 47.6
Zoom level: 18
Direction: East
Path to save: $work/planned/
Task name: p.ktsk"

# A missing file.
set +e
err=$("$cli" open "$work/none.ktsk" 2>&1 >/dev/null)
rc=$?
set -e
[ "$rc" -eq 2 ] || fail "missing file: exit $rc, expected 2"
[ "$err" = "Cannot open file $work/none.ktsk" ] || fail "missing file: $err"

echo "open: ok"
