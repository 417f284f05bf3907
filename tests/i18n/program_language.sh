#!/usr/bin/env bash
# The program speaks the language the locale variables ask for, also where
# that locale is not installed; C, POSIX, zh and nothing set keep Chinese.
set -uo pipefail
quillmark=$1
failed=0
check() {  # check WANTED PATTERN ENV...
  local wanted=$1 pattern=$2; shift 2
  local out
  out=$(env -i PATH="$PATH" "$@" "$quillmark" 2>&1 >/dev/null)
  if ! grep -q -- "$pattern" <<<"$out"; then
    echo "FAILED ($wanted) with $*: $out"
    failed=$((failed + 1))
  fi
}
# No DISPLAY: the first line the window path prints says so.
check en '^\[window\] The window needs a graphical display (.*); to measure in the terminal use quillmark measure$' LANG=en_US.UTF-8
check en '^\[window\] The window needs a graphical display' LANG=de_DE.UTF-8
check en '^\[window\] The window needs a graphical display' LANG=zh_CN.UTF-8 LC_MESSAGES=fr_FR.UTF-8
check en '^\[window\] The window needs a graphical display' LANG=en_GB.UTF-8 LANGUAGE=de:en
check zh '^\[窗口\] 窗口需要图形显示（.*）；在终端里测量请用 quillmark measure$' LANG=zh_CN.UTF-8
check zh '^\[窗口\] 窗口需要图形显示' LANG=en_US.UTF-8 LC_ALL=C
check zh '^\[窗口\] 窗口需要图形显示' LANG=en_US.UTF-8 LANGUAGE=zh_CN
check zh '^\[窗口\] 窗口需要图形显示' LANGUAGE=en
check zh '^\[窗口\] 窗口需要图形显示'
[ $failed -eq 0 ] && echo "9 passed, 0 failed" || echo "$((9 - failed)) passed, $failed failed"
exit $((failed > 0))
