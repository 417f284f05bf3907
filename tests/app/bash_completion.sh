#!/usr/bin/env bash
# Drives the bash completion as bash does on Tab: the words so far in
# COMP_WORDS, the function `complete -p` names, the candidates in COMPREPLY.
#   bash_completion.sh COMPLETION_FILE PROGRAM_DIR
set -uo pipefail
source "$1"
export PATH="$(cd "$2" && pwd):$PATH" TAVO_VIRTUAL_MICE=1000,8000
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" && mkdir runs && touch a.yml b.csv plot.svg
status=0

spec=$(complete -p quillmark)
[ "$spec" = "complete -F _quillmark quillmark" ] || { echo "FAIL: complete -p: $spec"; status=1; }
function=${spec#complete -F }
function=${function%% *}

# The candidates for the words given, the last one being completed, one a line.
candidates() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  "$function" quillmark "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort
}

expect() {
  local want=$1
  shift
  local got
  got=$(candidates "$@")
  if [ "$got" = "$want" ]; then
    echo "ok: $*"
  else
    echo "FAIL: $*: got [$got], want [$want]"
    status=1
  fi
}

expect $'measure' quillmark meas
expect $'analyze\ncompare\nlist\nmeasure' quillmark ""
expect $'--repeat\n--require-target' quillmark measure --re
expect $'--baseline' quillmark compare --ba
expect $'1000\n125' quillmark measure --target 1
expect $'1000\n125' quillmark analyze -t 1
# The mice's indices and names, as `quillmark list` gives them (a space escaped).
expect $'0\n1\n虚拟鼠标\\ 1000\\ Hz\\ [Virtual]\n虚拟鼠标\\ 8000\\ Hz\\ [Virtual]' quillmark measure --device ""
expect $'虚拟鼠标\\ 8000\\ Hz\\ [Virtual]' quillmark measure -d 虚拟鼠标\ 8
expect $'plot.svg\nruns' quillmark compare --plot ""
expect $'runs' quillmark measure --out r
expect $'a.yml\nb.csv\nplot.svg\nruns' quillmark compare ""
exit $status
