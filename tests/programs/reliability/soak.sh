#!/usr/bin/env bash
# Fault soak: a task against the sample service injecting a share of every
# fault that does not end a worker, then re-download runs of the failed
# tiles until a run brings nothing new. At the end every tile must be stored
# and decode, the failed list must name exactly the tiles given up, and no
# side file or temporary file may stand beside a good tile.
#   soak.sh BUNDLE [--cols C --rows R] [--rate R] [--seed S] [--rounds N]
set -euo pipefail
BUNDLE=$(cd "$1" && pwd)
shift
cols=40 rows=50 rate=0.1 seed=7 rounds=10 slow_ms=200
faults=reset,404,500,notimage,crashed,truncated,slow
while [ $# -gt 0 ]; do
  case "$1" in
  --cols) cols=$2; shift 2 ;;
  --rows) rows=$2; shift 2 ;;
  --rate) rate=$2; shift 2 ;;
  --seed) seed=$2; shift 2 ;;
  --rounds) rounds=$2; shift 2 ;;
  --faults) faults=$2; shift 2 ;;
  *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
. "$(dirname "$0")/lib.sh"
rel_init soak

rel_server faulty --faults "$faults" --fault-rate "$rate" --seed "$seed" \
  --slow-ms "$slow_ms" --stats
rel_bundle "$WORK/app" "$PORT"
cli="$WORK/app/kestrane-cli"
blank="$WORK/app/blankimg/blank180.jpg"
area=$(rel_area 41980 "$cols" 91540 "$rows" 18)
export KESTRANE_PACING_SCALE=0

t0=$(rel_now_ms)
rc=0
# shellcheck disable=SC2086
"$cli" download --task soak --path "$WORK/out" $area --dir North \
  >"$WORK/task.out" 2>"$WORK/task.err" || rc=$?
task_ms=$(($(rel_now_ms) - t0))
base="$WORK/out/soak"
folder="$WORK/out/soak/"
log=$(tr -d '\r' <"${base}_log.txt")
ftl="${base}_failed.ftl"
total=$((cols * rows))

ok_lines=$(grep -c ' OK$' <<<"$log" || true)
gave_up=$(grep -cE '^T[0-9]+:[0-9]+-[0-9]+ got a (blank|crashed|invalid) image!$' <<<"$log" || true)
not_found=$(grep -c '^Error: the image is not found on server\.' <<<"$log" || true)
records=$(grep -c . "$ftl" || true)
echo "task: $total tiles, exit $rc, ${task_ms} ms; stored $ok_lines," \
  "given up $gave_up (image not found $not_found), failed-list records $records"
[ $rc -eq 0 ] || [ $rc -eq 1 ] || rel_fail "task exit status $rc"
[ $((ok_lines + gave_up)) -eq $total ] ||
  rel_fail "stored + given up = $((ok_lines + gave_up)), not $total"

# The failed list: one record per given-up tile except "not found" ones,
# each naming a tile that was given up, none twice, each ended by CR LF.
[ "$records" -eq $((gave_up - not_found)) ] ||
  rel_fail "failed list has $records records for $((gave_up - not_found)) recorded give-ups"
[ "$(tr -d '\r' <"$ftl" | sort | uniq -d | wc -l)" -eq 0 ] ||
  rel_fail "failed list names a tile twice"
[ "$(grep -c $'\r$' "$ftl" || true)" -eq "$records" ] ||
  rel_fail "failed-list line without CR LF"
grep -oE '^T[0-9]+:[0-9]+-[0-9]+ got a' <<<"$log" |
  sed -E 's/^T[0-9]+:([0-9]+)-([0-9]+) got a/ks_\1_\2_18.jpg/' | sort >"$WORK/gaveup"
tr -d '\r' <"$ftl" | cut -d'|' -f1 | xargs -r -n1 basename | sort >"$WORK/recorded"
[ -z "$(comm -13 "$WORK/gaveup" "$WORK/recorded")" ] ||
  rel_fail "failed list names a tile that was not given up"

# A tile is good when it decodes and is not the placeholder.
good() { [ -f "$1" ] && ! cmp -s "$1" "$blank" && rel_decodes "$1"; }

# Re-download rounds over the records whose tile is not good yet.
tr -d '\r' <"$ftl" >"$WORK/pending"
# Faults are drawn per request, so a round may bring nothing by chance: the
# rounds end when nothing is pending or three rounds in a row brought
# nothing new.
round=0 idle=0 before=$(grep -c . "$WORK/pending" || true)
echo "round 0: $before records pending"
while [ "$before" -gt 0 ] && [ $round -lt "$rounds" ]; do
  round=$((round + 1))
  printf '%s\r\n' $(cat "$WORK/pending") >"$WORK/round$round.ftl"
  "$cli" redownload "$WORK/round$round.ftl" >"$WORK/round$round.out" 2>&1 || true
  : >"$WORK/next"
  while IFS= read -r rec; do
    good "${rec%%|*}" || echo "$rec" >>"$WORK/next"
  done <"$WORK/pending"
  mv "$WORK/next" "$WORK/pending"
  after=$(grep -c . "$WORK/pending" || true)
  echo "round $round: $after records pending"
  if [ "$after" -lt "$before" ]; then idle=0; else idle=$((idle + 1)); fi
  [ $idle -lt 3 ] || break
  before=$after
done

# Final state of the tile folder.
bad=0 blanks=0 side_by_good=0 temps=0
rel_tile_names "$base" >"$WORK/names"
[ "$(wc -l <"$WORK/names")" -eq $total ] || rel_fail "tile list does not name $total tiles"
while IFS= read -r name; do
  f="$folder$name"
  if [ ! -f "$f" ] || ! rel_decodes "$f"; then
    bad=$((bad + 1))
  elif cmp -s "$f" "$blank"; then
    blanks=$((blanks + 1))
  else
    for side in "$f.crashed" "$f.invalid"; do
      [ -e "$side" ] && side_by_good=$((side_by_good + 1))
    done
  fi
done <"$WORK/names"
temps=$(find "$folder" -name '.kestrane-tmp-*' | wc -l)
echo "final: missing or not decoding $bad, placeholders $blanks" \
  "(of which never recorded: $not_found), side files beside good tiles" \
  "$side_by_good, temporary files $temps"
[ -s "$WORK/faulty.err" ] && tail -5 "$WORK/faulty.err" | sed 's/^/server: /'
status=0
[ $bad -eq 0 ] || { echo "FAIL: $bad tiles missing or not decoding"; status=1; }
[ "$blanks" -le "$not_found" ] ||
  { echo "FAIL: $((blanks - not_found)) recorded tiles still placeholders"; status=1; }
[ $temps -eq 0 ] || { echo "FAIL: temporary files left"; status=1; }
[ $side_by_good -eq 0 ] ||
  { echo "FAIL: side files left beside good tiles"; status=1; }
exit $status
