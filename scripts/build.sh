#!/usr/bin/env bash
# Configures and builds both trees: build/ (Linux) and build-win32/ (MinGW i686).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="$(nproc)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-win32 -j "$jobs"
