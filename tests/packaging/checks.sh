# Counting checks for the shell tests of this directory; sourced.
passed=0
failed=0

# check NAME COMMAND...: a case passes when COMMAND succeeds.
check() {
  name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    echo "FAIL: $name"
    failed=$((failed + 1))
  fi
}

# contains TEXT PART: whether TEXT holds PART.
contains() { printf '%s' "$1" | grep -qF -- "$2"; }

# The closing line; status 0 when nothing failed.
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
