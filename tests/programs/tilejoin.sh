#!/usr/bin/env bash
# tilejoin as a whole process, headless: the picture of a planned task read
# back with GDAL's tools and judged by GDAL's cloud-optimized GeoTIFF
# validator, the MBTiles read back with GDAL and sqlite3, the exit statuses
# (0 all joined, 1 tiles not joined, 2 input refused), progress on stderr
# and the result lines on stdout, --help and --version, and no temporary
# file left behind.
set -euo pipefail
bundle=${1:?usage: tilejoin.sh BUNDLE_DIR}
join=$bundle/tilejoin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
for tool in gdalinfo convert sqlite3 /usr/bin/python3; do
  command -v $tool >/dev/null || fail "$tool is missing"
done
validator=$(ls /usr/lib/python3/dist-packages/osgeo_utils/samples/validate_cloud_optimized_geotiff.py \
  /usr/share/doc/python3-gdal/examples/validate_cloud_optimized_geotiff.py \
  2>/dev/null | head -1)
[ -n "$validator" ] || fail "python3-gdal's COG validator is missing"
[ -x "$join" ] || fail "tilejoin is not in $bundle"

# A 6 x 6 North task; every tile a 256 x 256 JPEG.
"$bundle/kestrane-cli" plan --path "$work" --task t --left -122.3407 \
  --right -122.3330 --top 47.6083 --bottom 47.6040 --zoom 18 \
  --dir North >/dev/null || fail "plan failed"
convert -size 256x256 gradient:red-blue -sampling-factor 2x2 -quality 85 \
  "$work/tile.jpg"
names=$(tr -d '\r' <"$work/t_list.txt1.txt" | awk 'NR > 1 { sub(/:$/, "", $1); print $1 }')
count=$(echo "$names" | wc -l)
for n in $names; do cp "$work/tile.jpg" "$work/t/$n"; done

# run NAME ARGS...: tilejoin's stdout, stderr and status into $work/NAME.*
run() {
  local name=$1
  shift
  set +e
  "$join" "$@" >"$work/$name.out" 2>"$work/$name.err"
  echo $? >"$work/$name.rc"
  set -e
}
rc() { cat "$work/$1.rc"; }

run all "$work/t.ktsk"
[ "$(rc all)" -eq 0 ] || fail "complete task: exit $(rc all)"
grep -qx "Tiles joined: $count of $count (carried $count, re-encoded 0)" \
  "$work/all.out" || fail "no joined line: $(cat "$work/all.out")"
grep -q '^Joining: ' "$work/all.err" || fail "no progress on stderr"
info=$(gdalinfo "$work/t.tif") || fail "GDAL cannot read the picture"
echo "$info" | grep -q 'ID\["EPSG",3857\]' || fail "not EPSG:3857"
echo "$info" | grep -q '^Size is 1536, 1536$' || fail "size: $info"
echo "$info" | grep -q 'Overviews: 768x768, 384x384, 192x192' || fail "no overviews"
cog=$(/usr/bin/python3 "$validator" "$work/t.tif") || fail "not a COG: $cog"
echo "$cog" | grep -qi warning && fail "the validator warns: $cog"

# MBTiles by --format (beside the project file), then by the extension
# with two lower zooms.
run mbf "$work/t.ktsk" --format mbtiles
[ "$(rc mbf)" -eq 0 ] && grep -qx "Output file: $work/t.mbtiles" "$work/mbf.out" ||
  fail "--format mbtiles: exit $(rc mbf): $(cat "$work/mbf.out" "$work/mbf.err")"
