#!/usr/bin/env bash
# The tile joiner against its floor and its peer, side by side in one run:
#   1. `tilejoin TASK OUT --no-overviews` against `cat` of the same tile
#      files into one file (target: at most 2 x the wall time);
#   2. against GDAL joining the same tiles: gdal_translate of a VRT mosaic
#      to a JPEG-compressed tiled GeoTIFF (target: at least 20 x faster);
#   3. the overviews: `tilejoin` with overviews minus without, against
#      `gdaladdo -r average` on the joined file (target: at most 0.5 x);
#   4. peak memory at 10,000 and at 250,000 tiles (target: at most 64 MB,
#      flat).
# Fixtures live under /tmp only.
#   bench/join.sh [--build DIR] [--tiles N] [--big N] [--repeat N]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build" side=100 big=500 repeat=3
while [ $# -gt 0 ]; do
  case "$1" in
  --build) build=$(cd "$2" && pwd); shift 2 ;;
  --tiles) side=$2; shift 2 ;;   # the task is N x N tiles
  --big) big=$2; shift 2 ;;      # the memory check's second task, N x N
  --repeat) repeat=$2; shift 2 ;;
  *) echo "usage: $0 [--build DIR] [--tiles N] [--big N] [--repeat N]" >&2
     exit 2 ;;
  esac
done
for tool in /usr/bin/time gdal_translate gdaladdo; do
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
row() { printf '%-34s %10s %10s %8s %8s\n' "$@"; }

echo "fixture: ${side} x ${side} North task" >&2
"$fixture" "$work" t "$side" "$side" 0 >/dev/null
task=$work/t.ktsk tiles=$work/t
mosaic_vrt "$tiles" "$side" "$side" >"$work/mosaic.vrt"
cat "$tiles"/*.jpg >/dev/null # the page cache warm

row "benchmark" "measured" "baseline" "ratio" "target"
# 1. against cat, paired run by run
r=() a=() b=()
for _ in $(seq "$repeat"); do
  ta=$(seconds "$join" "$task" "$work/j.tif" --no-overviews)
  tb=$(seconds sh -c "cat '$tiles'/*.jpg > '$work/cat.bin'")
  a+=("$ta") b+=("$tb") r+=("$(ratio "$ta" "$tb")")
done
row "join / cat (wall)" "$(printf '%s\n' "${a[@]}" | median)s" \
  "$(printf '%s\n' "${b[@]}" | median)s" \
  "$(printf '%s\n' "${r[@]}" | median)" "<= 2"

# 2. against GDAL's mosaic
tg=$(seconds gdal_translate -q -of GTiff -co TILED=YES -co COMPRESS=JPEG \
  -co PHOTOMETRIC=YCBCR "$work/mosaic.vrt" "$work/g.tif")
tj=$(seconds "$join" "$task" "$work/j.tif" --no-overviews)
row "gdal_translate VRT / join (wall)" "${tj}s" "${tg}s" "$(ratio "$tg" "$tj")" \
  ">= 20"

# 3. overviews
r=() a=() b=()
for _ in $(seq "$repeat"); do
  t0=$(seconds "$join" "$task" "$work/j.tif" --no-overviews)
  t1=$(seconds "$join" "$task" "$work/o.tif")
  cp "$work/j.tif" "$work/a.tif"
  tb=$(seconds gdaladdo -q -r average "$work/a.tif")
  ta=$(awk -v x="$t1" -v y="$t0" 'BEGIN { printf "%.3f", x - y }')
  a+=("$ta") b+=("$tb") r+=("$(ratio "$ta" "$tb")")
done
row "overviews / gdaladdo -r average" \
  "$(printf '%s\n' "${a[@]}" | median)s" \
  "$(printf '%s\n' "${b[@]}" | median)s" \
  "$(printf '%s\n' "${r[@]}" | median)" "<= 0.5"

# 4. memory, flat with the block's size
m1=$(peak_mb "$join" "$task" "$work/j.tif" --no-overviews)
rm -rf "$tiles" "$work"/*.tif "$work/cat.bin"
echo "fixture: ${big} x ${big} North task" >&2
"$fixture" "$work" big "$big" "$big" 0 >/dev/null
m2=$(peak_mb "$join" "$work/big.ktsk" "$work/big.tif" --no-overviews)
row "peak MB, $((big * big)) / $((side * side)) tiles" "${m2}" "${m1}" \
  "$(ratio "$m2" "$m1")" "<= 64 MB"
