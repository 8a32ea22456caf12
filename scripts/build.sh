#!/usr/bin/env bash
# Configures and builds both trees: build/ (Linux) and build-win32/ (MinGW i686).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="$(nproc)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
cmake --no-warn-unused-cli -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-win32 -j "$jobs"
# The builder on Linux uses the Windows stubs made by the cross-build.
mkdir -p build/data/Exe
for f in Setup.exe UnIns.exe; do
  if [ -f "build-win32/data/Exe/$f" ]; then cp "build-win32/data/Exe/$f" build/data/Exe/; fi
done
