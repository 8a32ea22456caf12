#!/usr/bin/env bash
# Stages the example application in DIR (its files, the cross-built Hello.exe) beside its
# project DIR/hello/hello.json, and prints that path: 'gbsetup build' takes it as it is.
#   scripts/make-example.sh DIR [WINBUILD]
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:?usage: make-example.sh DIR [WINBUILD]}"
winbuild="${2:-$repo/build-win32}"
mkdir -p "$dir"
rm -rf "$dir/hello"
cp -r "$repo/examples/hello" "$dir/hello"
exe="$winbuild/examples/hello/Hello.exe"
[ -f "$exe" ] || { echo "make-example: $exe is missing (run scripts/build.sh)" >&2; exit 1; }
cp "$exe" "$dir/hello/app/Hello.exe"
echo "$dir/hello/hello.json"
