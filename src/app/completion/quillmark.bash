# bash completion for quillmark: commands, options, --device (the mice's
# indices and names from `quillmark list`), --target rates, files and folders.

_quillmark_mice() {
  # One candidate per line: each mouse's index, then its name.
  "$1" list --json 2>/dev/null |
    sed -n -e 's/^ *"index": *\([0-9][0-9]*\).*/\1/p' -e 's/^ *"name": *"\(.*\)",\{0,1\}$/\1/p'
}

_quillmark() {
  local cur prev words cword
  if declare -F _init_completion >/dev/null; then
    _init_completion || return
  else
    cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    words=("${COMP_WORDS[@]}") cword=$COMP_CWORD
  fi
  local command="" i
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
      list | measure | analyze | compare | buttons | cpi) command=${words[i]}; break ;;
    esac
  done

  case $prev in
    -d | --device)
      if [[ $command == measure || $command == buttons || $command == cpi ]]; then
        local IFS=$'\n'
        COMPREPLY=($(compgen -W "$(_quillmark_mice "${words[0]}")" -- "$cur"))
        COMPREPLY=("${COMPREPLY[@]// /\\ }")
      fi
      return ;;
    -t | --target)
      COMPREPLY=($(compgen -W "125 250 500 1000 2000 4000 8000" -- "$cur"))
      return ;;
    --intervals)
      COMPREPLY=($(compgen -f -X '!*.csv' -- "$cur") $(compgen -d -- "$cur"))
      return ;;
    --plot)
      COMPREPLY=($(compgen -f -X '!*.svg' -- "$cur") $(compgen -d -- "$cur"))
      return ;;
    --out)
      COMPREPLY=($(compgen -d -- "$cur"))
      return ;;
    --events)
      COMPREPLY=($(compgen -f -X '!*.csv' -- "$cur") $(compgen -d -- "$cur"))
      return ;;
    --distance)
      COMPREPLY=($(compgen -W "10cm 100mm 4in" -- "$cur"))
      return ;;
    -s | --seconds | --wait | --repeat | --label | --baseline | --chatter-ms | --countdown)
      return ;;
  esac

  local options
  case $command in
    "") options="list measure analyze compare buttons cpi --help --version" ;;
    list) options="--json --help" ;;
    measure)
      options="--device --seconds --target --require-target --wait --json --intervals --plot
               --out --repeat --label --help" ;;
    analyze) options="--device --target --json --intervals --plot --help" ;;
    compare) options="--label --baseline --json --plot --help" ;;
    buttons)
      options="--device --seconds --chatter-ms --json --events --require-clean --help" ;;
    cpi) options="--distance --device --countdown --json --help" ;;
  esac
  if [[ $command == "" && $cur != -* ]]; then
    COMPREPLY=($(compgen -W "list measure analyze compare buttons cpi" -- "$cur"))
  elif [[ $cur == -* || $command != analyze && $command != compare ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  else
    # analyze and compare read files: recordings, result folders and JSON.
    local IFS=$'\n'
    COMPREPLY=($(compgen -f -- "$cur"))
    compopt -o filenames 2>/dev/null
  fi
}

complete -F _quillmark quillmark
