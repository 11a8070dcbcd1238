#!/usr/bin/env bash
# One process per task: while `download` runs a task, a second `download`
# of the same task and a `resume` of its project file are refused (exit 2,
# "The task is running in another process: " + the project file on
# standard error, no log line printed), while another
# task in the same folder runs. A FIFO or a link at the lock's path refuses
# the run (exit 2) instead of blocking it or letting it run unlocked. A
# killed run leaves no stale lock: the task resumes at once.
set -euo pipefail
bundle=${1:?usage: task_lock.sh BUNDLE_DIR}
work=$(mktemp -d)
source "$(dirname "$0")/../support/e2e_lib.sh"
cleanup() {
  [ -n "${run1:-}" ] && kill -KILL "$run1" 2>/dev/null || true
  e2e_stop_service
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cp -r "$bundle" "$work/bin"
cli=$work/bin/kestrane-cli
e2e_start_service "$work/server.out" /dev/null
e2e_point_hosts "$port"

area=(--left -122.3407 --right -122.3201 --top 47.6083 --bottom 47.6000
  --zoom 18)
out=$work/out
message="The task is running in another process: $out/t.ktsk"

"$cli" download --path "$out" --task t "${area[@]}" \
  >"$work/run1.out" 2>"$work/run1.err" &
run1=$!
sleep 2
kill -0 "$run1" 2>/dev/null || fail "the first run ended early"

# refused NAME MESSAGE COMMAND...: the command is refused as the task's
# second run with the message.
refused() {
  local name=$1 message=$2
  shift 2
  local rc=0
  # The first run goes on requesting the same tiles, so the refused run
  # shows that it started nothing by printing no log line.
  "$@" >"$work/$name.out" 2>"$work/$name.err" || rc=$?
  [ "$rc" -eq 2 ] || fail "$name: exit $rc, expected 2"
  [ "$(cat "$work/$name.err")" = "$message" ] ||
    fail "$name: standard error is '$(cat "$work/$name.err")'"
  [ ! -s "$work/$name.out" ] || fail "$name: printed $(head -3 "$work/$name.out")"
  echo "$name: refused"
}
refused download "$message" "$cli" download --path "$out" --task t "${area[@]}"
refused resume "$message" "$cli" resume "$out/t.ktsk"
# Another spelling of the path is the same task, named as typed.
(cd "$out" && refused resume-relative \
  "The task is running in another process: ./t.ktsk" "$cli" resume t.ktsk)

# Another task in the same folder is not held up.
KESTRANE_PACING_SCALE=0.01 "$cli" download --path "$out" --task other \
  --left -122.3407 --right -122.3380 --top 47.6000 --bottom 47.6000 \
  --zoom 18 >"$work/other.out" 2>&1 || fail "another task was refused"

# The first run's log has one header and no second start in it.
kill -KILL "$run1"
wait "$run1" 2>/dev/null || true
run1=
[ "$(tr -d '\r' <"$out/t_log.txt" | grep -c '^Project: ')" -eq 1 ] ||
  fail "the log was written by a second run"

# A FIFO where the lock file goes refuses the run at once (it used to block
# the open for ever), and so does a link: the task never runs unlocked.
mkfifo "$out/fifo.ktsk.lock"
ln -s /nonexistent "$out/link.ktsk.lock"
for name in fifo link; do
  rc=0
  timeout 20 "$cli" download --path "$out" --task "$name" --left -122.3407 \
    --right -122.3407 --top 47.6 --bottom 47.6 --zoom 18 \
    >"$work/$name.out" 2>"$work/$name.err" || rc=$?
  [ "$rc" -eq 2 ] || fail "$name lock: exit $rc, expected 2"
  grep -q "^Cannot lock the task with $out/$name.ktsk.lock: " "$work/$name.err" ||
    fail "$name lock: standard error is '$(cat "$work/$name.err")'"
  [ ! -e "$out/$name.ktsk" ] || fail "$name lock: the project file was written"
done
[ -p "$out/fifo.ktsk.lock" ] && [ -L "$out/link.ktsk.lock" ] ||
  fail "what stood at the lock's path was changed"
echo "fifo and link at the lock: refused"

# The killed run's lock went with its process.
rc=0
KESTRANE_PACING_SCALE=0.01 "$cli" resume "$out/t.ktsk" \
  >"$work/resume2.out" 2>"$work/resume2.err" || rc=$?
[ "$rc" -eq 0 ] || fail "resume after the kill: exit $rc: $(cat "$work/resume2.err")"
echo "task_lock: ok"
