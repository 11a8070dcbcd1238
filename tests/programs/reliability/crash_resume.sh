#!/usr/bin/env bash
# Crash and resume: a task is killed with SIGKILL at a random moment and
# resumed, again and again; each final tile folder must equal that of an
# uninterrupted run byte for byte, the project file must still open, the log
# must hold one "Log continue..." per resume, and no tile may be half
# written.
#   crash_resume.sh BUNDLE [--runs N] [--cols C --rows R] [--scale S]
set -euo pipefail
BUNDLE=$(cd "$1" && pwd)
shift
runs=10 cols=15 rows=20 scale=0.2
while [ $# -gt 0 ]; do
  case "$1" in
  --runs) runs=$2; shift 2 ;;
  --cols) cols=$2; shift 2 ;;
  --rows) rows=$2; shift 2 ;;
  --scale) scale=$2; shift 2 ;;
  *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
. "$(dirname "$0")/lib.sh"
rel_init crash

rel_server tiles
rel_bundle "$WORK/app" "$PORT"
cli="$WORK/app/kestrane-cli"
area=$(rel_area 41980 "$cols" 91540 "$rows" 18)
export KESTRANE_PACING_SCALE=$scale

# The uninterrupted run gives the reference folder and the run's length.
t0=$(rel_now_ms)
# shellcheck disable=SC2086
"$cli" download --task ref --path "$WORK/ref" $area --dir North \
  >"$WORK/ref.out" 2>&1 || rel_fail "reference run failed: $(tail -3 "$WORK/ref.out")"
full_ms=$(($(rel_now_ms) - t0))
tiles=$(ls "$WORK/ref/ref" | wc -l)
[ "$tiles" -eq $((cols * rows)) ] || rel_fail "reference holds $tiles tiles"
echo "reference: $tiles tiles in ${full_ms} ms (pacing scale $scale)"

printf '%-4s %8s %8s %8s %8s %6s %s\n' run kill_ms stored resumes leftover same result
failures=0
RANDOM=${SEED:-4242}
for run in $(seq 1 "$runs"); do
  out="$WORK/run$run"
  kill_ms=$((RANDOM % (full_ms > 200 ? full_ms - 100 : 100) + 50))
  # shellcheck disable=SC2086
  "$cli" download --task t --path "$out" $area --dir North \
    >"$WORK/run$run.first" 2>&1 &
  pid=$!
  sleep "$(awk -v ms=$kill_ms 'BEGIN { printf "%.3f", ms / 1000 }')"
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  stored=$(ls "$out/t" 2>/dev/null | grep -c '\.jpg$' || true)

  resumes=0 status=ok
  if [ -f "$out/t.ktsk" ]; then
    # Resume until the task completes (one resume is what is expected).
    until "$cli" resume "$out/t.ktsk" >"$WORK/run$run.resume$resumes" 2>&1; do
      resumes=$((resumes + 1))
      [ $resumes -lt 3 ] || {
        status="resume fails"
        echo "run $run: the last resume said:" >&2
        tail -5 "$WORK/run$run.resume$((resumes - 1))" >&2
        break
      }
    done
    resumes=$((resumes + 1))
  else
    # Killed before the project file existed: the task simply starts again.
    # shellcheck disable=SC2086
    "$cli" download --task t --path "$out" $area --dir North \
      >"$WORK/run$run.again" 2>&1 || status="restart fails"
  fi

  # Leftovers: temporary files of writes the kill interrupted.
  leftover=$(find "$out" -name '.kestrane-tmp-*' | wc -l)
  same=yes
  for f in "$WORK/ref/ref"/*.jpg; do
    cmp -s "$f" "$out/t/$(basename "$f")" || { same=no; break; }
  done
  extra=$(ls "$out/t" | wc -l) # temporaries are dot files
  [ "$extra" -eq "$tiles" ] || same=no
  for f in "$out/t"/*.jpg; do
    rel_decodes "$f" || { status="half-written tile $(basename "$f")"; break; }
  done
  if [ -f "$out/t.ktsk" ]; then
    "$cli" open "$out/t.ktsk" >/dev/null 2>&1 || status="project file does not open"
    continues=$(tr -d '\r' <"$out/t_log.txt" | grep -cx 'Log continue...' || true)
    [ "$continues" -eq "$resumes" ] ||
      status="log has $continues 'Log continue...' for $resumes resumes"
  fi
  [ "$same" = yes ] || [ "$status" != ok ] || status="folder differs"
  [ "$status" = ok ] || failures=$((failures + 1))
  printf '%-4s %8s %8s %8s %8s %6s %s\n' "$run" "$kill_ms" "$stored" \
    "$resumes" "$leftover" "$same" "$status"
  total_leftover=$((${total_leftover:-0} + leftover))
done
echo "runs: $runs  failed: $failures  temporary files left by kills: ${total_leftover:-0}"
[ "$failures" -eq 0 ]
