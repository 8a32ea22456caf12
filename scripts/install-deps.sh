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

# 32-bit Wine needs the i386 architecture. Its packages are installed where the architecture can
# be added, but nothing depends on them: a machine that cannot run 32-bit programs tests the
# x86_64 builds under 64-bit Wine only.
want_i386=1
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  if $SUDO dpkg --add-architecture i386 2>/dev/null; then need_update=1; else want_i386=0; fi
fi

pkgs=(
  build-essential cmake pkg-config
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libz-mingw-w64-dev
  zlib1g-dev libdeflate-dev libjpeg-dev nlohmann-json3-dev libgtest-dev googletest
  wine wine64
  xvfb xauth xdotool
  locales fonts-wqy-microhei fonts-wine
  libcairo2-dev libpango1.0-dev libgdk-pixbuf-2.0-dev libwmf-0.2-7-gtk
  icoutils liblnk-utils imagemagick
  python3
  python3-pefile
  python3-jsonschema
  python3-yaml
  openssl osslsigncode
)
if [ "$want_fuzz" = 1 ]; then
  pkgs+=(clang libclang-rt-14-dev libfuzzer-14-dev)
fi
optional=()
if [ "$want_i386" = 1 ]; then optional+=(wine32:i386); fi

missing_of() {  # prints the packages of "$@" that are not installed
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then echo "$p"; fi
  done
}
mapfile -t missing < <(missing_of "${pkgs[@]}")
mapfile -t missing_optional < <(missing_of "${optional[@]}")

# A mirror in mid-sync can serve one suite's index at a size its Release file does not give:
# apt then fails that index and keeps the others. That is not a reason to stop; the install
# below says whether what is left is enough.
apt_update() {
  if ! $SUDO apt-get update -q; then
    echo "install-deps: apt-get update failed for some indexes (a mirror in mid-sync?); going on with the indexes apt has" >&2
  fi
}
# With a suite's index missing, packages of one architecture can be newer than those of the
# other (wine32:i386 then needs i386 libraries at versions apt no longer sees). Pinning the
# release resolves from its own consistent set; apt says so before it tries.
apt_install() {
  local release
  release="$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")"
  if $SUDO apt-get install -y -q --no-install-recommends "$@"; then return 0; fi
  [ -n "$release" ] || return 1
  echo "install-deps: apt could not install $* as the indexes stand; trying again with the release pinned (-t $release)" >&2
  $SUDO apt-get install -y -q --no-install-recommends -t "$release" "$@"
}

if [ "${#missing[@]}" -gt 0 ] || [ "${#missing_optional[@]}" -gt 0 ]; then
  if [ "${need_update:-0}" = 1 ] || [ -z "$(find /var/lib/apt/lists -maxdepth 1 -name '*Packages*' -mmin -1440 -print -quit 2>/dev/null)" ] \
     || { [ "$want_i386" = 1 ] && [ -z "$(find /var/lib/apt/lists -maxdepth 1 -name '*i386*' -print -quit 2>/dev/null)" ]; }; then
    apt_update
  fi
fi
if [ "${#missing[@]}" -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  apt_install "${missing[@]}" || { echo "install-deps: the packages could not be installed" >&2; exit 1; }
fi
# The last resort for 32-bit Wine when one architecture's index of a suite is missing: the
# libraries both architectures must have at one version (Multi-Arch: same) are installed at the
# version the i386 index offers, with the other packages built from the same source, on both
# architectures; that can take an installed library back to an earlier update. Done only when
# apt removes nothing for it, and it names what moves.
align_for_i386() {  # align_for_i386 PACKAGE... (the i386 packages wanted)
  local p inst v ma src b pins=() moved=() plan
  while read -r p; do
    inst="$(dpkg-query -W -f='${Status} ${Version}' "$p:amd64" 2>/dev/null | awk '/ installed /{ print $NF }')"
    [ -n "$inst" ] || continue
    v="$(apt-cache policy "$p:i386" 2>/dev/null | awk '/Candidate:/{ print $2 }')"
    [ -n "$v" ] && [ "$v" != "(none)" ] || continue
    ma="$(apt-cache show "$p:i386=$v" 2>/dev/null | awk -F': ' '/^Multi-Arch:/{ print $2; exit }')"
    [ "$ma" = same ] || continue
    pins+=("$p:amd64=$v" "$p:i386=$v")
    [ "$inst" = "$v" ] && continue
    moved+=("$p $inst -> $v")
    src="$(dpkg-query -W -f='${source:Package}' "$p:amd64")"
    for b in $(dpkg-query -W -f='${Package} ${source:Package} ${db:Status-Abbrev} ${Architecture}\n' |
               awk -v s="$src" '$2 == s && $3 ~ /^ii/ && $4 != "i386" { print $1 }'); do
      [ "$b" != "$p" ] || continue
      case " ${pins[*]} " in *" $b:amd64="*) continue ;; esac
      if apt-cache madison "$b" 2>/dev/null | awk '{ print $3 }' | grep -Fxq -- "$v"; then pins+=("$b:amd64=$v"); fi
    done
  done < <(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks --no-replaces \
             --no-enhances "$@" 2>/dev/null | grep -E '^[a-z0-9].*:i386$' | sed 's/:i386$//' | sort -u)
  [ "${#pins[@]}" -gt 0 ] || return 1
  plan="$($SUDO apt-get install -s -q --no-install-recommends --allow-downgrades "$@" "${pins[@]}" 2>/dev/null)" || return 1
  if grep -q '^Remv' <<<"$plan"; then
    echo "install-deps: aligning the libraries would remove packages; not done" >&2
    return 1
  fi
  echo "install-deps: installing $* with the libraries both architectures share at the i386 index's versions:" >&2
  printf 'install-deps:   %s\n' "${moved[@]}" >&2
  $SUDO apt-get install -y -q --no-install-recommends --allow-downgrades "$@" "${pins[@]}"
}

