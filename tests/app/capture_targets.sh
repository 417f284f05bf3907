#!/usr/bin/env bash
# Capture targets that cannot take the file: a FIFO without a reader (the
# capture ending while the program runs, and at exit), a FIFO whose reader
# stops reading, a directory and a missing folder. Each run ends with SIGTERM:
# the program must end promptly with status 0 and one console line giving
# the reason. Also a TAVO_VIRTUAL_MICE without a valid item: its lines, and
# the real mice instead.
#   capture_targets.sh QUILLMARK_EXE ARTIFACT_DIR
set -uo pipefail

exe=$1
out=$2
mkdir -p "$out"
work=$(mktemp -d /tmp/quillmark-targets-XXXXXX)
reader_pid=""
# SIGTERM ends the program within a second; the bound is wider for a loaded
# machine, and a hang (the fault this guards against) never ends at all.
exit_bound_s=5

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/xvfb_session.sh"

cleanup() {
  [ -n "$reader_pid" ] && kill "$reader_pid" 2>/dev/null
  stop_xvfb
  cp "$work"/*.err "$out"/ 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap "exit 1" INT TERM

start_xvfb 1280x800x24

# run NAME TARGET SECONDS SETTLE EXPECTED_LINE_REGEX: a test on an 8000 Hz
# virtual mouse capturing to TARGET for SECONDS; after SETTLE seconds (or
# once the expected line is out) SIGTERM.
run() {
  local name=$1 target=$2 seconds=$3 settle=$4 expected=$5
  TAVO_VIRTUAL_MICE=8000 TAVO_CAPTURE="$target" TAVO_CAPTURE_SECONDS=$seconds \
    start_app "$name" "$exe" || return
  xdotool key s
  sleep "$settle"
  alive || { fail "$name: the program ended by itself: $(cat "$work/$name.err")"; return; }
  kill -TERM "$app_pid"
  wait_exit 20
  local verdict="exit $rc after ${exit_ms} ms"
  if [ "$rc" = 0 ] && [ "$exit_ms" -le $((exit_bound_s * 1000)) ]; then
    pass "$name: SIGTERM: $verdict"
  else
    fail "$name: SIGTERM: $verdict"
  fi
  local lines
  lines=$(grep -c '^\[采集\] \(打不开\|写入\|已写出\)' "$work/$name.err")
  if [ "$lines" = 1 ] && grep -q -- "$expected" "$work/$name.err"; then
    pass "$name: $(grep '^\[采集\] \(打不开\|写入\)' "$work/$name.err")"
  else
    fail "$name: expected one line like '$expected'; stderr: $(cat "$work/$name.err")"
  fi
}

mkfifo "$work/fifo"
open_failed="^\[采集\] 打不开输出文件: $work"
run fifo-ends-while-running "$work/fifo" 1 3 "${open_failed}/fifo（No such device or address）$"
run fifo-ends-at-exit "$work/fifo" 120 1.5 "${open_failed}/fifo（No such device or address）$"

# A reader that takes the first 4 KiB and then holds the FIFO without reading.
mkfifo "$work/stalled"
( exec 3<"$work/stalled"; head -c 4096 <&3 >/dev/null; sleep 120 ) &
reader_pid=$!
# The capture ends 1 s after the first report; SIGTERM comes while the writer
# waits for the reader (or just after it gave up).
run stalled-reader "$work/stalled" 1 2 \
  "^\[采集\] 写入输出文件失败: $work/stalled（\(Operation canceled\|Resource temporarily unavailable\)）$"
kill "$reader_pid" 2>/dev/null
reader_pid=""

mkdir "$work/folder"
run directory "$work/folder" 1 3 "${open_failed}/folder（Is a directory）$"
run missing-folder "$work/missing/out.csv" 1 3 \
  "${open_failed}/missing/out.csv（No such file or directory）$"

# --- a virtual mice list without a valid item -----------------------------
TAVO_VIRTUAL_MICE="abc,0" start_app virtual "$exe" && {
  kill -TERM "$app_pid"
  wait_exit 20
  [ "$rc" = 0 ] && pass "virtual: SIGTERM: exit 0" || fail "virtual: exit $rc"
  expected=$(printf '%s\n' \
    '[虚拟鼠标] 忽略 "abc"：不是报告率（1–16000 Hz，可加抖动微秒数，如 8000:5）' \
    '[虚拟鼠标] 忽略 "0"：报告率须在 1–16000 Hz 之间' \
    '[虚拟鼠标] TAVO_VIRTUAL_MICE 中没有可用的条目，改用真实鼠标')
  got=$(grep '^\[虚拟鼠标\]' "$work/virtual.err")
  [ "$got" = "$expected" ] && pass "virtual: three lines, then the real mice" ||
    fail "virtual: stderr: $(cat "$work/virtual.err")"
}

[ "$failures" -eq 0 ] && echo "capture targets: all passed"
exit $((failures > 0))
