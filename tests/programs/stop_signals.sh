#!/usr/bin/env bash
# SIGTERM and SIGHUP stop `download` and `resume` the way Ctrl-C (SIGINT)
# does: every worker gets its stop line, the task ends with "Task Stoped!"
# on standard output and in the saved log, the positions reach the project
# file, the exit status is 130, and it all happens within a few seconds
# (the tile under way is finished first). Rows: INT, TERM, HUP on
# `download`, and TERM on `resume`.
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
echo "stop_signals: ok"
