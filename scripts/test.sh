#!/usr/bin/env bash
# The one test command: installs dependencies, builds both trees, runs every test
# (native suites, the cross-compiled suites under Wine, the end-to-end scripts).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
export GBSETUP_WINE_PREFIX="$(mktemp -d /tmp/gbsetup-wine.XXXXXX)/prefix"
trap 'WINEPREFIX="$GBSETUP_WINE_PREFIX" wineserver -k >/dev/null 2>&1 || true' EXIT

passed=0
failed=0
# Runs one tree's suites; prints each suite's test count and ctest's summary.
run_suites() {
  local dir="$1" log rc=0
  shift
  log="$(mktemp)"
  ctest --test-dir "$dir" -V "$@" >"$log" 2>&1 || rc=$?
  local n
  while read -r n; do passed=$((passed + n)); done < <(sed -n 's/^[0-9]*: \[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p' "$log")
  while read -r n; do failed=$((failed + n)); done < <(sed -n 's/^[0-9]*: \[  FAILED  \] \([0-9]*\) tests\?, listed below.*/\1/p' "$log")
  grep -E '^[0-9]+: \[==========\] [0-9]+ tests? from .* ran' "$log" | sed 's/^[0-9]*: \[==========\]/ /' || true
  if [ "$rc" != 0 ]; then
    grep -E '^[0-9]+: \[  FAILED  \]|Failure|error' "$log" || true
  fi
  tail -n 4 "$log"
  rm -f "$log"
  return "$rc"
}

status=0
echo "== native unit tests"
run_suites build || status=1
echo "== Windows unit tests under Wine"
# The wizard window's suite makes real windows, which Wine makes only with a display. The
# other suites run without one: with a display, Wine answers a failed shell open with a box.
shown_display="${DISPLAY:-}"
unset DISPLAY
run_suites build-win32 -E wizard_tests || status=1
xvfb_pid=""
if [ -n "$shown_display" ]; then
  export DISPLAY="$shown_display"
else
  source scripts/xvfb.sh
  start_xvfb 350 399 1024x768x24 || echo "no X server: the window tests are skipped"
fi
run_suites build-win32 -R wizard_tests || status=1
if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
if [ -n "$shown_display" ]; then export DISPLAY="$shown_display"; else unset DISPLAY; fi
echo "== end-to-end tests"
for t in tests/e2e/*.sh; do
  echo "-- $t"
  if bash "$t"; then passed=$((passed + 1)); else failed=$((failed + 1)); status=1; echo "FAILED: $t"; fi
done
echo
echo "unit test cases (native and Wine) and end-to-end scripts:"
echo "$passed passed, $failed failed"
exit "$status"
