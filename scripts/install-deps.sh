#!/usr/bin/env bash
# Installs everything the builds and tests need, from Debian packages.
# Safe to run again: apt skips what is there, the locale and i386 steps check first.
#   scripts/install-deps.sh          build + test dependencies
#   scripts/install-deps.sh --fuzz   also the fuzzing runtime (libFuzzer, sanitizers)
set -euo pipefail

want_fuzz=0
for a in "$@"; do
  case "$a" in
    --fuzz) want_fuzz=1 ;;
    *) echo "install-deps: unknown option $a" >&2; exit 2 ;;
  esac
done

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_update=1
fi

pkgs=(
  build-essential cmake pkg-config
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  libz-mingw-w64-dev
  zlib1g-dev libjpeg-dev nlohmann-json3-dev libgtest-dev googletest
  wine wine32:i386 wine64
  xvfb xauth xdotool
  locales fonts-wqy-microhei
  icoutils liblnk-utils imagemagick
  python3
  python3-pefile
  python3-jsonschema
  openssl osslsigncode
)
if [ "$want_fuzz" = 1 ]; then
  pkgs+=(clang libclang-rt-14-dev libfuzzer-14-dev)
fi

missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  if [ "${need_update:-0}" = 1 ] || [ -z "$(find /var/lib/apt/lists -maxdepth 1 -name '*i386*' -print -quit 2>/dev/null)" ] \
     || [ -z "$(find /var/lib/apt/lists -maxdepth 1 -name '*Packages*' -mmin -1440 -print -quit 2>/dev/null)" ]; then
    $SUDO apt-get update -q
  fi
  echo "install-deps: installing ${missing[*]}"
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Wine shows GBK text only when the zh_CN.UTF-8 locale exists.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  $SUDO sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen
fi

# The cross compiler must use the posix thread model (std::thread in the builder).
if command -v update-alternatives >/dev/null; then
  for t in gcc g++; do
    if [ -e "/usr/bin/i686-w64-mingw32-$t-posix" ]; then
      $SUDO update-alternatives --set "i686-w64-mingw32-$t" "/usr/bin/i686-w64-mingw32-$t-posix" >/dev/null 2>&1 || true
    fi
  done
fi
# No MinGW package of libjpeg exists: build a static one from Debian's source package, once,
# into a folder the cross-build's toolchain file searches. apt works on a private state
# folder with a deb-src entry, so the machine's own apt configuration stays as it is.
# It is built for Setup.exe, where every kilobyte is in every setup: without the parts a
# picture decoded at its own size in full colour never uses (colour quantisation to a
# palette, scaled decoding, the merged "sloppy" upsampler, the smoothing of a progressive
# picture's early scans, which a whole file read before its first line is never shown through;
# a request for a smaller size gives the full size, the pixels at full size are the same),
# without forced inlining, and with the
# system's C runtime for its message texts. The stamp names this configuration, so a machine
# with a library built otherwise builds it again.
mingw_deps="${GBSETUP_MINGW_DEPS:-/opt/gbsetup/i686-w64-mingw32}"
jpeg_stamp="$mingw_deps/.libjpeg-turbo"
jpeg_config="decoder-for-stub-2"
if [ ! -f "$jpeg_stamp" ] || [ ! -f "$mingw_deps/lib/libjpeg.a" ] || ! grep -q "$jpeg_config" "$jpeg_stamp"; then
  src="$(mktemp -d /tmp/gbsetup-jpeg.XXXXXX)"
  state="$src/apt"
  mkdir -p "$state/lists/partial" "$state/cache/archives/partial"
  echo "deb-src http://deb.debian.org/debian bookworm main" > "$state/sources.list"
  apt_opts=(-o "Dir::State=$state" -o "Dir::State::Lists=$state/lists" -o "Dir::State::status=/var/lib/dpkg/status"
            -o "Dir::Etc::SourceList=$state/sources.list" -o "Dir::Etc::SourceParts=/nonexistent"
            -o "Dir::Cache=$state/cache" -o "APT::Sandbox::User=root")
  echo "install-deps: building a static libjpeg for the Windows cross-build"
  apt-get "${apt_opts[@]}" update -q >/dev/null
  ( cd "$src" && apt-get "${apt_opts[@]}" source -q libjpeg-turbo >/dev/null 2>&1 )
  jsrc="$(find "$src" -maxdepth 1 -type d -name 'libjpeg-turbo-*' | head -1)"
  [ -n "$jsrc" ] || { echo "install-deps: the libjpeg-turbo source package could not be fetched" >&2; exit 1; }
  here="$(cd "$(dirname "$0")/.." && pwd)"
  sed -i -E 's/^#define (IDCT_SCALING_SUPPORTED|UPSAMPLE_MERGING_SUPPORTED|QUANT_1PASS_SUPPORTED|QUANT_2PASS_SUPPORTED|BLOCK_SMOOTHING_SUPPORTED)\b/#undef \1/' \
    "$jsrc/jmorecfg.h"
  [ "$(grep -cE '^#undef (IDCT_SCALING|UPSAMPLE_MERGING|QUANT_1PASS|QUANT_2PASS|BLOCK_SMOOTHING)_SUPPORTED' "$jsrc/jmorecfg.h")" = 5 ] \
    || { echo "install-deps: libjpeg's jmorecfg.h is not as expected" >&2; exit 1; }
  cmake -S "$jsrc" -B "$src/build" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$mingw_deps" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF \
    -DFORCE_INLINE=OFF -DCMAKE_C_FLAGS="-Os -ffunction-sections -fdata-sections -D__USE_MINGW_ANSI_STDIO=0" \
    >"$src/configure.log" 2>&1 || { cat "$src/configure.log" >&2; exit 1; }
  cmake --build "$src/build" -j "$(nproc)" --target jpeg-static >"$src/build.log" 2>&1 || { tail -30 "$src/build.log" >&2; exit 1; }
  $SUDO mkdir -p "$mingw_deps/include" "$mingw_deps/lib"
  # Replaced in one step: a build that links meanwhile sees the old library or the new one.
  $SUDO cp "$src/build/libjpeg.a" "$mingw_deps/lib/libjpeg.a.new"
  $SUDO mv -f "$mingw_deps/lib/libjpeg.a.new" "$mingw_deps/lib/libjpeg.a"
  $SUDO cp "$src/build/jconfig.h" "$jsrc/jpeglib.h" "$jsrc/jmorecfg.h" "$jsrc/jerror.h" "$mingw_deps/include/"
  echo "$(basename "$jsrc") $jpeg_config" | $SUDO tee "$jpeg_stamp" >/dev/null
  rm -rf "$src"
fi
echo "install-deps: done"
