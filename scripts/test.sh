#!/usr/bin/env bash
# The one test command: installs dependencies, builds the three trees, runs every test: the
# native suites, the cross-compiled suites under Wine and the end-to-end scripts, the Windows
# ones for each architecture that runs here (x86_64 under 64-bit Wine always; i686 where the
# machine runs 32-bit programs). GBSETUP_WINE_ARCHS="x86_64" narrows the architectures run
# under Wine, so a machine that runs both can show the run a machine without 32-bit gets.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
export GBSETUP_WINE_PREFIXES="$(mktemp -d /tmp/gbsetup-wine.XXXXXX)"
cleanup() {
  local p
  for p in "$GBSETUP_WINE_PREFIXES"/win32 "$GBSETUP_WINE_PREFIXES"/win64; do
    if [ -d "$p" ]; then WINEPREFIX="$p" wineserver -k >/dev/null 2>&1 || true; fi
  done
  rm -rf "$GBSETUP_WINE_PREFIXES"
}
trap cleanup EXIT

all_archs=(i686 x86_64)
wanted=()
for a in ${GBSETUP_WINE_ARCHS:-${all_archs[*]}}; do
  a="${a//,/}"
  case "$a" in
    i686|x86_64) wanted+=("$a") ;;
    "") ;;
    *) echo "test: unknown architecture '$a' in GBSETUP_WINE_ARCHS (i686, x86_64)" >&2; exit 2 ;;
  esac
done
echo "== which Windows programs run here"
mapfile -t runs < <(scripts/wine-run.sh --probe "${wanted[@]}")
runs_here() { local a; for a in "${runs[@]}"; do [ "$a" = "$1" ] && return 0; done; return 1; }
wanted_here() { local a; for a in "${wanted[@]}"; do [ "$a" = "$1" ] && return 0; done; return 1; }
status=0
for a in "${all_archs[@]}"; do
  if runs_here "$a"; then
    echo "  $a: runs under Wine"
  elif ! wanted_here "$a"; then
    echo "  $a: left out by GBSETUP_WINE_ARCHS; its programs are built and checked without running them"
  elif [ "$a" = i686 ]; then
    echo "  $a: 32-bit programs do not run on this machine; its programs are built and checked without running them"
  else
    echo "  $a: 64-bit Wine does not run here, and it must (scripts/install-deps.sh installs it)"
    status=1
  fi
done

# Counts by what ran: "native", or the Windows architecture.
declare -A passed failed
for k in native "${all_archs[@]}"; do passed[$k]=0; failed[$k]=0; done
# Runs one tree's suites; prints each suite's test count and ctest's summary.
run_suites() {
  local label="$1" dir="$2" log rc=0 n
  shift 2
  log="$(mktemp)"
  ctest --test-dir "$dir" -V "$@" >"$log" 2>&1 || rc=$?
  while read -r n; do passed[$label]=$((passed[$label] + n)); done < <(sed -n 's/^[0-9]*: \[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p' "$log")
  while read -r n; do failed[$label]=$((failed[$label] + n)); done < <(sed -n 's/^[0-9]*: \[  FAILED  \] \([0-9]*\) tests\?, listed below.*/\1/p' "$log")
  grep -E '^[0-9]+: \[==========\] [0-9]+ tests? from .* ran' "$log" | sed 's/^[0-9]*: \[==========\]/ /' || true
  if [ "$rc" != 0 ]; then
    # A failed check's values follow its line.
    grep -A 8 -E 'Failure$' "$log" || true
    grep -E '^[0-9]+: \[  FAILED  \]|error' "$log" || true
    # A suite that died before its summary counts as one failure.
    if ! grep -q '\[  FAILED  \]' "$log"; then failed[$label]=$((failed[$label] + 1)); fi
  fi
  tail -n 4 "$log"
  rm -f "$log"
  return "$rc"
}

echo "== native unit tests"
run_suites native build || status=1
shown_display="${DISPLAY:-}"
for a in "${runs[@]}"; do
  tree=build-win32
  [ "$a" = x86_64 ] && tree=build-win64
  echo "== Windows unit tests under Wine ($a, $tree)"
  # The wizard window's suite makes real windows, which Wine makes only with a display. The
  # other suites run without one: with a display, Wine answers a failed shell open with a box.
  unset DISPLAY
  run_suites "$a" "$tree" -E wizard_tests || status=1
  xvfb_pid=""
  if [ -n "$shown_display" ]; then
    export DISPLAY="$shown_display"
  else
    source scripts/xvfb.sh
    start_xvfb 350 399 1024x768x24 || echo "no X server: the window tests cannot run"
  fi
  run_suites "$a" "$tree" -R wizard_tests || status=1
  # The window suite once more where the code page for non-Unicode programs is 1252, as on an
  # English Windows: every text it reads back must still be the Chinese it set.
  echo "-- the window suite under en_US.UTF-8 (code page 1252)"
  GBSETUP_WINE_LANG=en_US.UTF-8 run_suites "$a" "$tree" -R wizard_tests || status=1
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
done
if [ -n "$shown_display" ]; then export DISPLAY="$shown_display"; else unset DISPLAY; fi

echo "== end-to-end tests"
# A script's "# e2e-arch:" line says how it uses the Windows programs: "each" scripts run once
# for every architecture (they check what needs no Wine themselves and run the rest where it
# runs), "wine" scripts once for every architecture that runs; the others once.
e2e() {  # e2e LABEL SCRIPT [ENV...]
  local label="$1" t="$2"
  shift 2
  echo "-- $t${label:+ ($label)}"
  if env "$@" bash "$t"; then
    passed[${label:-native}]=$((passed[${label:-native}] + 1))
  else
    failed[${label:-native}]=$((failed[${label:-native}] + 1))
    status=1
    echo "FAILED: $t${label:+ ($label)}"
  fi
}
for t in tests/e2e/*.sh; do
  kind="$(sed -n 's/^# e2e-arch: *\([a-z]*\).*/\1/p' "$t" | head -1)"
  case "$kind" in
    each)
      for a in "${all_archs[@]}"; do
        r=0
        runs_here "$a" && r=1
        e2e "$a" "$t" GBSETUP_WIN_ARCH="$a" GBSETUP_WINE_RUNS="$r"
      done
      ;;
    wine)
      for a in "${runs[@]}"; do e2e "$a" "$t" GBSETUP_WIN_ARCH="$a" GBSETUP_WINE_RUNS=1; done
      ;;
    *) e2e "" "$t" ;;
  esac
done

echo
echo "unit test cases and end-to-end scripts, by what ran:"
total_passed=0 total_failed=0
for k in native "${all_archs[@]}"; do
  what="$k"
  if [ "$k" != native ]; then
    if runs_here "$k"; then what="$k (programs run under Wine)"; else what="$k (checked without running its programs)"; fi
  fi
  printf '  %-46s %d passed, %d failed\n' "$what" "${passed[$k]}" "${failed[$k]}"
  total_passed=$((total_passed + passed[$k]))
  total_failed=$((total_failed + failed[$k]))
done
echo "Windows architectures run under Wine: ${runs[*]:-none}"
echo "$total_passed passed, $total_failed failed"
exit "$status"
