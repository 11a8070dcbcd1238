#!/usr/bin/env bash
# Disk full: a task whose output folder runs out of space half way (a small
# tmpfs; without the right to mount one, a file-size limit). The failure must
# be logged as a clear line, nothing already stored may be damaged, and a
# resume after space is freed must complete the task with the tiles of an
# uninterrupted run.
#   disk_full.sh BUNDLE [--cols C --rows R] [--mode tmpfs|fsize]
set -euo pipefail
BUNDLE=$(cd "$1" && pwd)
shift
cols=10 rows=12 mode=auto
while [ $# -gt 0 ]; do
  case "$1" in
  --cols) cols=$2; shift 2 ;;
  --rows) rows=$2; shift 2 ;;
  --mode) mode=$2; shift 2 ;;
  *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
. "$(dirname "$0")/lib.sh"
rel_init diskfull
small="$WORK/small"
mounted=
cleanup_mount() {
  [ -n "$mounted" ] && umount "$small" 2>/dev/null || true
  rel_cleanup
}
trap cleanup_mount EXIT

rel_server tiles
rel_bundle "$WORK/app" "$PORT"
cli="$WORK/app/kestrane-cli"
blank="$WORK/app/blankimg/blank180.jpg"
area=$(rel_area 41980 "$cols" 91540 "$rows" 18)
export KESTRANE_PACING_SCALE=0
total=$((cols * rows))

mkdir -p "$small"
if [ "$mode" = auto ]; then
  if mount -t tmpfs -o size=1m tmpfs "$small" 2>/dev/null; then
    umount "$small"
    mode=tmpfs
  else
    mode=fsize
  fi
fi
# Under a file-size limit the tile list (larger than a tile) could not be
# written at all, so that mode uses a task looking East, which has none.
dir=North
[ "$mode" = fsize ] && dir=East
# shellcheck disable=SC2086
"$cli" download --task t --path "$WORK/ref" $area --dir $dir \
  >"$WORK/ref.out" 2>&1 || rel_fail "reference run failed"
tile_bytes=$(du -sb "$WORK/ref/t" | cut -f1)
setup_bytes=$(($(du -sb "$WORK/ref" | cut -f1) - tile_bytes))
one_tile=$((tile_bytes / total))

if [ "$mode" = tmpfs ] && mount -t tmpfs -o size=$((setup_bytes * 3 + tile_bytes / 2)) \
  tmpfs "$small" 2>/dev/null; then
  mounted=yes mode=tmpfs
  echo "output on a tmpfs of $((setup_bytes * 3 + tile_bytes / 2)) bytes;" \
    "the tiles need $tile_bytes"
  run() { "$@"; }
else
  [ "$mode" = fsize ] || rel_fail "cannot mount a tmpfs"
  # Each file may grow to half a tile: every tile write fails, the small
  # files still fit. SIGXFSZ is ignored, so a write fails with EFBIG as on a
  # full disk instead of ending the process.
  limit=$((one_tile / 2))
  echo "file size limit $limit bytes; a tile is about $one_tile"
  run() { (trap '' XFSZ; prlimit --fsize=$limit "$@"); }
fi

rc=0
# shellcheck disable=SC2086
run "$cli" download --task t --path "$small" $area --dir $dir \
  >"$WORK/full.out" 2>"$WORK/full.err" || rc=$?
stored=$(ls "$small/t" 2>/dev/null | grep -c '\.jpg$' || true)
echo "full run: exit $rc, $stored tile files"
echo "lines that name the failure:"
grep -hiE 'space|too large|cannot|unable|error' "$WORK/full.out" "$WORK/full.err" |
  sort | uniq -c | sort -rn | head -8 | sed 's/^/  /'
clear=$(cat "$WORK/full.out" "$WORK/full.err" |
  grep -ciE 'No space left on device|File too large' || true)
status=0
[ "$clear" -gt 0 ] || { echo "FAIL: no line names the lack of space"; status=1; }

# What is stored must be whole: the reference tile, or the placeholder.
same=0 placeholder=0 damaged=0
for f in "$small/t"/*.jpg; do
  [ -e "$f" ] || continue
  if cmp -s "$f" "$WORK/ref/t/$(basename "$f")"; then
    same=$((same + 1))
  elif cmp -s "$f" "$blank"; then
    placeholder=$((placeholder + 1))
  else
    damaged=$((damaged + 1))
  fi
done
temps=$(find "$small" -name '.kestrane-tmp-*' | wc -l)
echo "after the full run: $same as the reference, $placeholder placeholders," \
  "$damaged damaged, $temps temporary files"
[ $damaged -eq 0 ] || { echo "FAIL: damaged tiles"; status=1; }
[ "$(tr -d '\r' <"$small/t_log.txt" | grep -c '^Project: ')" -eq 1 ] ||
  { echo "FAIL: log header lost"; status=1; }

# Space is freed; the task is resumed.
if [ $mode = tmpfs ]; then
  mount -o remount,size=$((setup_bytes * 4 + tile_bytes * 3)) "$small"
  run() { "$@"; }
else
  run() { "$@"; }
fi
rc=0
run "$cli" resume "$small/t.ktsk" >"$WORK/resume.out" 2>&1 || rc=$?
same=0 differ=0
for f in "$WORK/ref/t"/*.jpg; do
  if cmp -s "$f" "$small/t/$(basename "$f")"; then
    same=$((same + 1))
  else
    differ=$((differ + 1))
  fi
done
echo "resume: exit $rc; $same of $total tiles as the reference, $differ differ"
[ $rc -eq 0 ] || { echo "FAIL: resume did not complete the task"; status=1; }
[ $differ -eq 0 ] || {
  # Tiles that a full disk made placeholders are in the failed list; a
  # re-download of it brings them.
  "$cli" redownload "$small/t_failed.ftl" >"$WORK/redl.out" 2>&1 || true
  differ=0
  for f in "$WORK/ref/t"/*.jpg; do
    cmp -s "$f" "$small/t/$(basename "$f")" || differ=$((differ + 1))
  done
  echo "after re-downloading the failed list: $differ differ"
  [ $differ -eq 0 ] || { echo "FAIL: tiles differ from the reference"; status=1; }
}
exit $status
