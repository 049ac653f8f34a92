#!/bin/bash
# pkgtool's bash completion: what it offers for typical command lines, and that it
# knows every command and option that "pkgtool --help" and "pkgtool COMMAND --help"
# list, with the same ones taking a value.
# Usage: completion_test.sh COMPLETION_FILE PKGTOOL
set -u
completion=$1
pkgtool=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
# shellcheck source=/dev/null
source "$completion" || exit 1

passed=0
failed=0
expect() {  # expect NAME EXPECTED ACTUAL
  if [[ $2 == "$3" ]]; then
    passed=$((passed + 1))
  else
    echo "FAIL: $1"
    echo "  expected: $2"
    echo "  got:      $3"
    failed=$((failed + 1))
  fi
}

# What the completion offers at the end of LINE, sorted, one blank between. Words
# are split at blanks and at "=" as bash splits them.
offers() {
  local line=$1
  line=${line//=/ = }
  read -ra COMP_WORDS <<<"$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$1
  COMP_POINT=${#1}
  COMPREPLY=()
  _pkgtool pkgtool "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/root/flash" "$work/keys"
touch "$work/core.zpk" "$work/wireless.wpk" "$work/notes.txt"
cd "$work" || exit 1

expect "pkgtool b" "build bundle" "$(offers "pkgtool b")"
expect "pkgtool p" "plan" "$(offers "pkgtool p")"
expect "pkgtool" "--help build bundle db help inspect keygen plan sign verify" "$(offers "pkgtool ")"
expect "pkgtool help v" "verify" "$(offers "pkgtool help v")"
expect "verify --l" "--level" "$(offers "pkgtool verify --l")"
expect "verify --level" "1 2" "$(offers "pkgtool verify --level ")"
expect "verify --level=" "1 2" "$(offers "pkgtool verify --level=")"
expect "db --" "--dot --help --json" "$(offers "pkgtool db --")"
expect "plan --" "--help --installer --json" "$(offers "pkgtool plan --")"
expect "build --s" "--sha256 --sign" "$(offers "pkgtool build --s")"
expect "sign --keys" "keys root" "$(offers "pkgtool sign --keys ")"
expect "sign --keys=k" "keys" "$(offers "pkgtool sign --keys=k")"
expect "inspect FILE" "core.zpk keys root wireless.wpk" "$(offers "pkgtool inspect ")"
expect "inspect FILE FILE" "" "$(offers "pkgtool inspect core.zpk ")"
expect "inspect after --json" "core.zpk keys root wireless.wpk" "$(offers "pkgtool inspect --json ")"
expect "bundle members" "core.zpk keys root wireless.wpk" \
  "$(offers "pkgtool bundle -o out.zpk --name core --version 6.43 core.zpk ")"
expect "build --name VALUE" "" "$(offers "pkgtool build --name ")"
expect "build -o FILE" "core.zpk keys notes.txt root wireless.wpk" "$(offers "pkgtool build -o ")"
expect "build DIRECTORY" "keys root" "$(offers "pkgtool build -o x.zpk --name a --version 1.0 ")"
expect "db ROOT" "root" "$(offers "pkgtool db --json r")"
expect "plan ROOT" "keys root" "$(offers "pkgtool plan ")"
expect "plan ROOT PACKAGE" "core.zpk keys root wireless.wpk" "$(offers "pkgtool plan root ")"
expect "plan ROOT --json PACKAGE" "core.zpk" "$(offers "pkgtool plan root --json c")"
expect "plan --installer FILE" "core.zpk keys notes.txt root wireless.wpk" "$(offers "pkgtool plan --installer ")"
expect "keygen DIRECTORY" "keys" "$(offers "pkgtool keygen k")"
expect "after --" "core.zpk keys root wireless.wpk" "$(offers "pkgtool inspect -- ")"
expect "unknown command" "" "$(offers "pkgtool frobnicate ")"

# Agreement with the tool's own help.
commands=$("$pkgtool" --help | sed -n 's/^  \([a-z][a-z]*\)  .*/\1/p')
offered=" $(offers "pkgtool ") "
for command in $commands; do
  expect "command $command is offered" yes "$([[ $offered == *" $command "* ]] && echo yes)"
  known=" $(_pkgtool_options "$command") "
  while read -r option value; do
    [[ -n $option ]] || continue
    expect "$command $option is offered" yes "$([[ $known == *" $option "* ]] && echo yes)"
    takes=no
    _pkgtool_takes_value "$option" && takes=yes
    expect "$command $option takes a value" "$([[ -n $value ]] && echo yes || echo no)" "$takes"
  done < <("$pkgtool" "$command" --help |
             sed -n 's/^  \(-[a-z], \)\{0,1\}\(--[a-z0-9-]*\)\( [A-Z0-9|]*\)\{0,1\}  .*/\2\3/p')
done

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
