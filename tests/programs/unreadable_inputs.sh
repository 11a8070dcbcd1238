#!/usr/bin/env bash
# Files put in the command line's way: a settings file, project file or log
# that is a FIFO, a folder or far too large is refused at once with "Cannot
# open file <path>" and exit status 2 (no wait for a FIFO's writer, no abort
# with an uncaught exception); a settings file is read through a link the
# user made.
set -euo pipefail
bundle=${1:?usage: unreadable_inputs.sh BUNDLE_DIR}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
cp -r "$bundle" "$work/bin"
cli=$work/bin/kestrane-cli
ini=$work/bin/ini/config.ini

# refused NAME PATH ARGS...: the command ends within 10 s, exit 2, with the
# read-failure text for PATH on standard error.
refused() {
  local name=$1 path=$2 rc=0
  shift 2
  timeout 10 "$cli" "$@" >"$work/$name.out" 2>"$work/$name.err" || rc=$?
  [ "$rc" -ne 124 ] || fail "$name: still waiting after 10 s"
  [ "$rc" -eq 2 ] || fail "$name: exit $rc, expected 2 ($(cat "$work/$name.err"))"
  grep -qxF "Cannot open file $path" "$work/$name.err" ||
    fail "$name: no read-failure text: $(cat "$work/$name.err")"
}

task=(--task t --path "$work/out" --left -122.3400 --right -122.3395
  --top 47.6005 --bottom 47.6000 --zoom 18 --dir North)

# The settings file.
mkfifo "$ini"
refused settings_fifo "$ini" plan "${task[@]}"
rm "$ini"
mkdir "$ini"
refused settings_folder "$ini" plan "${task[@]}"
rmdir "$ini"
head -c $((1024 * 1024 + 1)) /dev/zero | tr '\0' '\n' >"$ini"
refused settings_big "$ini" download "${task[@]}"
rm "$ini"

# A link the user made to their own settings file is read through.
printf '[IniParas]\r\nDefaultPath=%s\r\n' "$work/linked" >"$work/mine.ini"
ln -s "$work/mine.ini" "$ini"
mkdir "$work/linked"
"$cli" plan --task t --left -122.3400 --right -122.3395 --top 47.6005 \
  --bottom 47.6000 --zoom 18 --dir North >"$work/linked.out" ||
  fail "plan through a settings link: exit $?"
[ -f "$work/linked/t.ktsk" ] || fail "the linked settings' folder was not used"
rm "$ini"

# The project file: 20 MB of blank lines, then a FIFO.
mkdir -p "$work/p"
head -c $((20 * 1024 * 1024)) /dev/zero | tr '\0' '\n' >"$work/p/big.ktsk"
start=$(date +%s%N)
refused open_big "$work/p/big.ktsk" open "$work/p/big.ktsk"
ms=$((($(date +%s%N) - start) / 1000000))
[ "$ms" -lt 1000 ] || fail "the 20 MB project file took $ms ms to refuse"
refused resume_big "$work/p/big.ktsk" resume "$work/p/big.ktsk"

# The log of a task being continued.
"$cli" plan "${task[@]}" >"$work/plan.out" || fail "plan: exit $?"
rm "$work/out/t_log.txt"
mkfifo "$work/out/t_log.txt"
refused log_fifo "$work/out/t_log.txt" resume "$work/out/t.ktsk"

echo "unreadable_inputs: ok (refused 20 MB project file in $ms ms)"
