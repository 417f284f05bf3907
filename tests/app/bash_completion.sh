#!/usr/bin/env bash
# Drives the bash completion as bash does on Tab: the words so far in
# COMP_WORDS, the function `complete -p` names, the candidates in COMPREPLY.
# Then the zsh and fish files beside it in their own shells: zsh's listing on
# Tab in a terminal (zpty) after compinit, fish's `complete -C`.
#   bash_completion.sh COMPLETION_FILE PROGRAM_DIR
set -uo pipefail
source "$1"
completions=$(cd "$(dirname "$1")" && pwd)
export PATH="$(cd "$2" && pwd):$PATH" TAVO_VIRTUAL_MICE=1000,8000
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" && mkdir runs && touch a.yml b.csv plot.svg
status=0

registered=$(complete -p quillmark)
[ "$registered" = "complete -F _quillmark quillmark" ] || { echo "FAIL: complete -p: $registered"; status=1; }
function=${registered#complete -F }
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
expect $'analyze\nbuttons\ncompare\ncpi\nlist\nmeasure' quillmark ""
expect $'--chatter-ms' quillmark buttons --ch
expect $'4in' quillmark cpi --distance 4
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

# What zsh shows on Tab after LINE (escape sequences left out).
zsh_tab() {
  zsh -f -c '
    zmodload zsh/zpty
    zpty z zsh -f -i
    zpty -w z "PS1=\">\"; fpath=($1 \$fpath); autoload -U compinit; compinit -u -D; LISTMAX=0"
    zpty -w -n z "$2"$'"'\\t'"'
    sleep 2
    while zpty -r -t z chunk; do print -rn -- "$chunk"; done
    zpty -d z' zsh "$completions" "$1" |
    sed -e 's/\x1b\[[0-9;?]*[a-zA-Z]//g' -e 's/[\r\x08]//g'
}
if command -v zsh >/dev/null; then
  zsh -n "$completions/_quillmark" || { echo "FAIL: zsh -n"; status=1; }
  while IFS='|' read -r line want; do
    got=$(zsh_tab "$line")
    case $got in
      *"$want"*) echo "ok: zsh: $line" ;;
      *) echo "FAIL: zsh: $line: want [$want] in [$got]"; status=1 ;;
    esac
  done <<'ROWS'
quillmark mea|quillmark measure
quillmark measure --target 1|1000  125
quillmark compare --ba|quillmark compare --baseline
quillmark cpi --distance 4|quillmark cpi --distance 4in
ROWS
else
  echo "FAIL: zsh is not installed (scripts/setup test)"; status=1
fi

if command -v fish >/dev/null; then
  fish -n "$completions/quillmark.fish" || { echo "FAIL: fish -n"; status=1; }
  while IFS='|' read -r line want; do
    got=$(fish --no-config -c "source $completions/quillmark.fish; complete -C '$line'" | cut -f1 |
      LC_ALL=C sort | paste -sd' ')
    [ "$got" = "$want" ] && echo "ok: fish: $line" ||
      { echo "FAIL: fish: $line: got [$got], want [$want]"; status=1; }
  done <<'ROWS'
quillmark mea|measure
quillmark |analyze buttons compare cpi list measure
quillmark measure --re|--repeat --require-target
quillmark analyze --target 1|1000 125
quillmark buttons -d |0 1 虚拟鼠标 1000 Hz [Virtual] 虚拟鼠标 8000 Hz [Virtual]
quillmark buttons --ch|--chatter-ms
ROWS
else
  echo "FAIL: fish is not installed (scripts/setup test)"; status=1
fi
exit $status
