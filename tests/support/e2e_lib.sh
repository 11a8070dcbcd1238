# Shared by the whole-process tests in tests/programs. The functions below use
# `work` (the test's own folder, with the bundle copied to $work/bin) and the
# test's `fail`.
#   e2e_workspace                        sets `work` to a new folder that is
#       removed, with the sample service stopped, when the test exits
#   e2e_start_service OUT ERR [ARGS...]  starts $work/bin's sample tile
#       service with ARGS, its stdout to OUT and stderr to ERR; waits for
#       its "PORT n" line and sets server_pid and port
#   e2e_point_hosts PORT                 $work/bin's settings point the four
#       tile hosts at 127.0.0.1..127.0.0.4:PORT
#   e2e_stop_service                     for the EXIT trap

server_pid=
port=

e2e_workspace() {
  work=$(mktemp -d)
  trap 'e2e_stop_service; rm -rf "$work"' EXIT
}

e2e_start_service() {
  local out=$1 err=$2
  shift 2
  "$work/bin/kestrane-sample-server" --port 0 "$@" >"$out" 2>"$err" &
  server_pid=$!
  port=
  for _ in $(seq 100); do
    # The service's shell may not have created OUT yet: no file is no port.
    port=$(sed -n 's/^PORT \([0-9][0-9]*\)$/\1/p' "$out" 2>/dev/null || true)
    [ -n "$port" ] && return 0
    sleep 0.1
  done
  fail "the sample service printed no port"
}

e2e_point_hosts() {
  printf '[TileService]\r\n' >"$work/bin/ini/config.ini"
  for i in 0 1 2 3; do
    printf 'Host%d=127.0.0.%d:%s\r\n' "$i" $((i + 1)) "$1" \
      >>"$work/bin/ini/config.ini"
  done
}

e2e_stop_service() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
}
