#!/usr/bin/env bash
# A province's outline against its box: the Natural Earth admin-1 outline
# of a province whose box is at least twice its area (Baja California Sur
# by default) is exported to GeoJSON into a work folder, a task is planned
# with it as its area file (`plan --area-from`) at a zoom, and downloaded
# from the loopback sample tile service. Reports the box's tiles and the
# tiles inside the outline as `plan` counts them, their ratio (target: at
# most 0.6), and the tile requests the service saw (target: exactly the
# inside tiles).
#   bench/outline_province.sh [--build DIR] [--province NAME] [--zoom 11]
#                             [--keep]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build" province="Baja California Sur" zoom=11 keep=
while [ $# -gt 0 ]; do
  case "$1" in
  --build) build=$(cd "$2" && pwd); shift 2 ;;
  --province) province=$2; shift 2 ;;
  --zoom) zoom=$2; shift 2 ;;
  --keep) keep=1; shift ;;
  *) echo "usage: $0 [--build DIR] [--province NAME] [--zoom N] [--keep]" >&2
     exit 2 ;;
  esac
done
map=/usr/share/qgis/resources/data/world_map.gpkg
[ -r "$map" ] || { echo "needs the Natural Earth outlines in $map" >&2; exit 2; }
command -v ogr2ogr >/dev/null || { echo "needs ogr2ogr" >&2; exit 2; }
bundle="$build/bin"
[ -x "$bundle/kestrane-cli" ] || { echo "no kestrane-cli in $build" >&2; exit 2; }

work=$(mktemp -d)
source "$root/tests/support/e2e_lib.sh"
cleanup() {
  e2e_stop_service
  [ -n "$keep" ] && echo "kept $work" >&2 || rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
cp -r "$bundle" "$work/bin"
e2e_start_service "$work/server.out" "$work/served.txt" --log
e2e_point_hosts "$port"

ogr2ogr -f GeoJSON "$work/province.geojson" "$map" states_provinces \
  -where "name = '${province//\'/\'\'}'" || fail "ogr2ogr"
box=$(ogrinfo -ro -q "$map" -dialect SQLite -sql \
  "SELECT ST_MinX(geom) AS w, ST_MaxX(geom) AS e, ST_MinY(geom) AS s,
          ST_MaxY(geom) AS n, ST_Area(geom) /
          ((ST_MaxX(geom) - ST_MinX(geom)) * (ST_MaxY(geom) - ST_MinY(geom)))
          AS share
   FROM states_provinces WHERE name = '${province//\'/\'\'}'" |
  sed -n 's/^ *\(w\|e\|s\|n\|share\) (Real) = \(.*\)$/\1=\2/p')
eval "$box"
# shellcheck disable=SC2154
echo "province: $province; its area is $share of its box's (degrees)"

out=$work/out
mkdir -p "$out"
"$work/bin/kestrane-cli" plan --task p --path "$out" \
  --area-from "$work/province.geojson" --zoom "$zoom" --dir North \
  >"$work/plan.out" || fail "plan"
inside=$(sed -n 's/^Total images: //p' "$work/plan.out")
block=$(sed -n 's/^Tiles of the block: \([0-9]*\) .*/\1/p' "$work/plan.out")
[ -n "$inside" ] && [ -n "$block" ] || fail "plan: $(cat "$work/plan.out")"
start=$(date +%s.%N)
rc=0
"$work/bin/kestrane-cli" resume "$out/p.ktsk" >"$work/run.out" \
  2>"$work/run.err" || rc=$?
seconds=$(echo "$(date +%s.%N) - $start" | bc)
[ "$rc" -eq 0 ] || fail "download: exit $rc: $(tail -3 "$work/run.err")"
"$work/bin/kestrane-cli" audit "$out/p.ktsk" >"$work/audit.out" ||
  fail "audit: $(cat "$work/audit.out")"
asked=$(grep -c '/tiles/svi' "$work/served.txt" || true)
stored=$(find "$out/p" -name '*.jpg' | wc -l)
ratio=$(echo "scale=3; $inside / $block" | bc)
echo "zoom $zoom: box $block tiles, inside the outline $inside ($ratio of the box)"
echo "requests to the service: $asked; tiles stored: $stored; download ${seconds%???????} s"
[ "$(echo "$ratio <= 0.6" | bc)" -eq 1 ] || fail "more than 0.6 of the box"
[ "$asked" -eq "$inside" ] && [ "$stored" -eq "$inside" ] ||
  fail "requests or tiles differ from the inside tiles"
echo "outline_province: ok"
