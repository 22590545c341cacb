# bash completion for brelin-cli                                     -*- shell-script -*-

# The device paths and by-id names that 'brelin-cli ports' lists.
_brelin_cli_ports() {
  "${1:-brelin-cli}" ports 2>/dev/null | awk 'NR > 1 { print $2; if ($3 != "-") print $3 }'
}

_brelin_cli() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} i command=
  # "--format=csv" reaches us as "--format" "=" "csv".
  if [[ $cur == = ]]; then
    cur=
  elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
    prev=${COMP_WORDS[COMP_CWORD - 2]}
  fi
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      analyse | get-data | erase | ports)
        command=${COMP_WORDS[i]}
        break
        ;;
      history)
        command=history
        # Its own subcommand follows: "history show".
        for ((i++; i < COMP_CWORD; i++)); do
          case ${COMP_WORDS[i]} in
            points | show | import) command="history ${COMP_WORDS[i]}" && break ;;
          esac
        done
        break
        ;;
    esac
  done

  local IFS=$'\n'
  case $prev in
    --format) COMPREPLY=($(compgen -W $'ascii\ncsv' -- "$cur")) && return ;;
    --units) COMPREPLY=($(compgen -W $'metric\nimperial' -- "$cur")) && return ;;
    --temperature) COMPREPLY=($(compgen -W $'relative\nabsolute' -- "$cur")) && return ;;
    --encoding) COMPREPLY=($(compgen -W $'latin1\nutf8' -- "$cur")) && return ;;
    --line-end) COMPREPLY=($(compgen -W $'crlf\nlf' -- "$cur")) && return ;;
    --port)
      COMPREPLY=($(compgen -W "$(_brelin_cli_ports "${COMP_WORDS[0]}")" -- "$cur"))
      return
      ;;
    -o | --output | --image | --history)
      compopt -o filenames 2>/dev/null
      COMPREPLY=($(compgen -f -- "$cur"))
      return
      ;;
    --serial | --point | --since | --until) return ;;
  esac

  local text=$'--format\n--units\n--temperature\n--encoding\n--line-end'
  local report=$'-o\n--output\n'$text$'\n--strict'
  local listing=$'-o\n--output\n--history\n'$text
  local options
  case $command in
    analyse) options=$report$'\n--serial\n--import\n--history' ;;
    get-data) options=$'--port\n'$report$'\n--image\n--history\n--no-history' ;;
    history) options=$'points\nshow\nimport' ;;
    "history points") options=$listing ;;
    "history show") options=$'--point\n--serial\n--since\n--until\n'$listing ;;
    "history import") options=$'--serial\n--history' ;;
    erase) options=$'--port\n--yes' ;;
    ports) options=$'--json' ;;
    *)
      COMPREPLY=($(compgen -W $'analyse\nget-data\nerase\nports\nhistory\n-q\n--quiet\n-h\n--help\n--version' -- "$cur"))
      return
      ;;
  esac
  if [[ ($command == analyse || $command == "history import") && $cur != -* ]]; then
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -f -- "$cur"))  # the memory image
    return
  fi
  COMPREPLY=($(compgen -W "$options"$'\n-q\n--quiet\n-h\n--help' -- "$cur"))
}

complete -F _brelin_cli brelin-cli
