#!/usr/bin/env bash
# Resize storm: Quillmark under its own Xvfb on a virtual 1000 Hz mouse with a
# test running, its window resized 100 times between 1x1 and 2000x1500 in one
# chained xdotool command, 32 times at a few paces. The program must keep
# running (no assertion, no sanitizer report), its resident memory stay flat,
# and SIGTERM still end it with status 0.
#   resize_storm.sh QUILLMARK_EXE ARTIFACT_DIR
# A frame reads the window size and the framebuffer size a few tens of
# microseconds apart; a resize lands in between in about one frame of a
# thousand resizes, so the storm is long enough to catch that many times.
set -uo pipefail

exe=$1
out=$2
mkdir -p "$out"
work=$(mktemp -d /tmp/quillmark-storm-XXXXXX)
# Growth of the resident set allowed over the storm. A font atlas baked for
# a framebuffer scale of 2000 costs hundreds of MiB; the GL buffers of one
# window size a few.
max_growth_kib=$((64 * 1024))

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/xvfb_session.sh"

cleanup() {
  stop_xvfb
  cp "$work"/*.err "$out"/ 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap "exit 1" INT TERM

start_xvfb 2048x1536x24
# Freed memory held back by AddressSanitizer would read as growth.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=16"

rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$app_pid/status" 2>/dev/null || echo 0; }

# storm PAUSE: 100 round trips 1x1 <-> 2000x1500, PAUSE seconds between steps.
storm() {
  local args=()
  for _ in $(seq 100); do
    args+=(windowsize "$window" 1 1)
    [ "$1" != 0 ] && args+=(sleep "$1")
    args+=(windowsize "$window" 2000 1500)
    [ "$1" != 0 ] && args+=(sleep "$1")
  done
  xdotool "${args[@]}" 2>>"$work/xdotool.err"
}

TAVO_VIRTUAL_MICE=1000 start_app storm "$exe" || exit 1
xdotool key s
# One round trip first, so that the buffers of both sizes exist before the
# baseline is taken.
xdotool windowsize "$window" 2000 1500 sleep 0.5 windowsize "$window" 1280 800
sleep 2
before=$(rss_kib)

paces=${STORM_PACES:-"0 0.005 0.02 $(printf '0.001 %.0s' $(seq 29))"}
storms=0
for pause in $paces; do
  storms=$((storms + 1))
  storm "$pause"
  alive || break
done
xdotool windowsize "$window" 1280 800 2>/dev/null
sleep 2
after=$(rss_kib)

if alive; then
  pass "survived $((storms * 100)) resize round trips"
  import -window root "$out/storm_after.png" 2>/dev/null || true
  growth=$((after - before))
  figures="resident $((before / 1024)) MiB before, $((after / 1024)) MiB after"
  [ "$growth" -le "$max_growth_kib" ] && pass "memory flat: $figures" || fail "memory grew: $figures"
  kill -TERM "$app_pid"
fi
wait_exit 20
[ "$rc" = 0 ] && pass "SIGTERM: exit 0" || fail "exit $rc"
if grep -E "Assertion|AddressSanitizer|runtime error|LeakSanitizer" "$work/storm.err" >/dev/null; then
  fail "stderr: $(grep -E -m 3 "Assertion|AddressSanitizer|runtime error" "$work/storm.err")"
else
  pass "no assertion or sanitizer report"
fi

[ "$failures" -eq 0 ] && echo "resize storm: all passed"
exit $((failures > 0))
