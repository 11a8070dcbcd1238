#!/usr/bin/env bash
# kestrane-cli audit closes the loop of a task that ended with gaps: a first
# run against a service that answers most requests with 404 gives
# those up (placeholders, exit 1 with the counts); resuming the finished
# task still exits 1 and says how many placeholders are left; then some
# stored tiles are deleted and one is overwritten with garbage. `audit`
# counts each kind (the garbage only with --decode), lists exactly the
# tiles not stored in the workers' order, `redownload` of that list against
# a healthy service stores them all, and `audit` then exits 0. An audit
# that writes its list removes the temporary list a killed audit left.
set -euo pipefail
bundle=${1:?usage: audit.sh BUNDLE_DIR}
source "$(dirname "$0")/../support/e2e_lib.sh"
e2e_workspace
fail() {
  echo "FAIL: $*" >&2
  for f in "$work"/*.out "$work"/*.err; do
    [ -s "$f" ] && { echo "--- $f" >&2; tail -8 "$f" >&2; }
  done
  exit 1
}

cp -r "$bundle" "$work/bin"
cli=$work/bin/kestrane-cli
blank=$work/bin/blankimg/blank180.jpg

# run NAME ARGS...: runs the command line, sets rc.
run() {
  local name=$1
  shift
  rc=0
  "$cli" "$@" >"$work/$name.out" 2>"$work/$name.err" || rc=$?
}
# count NAME LABEL: the number on the summary line "LABEL: n".
count() { sed -n "s/^$2: \([0-9][0-9]*\)\$/\1/p" "$work/$1.out"; }
# expect_counts NAME TOTAL STORED PLACEHOLDERS DAMAGED MISSING
expect_counts() {
  local got
  got="$(count "$1" 'Tiles in the block') $(count "$1" Stored)"
  got+=" $(count "$1" Placeholders) $(count "$1" Damaged) $(count "$1" Missing)"
  [ "$got" = "$2 $3 $4 $5 $6" ] ||
    fail "$1: counts '$got', expected '$2 $3 $4 $5 $6'"
}

# 1. 16 columns by 10 rows at zoom 18; 60 % of the requests are answered
# with 404, so about a fifth of the tiles are given up after three tries.
e2e_start_service "$work/server1.txt" "$work/served1.txt" --fault-rate 0.6 \
  --faults 404 --seed 11
e2e_point_hosts "$port"
out=$work/out
KESTRANE_PACING_SCALE=0 run download download --task t --path "$out" \
  --left -122.3407 --right -122.3201 --top 47.6083 --bottom 47.6000 --zoom 18 \
  --dir North
total=160
[ "$rc" -eq 1 ] || fail "download: exit $rc, expected 1 (tiles given up)"
tiles=("$out"/t/ks_*_18.jpg)
[ "${#tiles[@]}" -eq "$total" ] || fail "${#tiles[@]} tile files"
# One md5sum for all the files: a process per tile is slow on a busy machine.
blank_md5=$(md5sum <"$blank" | cut -d' ' -f1)
# blanks: the tile files that equal the placeholder, one a line.
blanks() { md5sum "$out"/t/ks_*_18.jpg | sed -n "s/^$blank_md5  //p"; }
placeholders=$(blanks | wc -l)
[ "$placeholders" -gt 0 ] && [ "$placeholders" -lt $((total / 2)) ] ||
  fail "$placeholders placeholders"
expect_counts download $total $((total - placeholders)) $placeholders 0 0

# 2. Resuming the finished task fetches nothing and still reports the gaps.
KESTRANE_PACING_SCALE=0 run resume resume "$out/t.ktsk"
[ "$rc" -eq 1 ] || fail "resume of a task with placeholders: exit $rc"
expect_counts resume $total $((total - placeholders)) $placeholders 0 0

# 3. Three stored tiles deleted, one overwritten with garbage.
mapfile -t stored < <(md5sum "${tiles[@]}" | grep -v "^$blank_md5 " |
  sed 's/^[0-9a-f]*  //')
deleted=("${stored[0]}" "${stored[5]}" "${stored[9]}")
garbled=${stored[3]}
rm "${deleted[@]}"
printf 'this is not a picture' >"$garbled"

e2e_stop_service
e2e_start_service "$work/server2.txt" "$work/served2.txt"
e2e_point_hosts "$port"

# An audit killed while it wrote its list left the list's temporary file
# (its process id is above any the system gives).
stale=$out/.kestrane-tmp-4194999-0.part
printf 'half a list' >"$stale"
run audit audit "$out/t.ktsk"
[ "$rc" -eq 1 ] || fail "audit: exit $rc, expected 1"
[ ! -e "$stale" ] || fail "audit: the killed audit's temporary list is left"
expect_counts audit $total $((total - placeholders - 3)) $placeholders 0 3
list=$out/t_missing.ftl
grep -qxF "Tiles to fetch again: $list" "$work/audit.out" ||
  fail "audit: no line naming the list"

run decode audit "$out/t.ktsk" --decode --list "$work/todo.ftl"
[ "$rc" -eq 1 ] || fail "audit --decode: exit $rc, expected 1"
expect_counts decode $total $((total - placeholders - 4)) $placeholders 1 3

# The list names exactly the tiles not stored, in the workers' order
# (North: column by column, each from the southern row), path|url CR LF.
{
  printf '%s\n' "${deleted[@]}" "$garbled"
  blanks
} | sed 's|.*/||' | sort -t_ -k2,2n -k3,3n >"$work/expected.txt"
tr -d '\r' <"$work/todo.ftl" | cut -d'|' -f1 | sed 's|.*/||' >"$work/listed.txt"
diff "$work/expected.txt" "$work/listed.txt" >&2 ||
  fail "the list does not name exactly the tiles not stored"
[ "$(grep -c $'\r$' "$work/todo.ftl")" -eq "$(wc -l <"$work/todo.ftl")" ] ||
  fail "the list's lines do not end in CR LF"
grep -q "|http://127.0.0.1:$port/tiles/svi" "$work/todo.ftl" ||
  fail "the list's URLs do not point at the service"

# 4. The re-download stores every listed tile; the audit then passes.
records=$(wc -l <"$work/expected.txt")
run redl redownload "$work/todo.ftl"
[ "$rc" -eq 0 ] || fail "redownload: exit $rc, expected 0"
[ "$(tail -1 "$work/redl.out")" = "Stored now: $records of $records records" ] ||
  fail "redownload: no count of the stored records"
run final audit "$out/t.ktsk" --decode
[ "$rc" -eq 0 ] || fail "audit after the re-download: exit $rc, expected 0"
expect_counts final $total $total 0 0 0

# 5. Input refused: no such file, not a project file, no argument.
run nofile audit "$out/none.ktsk"
[ "$rc" -eq 2 ] || fail "no such file: exit $rc, expected 2"
grep -qxF "Cannot open file $out/none.ktsk" "$work/nofile.err" ||
  fail "no such file: no message"
run notask audit "$list"
[ "$rc" -eq 2 ] || fail "not a project file: exit $rc, expected 2"
run usage audit
[ "$rc" -eq 2 ] || fail "no argument: exit $rc, expected 2"

echo "audit: ok ($placeholders placeholders, 3 deleted, 1 garbled, all fetched again)"
