#!/usr/bin/env bash
# A short tour of Kestrane against the loopback sample tile service:
# downloads a few dozen oblique tiles of a small area with the real pauses
# (under a minute), shows where the task's files are, fetches the failed
# tiles again and prints a summary.
#   scripts/demo.sh [BUNDLE_DIR]     (default: build/bin of this checkout)
# Output: ./demo-out, or $KESTRANE_DEMO_OUT.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bundle=${1:-$here/build/bin}
out=${KESTRANE_DEMO_OUT:-$PWD/demo-out}

die() {
  echo "demo: $*" >&2
  exit 1
}
[ -x "$bundle/kestrane-cli" ] ||
  die "no kestrane-cli in $bundle (build first: cmake -S . -B build && cmake --build build)"
[ -x "$bundle/kestrane-sample-server" ] || die "no kestrane-sample-server in $bundle"
bundle=$(cd "$bundle" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)

run=$(mktemp -d "${TMPDIR:-/tmp}/kestrane-demo.XXXXXX")
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$run"
}
trap cleanup EXIT

# 1. The tile service: four shard hosts 127.0.0.1..4 on one free port; one
# answer in twenty is a server error or a page that is no image, so that
# some tiles end up in the failed list.
"$bundle/kestrane-sample-server" --port 0 --faults 500,notimage \
  --fault-rate 0.05 --seed 1 --log --stats \
  >"$run/server.out" 2>"$out/service.log" &
server_pid=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's/^PORT \([0-9][0-9]*\)$/\1/p' "$run/server.out")
  [ -n "$port" ] && break
  kill -0 "$server_pid" 2>/dev/null || die "the sample service did not start"
  sleep 0.1
done
[ -n "$port" ] || die "the sample service printed no port"
echo "Sample tile service on 127.0.0.1..127.0.0.4, port $port"

# 2. A copy of the program whose settings point at the service.
cp -r "$bundle" "$run/app"
mkdir -p "$run/app/ini"
{
  printf '[IniParas]\r\nDefaultPath=%s/\r\n[TileService]\r\n' "$out"
  for i in 0 1 2 3; do
    printf 'Host%d=127.0.0.%d:%s\r\n' "$i" $((i + 1)) "$port"
  done
} >"$run/app/ini/config.ini"
cli=$run/app/kestrane-cli

# 3. The task: zoom 17 over a small part of Seattle, looking North.
rm -rf "$out/demo" "$out"/demo.ktsk "$out"/demo_*
echo
echo "Downloading (the workers pause half a second after every tile)..."
rc=0
"$cli" download --task demo --path "$out" --left -122.35 --right -122.33 \
  --top 47.61 --bottom 47.60 --zoom 17 --dir North \
  >"$out/download.txt" 2>&1 || rc=$?
case $rc in
0 | 1) ;;
*) tail -5 "$out/download.txt" >&2; die "the download ended with status $rc" ;;
esac
tr -d '\r' <"$out/download.txt" |
  grep -E '^(Total count of images|Download threads count)|->|got a|^Task Stoped' |
  sed 's/^/  /' || true

ftl=$out/demo_failed.ftl
blank=$run/app/blankimg/blank180.jpg
count_stored() {
  local n=0 f
  for f in "$out"/demo/ks_*.jpg; do
    [ -f "$f" ] && ! cmp -s "$f" "$blank" && n=$((n + 1))
  done
  echo "$n"
}
total=$(grep -c '^ks_' "$out"/demo_list.txt*.txt | awk -F: '{ s += $NF } END { print s }')
stored_before=$(count_stored)
failed=$(grep -c . "$ftl" || true)

echo
echo "Where things are:"
echo "  tiles          $out/demo/"
echo "  project file   $out/demo.ktsk"
echo "  log            $out/demo_log.txt"
echo "  tile list      $(ls "$out"/demo_list.txt*.txt | tr '\n' ' ')"
echo "  failed list    $ftl ($failed records)"
echo "  service log    $out/service.log"

# 4. The failed tiles once more, from their list.
redownloaded=0
if [ "$failed" -gt 0 ]; then
  echo
  echo "Re-downloading the failed tiles:"
  rc=0
  "$cli" redownload "$ftl" >"$out/redownload.txt" 2>&1 || rc=$?
  sed 's/^/  /' "$out/redownload.txt"
  [ "$rc" -le 1 ] || die "the re-download ended with status $rc"
  redownloaded=$(grep -c ' ->OK$' "$out/redownload.txt" || true)
fi

kill "$server_pid" 2>/dev/null || true
wait "$server_pid" 2>/dev/null || true
server_pid=

echo
echo "Summary:"
echo "  tiles in the task          $total"
echo "  stored by the download     $stored_before"
echo "  failed (in the list)       $failed"
echo "  re-downloaded              $redownloaded"
echo "  stored now                 $(count_stored) of $total"
echo "  service                    $(head -1 <(grep '^requests' "$out/service.log" || echo 'no totals'))"
