#!/usr/bin/env bash
# A task planned with an L-shaped outline from an area file, then resumed:
# of its block of 8 x 6 tiles (zoom 18, North) the 24 tiles inside the L are asked of the loopback sample tile service and stored, and no
# other; `audit` counts the others as outside, neither stored nor missing,
# and exits 0; the joined picture (COG and MBTiles) has no data where they
# lie, even where a file stands under an outside tile's name.
set -euo pipefail
bundle=${1:?usage: outline.sh BUNDLE_DIR}
work=$(mktemp -d)
source "$(dirname "$0")/../support/e2e_lib.sh"
cleanup() {
  e2e_stop_service
  [ -n "${KEEP:-}" ] && echo "kept $work" >&2 || rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  [ -s "$work/run.err" ] && tail -5 "$work/run.err" >&2
  exit 1
}
for tool in awk sqlite3 /usr/bin/python3; do
  command -v "$tool" >/dev/null || fail "$tool is missing"
done
/usr/bin/python3 -c 'from osgeo import gdal' 2>/dev/null ||
  fail "python3-gdal is missing"

cp -r "$bundle" "$work/bin"
e2e_start_service "$work/server.out" "$work/served.txt" --log
e2e_point_hosts "$port"

x0=41980 nx=8 y0=170590 ny=6 z=18
# place FX FY: "longitude latitude" of a place given in tiles from the
# block's south-west corner (rows counted northward).
place() {
  awk -v fx="$1" -v fy="$2" -v x0=$x0 -v y0=$y0 -v z=$z 'BEGIN {
    n = 2 ^ z; pi = atan2(0, -1)
    u = (2 * (y0 + fy) / n - 1) * pi
    printf "%.12f %.12f", (x0 + fx) / n * 360 - 180, atan2(exp(u), 1) * 360 / pi - 90 }'
}
# The L: the two south rows and the two west columns of the block, given
# to `plan` as an area file; its box is the block.
corners=""
for c in "0.2 0.2" "7.8 0.2" "7.8 1.8" "1.8 1.8" "1.8 5.8" "0.2 5.8" "0.2 0.2"; do
  read -r lon lat <<<"$(place $c)"
  corners="$corners${corners:+,}[$lon,$lat]"
done
printf '{"type":"FeatureCollection","features":[{"type":"Feature",
"properties":{"name":"L"},"geometry":{"type":"Polygon",
"coordinates":[[%s]]}}]}\n' "$corners" >"$work/L.geojson"
out=$work/out
mkdir -p "$out"
"$work/bin/kestrane-cli" plan --task s --path "$out" --area-from "$work/L.geojson" \
  --zoom "$z" --dir North >"$work/plan.out" 2>"$work/run.err" || fail "plan"
for line in "Total images: 24" "Tiles of the block: 48 (outside the outline: 24)"; do
  grep -qxF "$line" "$work/plan.out" || fail "plan lacks '$line': $(cat "$work/plan.out")"
done
[ -s "$out/s_area.geojson" ] || fail "no outline beside the project file"
inside() { [ $(($2 - y0)) -le 1 ] || [ $(($1 - x0)) -le 1 ]; }

rc=0
"$work/bin/kestrane-cli" resume "$out/s.ktsk" >"$work/run.out" \
  2>"$work/run.err" || rc=$?
[ "$rc" -eq 0 ] || fail "resume: exit $rc"

want=0
for x in $(seq $x0 $((x0 + nx - 1))); do
  for y in $(seq $y0 $((y0 + ny - 1))); do
    f="$out/s/ks_${x}_${y}_18.jpg"
    if inside "$x" "$y"; then
      want=$((want + 1))
      [ -f "$f" ] || fail "inside tile $x,$y not stored"
    else
      [ ! -e "$f" ] || fail "outside tile $x,$y stored"
    fi
  done
done
[ "$want" -eq 24 ] || fail "the L holds $want tiles"
stored=$(find "$out/s" -type f | wc -l)
[ "$stored" -eq 24 ] || fail "$stored files in the tile folder"
asked=$(grep -c '/tiles/svi' "$work/served.txt" || true)
served=$(grep -c '^200 /tiles/svi' "$work/served.txt" || true)
[ "$asked" -eq 24 ] && [ "$served" -eq 24 ] ||
  fail "$asked requests ($served answered 200) for 24 tiles inside"
[ ! -s "$out/s_failed.ftl" ] || fail "failed tiles were recorded"

# A file under an outside tile's name is no tile of the task.
cp "$out/s/ks_${x0}_${y0}_18.jpg" "$out/s/ks_$((x0 + 5))_$((y0 + 4))_18.jpg"
rc=0
"$work/bin/kestrane-cli" audit "$out/s.ktsk" >"$work/audit.out" \
  2>"$work/run.err" || rc=$?
[ "$rc" -eq 0 ] || fail "audit: exit $rc: $(cat "$work/audit.out")"
for line in "Tiles in the block: 48" "Outside the outline: 24" "Stored: 24" \
  "Missing: 0"; do
  grep -qx "$line" "$work/audit.out" || fail "audit lacks '$line': $(cat "$work/audit.out")"
done

rc=0
"$work/bin/tilejoin" "$out/s.ktsk" "$work/s.tif" >"$work/join.out" \
  2>"$work/run.err" || rc=$?
[ "$rc" -eq 0 ] || fail "tilejoin: exit $rc: $(cat "$work/join.out")"
grep -qx "Outside the outline: 24" "$work/join.out" &&
  grep -qx "Missing: 0" "$work/join.out" || fail "join lines: $(cat "$work/join.out")"
# The mask at the middle of tiles (column from the west, row from the
# north): 255 inside the L, 0 outside.
/usr/bin/python3 - "$work/s.tif" <<'PY' || fail "the picture has data outside the L"
import sys
from osgeo import gdal
ds = gdal.Open(sys.argv[1])
mask = ds.GetRasterBand(1).GetMaskBand()
def at(col, row):
    return int(mask.ReadAsArray(col * 256 + 128, row * 256 + 128, 1, 1)[0][0])
inside = [(0, 5), (7, 5), (7, 4), (0, 0), (1, 0), (1, 3)]
outside = [(2, 3), (7, 0), (5, 1), (2, 0), (7, 3)]
bad = [c for c in inside if at(*c) != 255] + [c for c in outside if at(*c) != 0]
if bad:
    print("wrong mask at", bad)
    sys.exit(1)
PY
rc=0
"$work/bin/tilejoin" "$out/s.ktsk" "$work/s.mbtiles" >"$work/mb.out" \
  2>"$work/run.err" || rc=$?
[ "$rc" -eq 0 ] || fail "tilejoin MBTiles: exit $rc"
rows=$(sqlite3 "$work/s.mbtiles" "SELECT count(*) FROM tiles WHERE zoom_level = 18")
[ "$rows" -eq 24 ] || fail "$rows MBTiles tiles, 24 inside"
echo "outline: ok"
