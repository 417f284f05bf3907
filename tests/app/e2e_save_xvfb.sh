#!/usr/bin/env bash
# End to end: saving a result from the window, under its own Xvfb, on a
# virtual 1000 Hz mouse, with a home folder of its own.
#   e2e_save_xvfb.sh QUILLMARK_EXE ARTIFACT_DIR [QUILLMARK_PREVIEW_EXE]
# Run 1: E before a test saves nothing; S, 2 s, E -> one console line
# "[导出] 已保存 -> <folder>" with the folder under the XDG documents folder,
# holding a valid JSON, CSV, SVG and a PNG of the window's size; a click on
# the notice hands the folder to xdg-open (a stand-in that records its
# argument: no file manager runs here); Escape -> exit 0. Run 2: the documents folder is read-only (the program runs as
# nobody when this runs as root) -> one failure line naming the reason, and
# nothing left in the folder. Then the preview tool: it creates the folder it
# is given, or fails once with one line.
set -uo pipefail

exe=$1
out=$2
preview=${3:-}
mkdir -p "$out"
work=$(mktemp -d /tmp/quillmark-e2e-save-XXXXXX)
chmod 755 "$work"
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/xvfb_session.sh"

cleanup() {
  stop_xvfb
  cp "$work"/*.err "$out"/ 2>/dev/null
  chmod -R u+w "$work" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap "exit 1" INT TERM

start_xvfb 1180x820x24
unset XDG_CONFIG_HOME

# A home whose user-dirs.dirs names a documents folder that is not ~/Documents.
home="$work/home"
docs="$home/文档"
mkdir -p "$home/.config" "$docs" "$home/Documents"
echo 'XDG_DOCUMENTS_DIR="$HOME/文档"' >"$home/.config/user-dirs.dirs"
chmod -R a+rX "$home"

mkdir -p "$work/bin"
cat >"$work/bin/xdg-open" <<STUB
#!/bin/sh
printf '%s\n' "\$1" >>"$work/opened"
STUB
chmod +x "$work/bin/xdg-open"

# start_app NAME [COMMAND PREFIX...]: sets app_pid and window.
start_app() {
  local name=$1
  shift
  env HOME="$home" TAVO_VIRTUAL_MICE=1000 "$@" "$exe" 2>"$work/$name.err" &
  app_pid=$!
  window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Quillmark$' | head -n 1)
  [ -n "$window" ] || { fail "$name: no window; stderr: $(cat "$work/$name.err")"; exit 1; }
  xdotool mousemove 5 5
  timeout 5 xdotool windowfocus --sync "$window" 2>/dev/null || true
  sleep 0.5
}

# wait_line NAME PATTERN: waits (20 s at most) for a console line.
wait_line() {
  for _ in $(seq 200); do
    grep -q "$2" "$work/$1.err" && return 0
    sleep 0.1
  done
  return 1
}

finish_app() {
  xdotool key Escape
  wait_exit 15
}

# --- run 1: a save ----------------------------------------------------------
start_app saved PATH="$work/bin:$PATH"
xdotool key e  # no test yet: nothing to save
sleep 0.3
xdotool key s
sleep 2
xdotool key e
if wait_line saved '^\[导出\]'; then
  sleep 0.5  # the notice
  import -window root "$out/e2e_saved.png" || fail "screenshot"
fi
geometry=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: *//p')
# The notice is one line at the left, between the cards and the control bar.
xdotool mousemove --window "$window" 60 $((${geometry#*x} - 60 - 10)) click 1
for _ in $(seq 50); do [ -s "$work/opened" ] && break; sleep 0.1; done
finish_app
[ "$rc" = 0 ] && pass "saved: exit 0" || fail "saved: exit $rc"

lines=$(grep -c '^\[导出\]' "$work/saved.err")
line=$(grep '^\[导出\]' "$work/saved.err" | head -n 1)
folder=${line#\[导出\] 已保存 -> }
name_re='^[0-9]{4}-[0-9]{2}-[0-9]{2}_[0-9]{6}_虚拟鼠标_1000_Hz_Virtual$'
if [ "$lines" = 1 ] && [ "$(dirname "$folder")" = "$docs/Quillmark" ] &&
   [[ $(basename "$folder") =~ $name_re ]] && [ -d "$folder" ]; then
  pass "one console line: $line"
else
  fail "console: $lines lines: $(grep '^\[导出\]' "$work/saved.err")"
fi
opened=$(head -n 1 "$work/opened" 2>/dev/null)
decoded=$(printf '%b' "${opened//%/\\x}")
if [ "$decoded" = "file://$folder" ]; then
  pass "the notice opens the folder: $opened"
else
  fail "the notice opened '$opened' ($decoded), not $folder"
fi
[ -z "$(ls -A "$home/Documents")" ] || fail "wrote into ~/Documents instead of the XDG folder"
leftover=$(find "$docs" -mindepth 1 -name '.*')
[ -z "$leftover" ] && pass "no temporary files left" || fail "left behind: $leftover"

if [ -d "$folder" ]; then
  cp -r "$folder" "$out/saved-folder"
  count=$(jq -e '.reports.count' "$folder/result.json")
  if [ $? -eq 0 ] && [ "$count" -gt 1000 ]; then
    pass "result.json: $count reports"
  else
    fail "result.json not valid or without reports: $(head -c 300 "$folder/result.json")"
  fi
  # Saved while running: the analyzer's count and the stamps are taken a
  # moment apart, so a report may fall between them.
  recorded=$(jq -e '.intervals_file.recorded' "$folder/result.json")
  csv_lines=$(wc -l <"$folder/intervals.csv")
  if [ "$(head -n 1 "$folder/intervals.csv")" = "t_us,interval_us,dx,dy,kernel_drops" ] &&
     [ "$csv_lines" -eq $((recorded + 1)) ] && [ $((count - recorded)) -le 3 ] &&
     [ $((recorded - count)) -le 3 ]; then
    pass "intervals.csv: $csv_lines lines"
  else
    fail "intervals.csv: $csv_lines lines for $recorded stamps and $count reports"
  fi
  if rsvg-convert "$folder/intervals.svg" -o "$work/plot.png" 2>"$work/rsvg.err" &&
     [ "$(convert "$work/plot.png" -format '%k' info:)" -gt 10 ]; then
    pass "intervals.svg renders"
  else
    fail "intervals.svg does not render: $(cat "$work/rsvg.err")"
  fi
  png=$(identify -format '%m %wx%h %k' "$folder/dashboard.png" 2>&1)
  read -r format size colours <<<"$png"
  if [ "$format" = PNG ] && [ "$size" = "$geometry" ] && [ "${colours:-0}" -gt 50 ]; then
    pass "dashboard.png: $size like the window, $colours colours"
  else
    fail "dashboard.png: $png; window $geometry"
  fi
fi

# --- run 2: a documents folder that cannot be written -------------------------
rm -rf "$docs/Quillmark"
chmod 555 "$docs"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  # Root writes anywhere; the program runs as nobody for this run.
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
start_app readonly "${as_user[@]}"
xdotool key s
sleep 2
xdotool key e
wait_line readonly '^\[导出\]'
sleep 0.5
import -window root "$out/e2e_save_failed.png" || fail "screenshot"
finish_app
[ "$rc" = 0 ] && pass "read-only: exit 0" || fail "read-only: exit $rc"
failure=$(grep '^\[导出\]' "$work/readonly.err")
if [ "$(printf '%s\n' "$failure" | wc -l)" = 1 ] &&
   [[ $failure == "[导出] 保存失败："*"$docs/Quillmark"*EACCES* ]]; then
  pass "one failure line: $failure"
else
  fail "read-only: $failure"
fi
[ -z "$(ls -A "$docs")" ] && pass "nothing written" || fail "left in $docs: $(ls -A "$docs")"

# --- the preview tool's pictures go into a folder it makes --------------------
if [ -n "$preview" ]; then
  "$preview" "$work/pictures/new" idle-no-mouse >/dev/null 2>"$work/preview.err"
  [ $? = 0 ] && [ -s "$work/pictures/new/idle-no-mouse.png" ] &&
    pass "preview: the folder is made" || fail "preview: $(cat "$work/preview.err")"
  # The window's solid fill draws the same pixels as the triangles it saves.
  same=0
  for kind in solid triangles; do
    opt=(); [ "$kind" = triangles ] && opt=(--triangles)
    "$preview" --size 900x640 "${opt[@]}" "$work/pictures/$kind" running-1000hz drops-and-saved \
      permission-banner >/dev/null 2>"$work/preview.err" || fail "preview $kind: $(cat "$work/preview.err")"
  done
  for f in "$work"/pictures/solid/*.png; do
    differ=$(compare -metric AE "$f" "$work/pictures/triangles/$(basename "$f")" null: 2>&1)
    [ "$differ" = 0 ] && same=$((same + 1)) || fail "solid fill: $(basename "$f") differs in $differ pixels"
  done
  [ "$same" = 3 ] && pass "solid fill: 3 pictures pixel for pixel as with triangles"
  # Drawn over another state as the window draws, only what changed again:
  # the same pixels as frames drawn whole, and less than the whole window.
  states=(running-8000hz paused idle-with-mouse drops-and-saved permission-banner)
  for kind in partial whole; do
    opt=(); [ "$kind" = whole ] && opt=(--whole)
    "$preview" --size 900x640 --over running-1000hz "${opt[@]}" "$work/pictures/$kind" "${states[@]}" \
      >"$work/over-$kind.out" 2>"$work/preview.err" || fail "preview over: $(cat "$work/preview.err")"
  done
  same=0
  for f in "$work"/pictures/partial/*.png; do
    differ=$(compare -metric AE "$f" "$work/pictures/whole/$(basename "$f")" null: 2>&1)
    [ "$differ" = 0 ] && same=$((same + 1)) || fail "drawn in parts: $(basename "$f") differs in $differ pixels"
  done
  least=$(grep -o '([0-9]* %' "$work/over-partial.out" | tr -dc '0-9\n' | sort -n | head -n 1)
  [ "$same" = ${#states[@]} ] && [ "${least:-100}" -lt 50 ] &&
    pass "drawn in parts: ${#states[@]} pictures as drawn whole, the least change ${least} % of the window" ||
    fail "drawn in parts: $same of ${#states[@]} the same, least change ${least:-?} %"
  "$preview" /dev/null/pictures >/dev/null 2>"$work/preview.err"
  prc=$?
  [ "$prc" = 1 ] && [ "$(wc -l <"$work/preview.err")" = 1 ] &&
    pass "preview: one line when it cannot: $(cat "$work/preview.err")" ||
    fail "preview: status $prc, $(wc -l <"$work/preview.err") lines"
fi

[ "$failures" -eq 0 ] && echo "e2e save: all passed (screenshots in $out)"
exit $((failures > 0))
