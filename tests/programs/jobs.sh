#!/usr/bin/env bash
# Jobs of several zooms and directions as whole processes against the
# sample service: plan writes one task per zoom and direction and the job
# file; a download of 2 zooms x 2 directions stopped by SIGINT in its
# second task exits 130 and starts no other; `resume` of the job file
# completes it; a job's exit status is its worst task's; refused lists and
# job files. $1: the bundle folder (build/bin).
set -euo pipefail
bundle=${1:?usage: jobs.sh BUNDLE_DIR}
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
out=$work/out
area=(--left -122.3407 --right -122.3201 --top 47.6083 --bottom 47.6000)
tasks=(j_z17_N j_z17_E j_z18_N j_z18_E)
crlf() { printf '%s\r\n' "$@"; }
tiles() { find "$out/$1" -name '*.jpg' | wc -l; }

# run NAME STATUS COMMAND...: runs the command, its output in
# $work/NAME.out and .err, and checks its exit status.
run() {
  local name=$1 want=$2 rc=0
  shift 2
  "$@" >"$work/$name.out" 2>"$work/$name.err" || rc=$?
  [ "$rc" -eq "$want" ] ||
    fail "$name: exit $rc, expected $want: $(cat "$work/$name.err")"
}

# 1. A plan of a job: each task's plan, its files, and the job file.
run plan 0 "$cli" plan --path "$work/plan" --task p "${area[@]}" \
  --zoom 18,17 --dir east,NORTH
[ "$(grep -c '^Total images: ' "$work/plan.out")" -eq 4 ] ||
  fail "plan: not four plans"
for t in p_z17_N p_z17_E p_z18_N p_z18_E; do
  [ -f "$work/plan/$t.ktsk" ] && [ -f "$work/plan/${t}_log.txt" ] ||
    fail "plan: no files of $t"
done
[ "$(cat "$work/plan/p.kjob")" = "$(crlf 'kestrane job 1' p_z17_N.ktsk \
  p_z17_E.ktsk p_z18_N.ktsk p_z18_E.ktsk)" ] || fail "plan: job file"
grep -qx "Job file: $work/plan/p.kjob" "$work/plan.out" ||
  fail "plan: job file not named"
# A second plan replaces nothing.
run plan-again 2 "$cli" plan --path "$work/plan" --task p "${area[@]}" \
  --zoom 17-18 --dir North,East
grep -qx "Task file exists already: $work/plan/p_z17_N.ktsk" \
  "$work/plan-again.err" || fail "plan-again: $(cat "$work/plan-again.err")"

# Refused lists write nothing.
run down 2 "$cli" plan --path "$work/bad" --task b "${area[@]}" --zoom 18-17
grep -q 'runs downwards' "$work/down.err" || fail "18-17: no reason"
run dir 2 "$cli" download --path "$work/bad" --task b "${area[@]}" \
  --dir North,Up
grep -q 'Unknown direction: Up' "$work/dir.err" || fail "Up: no reason"
[ ! -e "$work/bad" ] || fail "a refused list wrote files"

# 2. A download of 2 zooms x 2 directions, stopped by SIGINT in its second
# task: that task saves its positions, no later task starts, exit 130.
"$cli" download --path "$out" --task j "${area[@]}" --zoom 17-18 \
  --dir North,East >"$work/run1.out" 2>"$work/run1.err" &
pid=$!
for _ in $(seq 600); do
  grep -q '^Job task 2 of 4: ' "$work/run1.out" && break
  sleep 0.1
done
sleep 1
kill -INT "$pid"
rc=0
wait "$pid" || rc=$?
[ "$rc" -eq 130 ] || fail "stopped job: exit $rc, expected 130"
[ "$(cat "$out/j.kjob")" = "$(crlf 'kestrane job 1' j_z17_N.ktsk \
  j_z17_E.ktsk j_z18_N.ktsk j_z18_E.ktsk)" ] || fail "download: job file"
for t in "${tasks[@]}"; do
  [ -f "$out/$t.ktsk" ] || fail "download: no project file $t"
done
grep -q '^Task j_z17_N.ktsk: complete, ' "$work/run1.out" ||
  fail "stopped job: first task not complete: $(cat "$work/run1.out")"
grep -q '^Task j_z17_E.ktsk: stopped, .* (exit 130)$' "$work/run1.out" ||
  fail "stopped job: second task not stopped"
for t in j_z18_N j_z18_E; do
  grep -qx "Task $t.ktsk: not started" "$work/run1.out" ||
    fail "stopped job: $t started"
  [ "$(tiles "$t")" -eq 0 ] || fail "stopped job: $t has tiles"
done
grep -q '^T[1-8]X=[0-9]' "$out/j_z17_E.ktsk" ||
  fail "stopped job: no position saved"
stopped_tiles=$(tiles j_z17_E)

# 3. resume of the job file: the complete task is found complete, the
# stopped one continues, the others start; every tile is stored.
export KESTRANE_PACING_SCALE=0.05
run resume 0 "$cli" resume "$out/j.kjob"
for t in "${tasks[@]}"; do
  line=$(grep "^Task $t.ktsk: " "$work/resume.out") ||
    fail "resume: no line of $t: $(cat "$work/resume.out")"
  total=$(sed -n 's/^.*: complete, \([0-9]*\) of \1 tiles stored$/\1/p' \
    <<<"$line")
  [ -n "$total" ] || fail "resume: $line"
  [ "$(tiles "$t")" -eq "$total" ] || fail "resume: $t has not $total tiles"
done
[ "$(tiles j_z17_E)" -gt "$stopped_tiles" ] || fail "resume: no new tiles"

# 4. The worst status: a tile lost from one task makes that task
# incomplete (1) and the job with it, the other tasks being complete.
rm "$(find "$out/j_z18_N" -name '*.jpg' | head -1)"
run worst 1 "$cli" resume "$out/j.kjob"
grep -q '^Task j_z18_N.ktsk: incomplete, .* (exit 1)$' "$work/worst.out" ||
  fail "worst: $(cat "$work/worst.out")"
[ "$(grep -c '^Task j_z1[78]_[NE].ktsk: complete, ' "$work/worst.out")" \
  -eq 3 ] || fail "worst: not three complete tasks"

# 5. Job files that are refused, each named with the reason.
crlf '[MAIN]' >"$out/other.kjob"
crlf 'kestrane job 1' ../x.ktsk >"$out/up.kjob"
crlf 'kestrane job 1' j_z17_N.ktsk gone.ktsk >"$out/gone.kjob"
run other 2 "$cli" resume "$out/other.kjob"
grep -qx "Not a job file: $out/other.kjob" "$work/other.err" ||
  fail "other: $(cat "$work/other.err")"
run up 2 "$cli" resume "$out/up.kjob"
grep -qx "Job file $out/up.kjob lists a file outside its folder: ../x.ktsk" \
  "$work/up.err" || fail "up: $(cat "$work/up.err")"
run gone 2 "$cli" resume "$out/gone.kjob"
grep -qx "Job file $out/gone.kjob lists a project file that is not there: \
$out/gone.ktsk" "$work/gone.err" || fail "gone: $(cat "$work/gone.err")"
! grep -q '^Job task' "$work/gone.out" || fail "gone: a task ran"

echo "jobs: ok"
