#!/usr/bin/env bash
# The outputs of tilejoin and `kestrane-cli audit --list` against hostile
# paths: a FIFO, a link to a device (/dev/stdout is one), a folder, a device
# node (when run as root) and each of the task's own files are refused
# with exit 2 and "Cannot create file PATH: it is ...", and what stands
# there is left as it was. Then interrupted runs: SIGHUP stops a join and
# an audit that writes its list as SIGINT does (exit 130, no output and no
# temporary file left), and the temporaries of a join and of an audit
# killed with SIGKILL are removed by the next run in that folder.
set -euo pipefail
bundle=${1:?usage: hostile_outputs.sh BUNDLE_DIR}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
command -v convert >/dev/null || fail "convert is missing"
join=$bundle/tilejoin
cli=$bundle/kestrane-cli

# A 6 x 6 North task with one tile missing (the audit has a list to write).
"$cli" plan --path "$work" --task t --left -122.3407 --right -122.3330 \
  --top 47.6083 --bottom 47.6040 --zoom 18 --dir North >/dev/null ||
  fail "plan failed"
convert -size 256x256 gradient:red-blue -sampling-factor 2x2 -quality 85 \
  "$work/tile.jpg"
names=$(tr -d '\r' <"$work/t_list.txt1.txt" | awk 'NR > 1 { sub(/:$/, "", $1); print $1 }')
for n in $names; do cp "$work/tile.jpg" "$work/t/$n"; done
tile=$(echo "$names" | sed -n 2p)
rm "$work/t/$(echo "$names" | sed -n 1p)"

# What stands at a path: its kind and, for a file, its checksum.
state() {
  if [ -f "$1" ] && [ ! -L "$1" ]; then
    echo "file $(md5sum <"$1")"
  else
    stat -c '%F %i' "$1"
  fi
}

# refused PATH KIND: tilejoin and audit --list both refuse PATH within 10 s
# with exit 2 and "Cannot create file PATH: it is KIND", leaving it as it
# was.
refused() {
  local path=$1 kind=$2 before rc
  before=$(state "$path")
  for tool in join audit; do
    rc=0
    if [ "$tool" = join ]; then
      timeout 10 "$join" "$work/t.ktsk" "$path" >"$work/out" 2>"$work/err" ||
        rc=$?
    else
      timeout 10 "$cli" audit "$work/t.ktsk" --list "$path" >"$work/out" \
        2>"$work/err" || rc=$?
    fi
    [ "$rc" -eq 2 ] || fail "$tool $path: exit $rc, expected 2 ($(cat "$work/err"))"
    grep -qxF "Cannot create file $path: it is $kind" "$work/err" ||
      fail "$tool $path: $(cat "$work/err")"
    [ "$(state "$path")" = "$before" ] || fail "$tool changed $path"
  done
}

mkfifo "$work/fifo"
ln -s /dev/null "$work/null"
ln -s /proc/self/fd/1 "$work/stdout"
ln -s "$work/fifo" "$work/to-fifo"
mkdir "$work/folder"
refused "$work/fifo" "a FIFO"
refused "$work/to-fifo" "a FIFO"
refused "$work/null" "a device"
refused "$work/folder" "a folder"
# /dev/stdout as the output, standard output a pipe: refused.
before=$(stat -c '%F %i' "$work/stdout")
set +e
"$join" "$work/t.ktsk" "$work/stdout" 2>"$work/err" | cat >/dev/null
joined=${PIPESTATUS[0]}
"$cli" audit "$work/t.ktsk" --list "$work/stdout" 2>>"$work/err" |
  cat >/dev/null
audited=${PIPESTATUS[0]}
set -e
[ "$joined" -eq 2 ] || fail "tilejoin to standard output (a pipe): $joined"
[ "$audited" -eq 2 ] || fail "audit to standard output (a pipe): $audited"
[ "$(grep -cxF "Cannot create file $work/stdout: it is a FIFO"   "$work/err")" -eq 2 ] || fail "standard output: $(cat "$work/err")"
[ "$(stat -c '%F %i' "$work/stdout")" = "$before" ] ||
  fail "the link to standard output was replaced"
if [ "$(id -u)" -eq 0 ] && mknod "$work/device" c 1 3 2>/dev/null; then
  refused "$work/device" "a device"
  [ -c "$work/device" ] || fail "the device node was replaced"
