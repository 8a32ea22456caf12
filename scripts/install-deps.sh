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
echo "install-deps: done"
