# The counting checks that the shell test scripts share: source it, check, then report
# $passed and $failed.
passed=0
failed=0

pass() { passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
# check NAME CONDITION...: passes when the command CONDITION succeeds.
check() {
  local name=$1
  shift
  if "$@"; then pass; else fail "$name"; fi
}
