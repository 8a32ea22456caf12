#!/usr/bin/env bash
# The one test command: installs dependencies, builds both trees, runs every test
# (native suites, the cross-compiled suites under Wine, the end-to-end scripts).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
export GBSETUP_WINE_PREFIX="$(mktemp -d /tmp/gbsetup-wine.XXXXXX)/prefix"
trap 'WINEPREFIX="$GBSETUP_WINE_PREFIX" wineserver -k >/dev/null 2>&1 || true' EXIT
echo "== native unit tests"
ctest --test-dir build --output-on-failure
echo "== Windows unit tests under Wine"
ctest --test-dir build-win32 --output-on-failure
if [ -d tests/e2e ]; then
  echo "== end-to-end tests"
  for t in tests/e2e/*.sh; do
    [ -e "$t" ] || continue
    echo "-- $t"
    bash "$t"
  done
fi
