#!/usr/bin/env bash
# A task of 224 tiles (16 columns by 14 rows, zoom 18, North) downloaded
# from the loopback sample tile service with the program's real pauses:
# every tile is stored and decodes, neighbouring tiles join without seams
# (their facing edge columns and rows match within JPEG tolerance), each
# tile shows the column and row its name gives, and the tile list's edges
# agree with the tile names. The service's own answers are checked too:
# a target that is no tile gets 404, and the four hosts share one port.
set -euo pipefail
bundle=${1:?usage: sample_service.sh BUNDLE_DIR}
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

for tool in djpeg convert curl awk; do
  command -v "$tool" >/dev/null || fail "$tool is missing"
done
[ -x "$bundle/kestrane-sample-server" ] || fail "no kestrane-sample-server"
[ -x "$bundle/kestrane-cli" ] || fail "no kestrane-cli"

cp -r "$bundle" "$work/bin"
e2e_start_service "$work/server.out" "$work/served.txt" --log --stats
e2e_point_hosts "$port"

# The service itself: a tile from every host, 404 for anything else.
for h in 1 2 3 4; do
  code=$(curl -s -o "$work/probe.jpg" -w '%{http_code}' \
    "http://127.0.0.$h:$port/tiles/svi0?g=5340&dir=dir_n")
  [ "$code" = 200 ] || fail "host 127.0.0.$h answered $code"
done
djpeg "$work/probe.jpg" >/dev/null || fail "the probe tile does not decode"
for target in "/" "/tiles/svi4?g=5340&dir=dir_n" "/tiles/svi0?g=5340&dir=dir_q"; do
  code=$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port$target")
  [ "$code" = 404 ] || fail "$target answered $code, not 404"
done

# Columns 41980..41995, rows 170590..170603 (counted northward): edges
# through the middles of the corner tiles.
x0=41980 nx=16 y0=170590 ny=14 z=18
area=$(awk -v x0=$x0 -v nx=$nx -v y0=$y0 -v ny=$ny -v z=$z 'BEGIN {
  n = 2 ^ z; pi = atan2(0, -1)
  lon0 = (x0 + 0.5) / n * 360 - 180; lon1 = (x0 + nx - 0.5) / n * 360 - 180
  # rows counted northward: row y has its middle at (n - 1 - y + 0.5) from
  # the north
  a0 = pi * (1 - 2 * (n - 1 - y0 + 0.5) / n)
  a1 = pi * (1 - 2 * (n - 1 - (y0 + ny - 1) + 0.5) / n)
  lat0 = atan2((exp(a0) - exp(-a0)) / 2, 1) * 180 / pi
  lat1 = atan2((exp(a1) - exp(-a1)) / 2, 1) * 180 / pi
  printf "--left %.10f --right %.10f --bottom %.10f --top %.10f --zoom %d",
    lon0, lon1, lat0, lat1, z }')
out=$work/out
rc=0
# shellcheck disable=SC2086
"$work/bin/kestrane-cli" download --task s --path "$out" $area --dir North \
  >"$work/run.out" 2>"$work/run.err" || rc=$?
[ "$rc" -eq 0 ] || fail "download: exit $rc"
total=$((nx * ny))

tiles=("$out"/s/ks_*_18.jpg)
[ "${#tiles[@]}" -eq "$total" ] || fail "${#tiles[@]} tiles, expected $total"
for x in $(seq $x0 $((x0 + nx - 1))); do
  for y in $(seq $y0 $((y0 + ny - 1))); do
    f="$out/s/ks_${x}_${y}_18.jpg"
    [ -f "$f" ] || fail "missing $f"
    djpeg -outfile /dev/null "$f" || fail "$f does not decode"
  done
done
[ ! -s "$out/s_failed.ftl" ] || fail "failed tiles were recorded"
served=$(grep -c '^200 /tiles/svi' "$work/served.txt" || true)
[ "$served" -eq $((total + 4)) ] ||
  fail "$served tiles served for $total tiles and 4 probes"

