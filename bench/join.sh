#!/usr/bin/env bash
# The tile joiner against its floor and its peer, side by side in one run,
# like with like (JPEG tiles of 256 x 256 in both files):
#   1. `tilejoin TASK OUT.tif --no-overviews` (a cloud-optimized GeoTIFF)
#      against `cat` of the same tile files into one file (target: at most
#      2 x the wall time);
#   2. against GDAL writing the same: gdal_translate of a VRT mosaic of the
#      tiles to a COG without overviews (target: at least 20 x faster);
#   3. with overviews on both sides: `tilejoin TASK OUT.tif` against
#      gdal_translate -of COG with its default overviews (target: at least
#      3 x faster);
#   4. `tilejoin TASK OUT.mbtiles` against `cat` (target: at most 2 x);
#      rows 1 and 4 again without the record of checked tiles, so that the
#      joiner decodes every tile (a task whose tiles were not all stored by
#      this version's workers) - for comparison, no target;
#   5. peak memory of each, and of the COG at 250,000 tiles (target: at
#      most 64 MB, flat).
# Fixtures live under /tmp only.
#   bench/join.sh [--build DIR] [--tiles N] [--big N] [--repeat N]
#                 [--no-gdal]   (leave out GDAL's slow runs, rows 2 and 3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build" side=100 big=500 repeat=3 gdal=1
while [ $# -gt 0 ]; do
  case "$1" in
  --build) build=$(cd "$2" && pwd); shift 2 ;;
  --tiles) side=$2; shift 2 ;;   # the task is N x N tiles
  --big) big=$2; shift 2 ;;      # the memory check's second task, N x N
  --repeat) repeat=$2; shift 2 ;;
  --no-gdal) gdal=0; shift ;;
  *) echo "usage: $0 [--build DIR] [--tiles N] [--big N] [--repeat N] [--no-gdal]" >&2
     exit 2 ;;
  esac
done
for tool in /usr/bin/time gdal_translate; do
  command -v $tool >/dev/null || { echo "needs $tool" >&2; exit 2; }
