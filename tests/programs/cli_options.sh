#!/usr/bin/env bash
# The command line's options: every command answers --help with exit 0,
# an unknown option is named on stderr with exit 2, every program answers
# --version with the project's version, and `download` refuses to begin
# afresh a task whose saved positions the options would not continue unless
# --restart is given.
set -euo pipefail
bundle=${1:?usage: cli_options.sh BUNDLE_DIR}
source "$(dirname "$0")/../support/e2e_lib.sh"
e2e_workspace
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
run() { # run NAME ARGS...: stdout, stderr and status of the cli
  local name=$1
  shift
  set +e
  "$cli" "$@" >"$work/$name.out" 2>"$work/$name.err"
  rc=$?
  set -e
}

cp -r "$bundle" "$work/bin"
cli=$work/bin/kestrane-cli
version=$(sed -n 's/^project(Kestrane VERSION \([0-9.]*\).*/\1/p' \
  "$(dirname "$0")/../../CMakeLists.txt")

for prog in kestrane-cli kestrane-sample-server kestrane; do
  [ -x "$work/bin/$prog" ] || continue
  got=$("$work/bin/$prog" --version) || fail "$prog --version: exit $?"
  [ "$got" = "$prog $version" ] || fail "$prog --version printed '$got'"
done

for c in plan download resume open redownload convert; do
  run "help-$c" "$c" --help
  [ "$rc" -eq 0 ] || fail "$c --help: exit $rc"
  grep -q "^usage: kestrane-cli $c" "$work/help-$c.out" ||
    fail "$c --help: no usage on stdout"
  [ -s "$work/help-$c.err" ] && fail "$c --help wrote to stderr"
  run "bad-$c" "$c" --no-such-option
  [ "$rc" -eq 2 ] || fail "$c --no-such-option: exit $rc, expected 2"
  grep -q -- "--no-such-option\|is required" "$work/bad-$c.err" ||
    fail "$c --no-such-option: no message"
done
# redownload --help must not be taken for a list named "--help".
grep -q 'Cannot open' "$work/help-redownload.out" "$work/help-redownload.err" &&
  fail "redownload --help opened a file"
run top --help
[ "$rc" -eq 0 ] || fail "--help: exit $rc"
run unknown frobnicate
[ "$rc" -eq 2 ] || fail "unknown command: exit $rc"
grep -qx 'Unknown command: frobnicate' "$work/unknown.err" ||
  fail "unknown command: no message"
run neg convert -12 -30 0
[ "$(cat "$work/neg.out")" = "-12.5" ] || fail "negative degrees as options"

# A finished task's project file holds its workers' positions.
e2e_start_service "$work/server.out" "$work/server.err" --log
requests() { grep -c '/tiles/' "$work/server.err" || true; }
e2e_point_hosts "$port"
export KESTRANE_PACING_SCALE=0.01
area=(--path "$work/out" --task t --left 116.25 --right 116.2525 --zoom 18)
run first download "${area[@]}" --top 39.9 --bottom 39.9
[ "$rc" -eq 0 ] || fail "first run: exit $rc"
project=$work/out/t.ktsk
before=$(md5sum <"$project")
# The same area typed as 39.90: the continue rule fails on the text.
run refused download "${area[@]}" --top 39.90 --bottom 39.90
[ "$rc" -eq 2 ] || fail "afresh without --restart: exit $rc, expected 2"
grep -qF "The task file $project holds the saved positions" \
  "$work/refused.err" || fail "afresh without --restart: no question text"
# It names the fields that differ, with both values, as the window does.
grep -qF 'Top Latitude: "39.90" now, "39.9" in the file' "$work/refused.err" ||
  fail "afresh without --restart: the differing field is not named"
grep -qF 'Task name: "t" now, "t.ktsk" in the file' "$work/refused.err" ||
  fail "afresh without --restart: the name typed without .ktsk is not named"
[ "$(md5sum <"$project")" = "$before" ] || fail "the refusal changed the file"
served=$(requests)
run restart download "${area[@]}" --top 39.90 --bottom 39.90 --restart
[ "$rc" -eq 0 ] || fail "afresh with --restart: exit $rc"
grep -q 'Log continue' "$work/restart.out" && fail "--restart continued"
[ $(($(requests) - served)) -eq 3 ] ||
  fail "--restart did not fetch the three tiles afresh"

[ "$failures" -eq 0 ] || exit 1
echo "cli_options: ok"
