#!/usr/bin/env bash
# kestrane-cli redownload against the sample tile service: a task whose
# every tile fails its first three requests leaves all of them in the
# failed list; the re-download stores every one (exit 0, and says all
# records are stored now), replaces the
# placeholders and side files, and leaves the list as it was. Then the
# exit statuses and texts of the other outcomes: a tile the service does
# not have (1), a refused connection (1, two-line socket text), an empty
# list (0), a missing list and a tile that cannot be written (2), and a
# hostile list whose records lead out of its folder (1, nothing written).
set -euo pipefail
bundle=${1:?usage: redownload.sh BUNDLE_DIR}
source "$(dirname "$0")/../support/e2e_lib.sh"
e2e_workspace
fail() {
  echo "FAIL: $*" >&2
  for f in "$work"/*.out; do
    [ -s "$f" ] && { echo "--- $f" >&2; tail -5 "$f" >&2; }
  done
  exit 1
}
command -v djpeg >/dev/null || fail "djpeg is missing (libjpeg-turbo-progs)"

cp -r "$bundle" "$work/bin"
cli=$work/bin/kestrane-cli
e2e_start_service "$work/server.txt" "$work/served.txt" --fail-first 3 \
  --faults 500 --log
e2e_point_hosts "$port"

# run NAME ARGS...: runs the command line, sets rc.
run() {
  local name=$1
  shift
  rc=0
  "$cli" "$@" >"$work/$name.out" 2>"$work/$name.err" || rc=$?
}

# 1. A small task: every tile fails three times with 500 and is given up.
out=$work/out
KESTRANE_PACING_SCALE=0 run task download --task r --path "$out" \
  --left -122.3400 --right -122.3375 --top 47.6010 --bottom 47.6000 \
  --zoom 18 --dir North
[ "$rc" -eq 1 ] || fail "download: exit $rc, expected 1 (tiles given up)"
ftl=$out/r_failed.ftl
records=$(grep -c . "$ftl" || true)
tiles=$(ls "$out"/r/ks_*_18.jpg | wc -l)
[ "$records" -eq "$tiles" ] && [ "$records" -gt 1 ] ||
  fail "$records records for $tiles tiles"
before=$(md5sum <"$ftl")
stamp=$(stat -c %Y "$ftl")
: >"$(head -1 "$ftl" | tr -d '\r' | cut -d'|' -f1).invalid"

run redl redownload "$ftl"
[ "$rc" -eq 0 ] || fail "redownload: exit $rc, expected 0"
[ "$(sed -n 1p "$work/redl.out")" = "Start..." ] || fail "no Start... line"
[ "$(tail -2 "$work/redl.out" | head -1)" = "Download End." ] ||
  fail "no end line"
[ "$(tail -1 "$work/redl.out")" = "Stored now: $records of $records records" ] ||
  fail "no count of the stored records"
ok=$(grep -c ' ->OK$' "$work/redl.out" || true)
[ "$ok" -eq "$records" ] || fail "$ok OK lines for $records records"
[ "$(wc -l <"$work/redl.out")" -eq $((records + 3)) ] ||
  fail "lines beside the OK lines"
blank=$work/bin/blankimg/blank180.jpg
for f in "$out"/r/ks_*_18.jpg; do
  ! cmp -s "$f" "$blank" || fail "$f is still the placeholder"
  djpeg -outfile /dev/null "$f" || fail "$f does not decode"
done
[ -z "$(find "$out/r" -name '*.invalid' -o -name '*.crashed' -o -name '.kestrane-tmp-*')" ] ||
  fail "side or temporary files left beside good tiles"
[ "$(md5sum <"$ftl")" = "$before" ] && [ "$(stat -c %Y "$ftl")" = "$stamp" ] ||
  fail "the list file was written"

# 2. Other outcomes, each with its exit status and lines.
tile=$out/r/ks_9_9_18.jpg
missing="http://127.0.0.1:$port/tiles/svi4?g=5340&dir=dir_n"
printf '%s|%s\r\n' "$tile" "$missing" >"$work/404.ftl"
run notfound redownload "$work/404.ftl"
[ "$rc" -eq 1 ] || fail "tile not found: exit $rc, expected 1"
grep -qxF -- "404 Not Found->$missing" "$work/notfound.out" ||
  fail "no 404 failure line"
grep -qxF -- "$missing:Error: the image is not found on server." \
  "$work/notfound.out" || fail "no not-found line"
[ ! -e "$tile" ] || fail "a failure wrote the tile"

# A port that nobody listens on: one the service had, after it has gone.
"$work/bin/kestrane-sample-server" --port 0 --hosts 1 >"$work/gone.txt" &
gone_pid=$!
refused_port=
for _ in $(seq 100); do
  refused_port=$(sed -n 's/^PORT \([0-9][0-9]*\)$/\1/p' "$work/gone.txt")
  [ -n "$refused_port" ] && break
  sleep 0.1
done
kill "$gone_pid"
wait "$gone_pid" || true
[ -n "$refused_port" ] || fail "the second service printed no port"
printf '%s|http://127.0.0.1:%s/tiles/svi0?g=5340&dir=dir_n\r\n' "$tile" \
  "$refused_port" >"$work/refused.ftl"
run refused redownload "$work/refused.ftl"
[ "$rc" -eq 1 ] || fail "refused: exit $rc, expected 1"
diff <(printf '%s\n' "Start..." "Socket Error # 10061" \
  "Connection refused.->http://127.0.0.1:$refused_port/tiles/svi0?g=5340&dir=dir_n" \
  "Error: Your network has problem, please check it." "Download End." \
  "Stored now: 0 of 1 records") \
  "$work/refused.out" >&2 || fail "refused: other lines"

: >"$work/empty.ftl"
run empty redownload "$work/empty.ftl"
[ "$rc" -eq 0 ] || fail "empty list: exit $rc, expected 0"
[ "$(cat "$work/empty.out")" = "No failed files records.
Stored now: 0 of 0 records" ] ||
  fail "empty list: other lines"

run nolist redownload "$work/none.ftl"
[ "$rc" -eq 2 ] || fail "missing list: exit $rc, expected 2"
grep -qxF "Cannot open file $work/none.ftl" "$work/nolist.err" ||
  fail "missing list: no message"

printf '%s|%s\r\n' "$work/gone/ks_1_1_18.jpg" \
  "http://127.0.0.1:$port/tiles/svi0?g=5340&dir=dir_n" >"$work/gone.ftl"
for _ in 1 2 3 4; do # past the service's failing first requests
  run gone redownload "$work/gone.ftl"
  [ "$rc" -eq 1 ] || break
done
[ "$rc" -eq 2 ] || fail "unwritable tile: exit $rc, expected 2"
grep -qxF "Cannot create file $work/gone/ks_1_1_18.jpg" "$work/gone.err" ||
  fail "unwritable tile: no message"
! grep -q 'Download End.' "$work/gone.out" ||
  fail "unwritable tile: the run went on to its end line"

# 3. A received list naming files outside its folder: each record refused
# with its line, nothing requested or written, the run goes on.
hostile=$work/h
mkdir -p "$hostile/t"
echo "user's file" >"$work/victim.txt"
ln -s "$work" "$hostile/ln"
ln -s "$work/victim.txt" "$hostile/t/ks_2_2_18.jpg"
url="http://127.0.0.1:$port/tiles/svi0?g=5340&dir=dir_n"
paths=("$work/victim.txt" "../ks_1_1_18.jpg" "ln/ks_1_1_18.jpg"
  "t/ks_2_2_18.jpg" "$HOME/.bashrc" "/etc/ks_1_1_18.jpg")
for p in "${paths[@]}"; do printf '%s|%s\r\n' "$p" "$url"; done \
  >"$hostile/hostile_failed.ftl"
run hostile redownload "$hostile/hostile_failed.ftl"
[ "$rc" -eq 1 ] || fail "hostile list: exit $rc, expected 1"
{
  echo "Start..."
  for p in "${paths[@]}"; do
    echo "$p:refused, not a tile file of this list's folder"
  done
  echo "Download End."
  # Refused records count as not stored, whatever their paths hold.
  echo "Stored now: 0 of ${#paths[@]} records"
} | diff - "$work/hostile.out" >&2 || fail "hostile list: other lines"
[ "$(cat "$work/victim.txt")" = "user's file" ] ||
  fail "hostile list: a file outside its folder was written"
[ -L "$hostile/t/ks_2_2_18.jpg" ] && [ ! -e "$work/ks_1_1_18.jpg" ] ||
  fail "hostile list: a link was replaced or a file made"

run usage redownload
[ "$rc" -eq 2 ] || fail "no argument: exit $rc, expected 2"

echo "redownload: ok ($records tiles re-downloaded, every outcome checked)"
