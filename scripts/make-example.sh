#!/usr/bin/env bash
# Stages the example application in DIR (its files, the cross-built Hello.exe) and writes
# DIR/hello/hello.gbp from examples/hello/hello.json.
#   scripts/make-example.sh DIR [BUILD] [WINBUILD]
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:?usage: make-example.sh DIR [BUILD] [WINBUILD]}"
build="${2:-$repo/build}"
winbuild="${3:-$repo/build-win32}"
mkdir -p "$dir"
rm -rf "$dir/hello"
cp -r "$repo/examples/hello" "$dir/hello"
exe="$winbuild/examples/hello/Hello.exe"
[ -f "$exe" ] || { echo "make-example: $exe is missing (run scripts/build.sh)" >&2; exit 1; }
cp "$exe" "$dir/hello/app/Hello.exe"
"$build/gbsetup" import "$dir/hello/hello.json" -o "$dir/hello/hello.gbp"
echo "$dir/hello/hello.gbp"
