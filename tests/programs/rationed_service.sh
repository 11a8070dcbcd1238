#!/usr/bin/env bash
# kestrane-cli against the sample tile service rationed to a few tiles a
# second (`--rate`): the service refuses the rest with 429 and Retry-After,
# the workers pause together and ask again, and the download stores every
# tile (exit 0) with nothing given up or recorded, one log line per pause.
# Then `redownload --max-rate` keeps to its cap, and --max-rate refuses a
# value that is no rate.
set -euo pipefail
bundle=${1:?usage: rationed_service.sh BUNDLE_DIR}
source "$(dirname "$0")/../support/e2e_lib.sh"
e2e_workspace
fail() {
  echo "FAIL: $*" >&2
  for f in "$work"/*.out "$work"/*.err; do
    [ -s "$f" ] && { echo "--- $f" >&2; tail -5 "$f" >&2; }
  done
  exit 1
}

cp -r "$bundle" "$work/bin"
cli=$work/bin/kestrane-cli
run() { # run NAME ARGS...: the command line, its status in rc
  local name=$1
  shift
  rc=0
  "$cli" "$@" >"$work/$name.out" 2>"$work/$name.err" || rc=$?
}
now_ms() { date +%s%3N; }
# 7 columns by 5 rows at zoom 18.
area=(--left -122.3399 --right -122.3323 --top 47.6049 --bottom 47.6015
  --zoom 18 --dir North)

# 1. A service that answers at most 10 tiles a second.
e2e_start_service "$work/server.txt" "$work/server.log" --rate 10 \
  --retry-after 1 --stats
e2e_point_hosts "$port"
KESTRANE_PACING_SCALE=0.01 run task download --task r --path "$work/out" \
  "${area[@]}"
[ "$rc" -eq 0 ] || fail "download: exit $rc, expected 0"
tiles=$(find "$work/out/r" -name 'ks_*_18.jpg' | wc -l)
[ "$tiles" -eq 35 ] || fail "$tiles tiles stored, expected 35"
[ ! -s "$work/out/r_failed.ftl" ] || fail "tiles were recorded as failed"
! grep -q 'got a blank image' "$work/task.out" || fail "a tile was given up"
pauses=$(grep -c '^Paused by the server for 1 s (429 Too Many Requests)$' \
  "$work/task.out" || true)
[ "$pauses" -ge 1 ] || fail "no pause line"
! grep -q '^T[0-9] 429' "$work/task.out" || fail "a refusal logged as failure"
e2e_stop_service
refused=$(sed -n 's/^refused \([0-9]*\)$/\1/p' "$work/server.log")
[ -n "$refused" ] && [ "$refused" -ge "$pauses" ] ||
  fail "the service refused '$refused' requests for $pauses pauses"

# 2. The same tiles as a failed-tile list (from a run against a service
# that answers 500 to everything), fetched again from a rationed service
# under a cap of 4 a second: eight records take at least 7 x 250 ms.
e2e_start_service "$work/server500.txt" "$work/server500.log" --faults 500 \
  --fault-rate 1
e2e_point_hosts "$port"
KESTRANE_PACING_SCALE=0 run fails download --task f --path "$work/out" \
  "${area[@]}"
[ "$rc" -eq 1 ] || fail "download against 500: exit $rc, expected 1"
e2e_stop_service
e2e_start_service "$work/server.txt" "$work/server.log" --rate 10 \
  --retry-after 1
head -8 "$work/out/f_failed.ftl" | sed "s#:[0-9]*/tiles#:$port/tiles#" \
  >"$work/out/eight.ftl"
started=$(now_ms)
run redl redownload --max-rate 4 "$work/out/eight.ftl"
elapsed=$(($(now_ms) - started))
[ "$rc" -eq 0 ] || fail "redownload: exit $rc, expected 0"
[ "$(tail -1 "$work/redl.out")" = "Stored now: 8 of 8 records" ] ||
  fail "not every record stored"
[ "$elapsed" -ge 1700 ] || fail "8 records in $elapsed ms under a cap of 4/s"

# 3. --max-rate wants a rate.
for bad in fast -1 1,5; do
  run bad redownload --max-rate "$bad" "$work/out/eight.ftl"
  [ "$rc" -eq 2 ] || fail "--max-rate $bad: exit $rc, expected 2"
  grep -q -- '--max-rate wants a number of tiles a second' "$work/bad.err" ||
    fail "--max-rate $bad: no reason given"
done

echo "rationed_service: ok (35 tiles, $pauses pauses, $refused refused;" \
  "8 records at most 4/s in $elapsed ms)"
