#!/bin/sh
# Writes the compressed man page of a program from its --help and --version and an include file
# of the sections that --help does not hold. A subcommand's --help follows the program's own.
#   make-man.sh PROGRAM INCLUDE OUTPUT.gz "ONE-LINE DESCRIPTION" [SUBCOMMAND...]
# A SUBCOMMAND may be two words in one argument: "history show".
set -eu
program=$1 include=$2 output=$3 summary=$4
shift 4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$include" "$work/include"
if [ $# -gt 0 ]; then
  printf '[>DESCRIPTION]\n.SH COMMANDS\n' >>"$work/include"
  for command in "$@"; do
    printf '.SS "%s"\n.nf\n' "$(basename "$program") $command" >>"$work/include"
    # roff: a backslash is written \e, and a line may not start with a control character.
    # A command of two words ("history show") is split into them.
    # shellcheck disable=SC2086
    "$program" $command --help | sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/" \
      >>"$work/include"
    printf '.fi\n' >>"$work/include"
  done
fi
# A fixed date keeps the page the same from one build to the next.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-1764547200} \
  help2man --no-info --no-discard-stderr --section=1 --name="$summary" \
  --include="$work/include" --output="$work/page" "$program"
gzip -9n <"$work/page" >"$output"
