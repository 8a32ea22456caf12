#!/usr/bin/env bash
# The main job: set everything up, build the example's setup program with the Linux builder
# and install it into a fresh sandbox (a stand-in Windows machine under a folder).
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
cd "$repo"
bash scripts/install-deps.sh
bash scripts/build.sh
work="${GBSETUP_DEMO_DIR:-$repo/out/demo}"
rm -rf "$work"
mkdir -p "$work"
project="$(bash scripts/make-example.sh "$work" | tail -1)"
echo
echo "== building the setup program straight from $project"
build/gbsetup build "$project" --output "$work/setup"
setup="$(ls "$work"/setup/*.exe)"
echo
echo "== its package"
build/gbsetup list "$setup"
echo
echo "== installing it into the sandbox $work/sandbox"
build/gbsetup install "$setup" --root "$work/sandbox"
echo
echo "The setup program: $setup"
echo "Run it under Wine:  scripts/wine-run.sh \"$setup\""
echo "The sandbox (drive C: is $work/sandbox/drive_c, the registry $work/sandbox/registry.reg)."
