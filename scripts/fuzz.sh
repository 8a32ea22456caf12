#!/usr/bin/env bash
# Builds one libFuzzer target (clang, ASan + UBSan) and runs it for a given time.
#   scripts/fuzz.sh TARGET SECONDS        e.g. scripts/fuzz.sh fuzz_package 300
# The build folder is build-fuzz (GBSETUP_FUZZ_BUILD overrides it); the growing corpus is
# kept in <build>/corpus/TARGET, seeded from fuzz/corpus/TARGET when that exists.
# Crashes are written to <build>/crashes/. Not part of the test command.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 2 ]; then
  echo "usage: scripts/fuzz.sh TARGET SECONDS" >&2
  exit 2
fi
target="$1"
seconds="$2"
build="${GBSETUP_FUZZ_BUILD:-build-fuzz}"
bash scripts/install-deps.sh --fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -DGBSETUP_FUZZ=ON -DGBSETUP_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target "$target"
corpus="$build/corpus/$target"
mkdir -p "$corpus" "$build/crashes"
seeds=()
if [ -d "fuzz/corpus/$target" ]; then seeds=("fuzz/corpus/$target"); fi
"$build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=2048 \
  -artifact_prefix="$build/crashes/" "$corpus" "${seeds[@]}"