fi
refused "$work/t.ktsk" "the project file"
refused "$work/t_log.txt" "the task's log"
refused "$work/t_failed.ftl" "the task's failed-tile list"
refused "$work/t_list.txt1.txt" "a tile list of the task"
refused "$work/t/$tile" "a tile of the task"
refused "$work/t/../t/$tile" "a tile of the task"

# A join long enough to be interrupted: 60 x 60 tiles of 300 x 300, each
# decoded and encoded once.
"$cli" plan --path "$work/big" --task b --left -122.40 --right -122.317 \
  --top 47.65 --bottom 47.594 --zoom 18 --dir East >/dev/null
convert -size 300x300 gradient:green-yellow -quality 90 "$work/tile300.jpg"
"$cli" audit "$work/big/b.ktsk" --list "$work/b.ftl" >/dev/null || true
tr -d '\r' <"$work/b.ftl" | cut -d'|' -f1 |
  xargs -n 500 sh -c 'tee "$@" >/dev/null <"$0"' "$work/tile300.jpg"
temporaries() { find "$1" -maxdepth 1 -name '.kestrane-tmp-*'; }

# interrupt NAME SIGNAL FOLDER COMMAND...: runs the command, sends SIGNAL
# once a temporary file stands in FOLDER (the output is being written),
# and sets rc and ms (from the signal to the end).
interrupt() {
  local name=$1 sig=$2 folder=$3
  shift 3
  "$@" >"$work/$name.out" 2>"$work/$name.err" &
  local pid=$!
  for _ in $(seq 3000); do
    [ -n "$(temporaries "$folder")" ] && break
    sleep 0.01
  done
  [ -n "$(temporaries "$folder")" ] || fail "$name: no output begun"
  local sent
  sent=$(date +%s%N)
  kill -"$sig" "$pid"
  rc=0
  wait "$pid" 2>/dev/null || rc=$?
  ms=$((($(date +%s%N) - sent) / 1000000))
}

interrupt join-hup HUP "$work/big" "$join" "$work/big/b.ktsk"
[ "$rc" -eq 130 ] || fail "tilejoin on SIGHUP: exit $rc, expected 130"
[ "$ms" -lt 2000 ] || fail "tilejoin ended $ms ms after SIGHUP"
[ ! -e "$work/big/b.tif" ] && [ -z "$(temporaries "$work/big")" ] ||
  fail "tilejoin left files on SIGHUP: $(ls -A "$work/big")"
echo "tilejoin: SIGHUP stopped the join in $ms ms"
interrupt join-kill KILL "$work/big" "$join" "$work/big/b.ktsk"
[ -n "$(temporaries "$work/big")" ] || fail "the killed join left nothing"
"$join" "$work/t.ktsk" "$work/big/small.tif" >/dev/null 2>&1 || true
[ -z "$(temporaries "$work/big")" ] ||
  fail "the next join kept the killed join's temporary picture"

# An audit of an empty East block of about 7.9 million tiles: its list
# (about 900 MB) is written after the counts.
mkdir "$work/huge"
"$cli" plan --path "$work/huge" --task h --left -124 --right -120 --top 48 \
  --bottom 45.5 --zoom 18 --dir East >/dev/null
rmdir "$work/huge/h"
interrupt audit-hup HUP "$work/huge" "$cli" audit "$work/huge/h.ktsk"
[ "$rc" -eq 130 ] || fail "audit on SIGHUP while writing its list: exit $rc"
[ ! -e "$work/huge/h_missing.ftl" ] && [ -z "$(temporaries "$work/huge")" ] ||
  fail "audit left files on SIGHUP: $(ls -A "$work/huge")"
[ "$ms" -lt 2000 ] || fail "audit ended $ms ms after SIGHUP"
echo "audit: SIGHUP stopped the list in $ms ms"
interrupt audit-kill KILL "$work/huge" "$cli" audit "$work/huge/h.ktsk"
[ -n "$(temporaries "$work/huge")" ] || fail "the killed audit left nothing"
"$cli" audit "$work/t.ktsk" --list "$work/huge/small.ftl" >/dev/null || true
[ -z "$(temporaries "$work/huge")" ] ||
  fail "the next audit kept the killed audit's temporary list"
echo "hostile_outputs: ok"
