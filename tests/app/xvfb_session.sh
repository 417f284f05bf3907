# Sourced by the window tests: an Xvfb of their own, the program started on
# it, and its end awaited. Expects `work` (a scratch folder) and sets
# DISPLAY, xvfb_pid, app_pid, window and rc.

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# start_xvfb WxHxD
start_xvfb() {
  Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.err" &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { fail "Xvfb did not start"; exit 1; }
  export DISPLAY=":$(head -n 1 "$work/display")"
  unset WAYLAND_DISPLAY
}

stop_xvfb() {
  [ -n "${app_pid:-}" ] && kill -KILL "$app_pid" 2>/dev/null
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
}

alive() { kill -0 "$app_pid" 2>/dev/null; }

# start_app NAME EXE: the program with stderr in $work/NAME.err, environment as
# given by the caller; returns once its window is mapped and focused.
start_app() {
  "$2" 2>"$work/$1.err" &
  app_pid=$!
  window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Quillmark$' | head -n 1)
  [ -n "$window" ] || { fail "$1: no window"; return 1; }
  timeout 5 xdotool windowfocus --sync "$window" 2>/dev/null || true
  sleep 0.5  # the first frames
}

# wait_exit SECONDS: waits for the program at most that long, then kills it;
# sets rc (137 when killed) and exit_ms, the time it took to end.
wait_exit() {
  local start now
  start=$(date +%s%N)
  for _ in $(seq $(($1 * 20))); do alive || break; sleep 0.05; done
  alive && kill -KILL "$app_pid"
  wait "$app_pid"
  rc=$?
  now=$(date +%s%N)
  exit_ms=$(((now - start) / 1000000))
  app_pid=""
}

# wait_for_line FILE PATTERN SECONDS: true once a line of FILE matches.
wait_for_line() {
  for _ in $(seq $(($3 * 10))); do
    grep -q -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}
