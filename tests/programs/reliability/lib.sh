# Shared pieces of the whole-process reliability runs. Source it after
# setting BUNDLE to the built bundle (build/bin).
#   rel_init NAME           a scratch folder in $WORK, removed at exit
#   rel_bundle DEST PORT    a copy of the bundle whose settings point the
#                           four tile hosts at 127.0.0.1..4:PORT
#   rel_server NAME ARGS..  starts the sample tile service, sets PORT
#   rel_area X0 NX Y0 NY Z  task options for a block of NX x NY tiles
#   rel_decodes FILE        true when djpeg decodes the JPEG whole (other
#                           warnings pass)

set -euo pipefail

rel_fail() {
  echo "FAIL: $*" >&2
  exit 1
}

rel_init() {
  [ -x "$BUNDLE/kestrane-cli" ] || rel_fail "no kestrane-cli in $BUNDLE"
  [ -x "$BUNDLE/kestrane-sample-server" ] ||
    rel_fail "no kestrane-sample-server in $BUNDLE"
  WORK=$(mktemp -d "${TMPDIR:-/tmp}/krel-$1.XXXXXX")
  REL_PIDS=()
  trap rel_cleanup EXIT
}

rel_cleanup() {
  local pid
  for pid in "${REL_PIDS[@]:-}"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  done
  for pid in "${REL_PIDS[@]:-}"; do
    [ -n "$pid" ] && wait "$pid" 2>/dev/null || true
  done
  if [ -n "${REL_KEEP:-}" ]; then
    echo "kept $WORK"
  else
    rm -rf "$WORK"
  fi
}

rel_bundle() {
  local dest=$1 port=$2
  [ -n "${BUNDLE:-}" ] && [ -x "$BUNDLE/kestrane-cli" ] || rel_fail "BUNDLE is not a bundle"
  mkdir -p "$dest"
  cp -a "$BUNDLE/." "$dest/"
  mkdir -p "$dest/ini"
  printf '[IniParas]\r\nDefaultPath=%s\r\n[TileService]\r\n' "$WORK/" \
    >"$dest/ini/config.ini"
  local i
  for i in 0 1 2 3; do
    printf 'Host%d=127.0.0.%d:%s\r\n' "$i" $((i + 1)) "$port" \
      >>"$dest/ini/config.ini"
  done
}

# Starts the sample service with its own arguments; waits for its "PORT n"
# line and sets PORT and SERVER_PID.
rel_server() {
  local name=$1
  shift
  "$BUNDLE/kestrane-sample-server" --port 0 "$@" \
    >"$WORK/$name.out" 2>"$WORK/$name.err" &
  SERVER_PID=$!
  REL_PIDS+=("$SERVER_PID")
  local i
  for i in $(seq 1 100); do
    # The service's shell may not have created the file yet: no port.
    PORT=$(sed -n 's/^PORT \([0-9][0-9]*\).*/\1/p' "$WORK/$name.out" \
      2>/dev/null | head -1 || true)
    [ -n "$PORT" ] && return 0
    kill -0 "$SERVER_PID" 2>/dev/null ||
      rel_fail "sample server exited: $(cat "$WORK/$name.err")"
    sleep 0.1
  done
  rel_fail "sample server printed no port"
}

rel_server_stop() {
  kill "$SERVER_PID" 2>/dev/null || true
  wait "$SERVER_PID" 2>/dev/null || true
}

# Edges through the middles of the corner tiles of the block: columns X0 ..
# X0+NX-1, rows Y0 .. Y0+NY-1 counted from the north (the task counts them
# from the south; the block is the same).
rel_area() {
  awk -v x0="$1" -v nx="$2" -v y0="$3" -v ny="$4" -v z="$5" 'BEGIN {
    n = 2 ^ z; pi = atan2(0, -1)
    lon0 = (x0 + 0.5) / n * 360 - 180
    lon1 = (x0 + nx - 0.5) / n * 360 - 180
    a0 = pi * (1 - 2 * (y0 + 0.5) / n); a1 = pi * (1 - 2 * (y0 + ny - 0.5) / n)
    lat0 = atan2((exp(a0) - exp(-a0)) / 2, 1) * 180 / pi
    lat1 = atan2((exp(a1) - exp(-a1)) / 2, 1) * 180 / pi
    printf "--left %.10f --right %.10f --top %.10f --bottom %.10f --zoom %d",
      lon0, lon1, lat0, lat1, z
  }'
}

rel_decodes() {
  local rc=0 warning
  warning=$(djpeg "$1" 2>&1 >/dev/null) || rc=$?
  # djpeg ends with 2 after a warning. The program's check takes a JPEG with
  # a warning, except data that ends before the picture does.
  [ "$rc" -eq 0 ] ||
    { [ "$rc" -eq 2 ] && [[ $warning != *"Premature end of JPEG file"* ]]; }
}

# The tile file names of a North task, from its tile lists.
rel_tile_names() {
  cat "$1"_list.txt*.txt | tr -d '\r' | sed -n 's/^\(ks_[^:]*\.jpg\):.*/\1/p'
}

rel_now_ms() { date +%s%3N; }
