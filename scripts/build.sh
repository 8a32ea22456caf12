#!/usr/bin/env bash
# Configures and builds the three trees: build/ (Linux), build-win32/ (MinGW i686, the PE32
# product) and build-win64/ (MinGW x86_64, PE32+: what 64-bit Wine runs on every machine).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="$(nproc)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
for arch in i686 x86_64; do
  tree=build-win32
  [ "$arch" = x86_64 ] && tree=build-win64
  cmake --no-warn-unused-cli -S . -B "$tree" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$tree" -j "$jobs"
done
# The builder on Linux uses the Windows stubs made by the cross-build: the 32-bit ones, which
# every setup it makes today is.
mkdir -p build/data/Exe
for f in Setup.exe UnIns.exe; do
  if [ -f "build-win32/data/Exe/$f" ]; then cp "build-win32/data/Exe/$f" build/data/Exe/; fi
done