if [ "${#missing_optional[@]}" -gt 0 ]; then
  echo "install-deps: installing ${missing_optional[*]} (32-bit Wine)"
  apt_install "${missing_optional[@]}" || align_for_i386 "${missing_optional[@]}" ||
    echo "install-deps: ${missing_optional[*]} could not be installed; the Windows tests run on x86_64 only" >&2
fi

# Wine takes its code page for non-Unicode programs from the locale: zh_CN.UTF-8 gives 936,
# en_US.UTF-8 1252 and zh_TW.UTF-8 950. The Windows programs are tested under all three.
wanted_locales=()
for loc in zh_CN en_US zh_TW; do
  locale -a 2>/dev/null | grep -qi "^$loc\.utf-\?8\$" || wanted_locales+=("$loc")
done
if [ "${#wanted_locales[@]}" -gt 0 ]; then
  for loc in "${wanted_locales[@]}"; do
    $SUDO sed -i "s/^# *\($loc.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^$loc.UTF-8 UTF-8" /etc/locale.gen || echo "$loc.UTF-8 UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
  done
  $SUDO locale-gen
fi

# The cross compilers must use the posix thread model (std::thread in the builder).
if command -v update-alternatives >/dev/null; then
  for triplet in i686-w64-mingw32 x86_64-w64-mingw32; do
    for t in gcc g++; do
      if [ -e "/usr/bin/$triplet-$t-posix" ]; then
        $SUDO update-alternatives --set "$triplet-$t" "/usr/bin/$triplet-$t-posix" >/dev/null 2>&1 || true
      fi
    done
  done
