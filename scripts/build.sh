#!/usr/bin/env bash
# Configures and builds the three trees: build/ (Linux), build-win32/ (MinGW i686, the PE32
# product) and build-win64/ (MinGW x86_64, PE32+: the 64-bit setups, and what 64-bit Wine runs
# on every machine). Every tree's data folder then holds both kinds of stubs: the 32-bit ones in
# Exe/, the 64-bit ones in Exe/x64/ (gbsetup build --arch x64).
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
for data in build/data build-win32/data build-win64/data; do
  mkdir -p "$data/Exe/x64"
  for f in Setup.exe UnIns.exe; do
    [ "$data" = build-win32/data ] || cp "build-win32/data/Exe/$f" "$data/Exe/$f"
    [ "$data" = build-win64/data ] || cp "build-win64/data/Exe/x64/$f" "$data/Exe/x64/$f"
  done
done
