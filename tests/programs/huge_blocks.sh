#!/usr/bin/env bash
# A block of 2.0 x 10^9 tiles, about the most a project file holds: `plan`
# of it looking North refuses its tile lists (about 220 GB) before any file
# is written when the disk has less room, naming both sizes; `audit` of it
# looking East counts every tile within 256 MB of memory and refuses its
# list alike; `tilejoin` refuses it at once, naming the most tiles a join
# holds. The refusals of lists that would fit this disk are not tried.
set -euo pipefail
bundle=${1:?usage: huge_blocks.sh BUNDLE_DIR}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
cli=$bundle/kestrane-cli
area=(--left -50 --right 50 --top 60 --bottom -60 --zoom 17)
free=$(df -B1 --output=avail "$work" | tail -1 | tr -d ' ')

# peak_kb OUT ERR COMMAND...: runs the command, sets rc and peak (the most
# memory it held, KB, from /proc while it runs).
peak_kb() {
  local out=$1 err=$2
  shift 2
  "$@" >"$out" 2>"$err" &
  local pid=$! hwm
  peak=0
  while kill -0 "$pid" 2>/dev/null; do
    hwm=$(sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\) kB/\1/p' \
      "/proc/$pid/status" 2>/dev/null || true)
    [ -n "$hwm" ] && [ "$hwm" -gt "$peak" ] && peak=$hwm
    sleep 0.02
  done
  rc=0
  wait "$pid" || rc=$?
}

# 1. The tile lists of the North task.
mkdir "$work/north"
rc=0
"$cli" plan --path "$work/north" --task n "${area[@]}" --dir North \
  >"$work/north.out" 2>"$work/north.err" || rc=$?
if [ "$free" -lt 200000000000 ]; then
  [ "$rc" -eq 2 ] || fail "plan of 220 GB of tile lists: exit $rc"
  grep -q "^Cannot create file $work/north/n_list.txt1.txt: it needs 2[0-9][0-9]\.[0-9] GB, and the disk has .* free$" \
    "$work/north.err" || fail "plan: $(cat "$work/north.err")"
  [ -z "$(ls -A "$work/north")" ] ||
    fail "plan wrote files: $(ls -A "$work/north")"
  echo "plan: $(cat "$work/north.err")"
else
  echo "plan: skipped, the disk has room for the lists"
fi

# 2. The audit of the East task (no tile folder: every tile missing).
mkdir "$work/east"
"$cli" plan --path "$work/east" --task e "${area[@]}" --dir East \
  >"$work/east.out" || fail "plan East: exit $?"
grep -qx 'Total images: 2000583860' "$work/east.out" ||
  fail "plan East: $(head -3 "$work/east.out")"
rmdir "$work/east/e"
if [ "$free" -lt 200000000000 ]; then
  peak_kb "$work/audit.out" "$work/audit.err" "$cli" audit "$work/east/e.ktsk"
  [ "$rc" -eq 2 ] || fail "audit: exit $rc ($(cat "$work/audit.err"))"
  grep -qx 'Missing: 2000583860' "$work/audit.out" ||
    fail "audit: $(cat "$work/audit.out")"
  grep -q "^Cannot create file $work/east/e_missing.ftl: it needs 2[0-9][0-9]\.[0-9] GB, and the disk has" \
    "$work/audit.err" || fail "audit: $(cat "$work/audit.err")"
  if [ -z "${KESTRANE_SANITIZED:-}" ]; then
    [ "$peak" -gt 0 ] && [ "$peak" -lt 262144 ] ||
      fail "audit held $peak KB"
  fi
  [ -z "$(find "$work/east" -name '*missing*' -o -name '.kestrane-tmp-*')" ] ||
    fail "audit wrote its list"
  echo "audit: $peak KB at most; $(cat "$work/audit.err")"
else
  echo "audit: skipped, the disk has room for the list"
fi

# 3. The join: refused before the tile folder is looked at.
peak_kb "$work/join.out" "$work/join.err" "$bundle/tilejoin" "$work/east/e.ktsk"
[ "$rc" -eq 2 ] || fail "tilejoin: exit $rc"
grep -qxF "Cannot create file $work/east/e.tif: a picture of 2000583860 tiles is more than the joiner writes within 256 MB of memory (at most 536870912 tiles)" \
  "$work/join.err" || fail "tilejoin: $(cat "$work/join.err")"
[ ! -e "$work/east/e.tif" ] || fail "tilejoin wrote a picture"
echo "huge_blocks: ok"