run mb "$work/t.ktsk" "$work/t.mbtiles" --levels 2
[ "$(rc mb)" -eq 0 ] || fail "MBTiles: exit $(rc mb): $(cat "$work/mb.err")"
mbinfo=$(gdalinfo "$work/t.mbtiles") || fail "GDAL cannot read the MBTiles"
echo "$mbinfo" | grep -q '^Driver: MBTiles' || fail "MBTiles driver: $mbinfo"
echo "$mbinfo" | grep -q '^Size is 1536, 1536$' || fail "MBTiles size: $mbinfo"
echo "$mbinfo" | grep -q 'Overviews: 768x768, 384x384' ||
  fail "MBTiles lower zooms: $mbinfo"
q() { sqlite3 "$work/t.mbtiles" "$1"; }
[ "$(q "SELECT count(*) FROM tiles WHERE zoom_level = 18")" -eq "$count" ] ||
  fail "MBTiles rows: $(q 'SELECT zoom_level, count(*) FROM tiles GROUP BY 1')"
[ "$(q "SELECT group_concat(name) FROM (SELECT name FROM metadata ORDER BY name)")" = \
  attribution,bounds,center,description,format,maxzoom,minzoom,name,type,version ] ||
  fail "MBTiles metadata: $(q 'SELECT * FROM metadata')"
q "SELECT sql FROM sqlite_master WHERE name = 'tiles'" |
  grep -q 'zoom_level integer, tile_column integer, tile_row integer, tile_data blob' ||
  fail "MBTiles schema: $(q 'SELECT sql FROM sqlite_master')"

# One tile gone, another file name for the picture, no overviews: status 1.
rm "$work/t/$(echo "$names" | sed -n 5p)"
run gap "$work/t.ktsk" "$work/gap.tif" --no-overviews
[ "$(rc gap)" -eq 1 ] || fail "missing tile: exit $(rc gap)"
grep -qx 'Missing: 1' "$work/gap.out" || fail "missing tile not counted"
gdalinfo "$work/gap.tif" | grep -q 'Mask Flags: PER_DATASET' ||
  fail "the gap has no mask"
gdalinfo "$work/gap.tif" | grep -q 'Overviews' && fail "overviews not asked"

# Refused input: status 2, the reason on stderr, nothing written.
run none "$work/none.ktsk"
[ "$(rc none)" -eq 2 ] || fail "no project file: exit $(rc none)"
grep -qx "Cannot open file $work/none.ktsk" "$work/none.err" ||
  fail "no project file: $(cat "$work/none.err")"
run bad "$work/t.ktsk" --frobnicate
[ "$(rc bad)" -eq 2 ] || fail "unknown option: exit $(rc bad)"
run nodir "$work/t.ktsk" "$work/no/such.tif"
[ "$(rc nodir)" -eq 2 ] || fail "no output folder: exit $(rc nodir)"
run fmt "$work/t.ktsk" --format png
[ "$(rc fmt)" -eq 2 ] || fail "unknown format: exit $(rc fmt)"
sed 's/^Dir=0/Dir=1/' "$work/t.ktsk" >"$work/east.ktsk"
run east "$work/east.ktsk" "$work/east.mbtiles"
[ "$(rc east)" -eq 2 ] && grep -q 'looking East' "$work/east.err" ||
  fail "MBTiles of an East task: exit $(rc east): $(cat "$work/east.err")"
[ ! -e "$work/east.mbtiles" ] || fail "a refused MBTiles was written"

run help --help
[ "$(rc help)" -eq 0 ] && grep -q -- '--no-overviews' "$work/help.out" &&
  grep -q -- '--format' "$work/help.out" &&
  grep -q -- '--levels' "$work/help.out" || fail "--help"
run version --version
[ "$(rc version)" -eq 0 ] &&
  grep -qx "tilejoin [0-9][0-9.]*" "$work/version.out" &&
  [ "$(wc -l <"$work/version.out")" -eq 1 ] || fail "--version"

leftover=$(find "$work" -maxdepth 1 -name '.*.tif.*' -o -name '.kestrane-tmp-*' \
  -o -name '*-journal' -o -name '*-wal')
[ -z "$leftover" ] || fail "temporary files left: $leftover"
echo "tilejoin: ok"