fi
# No MinGW package of libjpeg exists: build a static one for each Windows architecture from
# Debian's source package, once, into a folder the cross-build's toolchain file searches
# ($GBSETUP_MINGW_DEPS/<triplet>). apt works on a private state folder with a deb-src entry, so
# the machine's own apt configuration stays as it is.
# It is built for Setup.exe, where every kilobyte is in every setup: without the parts a
# picture decoded at its own size in full colour never uses (colour quantisation to a
# palette, scaled decoding, the merged "sloppy" upsampler, the smoothing of a progressive
# picture's early scans, which a whole file read before its first line is never shown through;
# a request for a smaller size gives the full size, the pixels at full size are the same),
# without the arithmetic-coded variant of JPEG (which the tools that make pictures do not
# write; such a picture is named as unreadable and left out, as any other), without forced
# inlining, and with the
# system's C runtime for its message texts. For 32-bit Windows it has no unwind tables: its
# errors leave it by longjmp, which needs none there (the 64-bit longjmp unwinds through the
# frames, so that build keeps them). The stamp names this configuration, so a machine
# with a library built otherwise builds it again.
here="$(cd "$(dirname "$0")/.." && pwd)"
deps_base="${GBSETUP_MINGW_DEPS:-/opt/gbsetup}"
jpeg_config="decoder-for-stub-4"
jsrc=""
deps_tmp=""
apt_src=()
trap 'if [ -n "$deps_tmp" ]; then rm -rf "$deps_tmp"; fi' EXIT
fetch_source() {  # fetch_source PACKAGE: sets fetched to the unpacked tree of Debian's source package
  if [ -z "$deps_tmp" ]; then
    deps_tmp="$(mktemp -d /tmp/gbsetup-deps.XXXXXX)"
    local state="$deps_tmp/apt"
    mkdir -p "$state/lists/partial" "$state/cache/archives/partial"
    echo "deb-src http://deb.debian.org/debian bookworm main" > "$state/sources.list"
    apt_src=(-o "Dir::State=$state" -o "Dir::State::Lists=$state/lists" -o "Dir::State::status=/var/lib/dpkg/status"
             -o "Dir::Etc::SourceList=$state/sources.list" -o "Dir::Etc::SourceParts=/nonexistent"
             -o "Dir::Cache=$state/cache" -o "APT::Sandbox::User=root")
    apt-get "${apt_src[@]}" update -q >/dev/null ||
      echo "install-deps: apt-get update of the source index reported errors; trying the source package anyway" >&2
  fi
  ( cd "$deps_tmp" && apt-get "${apt_src[@]}" source -q "$1" >/dev/null 2>&1 )
  fetched="$(find "$deps_tmp" -maxdepth 1 -type d -name "$1-[0-9]*" | head -1)"
  [ -n "$fetched" ] || { echo "install-deps: the $1 source package could not be fetched" >&2; exit 1; }
}
fetch_jpeg_source() {  # sets jsrc to an unpacked, configured libjpeg-turbo source tree
  [ -z "$jsrc" ] || return 0
  fetch_source libjpeg-turbo
  jsrc="$fetched"
  sed -i -E 's/^#define (IDCT_SCALING_SUPPORTED|UPSAMPLE_MERGING_SUPPORTED|QUANT_1PASS_SUPPORTED|QUANT_2PASS_SUPPORTED|BLOCK_SMOOTHING_SUPPORTED)\b/#undef \1/' \
    "$jsrc/jmorecfg.h"
  [ "$(grep -cE '^#undef (IDCT_SCALING|UPSAMPLE_MERGING|QUANT_1PASS|QUANT_2PASS|BLOCK_SMOOTHING)_SUPPORTED' "$jsrc/jmorecfg.h")" = 5 ] \
    || { echo "install-deps: libjpeg's jmorecfg.h is not as expected" >&2; exit 1; }
}
for arch in i686 x86_64; do
  triplet="$arch-w64-mingw32"
  mingw_deps="$deps_base/$triplet"
  jpeg_stamp="$mingw_deps/.libjpeg-turbo"
  if [ -f "$jpeg_stamp" ] && [ -f "$mingw_deps/lib/libjpeg.a" ] && grep -q "$jpeg_config" "$jpeg_stamp"; then continue; fi
  fetch_jpeg_source
  echo "install-deps: building a static libjpeg for the Windows cross-build ($arch)"
  jbuild="$deps_tmp/jpeg-build-$arch"
  unwind=""
  if [ "$arch" = i686 ]; then unwind="-fno-asynchronous-unwind-tables -fno-unwind-tables"; fi
  cmake -S "$jsrc" -B "$jbuild" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$mingw_deps" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF \
    -DWITH_ARITH_DEC=OFF -DWITH_ARITH_ENC=OFF \
    -DFORCE_INLINE=OFF -DCMAKE_C_FLAGS="-Os -ffunction-sections -fdata-sections -D__USE_MINGW_ANSI_STDIO=0 $unwind" \
    >"$jbuild.configure.log" 2>&1 || { cat "$jbuild.configure.log" >&2; exit 1; }
  cmake --build "$jbuild" -j "$(nproc)" --target jpeg-static >"$jbuild.log" 2>&1 || { tail -30 "$jbuild.log" >&2; exit 1; }
  $SUDO mkdir -p "$mingw_deps/include" "$mingw_deps/lib"
  # Replaced in one step: a build that links meanwhile sees the old library or the new one.
  $SUDO cp "$jbuild/libjpeg.a" "$mingw_deps/lib/libjpeg.a.new"
  $SUDO mv -f "$mingw_deps/lib/libjpeg.a.new" "$mingw_deps/lib/libjpeg.a"
  $SUDO cp "$jbuild/jconfig.h" "$jsrc/jpeglib.h" "$jsrc/jmorecfg.h" "$jsrc/jerror.h" "$mingw_deps/include/"
  echo "$(basename "$jsrc") $jpeg_config" | $SUDO tee "$jpeg_stamp" >/dev/null
done
# Nor of libdeflate, which gbsetup.exe compresses with (the stubs only read, with zlib): a
# static library for each Windows architecture from Debian's source package, the same way.
# Its own Makefile knows MinGW and names the static library libdeflatestatic.lib; it is
# installed as libdeflate.a, the name the cross-build looks for.
deflate_config="static-1"
dsrc=""
for arch in i686 x86_64; do
  triplet="$arch-w64-mingw32"
  mingw_deps="$deps_base/$triplet"
  deflate_stamp="$mingw_deps/.libdeflate"
  if [ -f "$deflate_stamp" ] && [ -f "$mingw_deps/lib/libdeflate.a" ] && grep -q "$deflate_config" "$deflate_stamp"; then continue; fi
  if [ -z "$dsrc" ]; then fetch_source libdeflate; dsrc="$fetched"; fi
  echo "install-deps: building a static libdeflate for the Windows cross-build ($arch)"
  dbuild="$deps_tmp/deflate-build-$arch"
  rm -rf "$dbuild"
  cp -a "$dsrc" "$dbuild"
  make -C "$dbuild" -j "$(nproc)" CC="$triplet-gcc" AR="$triplet-ar" libdeflatestatic.lib >"$dbuild.log" 2>&1 ||
    { tail -30 "$dbuild.log" >&2; exit 1; }
  $SUDO mkdir -p "$mingw_deps/include" "$mingw_deps/lib"
  $SUDO cp "$dbuild/libdeflatestatic.lib" "$mingw_deps/lib/libdeflate.a.new"
  $SUDO mv -f "$mingw_deps/lib/libdeflate.a.new" "$mingw_deps/lib/libdeflate.a"
  $SUDO cp "$dsrc/libdeflate.h" "$mingw_deps/include/"
  echo "$(basename "$dsrc") $deflate_config" | $SUDO tee "$deflate_stamp" >/dev/null
done
echo "install-deps: done"
