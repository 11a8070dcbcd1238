# A real X server with a real window manager for the window tests and the
# screenshots, sourced after `fail` is set:
#   x11_start DISPLAY_NUMBER [WxH]
#                              starts Xvfb (1280x800 unless WxH, 24 bits)
#                              and openbox on it and exports DISPLAY
#   x11_stop                   for the EXIT trap
#   x11_titles PID             the captions of the process's mapped
#                              windows, one a line, bottom to top as stacked
x11_pids=()

x11_start() {
  local n=$1 size=${2:-1280x800}
  for tool in Xvfb openbox xdotool xprop; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh)"
  done
  Xvfb ":$n" -screen 0 "${size}x24" -nolisten tcp >/dev/null 2>&1 &
  x11_pids+=($!)
  export DISPLAY=":$n"
  # A busy machine can take seconds to bring up the server and the window
  # manager: wait for each (30 s at most), and start openbox again should
  # it have given up on a server that was not there yet.
  local ready=
  for _ in $(seq 300); do
    xprop -root >/dev/null 2>&1 && { ready=1; break; }
    sleep 0.1
  done
  [ -n "$ready" ] || fail "Xvfb :$n did not start"
  ready=
  local wm=
  for _ in $(seq 300); do
    if [ -z "$wm" ] || ! kill -0 "$wm" 2>/dev/null; then
      openbox >/dev/null 2>&1 &
      wm=$!
      x11_pids+=($wm)
    fi
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' &&
      { ready=1; break; }
    sleep 0.1
  done
  [ -n "$ready" ] || fail "openbox did not start on :$n"
  # Qt draws through the X server, not offscreen.
  unset QT_QPA_PLATFORM
}

x11_stop() {
  local p
  for p in "${x11_pids[@]}"; do
    kill "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
  done
  x11_pids=()
}

x11_titles() {
  local pid=$1 ids id
  ids=$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g')
  for id in $ids; do
    xprop -id "$id" _NET_WM_PID | grep -q "= $pid\$" || continue
    xdotool getwindowname "$id"
  done
}
