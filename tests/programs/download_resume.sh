#!/usr/bin/env bash
# A 160-tile task (20 tiles a worker) downloaded from the loopback sample
# tile service with the program's real pauses, killed hard in the middle,
# then resumed from its project file: the resumed run skips what the first
# one saved, and every tile ends up stored and decodable. Also: refused
# input (exit 2) and a stop by SIGINT (exit 130).
set -euo pipefail
bundle=${1:?usage: download_resume.sh BUNDLE_DIR}
source "$(dirname "$0")/../support/e2e_lib.sh"
e2e_workspace
fail() {
  echo "FAIL: $*" >&2
  for f in "$work"/run*.err; do
    [ -s "$f" ] && { echo "--- $f" >&2; tail -5 "$f" >&2; }
  done
  exit 1
}

[ -x "$bundle/kestrane-sample-server" ] ||
  fail "kestrane-sample-server is not in $bundle"
command -v djpeg >/dev/null || fail "djpeg is missing (libjpeg-turbo-progs)"

# A bundle of our own, whose settings point the four tile hosts at the
# sample service.
cp -r "$bundle" "$work/bin"
cli=$work/bin/kestrane-cli
e2e_start_service "$work/server.out" "$work/served.txt" --log
e2e_point_hosts "$port"

# has_line FILE LINE: the file (CR LF lines) holds exactly that line.
has_line() { [ "$(tr -d '\r' <"$1" | grep -cxF -- "$2")" -gt 0 ]; }
requests() { grep -c '/tiles/svi' "$work/served.txt" || true; }

out=$work/out
# 16 columns by 10 rows at zoom 18.
area=(--left -122.3407 --right -122.3201 --top 47.6083 --bottom 47.6000
  --zoom 18)

# Refused input starts nothing.
set +e
"$cli" download --path "$out" --task bad --left abc --right 1 --top 1 \
  --bottom 0 --zoom 18 >"$work/run0.out" 2>"$work/run0.err"
rc=$?
set -e
[ "$rc" -eq 2 ] || fail "refused input: exit $rc, expected 2"
grep -qx 'Longitude or latitude input error!' "$work/run0.err" ||
  fail "refused input: no message"
[ "$(requests)" -eq 0 ] || fail "refused input sent requests"

# 1. The first run, killed after about seven seconds: past the save at the
# fifth second, far from the end (each worker needs ten seconds at least).
"$cli" download --path "$out" --task t "${area[@]}" \
  >"$work/run1.out" 2>"$work/run1.err" &
run1=$!
sleep 7
kill -KILL "$run1"
set +e
wait "$run1" 2>/dev/null
rc=$?
set -e
[ "$rc" -eq 137 ] || fail "first run: exit $rc, expected the kill (137)"
first=$(requests)
[ "$first" -gt 0 ] && [ "$first" -lt 160 ] ||
  fail "first run made $first requests"
saved=$(grep -c '^T[1-8][XY]=[0-9]' "$out/t.ktsk" || true)
[ "$saved" -gt 0 ] || fail "no worker position was saved in the project file"

# 2. Resume: the same task continues from the saved positions.
set +e
"$cli" resume "$out/t.ktsk" >"$work/run2.out" 2>"$work/run2.err"
rc=$?
set -e
[ "$rc" -eq 0 ] || fail "resume: exit $rc, expected 0"
second=$(($(requests) - first))
[ "$second" -gt 0 ] && [ "$second" -lt 160 ] ||
  fail "resume made $second requests (first run: $first)"
[ $((first + second)) -ge 160 ] ||
  fail "only $((first + second)) requests for 160 tiles"
has_line "$out/t_log.txt" 'Log continue...' ||
  fail "the log has no continuation marker"
grep -qx 'Log continue...' "$work/run2.out" ||
  fail "resume did not print the log it loaded"
grep -qx 'Task Stoped!' "$work/run2.out" || fail "resume printed no end lines"
grep -q '^Task stoped! ' "$work/run2.err" || fail "no end message"

tiles=("$out"/t/ks_*_18.jpg)
[ "${#tiles[@]}" -eq 160 ] || fail "${#tiles[@]} tile files, expected 160"
for f in "${tiles[@]}"; do
  djpeg -outfile /dev/null "$f" 2>/dev/null || fail "$f does not decode"
done
[ ! -s "$out/t_failed.ftl" ] || fail "failed tiles were recorded"
# The kill may have caught a tile between its temporary file and the
# rename; the resumed run clears such leftovers at its start.
leftovers=$(find "$out/t" -type f ! -name 'ks_*_18.jpg' -printf '%f ')
[ -z "$leftovers" ] || fail "other files in the tile folder: $leftovers"
# Each tile was checked as it was stored, across the kill and the resume,
# and the record beside the task says so: the joiner carries all 160
# without decoding them again.
[ "$(stat -c %a "$out/t_checked.bin")" = 600 ] ||
  fail "the record of checked tiles is not private"
"$work/bin/tilejoin" "$out/t.ktsk" "$work/t.tif" >"$work/join.out" 2>&1 ||
  fail "join: $(cat "$work/join.out")"
grep -qx 'Checked when downloaded: 160' "$work/join.out" ||
  fail "the join decoded tiles checked when downloaded: $(cat "$work/join.out")"

# 3. SIGINT runs the Stop path; the task ends through the timer.
"$cli" download --path "$out" --task s "${area[@]}" \
  >"$work/run3.out" 2>"$work/run3.err" &
run3=$!
sleep 2
kill -INT "$run3"
set +e
wait "$run3"
rc=$?
set -e
[ "$rc" -eq 130 ] || fail "stopped run: exit $rc, expected 130"
for n in 1 2 3 4 5 6 7 8; do
  has_line "$out/s_log.txt" \
    "Thread${n}will be terminated by user. please wait..." ||
    fail "no stop line for worker $n"
done
has_line "$out/s_log.txt" 'Task Stoped!' || fail "stopped run: no end lines"

# 4. Tiles given up: a service that answers 404 to everything, with the
# pauses scaled down (a test-only switch of the program).
e2e_stop_service
e2e_start_service "$work/faulty.out" /dev/null --fault-rate 1 --faults 404
e2e_point_hosts "$port"
set +e
KESTRANE_PACING_SCALE=0.01 "$cli" download --path "$out" --task g \
  --left -122.3407 --right -122.3380 --top 47.6000 --bottom 47.6000 \
  --zoom 18 >"$work/run4.out" 2>"$work/run4.err"
rc=$?
set -e
[ "$rc" -eq 1 ] || fail "tiles given up: exit $rc, expected 1"
grep -q 'got a blank image!' "$work/run4.out" ||
  fail "tiles given up: no placeholder lines"

echo "download_resume: ok (first run $first requests, resume $second)"
