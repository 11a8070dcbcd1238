#!/usr/bin/env bash
# kestrane-cli plan as a whole process: the summary, the files it writes,
# the refusal to replace a project file, and an input error.
# $1: the bundle folder (build/bin).
set -u
bundle=${1:?usage: plan.sh BUNDLE_DIR}
cli="$bundle/kestrane-cli"
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrane-plan-XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

area=(--left -122.34 --right -122.33 --top 47.61 --bottom=47.6 --zoom 18)

# A fresh task: summary on stdout, the four files and the tile folder.
"$cli" plan --path "$work/out" "${area[@]}" >"$work/stdout" 2>"$work/stderr"
rc=$?
[ "$rc" -eq 0 ] || fail "first plan exited $rc: $(cat "$work/stderr")"
grep -qx 'Total images: 108' "$work/stdout" || fail "total not printed"
grep -qx 'Workers: 8' "$work/stdout" || fail "worker count not printed"
project="$work/out/newtask.ktsk"
[ -f "$project" ] || fail "no project file"
lines=$(wc -l <"$project")
[ "$lines" -eq 51 ] || fail "project file has $lines lines, not 51"
[ "$(grep -c $'\r$' "$project")" -eq 51 ] || fail "project lines not CR LF"
grep -q $'^MinX=41986\r$' "$project" || fail "project file lacks MinX"
[ -d "$work/out/newtask" ] || fail "no tile folder"
[ -f "$work/out/newtask_log.txt" ] || fail "no log"
[ -f "$work/out/newtask_failed.ftl" ] && [ ! -s "$work/out/newtask_failed.ftl" ] ||
  fail "failed-tile list missing or not empty"
list_lines=$(wc -l <"$work/out/newtask_list.txt1.txt")
[ "$list_lines" -eq 109 ] || fail "tile list has $list_lines lines, not 109"

# The same task again: refused, and the project file stays as it was.
printf 'T1X=41990\r\n' >>"$project"
before=$(md5sum <"$project")
"$cli" plan --path "$work/out" "${area[@]}" >"$work/stdout" 2>"$work/stderr"
rc=$?
[ "$rc" -eq 2 ] || fail "second plan exited $rc, not 2"
grep -qx "Task file exists already: $work/out/newtask.ktsk" "$work/stderr" ||
  fail "second plan said: $(cat "$work/stderr")"
[ "$(md5sum <"$project")" = "$before" ] || fail "project file was changed"

# An input error: its message, exit 2, no task files.
"$cli" plan --path "$work/bad" --task other --left abc --right 1 --top 1 \
  --bottom 0 >"$work/stdout" 2>"$work/stderr"
rc=$?
[ "$rc" -eq 2 ] || fail "bad longitude exited $rc, not 2"
grep -qx 'Longitude or latitude input error!' "$work/stderr" ||
  fail "bad longitude said: $(cat "$work/stderr")"
[ ! -e "$work/bad/other.ktsk" ] || fail "a project file was written"

# An unknown option: the usage, exit 2.
"$cli" plan --colour blue >"$work/stdout" 2>"$work/stderr"
rc=$?
[ "$rc" -eq 2 ] || fail "unknown option exited $rc, not 2"
grep -q '^usage: kestrane-cli plan' "$work/stderr" || fail "no usage shown"

[ "$failures" -eq 0 ] && echo "plan: all checks passed"
exit $((failures > 0))
