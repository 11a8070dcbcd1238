#!/usr/bin/env bash
# The audit side by side with its floors, on tile folders made of hard links
# (bench/audit_fixture), so the disk is not the limit:
#   listing: `kestrane-cli audit` (no decode) of a SIDE x SIDE North task
#            against `find TILEFOLDER -type f -printf '%s %f\n' | wc -l`, a
#            listing with sizes, which telling placeholders apart needs;
#            target: audit at most 2 x the listing's time;
#   decode:  `audit --decode` of a DSIDE x DSIDE task against djpeg decoding
#            the same files one after another, xargs handing each shell 100
#            names; target: at least 1.5 x djpeg's tiles per second.
# Runs A and B in turn, RUNS times each, and reports the median of the
# pairwise ratios with each side's median wall time and peak memory.
#   bench/audit_bench.sh [--build DIR] [--side 1024] [--dside 64] [--runs 5]
#                        [--keep]    (leave the fixtures in $TMPDIR)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build" side=1024 dside=64 runs=5 keep=
while [ $# -gt 0 ]; do
  case "$1" in
  --build) build=$(cd "$2" && pwd); shift 2 ;;
  --side) side=$2; shift 2 ;;
  --dside) dside=$2; shift 2 ;;
  --runs) runs=$2; shift 2 ;;
  --keep) keep=1; shift ;;
  *) echo "usage: $0 [--build DIR] [--side N] [--dside N] [--runs N] [--keep]" >&2
     exit 2 ;;
  esac
done
[ -x /usr/bin/time ] || { echo "needs GNU time (/usr/bin/time)" >&2; exit 2; }
command -v djpeg >/dev/null || { echo "needs djpeg" >&2; exit 2; }
cli=$build/bin/kestrane-cli
fixture=$build/bench/audit_fixture
blank=$build/bin/blankimg/blank180.jpg
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrane-audit-bench.XXXXXX")
[ -n "$keep" ] || trap 'rm -rf "$work"' EXIT

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# timed OUT CMD...: "wall maxrss_kb" of one run into OUT (exit status kept
# out of the way: an audit of a task with placeholders exits 1).
timed() {
  local out=$1
  shift
  /usr/bin/time -f '%e %M' -o "$out.gnu" "$@" >/dev/null 2>&1 || true
  tail -1 "$out.gnu" >"$out" # after GNU time's "Command exited ..." line
}
# side_by_side NAME "A" "B": RUNS pairs, A then B; prints one table row.
side_by_side() {
  local name=$1 a=$2 b=$3 i ra=() rb=() ma=() mb=() q=()
  sync
  timed "$work/t" sh -c "$a" # one warm-up each
  timed "$work/t" sh -c "$b"
  for ((i = 0; i < runs; i++)); do
    timed "$work/a" sh -c "$a"
    timed "$work/b" sh -c "$b"
    read -r wa ka <"$work/a"
    read -r wb kb <"$work/b"
    ra+=("$wa") rb+=("$wb") ma+=("$ka") mb+=("$kb")
    q+=("$(awk -v a="$wa" -v b="$wb" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 99) }')")
  done
  printf '%-34s %9s %9s %9s %10s %10s\n' "$name" \
    "$(printf '%s\n' "${ra[@]}" | median)" "$(printf '%s\n' "${rb[@]}" | median)" \
    "$(printf '%s\n' "${q[@]}" | median)" \
    "$(printf '%s\n' "${ma[@]}" | median)" "$(printf '%s\n' "${mb[@]}" | median)"
}

echo "making $((side * side)) + $((dside * dside)) tiles in $work ..." >&2
"$fixture" "$work/list" "$side" "$blank" 100 >/dev/null
"$fixture" "$work/decode" "$dside" "$blank" 1000000000 >/dev/null

printf '%-34s %9s %9s %9s %10s %10s\n' benchmark "A wall s" "B wall s" \
  "A/B" "A peak KB" "B peak KB"
side_by_side "audit $((side * side)) vs find (<= 2)" \
  "exec $cli audit $work/list/big.ktsk --list $work/list.ftl" \
  "find $work/list/big -type f -printf '%s %f\n' | wc -l"
side_by_side "audit --decode $((dside * dside)) vs djpeg (<= 0.667)" \
  "exec $cli audit $work/decode/big.ktsk --decode" \
  "find $work/decode/big -name 'ks_*.jpg' -print0 | xargs -0 -n 100 sh -c 'for f; do djpeg -outfile /dev/null \"\$f\"; done' _"
# Memory flat in the tile count: the same audit on a quarter of the block.
quarter=$((side / 2))
"$fixture" "$work/quarter" "$quarter" "$blank" 100 >/dev/null
timed "$work/q" "$cli" audit "$work/quarter/big.ktsk" --list "$work/q.ftl"
timed "$work/f" "$cli" audit "$work/list/big.ktsk" --list "$work/list.ftl"
echo "peak KB: $((quarter * quarter)) tiles $(cut -d' ' -f2 "$work/q"), $((side * side)) tiles $(cut -d' ' -f2 "$work/f")"
