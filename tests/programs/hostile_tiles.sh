#!/usr/bin/env bash
# Tile folders holding what no worker stored: a scan bomb (an 8192 x 8192
# progressive JPEG whose last scan repeats 1000 times), a JPEG that parses
# as a tile but does not decode, and links under tiles' names. tilejoin
# takes under 3 s of CPU, counts each as damaged (no data in the picture)
# and exits 1; audit counts the links as damaged without --decode and the
# rest with it.
set -euo pipefail
bundle=${1:?usage: hostile_tiles.sh BUNDLE_DIR}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
for tool in convert cjpeg perl gdalinfo; do
  command -v $tool >/dev/null || fail "$tool is missing"
done
join=$bundle/tilejoin
cli=$bundle/kestrane-cli

# A 6 x 6 North task, every tile a 256 x 256 JPEG.
"$cli" plan --path "$work" --task t --left -122.3407 --right -122.3330 \
  --top 47.6083 --bottom 47.6040 --zoom 18 --dir North >/dev/null ||
  fail "plan failed"
convert -size 256x256 gradient:red-blue -sampling-factor 2x2 -quality 85 \
  "$work/tile.jpg"
mapfile -t names < <(tr -d '\r' <"$work/t_list.txt1.txt" |
  awk 'NR > 1 { sub(/:$/, "", $1); print $1 }')
for n in "${names[@]}"; do cp "$work/tile.jpg" "$work/t/$n"; done

# The scan bomb: one flat grey, progressive, its last scan repeated.
perl -e 'print "P6\n8192 8192\n255\n"; print "\x80" x (8192 * 8192 * 3)' |
  cjpeg -progressive -quality 75 >"$work/flat.jpg"
perl -0777 -e '
  my $j = <STDIN>;
  my $sos = rindex($j, "\xFF\xDA");
  my $scan = substr($j, $sos, length($j) - 2 - $sos);
  print substr($j, 0, length($j) - 2), $scan x 999, "\xFF\xD9";
' <"$work/flat.jpg" >"$work/t/${names[0]}"
# A tile whose first component names a quantization table that is not
# there: the frame parses, the decoding fails.
perl -0777 -e '
  my $j = <STDIN>;
  my $sof = index($j, "\xFF\xC0");
  substr($j, $sof + 12, 1) = "\x03";
  print $j;
' <"$work/tile.jpg" >"$work/t/${names[1]}"
# Links: to another tile, to a JPEG outside the folder.
ln -sf "$work/t/${names[5]}" "$work/t/${names[2]}"
ln -sf "$work/tile.jpg" "$work/t/${names[3]}"

TIMEFORMAT='%3U %3S'
rc=0
{ time "$join" "$work/t.ktsk" >"$work/join.out" 2>"$work/join.err" ||
  rc=$?; } 2>"$work/join.time"
read -r user sys <"$work/join.time"
cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')
[ "$rc" -eq 1 ] || fail "tilejoin: exit $rc, expected 1"
grep -qx 'Damaged: 4' "$work/join.out" || fail "$(cat "$work/join.out")"
grep -qx 'Tiles joined: 32 of 36 (carried 32, re-encoded 0)' \
  "$work/join.out" || fail "$(cat "$work/join.out")"
awk -v c="$cpu" 'BEGIN { exit !(c < 3) }' || fail "tilejoin took $cpu s of CPU"
gdalinfo "$work/t.tif" | grep -q 'Mask Flags: PER_DATASET' ||
  fail "the damaged tiles have no mask"

count() { sed -n "s/^$2: \([0-9][0-9]*\)\$/\1/p" "$work/$1.out"; }
"$cli" audit "$work/t.ktsk" >"$work/audit.out" || true
[ "$(count audit Damaged) $(count audit Stored)" = "2 34" ] ||
  fail "audit: $(cat "$work/audit.out")"
"$cli" audit "$work/t.ktsk" --decode >"$work/decode.out" || true
[ "$(count decode Damaged) $(count decode Stored)" = "4 32" ] ||
  fail "audit --decode: $(cat "$work/decode.out")"
echo "hostile_tiles: ok (the join with a scan bomb took $cpu s of CPU)"
