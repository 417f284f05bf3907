#!/usr/bin/env bash
# End to end: Quillmark under its own Xvfb on a virtual 1000 Hz mouse.
#   e2e_xvfb.sh QUILLMARK_EXE ARTIFACT_DIR
# Run 1: S, 2 s, screenshot, P, R, S, Escape -> exit 0, a capture with ~1000 us
# steps and no lost reports, fps trace lines near 60. Run 2: S, then SIGTERM
# -> exit 0 and the capture still written. Without a display the program
# says so in one line and fails.
set -uo pipefail

exe=$1
out=$2
mkdir -p "$out"
work=$(mktemp -d /tmp/quillmark-e2e-XXXXXX)
switch=/tmp/tavo_debug_on
tracelog=/tmp/tavo_debug.log
xvfb_pid=""
app_pid=""
created_switch=0

cleanup() {
  [ -n "$app_pid" ] && kill -KILL "$app_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  [ "$created_switch" = 1 ] && rm -f "$switch"
  cp "$work"/*.err "$work"/*.csv "$out"/ 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap "exit 1" INT TERM

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# --- no display ----------------------------------------------------------
msg=$(env -u DISPLAY -u WAYLAND_DISPLAY "$exe" 2>&1 >/dev/null)
rc=$?
if [ $rc -ne 0 ] && [ "$(printf '%s\n' "$msg" | wc -l)" -eq 1 ] && [[ $msg == *显示* ]]; then
  pass "no display: exit $rc, one line: $msg"
else
  fail "no display: exit $rc, message: $msg"
fi

# --- X server ------------------------------------------------------------
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.err" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { fail "Xvfb did not start"; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"
unset WAYLAND_DISPLAY

if [ ! -e "$switch" ]; then touch "$switch"; created_switch=1; fi
log_offset=$(stat -c %s "$tracelog" 2>/dev/null || echo 0)

# start_app NAME: the program on a virtual 1000 Hz mouse with a capture; sets
# app_pid and window once its window is mapped.
start_app() {
  TAVO_VIRTUAL_MICE=1000 TAVO_CAPTURE="$work/$1.csv" TAVO_CAPTURE_SECONDS=120 \
    "$exe" 2>"$work/$1.err" &
  app_pid=$!
  window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Quillmark$' | head -n 1)
  [ -n "$window" ] || { fail "$1: no window"; exit 1; }
  xdotool mousemove 5 5
  timeout 5 xdotool windowfocus --sync "$window" 2>/dev/null || true
  sleep 0.5  # the first frames
}

# finish_app: waits (15 s at most) for the program; sets rc to its exit status.
finish_app() {
  (sleep 15 && kill -KILL "$app_pid" 2>/dev/null) &
  local watchdog=$!
  wait "$app_pid"
  rc=$?
  kill "$watchdog" 2>/dev/null
  wait "$watchdog" 2>/dev/null
  app_pid=""
}

# check_capture NAME MIN_SAMPLES: header and sample count agree, the median
# step is ~1000 us, and no report was lost while running. Steps over 100 ms
# are pauses, or stalls of a loaded machine after which the virtual mouse
# catches up in a burst: they are left out of the running time and only
# widen the upper bound.
check_capture() {
  local file="$work/$1.csv"
  [ -s "$file" ] || { fail "$1: no capture file"; return; }
  local header samples median verdict
  header=$(sed -n 's/^# samples=//p' "$file")
  samples=$(grep -vc '^#' "$file")
  median=$(grep -v '^#' "$file" | cut -d, -f1 |
           awk 'NR > 1 { print $1 - prev } { prev = $1 }' | sort -n |
           awk '{ v[n++] = $1 } END { print (n ? v[int((n - 1) / 2)] : 0) }')
  verdict=$(grep -v '^#' "$file" | cut -d, -f1 | awk -v n="$samples" -v min="$2" -v median="$median" '
    NR > 1 { d = $1 - prev; if (d <= 100000) running += d; else long += d }
    { prev = $1 }
    END {
      expected = running / 1000 + 1
      printf "%d samples, median step %d us, %.0f expected from %.3f s running", n, median, expected, running / 1e6
      if (n < min || median < 850 || median > 1150) exit 1
      if (n < expected * 0.98 || n > expected * 1.02 + long / 1000) exit 1
    }')
  local ok=$?
  [ "$header" = "$samples" ] || { ok=1; verdict="$verdict; header says $header"; }
  if [ $ok -eq 0 ]; then pass "$1: capture $verdict"; else fail "$1: capture $verdict"; fi
}

# --- run 1: keys ----------------------------------------------------------
start_app keys
xdotool key s
sleep 2
import -window root "$out/e2e_running.png" || fail "screenshot"
xdotool key p
sleep 0.5
xdotool key r
sleep 0.3
xdotool key s
sleep 1
xdotool key Escape
finish_app
[ "$rc" = 0 ] && pass "keys: exit 0" || fail "keys: exit $rc; stderr: $(cat "$work/keys.err")"
grep -q '^\[版本\] v1.0.1 (2026-10-09)$' "$work/keys.err" || fail "keys: no version line"
grep -q '^\[采集\] 已写出 [0-9]* 条报告' "$work/keys.err" || fail "keys: capture not reported"
check_capture keys 1500

# The screenshot shows a drawn dashboard, not an empty screen.
if [ -s "$out/e2e_running.png" ]; then
  colours=$(convert "$out/e2e_running.png" -format '%k' info: 2>/dev/null || echo 0)
  [ "${colours:-0}" -gt 50 ] && pass "screenshot: $colours colours" || fail "screenshot: $colours colours"
fi

# The loop paces itself to 60 frames per second: never above, and near it
# while the machine has the CPU for software GL. The floor leaves room for a
# loaded CI machine; the figures are printed either way.
fps=$(tail -c +"$((log_offset + 1))" "$tracelog" 2>/dev/null | sed -n 's/.*fps=\([0-9.]*\).*/\1/p')
if [ -n "$fps" ]; then
  verdict=$(printf '%s\n' "$fps" | sort -n | awk '{ v[n++] = $1 } END {
    m = v[int(n / 2)]; printf "%d lines, median %.1f, lowest %.1f, highest %.1f", n, m, v[0], v[n - 1]
    exit !(n >= 2 && m >= 20 && v[n - 1] <= 61.5) }')
  [ $? -eq 0 ] && pass "fps $verdict" || fail "fps $verdict"
else
  fail "no fps lines in $tracelog"
fi

# --- run 2: SIGTERM -------------------------------------------------------
start_app term
xdotool key s
sleep 1.5
kill -TERM "$app_pid"
finish_app
[ "$rc" = 0 ] && pass "SIGTERM: exit 0" || fail "SIGTERM: exit $rc; stderr: $(cat "$work/term.err")"
check_capture term 1000

[ "$failures" -eq 0 ] && echo "e2e: all passed (screenshot: $out/e2e_running.png)"
exit $((failures > 0))
