#!/bin/sh
# The manual pages render without a warning from man or groff, and say something of
# every command and option that the programs have.
# Usage: man_pages_test.sh MAN_DIRECTORY PKGTOOL
set -u
pages=$1
pkgtool=$2
for tool in man groff; do
  if ! command -v $tool >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/setup.sh installs it)"
    exit 77
  fi
done

. "$(dirname "$0")/checks.sh"

# No output on standard error, and status 0.
quiet() {
  messages=$("$@" 2>&1 >/dev/null) && [ -z "$messages" ] && return 0
  printf '%s\n' "$messages"
  return 1
}

text=$(mktemp -d)
trap 'rm -rf "$text"' EXIT
for page in installer.8 pkgtool.1; do
  check "$page: man -l --warnings" quiet man -l --warnings -E UTF-8 "$pages/$page"
  check "$page: groff -man -ww -z" quiet groff -man -ww -z "$pages/$page"
  MANWIDTH=80 man -l -E ascii "$pages/$page" 2>/dev/null > "$text/$page"
done

# OPTION appears as a word of its own in the rendered PAGE.
mentions() {
  grep -qE -- "(^|[^-a-zA-Z0-9])$2([^-a-zA-Z0-9]|\$)" "$text/$1"
}

for option in -r -q --safe -down --reinstall --show --cleanup - --commit --cancel -b --force \
    --noupgrade -i --month; do
  check "installer.8 describes $option" mentions installer.8 "$option"
done
for section in NAME SYNOPSIS OPTIONS FILES ENVIRONMENT "EXIT STATUS"; do
  check "installer.8 has $section" grep -q "^$section" "$text/installer.8"
done

commands=$("$pkgtool" --help | sed -n 's/^  \([a-z][a-z]*\)  .*/\1/p')
check "pkgtool --help lists commands" test -n "$commands"
for command in $commands; do
  check "pkgtool.1 has a section for $command" grep -q "^   pkgtool $command" "$text/pkgtool.1"
  for option in $("$pkgtool" "$command" --help |
      sed -n 's/^  \(-[a-z], \)\{0,1\}\(--[a-z0-9-]*\).*/\2/p'); do
    check "pkgtool.1 describes $command $option" mentions pkgtool.1 "$option"
  done
done
# The commands being added beside those of --help, and the key note.
for option in plan --dot --json --keys; do
  check "pkgtool.1 describes $option" mentions pkgtool.1 "$option"
done
tr -s ' \n' '  ' < "$text/pkgtool.1" > "$text/pkgtool.flat"
for phrase in "EXIT STATUS" "development keys" "Never ship them as a vendor's keys"; do
  check "pkgtool.1 says $phrase" grep -qF -- "$phrase" "$text/pkgtool.flat"
done

finish
