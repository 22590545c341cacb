#!/usr/bin/env bash
# Drives the bash completion of brelin-cli as bash does (COMP_WORDS, COMP_CWORD) and checks its
# answers. Argument: the built brelin-cli.
set -uo pipefail
cli=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/brelin-cli.bash"
failures=0

# The completions of the last word, sorted, on one line.
complete_words() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _brelin_cli
  printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//'
}

expect() {
  local want=$1
  shift
  local got
  got=$(complete_words "$@")
  if [[ $got != "$want" ]]; then
    echo "FAIL: $*: got '$got', want '$want'" >&2
    failures=$((failures + 1))
  fi
}

# Subcommands and the program's options.
expect "--help --quiet --version -h -q analyse erase get-data history ports" brelin-cli ""
expect "get-data" brelin-cli get
expect "analyse" brelin-cli -q a
# Option values, also after "=".
expect "ascii csv" brelin-cli analyse x.bin --format ""
expect "imperial" brelin-cli get-data --units i
expect "absolute" brelin-cli get-data --temperature a
expect "utf8" brelin-cli analyse --encoding = u
expect "crlf lf" brelin-cli get-data --line-end = ""
expect "" brelin-cli analyse --serial ""
# Each subcommand's options, and no other subcommand's.
expect "--port" brelin-cli erase --p
expect "--json" brelin-cli ports --j
expect "--image" brelin-cli get-data --i
expect "--serial --strict" brelin-cli analyse --s
expect "--no-history" brelin-cli get-data --no
expect "--help --quiet -h -q import points show" brelin-cli history ""
expect "--serial --since" brelin-cli history show --s
expect "" brelin-cli history show --since ""

# Files: reports, images and analyse's memory image.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" && touch "report one.txt" KLV480.bin
expect "report one.txt" brelin-cli get-data -o rep
expect "KLV480.bin" brelin-cli get-data --image K
expect "KLV480.bin" brelin-cli analyse K
expect "KLV480.bin" brelin-cli history import K
expect "KLV480.bin" brelin-cli history points --history K

# --port offers what 'ports' lists: the paths and by-id names, read from the listing's columns.
cat >"$work/fake-cli" <<'LISTING'
#!/bin/sh
[ "$1" = ports ] || exit 2
printf 'INDEX  PATH          BY-ID                            DESCRIPTION\n'
printf '0      /dev/ttyUSB0  /dev/serial/by-id/usb-FTDI-if00  FTDI FT232R\n'
printf '1      /dev/ttyS0    -\n'
LISTING
chmod +x "$work/fake-cli"
expect "/dev/serial/by-id/usb-FTDI-if00 /dev/ttyS0 /dev/ttyUSB0" "$work/fake-cli" get-data --port ""
expect "/dev/ttyS0 /dev/ttyUSB0" "$work/fake-cli" erase --port /dev/tty
# The real program's listing reads the same way: every path it lists is offered.
for path in $("$cli" ports | awk 'NR > 1 { print $2 }'); do
  [[ " $(complete_words "$cli" erase --port "") " == *" $path "* ]] ||
    { echo "FAIL: --port does not offer $path" >&2; failures=$((failures + 1)); }
done

# Every option that a subcommand's --help shows is offered.
for command in analyse get-data erase ports "history points" "history show" "history import"; do
  # shellcheck disable=SC2086 # "history show" is two words
  offered=" $(complete_words "$cli" $command -) "
  # shellcheck disable=SC2086
  for option in $("$cli" $command --help | grep -oE '^  (-[a-z],)?--[a-z-]+' | tr ',' ' '); do
    [[ $offered == *" $option "* ]] ||
      { echo "FAIL: $command: --help shows $option, completion lacks it" >&2; failures=$((failures + 1)); }
  done
done

((failures == 0)) && echo "bash completion: all answers right"
exit $((failures != 0))
