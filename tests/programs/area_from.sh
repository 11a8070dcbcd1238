#!/usr/bin/env bash
# kestrane-cli plan --area-from: the box around a GeoJSON file's features
# makes the same task as the four edges typed, and an unreadable file, a
# FIFO and a file with a point off the globe are refused as input;
# --corridor widens a track's area by its half-width, and one without
# --area-from or without a positive number of metres is refused.
# $1: the bundle folder (build/bin).
set -u
bundle=${1:?usage: area_from.sh BUNDLE_DIR}
cli="$bundle/kestrane-cli"
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrane-area-XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# A point and a line whose box is the area of plan.sh.
cat >"$work/area.geojson" <<'EOS'
{"type": "FeatureCollection", "features": [
 {"type": "Feature", "properties": {},
  "geometry": {"type": "Point", "coordinates": [-122.335, 47.605]}},
 {"type": "Feature", "properties": {},
  "geometry": {"type": "LineString",
               "coordinates": [[-122.34, 47.6], [-122.33, 47.61]]}}]}
EOS
"$cli" plan --path "$work/file" --area-from "$work/area.geojson" --zoom 18 \
  >"$work/file.out" 2>&1 || fail "plan --area-from exited $?: $(cat "$work/file.out")"
"$cli" plan --path "$work/typed" --left -122.34 --right -122.33 --top 47.61 \
  --bottom 47.6 --zoom 18 >"$work/typed.out" 2>&1 || fail "plan with edges failed"
grep -qx 'Total images: 108' "$work/file.out" || fail "not 108 tiles"
for key in MinX MinY MaxX MaxY; do
  a=$(grep -m1 "^$key=" "$work/file/newtask.ktsk")
  b=$(grep -m1 "^$key=" "$work/typed/newtask.ktsk")
  [ "$a" = "$b" ] || fail "$key differs: $a against $b"
done

"$cli" plan --path "$work/none" --area-from "$work/missing.kml" \
  >"$work/none.out" 2>&1
rc=$?
[ "$rc" -eq 2 ] || fail "missing area file exited $rc, not 2"
grep -q "Cannot open file $work/missing.kml" "$work/none.out" ||
  fail "no message for the missing file"
[ -e "$work/none" ] && fail "a folder was made for a refused task"

# A FIFO is refused at once instead of waiting for a writer, and a point
# off the globe refuses the file with its value; neither makes a task.
mkfifo "$work/pipe.kml"
printf '{"type": "Point", "coordinates": [1e308, 10]}' >"$work/far.geojson"
for row in "pipe.kml|Cannot open file $work/pipe.kml" \
  "far.geojson|Longitude outside -180..180 in $work/far.geojson: 1e+308"; do
  file=${row%%|*}
  message=${row#*|}
  rc=0
  timeout 20 "$cli" plan --path "$work/refused" --area-from "$work/$file" \
    --zoom 18 >"$work/refused.out" 2>&1 || rc=$?
  [ "$rc" -eq 2 ] || fail "$file: exit $rc, not 2"
  grep -qF "$message" "$work/refused.out" ||
    fail "$file: no '$message' in $(cat "$work/refused.out")"
done
[ -e "$work/refused" ] && fail "a folder was made for a refused area file"

# A track north-south: 500 m either side of it reaches past its box.
cat >"$work/track.gpx" <<'EOS'
<?xml version="1.0"?>
<gpx version="1.1" creator="test" xmlns="http://www.topografix.com/GPX/1/1">
<trk><trkseg><trkpt lat="47.6" lon="-122.335"/><trkpt lat="47.61" lon="-122.335"/>
</trkseg></trk></gpx>
EOS
"$cli" plan --path "$work/strip" --area-from "$work/track.gpx" \
  --corridor 500 --zoom 16 >"$work/strip.out" 2>&1 ||
  fail "plan --corridor exited $?: $(cat "$work/strip.out")"
"$cli" plan --path "$work/line" --area-from "$work/track.gpx" --zoom 16 \
  >"$work/line.out" 2>&1 || fail "plan of the track exited $?"
strip=$(grep -m1 '^Total images: ' "$work/strip.out")
line=$(grep -m1 '^Total images: ' "$work/line.out")
[ "${strip#Total images: }" -gt "${line#Total images: }" ] ||
  fail "the corridor did not widen the area: $strip against $line"

width="The corridor's half-width must be a positive number of metres, at most 100000"
for row in "--corridor 20|--corridor requires --area-from" \
  "--area-from $work/track.gpx --corridor 0|$width: 0" \
  "--area-from $work/track.gpx --corridor -5|$width: -5" \
  "--area-from $work/track.gpx --corridor nan|$width: nan" \
  "--area-from $work/track.gpx --corridor 1e9|$width: 1e9" \
  "--area-from $work/track.gpx --corridor wide|$width: wide"; do
  options=${row%%|*}
  message=${row#*|}
  rc=0
  # shellcheck disable=SC2086 # the options are words
  "$cli" plan --path "$work/nocorridor" $options --zoom 16 \
    >"$work/nocorridor.out" 2>&1 || rc=$?
  [ "$rc" -eq 2 ] || fail "$options: exit $rc, not 2"
  grep -qF -- "$message" "$work/nocorridor.out" ||
    fail "$options: no '$message' in $(cat "$work/nocorridor.out")"
done
[ -e "$work/nocorridor" ] && fail "a folder was made for a refused corridor"

[ "$failures" -eq 0 ] && echo "area_from: all checks passed"
exit $((failures > 0))