done
join=$build/bin/tilejoin fixture=$build/bench/join_fixture
work=$(mktemp -d /tmp/kestrane-join-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

# mosaic_vrt FOLDER COLUMNS ROWS > VRT: every tile of a North task at its
# place (column from the smallest name column, row from the largest name row
# at the top), as GDAL's own way of joining them.
mosaic_vrt() {
  local folder=$1 cols=$2 rows=$3
  ls "$folder" | awk -F_ -v f="$folder" -v w=$((cols * 256)) \
    -v h=$((rows * 256)) '
    { a[NR] = $2; b[NR] = $3; n[NR] = $0
      if (NR == 1 || $2 < mina) mina = $2
      if (NR == 1 || $3 > maxb) maxb = $3 }
    END {
      printf "<VRTDataset rasterXSize=\"%d\" rasterYSize=\"%d\">\n", w, h
      for (band = 1; band <= 3; band++) {
        printf " <VRTRasterBand dataType=\"Byte\" band=\"%d\">\n", band
        for (i = 1; i <= NR; i++)
          printf "  <SimpleSource><SourceFilename>%s/%s</SourceFilename>" \
            "<SourceBand>%d</SourceBand><SrcRect xOff=\"0\" yOff=\"0\" " \
            "xSize=\"256\" ySize=\"256\"/><DstRect xOff=\"%d\" yOff=\"%d\" " \
            "xSize=\"256\" ySize=\"256\"/></SimpleSource>\n", f, n[i], band,
            (a[i] - mina) * 256, (maxb - b[i]) * 256
        printf " </VRTRasterBand>\n"
      }
      printf "</VRTDataset>\n" }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
# seconds CMD...: wall seconds of one run (nanosecond clock)
seconds() {
  local t0 t1
  t0=$(date +%s%N)
  "$@" >/dev/null 2>&1
  t1=$(date +%s%N)
  awk -v d=$((t1 - t0)) 'BEGIN { printf "%.3f", d / 1e9 }'
}
peak_mb() { # peak_mb CMD...: the process's peak resident memory in MB
  /usr/bin/time -f '%M' -o "$work/rss" "$@" >/dev/null 2>&1 || true
  awk '{ printf "%.1f", $1 / 1024 }' "$work/rss"
}
row() { printf '%-38s %10s %10s %8s %10s\n' "$@"; }
# paired NAME TARGET A... -- B...: A and B in turn, $repeat times; the
# medians of each and of the ratios A / B
paired() {
  local name=$1 target=$2 a=() b=() r=() ta tb
  shift 2
  local cmd_a=() cmd_b=()
  while [ "$1" != -- ]; do cmd_a+=("$1"); shift; done
  shift
  cmd_b=("$@")
  for _ in $(seq "$repeat"); do
    ta=$(seconds "${cmd_a[@]}")
    tb=$(seconds "${cmd_b[@]}")
    a+=("$ta") b+=("$tb") r+=("$(ratio "$ta" "$tb")")
  done
  row "$name" "$(printf '%s\n' "${a[@]}" | median)s" \
    "$(printf '%s\n' "${b[@]}" | median)s" \
    "$(printf '%s\n' "${r[@]}" | median)" "$target"
}

echo "fixture: ${side} x ${side} North task" >&2
"$fixture" "$work" t "$side" "$side" 0 >/dev/null
task=$work/t.ktsk tiles=$work/t
mosaic_vrt "$tiles" "$side" "$side" >"$work/mosaic.vrt"
cat "$tiles"/*.jpg >/dev/null # the page cache warm
gdal_cog=(gdal_translate -q -of COG -co COMPRESS=JPEG -co QUALITY=85
  -co BLOCKSIZE=256)

row "benchmark" "measured" "baseline" "ratio" "target"
# 1. and 4. against cat, paired run by run
paired "COG, no overviews / cat (wall)" "<= 2" \
  "$join" "$task" "$work/j.tif" --no-overviews -- \
  sh -c "cat '$tiles'/*.jpg > '$work/cat.bin'"
paired "MBTiles / cat (wall)" "<= 2" \
  "$join" "$task" "$work/j.mbtiles" -- \
  sh -c "cat '$tiles'/*.jpg > '$work/cat.bin'"
mv "$work/t_checked.bin" "$work/t_checked.kept"
paired "COG, every tile decoded / cat (wall)" "-" \
  "$join" "$task" "$work/j.tif" --no-overviews -- \
  sh -c "cat '$tiles'/*.jpg > '$work/cat.bin'"
paired "MBTiles, every tile decoded / cat" "-" \
  "$join" "$task" "$work/j.mbtiles" -- \
  sh -c "cat '$tiles'/*.jpg > '$work/cat.bin'"
mv "$work/t_checked.kept" "$work/t_checked.bin"

# 2. and 3. against GDAL's COG of the mosaic, once each (minutes)
if [ "$gdal" = 1 ]; then
  tj=$(seconds "$join" "$task" "$work/j.tif" --no-overviews)
  tg=$(seconds "${gdal_cog[@]}" -co OVERVIEWS=NONE "$work/mosaic.vrt" \
    "$work/g.tif")
  row "gdal COG no overviews / COG (wall)" "${tj}s" "${tg}s" \
    "$(ratio "$tg" "$tj")" ">= 20"
  tj=$(seconds "$join" "$task" "$work/o.tif")
  tg=$(seconds "${gdal_cog[@]}" "$work/mosaic.vrt" "$work/g.tif")
  row "gdal COG / COG, overviews (wall)" "${tj}s" "${tg}s" \
    "$(ratio "$tg" "$tj")" ">= 3"
  rm -f "$work/g.tif"
fi

# 5. memory, flat with the block's size
m1=$(peak_mb "$join" "$task" "$work/j.tif" --no-overviews)
m2=$(peak_mb "$join" "$task" "$work/o.tif")
m3=$(peak_mb "$join" "$task" "$work/j.mbtiles")
row "peak MB, COG no overviews" "$m1" "-" "-" "<= 64 MB"
row "peak MB, COG with overviews" "$m2" "-" "-" "<= 64 MB"
row "peak MB, MBTiles" "$m3" "-" "-" "<= 64 MB"
rm -rf "$tiles" "$work"/*.tif "$work"/*.mbtiles "$work/cat.bin"
echo "fixture: ${big} x ${big} North task" >&2
"$fixture" "$work" big "$big" "$big" 0 >/dev/null
m4=$(peak_mb "$join" "$work/big.ktsk" "$work/big.tif" --no-overviews)
row "peak MB, $((big * big)) / $((side * side)) tiles" "${m4}" "${m1}" \
  "$(ratio "$m4" "$m1")" "<= 64 MB"
