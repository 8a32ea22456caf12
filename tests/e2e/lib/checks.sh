# Sourced by the end-to-end scripts: one line per check, and a count of the failures that the
# script's last line turns into its exit code.
failures=0
pass() { echo "  ok   $*"; }
fail() { echo "  FAIL $*"; failures=$((failures + 1)); }
check() {  # check "what" command...
  local what="$1"; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
check_not() {  # the command must fail
  local what="$1"; shift
  if "$@"; then fail "$what"; else pass "$what"; fi
}
