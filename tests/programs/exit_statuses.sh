#!/usr/bin/env bash
# One fault, one exit status, in every command of kestrane-cli and in
# tilejoin: a refused input, a file that cannot be read or is no project
# file, and a file that cannot be written all end the command with status
# 2 and the system's own text as the last line on stderr. One row per
# command and fault.
set -euo pipefail
bundle=${1:?usage: exit_statuses.sh BUNDLE_DIR}
source "$(dirname "$0")/../support/e2e_lib.sh"
e2e_workspace
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

cp -r "$bundle" "$work/bin"
cli=$work/bin/kestrane-cli
join=$work/bin/tilejoin
out=$work/out
mkdir "$out"
area=(--left -122.3407 --right -122.3330 --top 47.6083 --bottom 47.6040
  --zoom 18)

# row NAME STATUS TEXT PROGRAM ARGS...: the program ends with STATUS and
# its last line on stderr is TEXT.
row() {
  local name=$1 want=$2 text=$3 rc=0
  shift 3
  timeout 60 "$@" >"$work/$name.out" 2>"$work/$name.err" || rc=$?
  [ "$rc" -eq "$want" ] || fail "$name: exit $rc, expected $want"
  [ "$(tail -n 1 "$work/$name.err")" = "$text" ] ||
    fail "$name: stderr ends '$(tail -n 1 "$work/$name.err")', not '$text'"
}

# The faults' set-up: logs whose path a folder takes, a planned task, a
# file that is no project file, a picture whose path a folder takes.
mkdir "$out/p_log.txt" "$out/d_log.txt"
"$cli" plan --path "$out" --task r "${area[@]}" >/dev/null
rm "$out/r_log.txt"
mkdir "$out/r_log.txt"
"$cli" plan --path "$out" --task a "${area[@]}" >/dev/null
echo 'no project file' >"$out/x.ktsk"
mkdir "$out/a.tif"

# Refused input.
row plan-input 2 'Zoom level should be between 1 and 21.' \
  "$cli" plan --path "$out" --task i "${area[@]}" --zoom 0
row download-input 2 'Zoom level should be between 1 and 21.' \
  "$cli" download --path "$out" --task i "${area[@]}" --zoom 0
row convert-input 2 'Input Error.' "$cli" convert x 1 2

# A file that cannot be read, or is no project file.
row resume-missing 2 "Cannot open file $out/none.ktsk" \
  "$cli" resume "$out/none.ktsk"
row open-missing 2 "Cannot open file $out/none.ktsk" "$cli" open "$out/none.ktsk"
row audit-missing 2 "Cannot open file $out/none.ktsk" \
  "$cli" audit "$out/none.ktsk"
row audit-no-task 2 "Cannot open file $out/x.ktsk" "$cli" audit "$out/x.ktsk"
row redownload-missing 2 "Cannot open file $out/none.ftl" \
  "$cli" redownload "$out/none.ftl"
row tilejoin-missing 2 "Cannot open file $out/none.ktsk" \
  "$join" "$out/none.ktsk"
row tilejoin-no-task 2 "Cannot open file $out/x.ktsk" "$join" "$out/x.ktsk"

# A file that cannot be written (plan and tilejoin ended with 1 here once).
row plan-log 2 "Cannot create file $out/p_log.txt" \
  "$cli" plan --path "$out" --task p "${area[@]}"
row download-log 2 "Cannot create file $out/d_log.txt" \
  "$cli" download --path "$out" --task d "${area[@]}"
row resume-log 2 "Cannot open file $out/r_log.txt" \
  "$cli" resume "$out/r.ktsk"
row audit-list 2 "Cannot create file $out: it is a folder" \
  "$cli" audit "$out/a.ktsk" --list "$out"
row tilejoin-picture 2 "Cannot create file $out/a.tif: it is a folder" \
  "$join" "$out/a.ktsk" "$out/a.tif" --no-overviews

# A re-downloaded tile whose folder is gone.
e2e_start_service "$work/server.out" /dev/null
printf '%s|%s\r\n' "$work/gone/ks_1_1_18.jpg" \
  "http://127.0.0.1:$port/tiles/svi0?g=5340&dir=dir_n" >"$work/gone.ftl"
row redownload-tile 2 "Cannot create file $work/gone/ks_1_1_18.jpg" \
  "$cli" redownload "$work/gone.ftl"

[ "$failures" -eq 0 ] || exit 1
echo "exit_statuses: ok"