# column FILE N / row FILE N: one line of pixels as "r,g,b" lines.
column() {
  convert "$1" -crop "1x256+$2+0" +repage -depth 8 txt:- |
    sed -n 's/^[0-9]*,[0-9]*: (\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1 \2 \3/p'
}
row() {
  convert "$1" -crop "256x1+0+$2" +repage -depth 8 txt:- |
    sed -n 's/^[0-9]*,[0-9]*: (\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1 \2 \3/p'
}
# mean absolute difference per channel between two pixel lines, and the
# same between a tile's own first and last columns (to show the picture
# changes across a tile, so a seam would show)
mad() {
  paste -d' ' "$1" "$2" | awk '{ d += ($1>$4?$1-$4:$4-$1) + ($2>$5?$2-$5:$5-$2) + ($3>$6?$3-$6:$6-$3); n += 3 }
    END { printf "%.2f", d / n }'
}
tile() { echo "$out/s/ks_$1_$2_18.jpg"; }
pairs=0
for x in $x0 $((x0 + 7)) $((x0 + 14)); do
  for y in $y0 $((y0 + 6)) $((y0 + 12)); do
    # East neighbour: column 255 of (x, y) against column 0 of (x+1, y).
    column "$(tile $x $y)" 255 >"$work/a"
    column "$(tile $((x + 1)) $y)" 0 >"$work/b"
    across=$(mad "$work/a" "$work/b")
    # North neighbour (y + 1) stands above: its row 255 meets row 0.
    row "$(tile $x $((y + 1)))" 255 >"$work/c"
    row "$(tile $x $y)" 0 >"$work/d"
    down=$(mad "$work/c" "$work/d")
    column "$(tile $x $y)" 0 >"$work/e"
    inside=$(mad "$work/e" "$work/a")
    awk -v a="$across" -v d="$down" -v i="$inside" \
      'BEGIN { exit !(a < 4 && d < 4 && i > 4 * a && i > 4 * d) }' ||
      fail "seam at ($x,$y): across $across, down $down, inside the tile $inside"
    pairs=$((pairs + 1))
  done
done

# The stitched picture: every tile in its place, one image of the block.
for y in $(seq $((y0 + ny - 1)) -1 $y0); do
  files=()
  for x in $(seq $x0 $((x0 + nx - 1))); do files+=("$(tile $x $y)"); done
  convert "${files[@]}" +append "$work/row_$y.png"
done
rows=()
for y in $(seq $((y0 + ny - 1)) -1 $y0); do rows+=("$work/row_$y.png"); done
convert "${rows[@]}" -append "$work/stitched.png"
size=$(convert "$work/stitched.png" -format '%wx%h' info:)
[ "$size" = "$((nx * 256))x$((ny * 256))" ] || fail "stitched size $size"

# The tile list: each line's name and its edges come from the same X/Y.
list=$(cat "$out"/s_list.txt*.txt | tr -d '\r')
checked=$(awk -v z=$z -v want=$total '
  function lon(x) { return x / 2 ^ z * 360 - 180 }
  function lat(y,   n, a) { n = 2 ^ z; a = atan2(0, -1) * (2 * y / n - 1)
    return atan2((exp(a) - exp(-a)) / 2, 1) * 180 / atan2(0, -1) }
  function off(a, b) { return (a > b ? a - b : b - a) > 1e-9 }
  /^ks_[0-9]+_[0-9]+_[0-9]+\.jpg/ {
    split($0, p, /[_.]/); x = p[2]; y = p[3]
    n = split($0, f, /[ :,\t]+/); k = 0
    for (i = 2; i <= n; i++) if (f[i] ~ /^-?[0-9]+\.[0-9]+$/) v[++k] = f[i]
    if (k != 4) { print "line without four edges: " $0; exit 1 }
    # west, east, north, south of the tile named x, y
    if (off(v[1], lon(x)) || off(v[2], lon(x + 1)) || off(v[3], lat(y + 1)) ||
        off(v[4], lat(y))) { print "edges disagree with the name: " $0; exit 1 }
    c++
  }
  END { if (c != want) { print c " tile lines, expected " want; exit 1 }
        print c }' <<<"$list") || fail "tile list: $checked"

echo "sample_service: ok ($total tiles stored and decoding, $pairs seam checks," \
  "stitched ${size}, $checked tile list lines agree)"
