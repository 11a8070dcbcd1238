#!/usr/bin/env bash
# No record is lost behind a saved position. A task whose every answer is
# "500" gives up every tile it reaches and records each one in the failed
# list; a worker's saved position makes a later run skip its tiles up to it.
# So every tile at or before a saved position must be in the failed list on
# disk, whatever moment the process ended at:
#   kill   the process is killed right after the Nth replacement of one of
#          the task's files (project file, failed list, log), for N = 1 ..
#          --kills, each replacement of a pane delayed by 100 ms (so the
#          background save of the positions can overtake it); each run
#          checks the files left behind
#   fsize  the whole run under a 2 KiB file-size limit (SIGXFSZ ignored, so
#          writes fail with EFBIG): the log and the failed list soon cannot
#          be saved any more
#   records_behind_positions.sh BUNDLE [--kills N] [--cols C --rows R]
set -euo pipefail
BUNDLE=$(cd "${1:?usage: records_behind_positions.sh BUNDLE}" && pwd)
shift
kills=24 cols=12 rows=8
while [ $# -gt 0 ]; do
  case $1 in
  --kills) kills=$2; shift 2 ;;
  --cols) cols=$2; shift 2 ;;
  --rows) rows=$2; shift 2 ;;
  *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
rel_init records

rel_server svc --fault-rate 1 --faults 500
rel_bundle "$WORK/bin" "$PORT"
cli=$WORK/bin/kestrane-cli
# East: no tile list, which would not fit under the file-size limit.
area="$(rel_area 41980 "$cols" 101000 "$rows" 18) --dir East"
export KESTRANE_PACING_SCALE=0.01

cc -shared -fPIC -O1 -o "$WORK/kill_at_save.so" "$here/kill_at_save.c" -ldl ||
  rel_fail "cannot build the kill library"

# check FOLDER: prints "positions behind which N tiles lie, M missing" and
# fails when a tile at or before a saved position has no record.
check() {
  local dir=$1
  [ -f "$dir/t.ktsk" ] || { echo "no project file"; return 0; }
  touch "$dir/t_failed.ftl"
  tr -d '\r' <"$dir/t_failed.ftl" | sed 's/|.*//; s#.*/##' >"$WORK/recorded"
  tr -d '\r' <"$dir/t.ktsk" | awk -v recorded="$WORK/recorded" '
    BEGIN { while ((getline l < recorded) > 0) have[l] = 1 }
    /^\[/ { sec = $0; next }
    { split($0, kv, "="); k = kv[1]; v = kv[2] }
    sec == "[XY]" { xy[k] = v }
    sec == "[Zoom]" && k == "Zoom" { z = v }
    sec == "[Dir]" && k == "Dir" { dir = v }
    sec == "[THREADS]" && k == "ThreadCount" { n = v }
    sec == "[THREADS]" && k ~ /^T[0-9]+[XY]$/ && v != "" { pos[k] = v }
    END {
      minx = xy["MinX"]; maxx = xy["MaxX"]; miny = xy["MinY"]; maxy = xy["MaxY"]
      for (i = 0; i < n; i++) {
        tx = pos["T" (i + 1) "X"]; ty = pos["T" (i + 1) "Y"]
        skip[i] = (tx != "" && ty != "") ? (tx - minx) * (maxy - miny + 1) + (ty - miny) + 1 : 0
        if (skip[i] > 0) saved++
      }
      seq = 0; behind = 0; missing = 0
      for (x = minx; x <= maxx; x++) for (y = miny; y <= maxy; y++) {
        seq++; w = seq % n
        if (seq > skip[w]) continue
        a = x; b = y
        if (dir == 1) { a = maxy + miny - y; b = x }
        if (dir == 2) { a = maxx + minx - x; b = maxy + miny - y }
        if (dir == 3) { a = y; b = maxx + minx - x }
        name = "ks_" a "_" b "_" z ".jpg"
        behind++
        if (!(name in have)) { missing++; if (missing <= 3) print "  no record: " name > "/dev/stderr" }
      }
      printf "%d positions saved, %d tiles behind them, %d without a record\n", saved, behind, missing
      exit missing > 0
    }'
}

status=0
killed=0 with_positions=0
for n in $(seq 1 "$kills"); do
  dir=$WORK/k$n
  # (The subshell keeps the shell's own "Killed" line out of the output.)
  rc=$( (ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 \
    LD_PRELOAD=$WORK/kill_at_save.so KILL_AT_SAVE=$n KILL_AT_SAVE_PAUSE_MS=100 \
    KILL_AT_SAVE_NOTE=$WORK/note$n \
    "$cli" download --task t --path "$dir" $area >"$WORK/k$n.out" 2>&1
    echo $?) 2>/dev/null)
  where=$( [ -f "$WORK/note$n" ] && sed 's#.*/##' "$WORK/note$n" || echo "none (ran to the end)")
  [ -f "$WORK/note$n" ] && killed=$((killed + 1))
  result=$(check "$dir") || { status=1; result="FAIL: $result"; }
  case $result in 0\ positions*|*"no project file"*) ;; *) with_positions=$((with_positions + 1)) ;; esac
  echo "kill after save $n (exit $rc, last file: $where): $result"
done

dir=$WORK/fsize
rc=0
# The output goes through a pipe: a file would fall under the limit too.
(trap '' XFSZ; prlimit --fsize=2048 "$cli" download --task t --path "$dir" \
  $area 2>&1 || echo "exit $?") | cat >"$WORK/fsize.out"
rc=$(sed -n 's/^exit \([0-9]*\)$/\1/p' "$WORK/fsize.out" | tail -1)
refused=$(grep -c 'File too large' "$WORK/fsize.out" || true)
result=$(check "$dir") || { status=1; result="FAIL: $result"; }
echo "2 KiB file-size limit (exit $rc, $refused lines name a refused write): $result"
[ "$refused" -gt 0 ] || { echo "FAIL: no write was refused"; status=1; }

echo "killed runs: $killed of $kills; runs with saved positions: $with_positions"
[ "$killed" -gt 0 ] && [ "$with_positions" -gt 0 ] ||
  { echo "FAIL: the runs never reached a saved position"; status=1; }
exit $status
