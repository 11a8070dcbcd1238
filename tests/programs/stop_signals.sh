#!/usr/bin/env bash
# SIGTERM and SIGHUP stop `download` and `resume` the way Ctrl-C (SIGINT)
# does: every worker gets its stop line, the task ends with "Task Stoped!"
# on standard output and in the saved log, the positions reach the project
# file, the exit status is 130, and it all happens within a few seconds
# (the tile under way is finished first). Rows: INT, TERM, HUP on
# `download`, and TERM on `resume`. Then SIGHUP stops `audit` and
# `redownload` as SIGINT does: exit 130 within a few seconds.
set -euo pipefail
bundle=${1:?usage: stop_signals.sh BUNDLE_DIR}
source "$(dirname "$0")/../support/e2e_lib.sh"
e2e_workspace
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cp -r "$bundle" "$work/bin"
cli=$work/bin/kestrane-cli
e2e_start_service "$work/server.out" /dev/null
e2e_point_hosts "$port"
has_line() { [ "$(tr -d '\r' <"$1" | grep -cxF -- "$2")" -gt 0 ]; }

# 16 columns by 10 rows at zoom 18, with the program's own pauses: each
# worker needs ten seconds at least.
area=(--left -122.3407 --right -122.3201 --top 47.6083 --bottom 47.6000
  --zoom 18)
out=$work/out

# stop NAME SIGNAL TASK COMMAND...: runs the command, sends the signal
# after two seconds and checks the stopped task TASK.
stop() {
  local name=$1 sig=$2 task=$3
  shift 3
  "$@" >"$work/$name.out" 2>"$work/$name.err" &
  local pid=$!
  sleep 2
  local sent
  sent=$(date +%s%N)
  kill -"$sig" "$pid"
  local rc=0
  wait "$pid" || rc=$?
  local ms=$((($(date +%s%N) - sent) / 1000000))
  [ "$rc" -eq 130 ] || fail "$name ($sig): exit $rc, expected 130"
  [ "$ms" -lt 5000 ] || fail "$name ($sig): ended $ms ms after the signal"
  for n in 1 2 3 4 5 6 7 8; do
    has_line "$work/$name.out" \
      "Thread${n}will be terminated by user. please wait..." ||
      fail "$name ($sig): no stop line for worker $n"
  done
  grep -qx 'Task Stoped!' "$work/$name.out" ||
    fail "$name ($sig): no end lines on standard output"
  has_line "$out/${task}_log.txt" 'Task Stoped!' ||
    fail "$name ($sig): the saved log has no end lines"
  grep -q '^T[1-8]X=[0-9]' "$out/$task.ktsk" ||
    fail "$name ($sig): no position in the project file"
  echo "$name: $sig stopped the task in $ms ms"
}

stop int INT i "$cli" download --path "$out" --task i "${area[@]}"
stop term TERM t "$cli" download --path "$out" --task t "${area[@]}"
stop hup HUP h "$cli" download --path "$out" --task h "${area[@]}"
# The stopped task goes on and is stopped again. Its earlier lines are
# indented first, so that only the resumed run's end lines count.
sed -i 's/^/ /' "$out/t_log.txt"
stop resume TERM t "$cli" resume "$out/t.ktsk"

# stopped NAME SIGNAL FILE LINE COMMAND...: runs the command, sends the
# signal once FILE holds a line starting with LINE (the run is under way),
# and checks that the run ends with 130 within five seconds.
stopped() {
  local name=$1 sig=$2 file=$3 line=$4
  shift 4
  "$@" >"$work/$name.out" 2>"$work/$name.err" &
  local pid=$!
  for _ in $(seq 300); do
    grep -q "^$line" "$file" && break
    sleep 0.1
  done
  grep -q "^$line" "$file" || fail "$name: no '$line' line"
  local sent
  sent=$(date +%s%N)
  kill -"$sig" "$pid"
  local rc=0
  wait "$pid" || rc=$?
  local ms=$((($(date +%s%N) - sent) / 1000000))
  [ "$rc" -eq 130 ] || fail "$name ($sig): exit $rc, expected 130"
  [ "$ms" -lt 5000 ] || fail "$name ($sig): ended $ms ms after the signal"
  echo "$name: $sig stopped the run in $ms ms"
}

# An audit that decodes 9310 tiles on one thread: several seconds of
# work. Its progress line shows that it is under way.
"$cli" plan --path "$out" --task a --left -122.40 --right -122.27 \
  --top 47.65 --bottom 47.56 --zoom 18 --dir East >/dev/null
"$cli" audit "$out/a.ktsk" >/dev/null || true # lists every tile missing
convert -size 512x512 plasma: -quality 85 "$work/tile.jpg"
tr -d '\r' <"$out/a_missing.ftl" | cut -d'|' -f1 |
  xargs -n 500 sh -c 'tee "$@" >/dev/null <"$0"' "$work/tile.jpg"
for sig in INT HUP; do
  stopped "audit-$sig" "$sig" "$work/audit-$sig.err" 'Audit: ' \
    "$cli" audit "$out/a.ktsk" --decode --threads 1
done

# A re-download of the same list from a service whose every answer takes a
# second: the run ends after the request under way.
e2e_stop_service
e2e_start_service "$work/server2.out" /dev/null --fault-rate 1 \
  --faults slow --slow-ms 1000
e2e_point_hosts "$port"
"$cli" audit "$out/h.ktsk" --list "$work/h.ftl" >/dev/null || true
sed -i "s|//[^/]*/|//127.0.0.1:$port/|" "$work/h.ftl"
for sig in INT HUP; do
  stopped "redownload-$sig" "$sig" "$work/redownload-$sig.out" 'Start\.\.\.' \
    "$cli" redownload "$work/h.ftl"
done
echo "stop_signals: ok"
