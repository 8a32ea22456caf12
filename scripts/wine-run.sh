#!/usr/bin/env bash
# Runs a Windows program under Wine with the Chinese locale (or GBSETUP_WINE_LANG's), in the Wine of the program's kind:
# a PE32 (i686) in 32-bit Wine and a win32 prefix, a PE32+ (x86_64) in 64-bit Wine and a win64
# prefix. Programs that are not files here (wineboot, reg, C:\...\UnIns.exe) run in the Wine of
# GBSETUP_WIN_ARCH (i686 or x86_64; default x86_64, which every machine of ours runs).
#
#   scripts/wine-run.sh PROGRAM [ARGS...]
#   scripts/wine-run.sh --prefix [ARCH]     prints the prefix folder of ARCH, made if need be
#   scripts/wine-run.sh --probe [ARCH...]   prints the architectures whose programs run here
#                                           (default: i686 x86_64), one per line
#
# GBSETUP_WINE_MACHINE=win64 runs every program in the win64 prefix: a PE32 there runs as a
# 32-bit program on 64-bit Windows (Program Files (x86), SysWOW64, WOW6432Node), with the
# 32-bit loader.
#
# Prefixes live in GBSETUP_WINE_PREFIXES (default /tmp/gbsetup-wine-<uid>), as win32/ and
# win64/ with their HOME folders win32.home/ and win64.home/. A new prefix is a copy of a
# template made once per Wine version (a fresh win64 prefix costs 20-30 s, a copy 2 s).
set -u
here="$(cd "$(dirname "$0")" && pwd)"
prefixes="${GBSETUP_WINE_PREFIXES:-/tmp/gbsetup-wine-$(id -u)}"
templates="${GBSETUP_WINE_TEMPLATES:-/tmp/gbsetup-wine-templates-$(id -u)}"
# GBSETUP_WINE_LANG runs the program under another locale, and so another code page for
# non-Unicode programs (en_US.UTF-8: 1252, zh_TW.UTF-8: 950).
wine_lang="${GBSETUP_WINE_LANG:-zh_CN.UTF-8}"
export WINEDEBUG="${WINEDEBUG:--all}" LANG="$wine_lang" LC_ALL="$wine_lang"

die() { echo "wine-run: $*" >&2; exit 127; }

winearch_of() {  # i686 -> win32, x86_64 -> win64
  case "$1" in
    i686) echo win32 ;;
    x86_64) echo win64 ;;
    *) die "unknown architecture '$1' (i686 or x86_64)" ;;
  esac
}
loader_of() {
  case "$1" in
    i686) echo /usr/lib/wine/wine ;;
    x86_64) echo /usr/lib/wine/wine64 ;;
  esac
}
# The kind of a PE file: i686 for PE32, x86_64 for PE32+; nothing for anything else.
pe_arch() {
  [ -f "$1" ] && [ "$(head -c 2 "$1" 2>/dev/null)" = MZ ] || return 0
  local pe sig magic
  pe="$(od -An -tu4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' ')"
  [ -n "$pe" ] || return 0
  sig="$(od -An -tx1 -j "$pe" -N 4 "$1" 2>/dev/null | tr -d ' ')"
  magic="$(od -An -tx1 -j $((pe + 24)) -N 2 "$1" 2>/dev/null | tr -d ' ')"
  [ "$sig" = 50450000 ] || return 0
  case "$magic" in
    0b01) echo i686 ;;
    0b02) echo x86_64 ;;
  esac
}

# A prefix for the architecture, ready to use; made from the template when it is missing.
# Two starts at once (ctest's suites) make it once: the second waits on the lock.
ensure_prefix() {  # ensure_prefix ARCH PREFIX
  local arch="$1" prefix="$2" winearch loader version template
  winearch="$(winearch_of "$arch")"
  loader="$(loader_of "$arch")"
  [ -f "$prefix/system.reg" ] && return 0
  mkdir -p "$(dirname "$prefix")" "$templates"
  exec 8>"$prefix.lock"
  flock 8
  if [ ! -f "$prefix/system.reg" ]; then
    version="$("$loader" --version 2>/dev/null)" || die "$loader does not run here ($arch programs cannot run on this machine)"
    # Wine draws the title bar's buttons, check marks and arrows with Marlett, which it does not
    # find in its own font folder here: a prefix without it shows letters in their place.
    marlett=/usr/share/wine/fonts/marlett.ttf
    [ -f "$marlett" ] && version="$version, marlett"
    # A win64 prefix runs 32-bit programs only when it was made with 32-bit Wine installed.
    if [ "$winearch" = win64 ] && "$(loader_of i686)" --version >/dev/null 2>&1; then version="$version, wow64"; fi
    template="$templates/$winearch"
    exec 9>"$template.lock"
    flock 9
    if [ ! -f "$template/system.reg" ] || [ "$(cat "$template.version" 2>/dev/null)" != "$version" ]; then
      rm -rf "$template" "$template.new" "$template.home"
      # Made with a HOME that does not exist: Wine then keeps the user's folders (Desktop,
      # Documents, ...) inside the prefix instead of linking them to HOME, so a copy of the
      # template shares nothing with it.
      WINEPREFIX="$template.new" WINEARCH="$winearch" HOME="$template.home" WINELOADER="$loader" \
        timeout 600 "$loader" wineboot -i >/dev/null 2>&1
      WINEPREFIX="$template.new" timeout 120 wineserver -w
      [ -f "$template.new/system.reg" ] || die "wineboot made no $winearch prefix"
      [ -z "$(find "$template.new/drive_c/users" -type l -print -quit)" ] || die "the $winearch template links outside itself"
      if [ -f "$marlett" ]; then cp "$marlett" "$template.new/drive_c/windows/Fonts/" || die "cannot copy $marlett"; fi
      rm -rf "$template.home"
      mv "$template.new" "$template"
      echo "$version" >"$template.version"
    fi
    flock -u 9
    exec 9>&-
    rm -rf "$prefix.new"
    cp -a "$template" "$prefix.new" && mv "$prefix.new" "$prefix" || die "cannot copy the $winearch template to $prefix"
  fi
  flock -u 8
  exec 8>&-
}

arch_prefix() { echo "$prefixes/$(winearch_of "$1")"; }

case "${1:-}" in
  --prefix)
    arch="${2:-${GBSETUP_WIN_ARCH:-x86_64}}"
    # The prefix programs of that kind run in (see GBSETUP_WINE_MACHINE).
    if [ "${GBSETUP_WINE_MACHINE:-}" = win64 ]; then arch=x86_64; fi
    ensure_prefix "$arch" "$(arch_prefix "$arch")"
    arch_prefix "$arch"
    exit 0
    ;;
  --probe)
    shift
    [ $# -gt 0 ] || set -- i686 x86_64
    for arch in "$@"; do
      winearch_of "$arch" >/dev/null
      loader="$(loader_of "$arch")"
      "$loader" --version >/dev/null 2>&1 || continue
      # A tiny program of that kind must start and print.
      probe="$templates/probe-$arch.exe"
      if [ ! -f "$probe" ]; then
        mkdir -p "$templates"
        printf '#include <stdio.h>\nint main(void) { puts("probe ok"); return 0; }\n' >"$templates/probe.c"
        "$arch-w64-mingw32-gcc" -s -o "$probe.new" "$templates/probe.c" 2>/dev/null && mv "$probe.new" "$probe" || continue
      fi
      out="$(GBSETUP_WIN_ARCH="$arch" timeout 600 "$0" "$probe" 2>/dev/null | tr -d '\r')"
      [ "$out" = "probe ok" ] && echo "$arch"
    done
    exit 0
    ;;
esac

[ $# -gt 0 ] || die "usage: wine-run.sh PROGRAM [ARGS...] | --prefix [ARCH] | --probe [ARCH...]"
arch="$(pe_arch "$1")"
[ -n "$arch" ] || arch="${GBSETUP_WIN_ARCH:-x86_64}"
machine="$arch"
case "${GBSETUP_WINE_MACHINE:-}" in
  "") ;;
  win64) machine=x86_64 ;;
  *) die "GBSETUP_WINE_MACHINE takes win64" ;;
esac
prefix="$(arch_prefix "$machine")"
ensure_prefix "$machine" "$prefix"
export WINEPREFIX="$prefix" WINEARCH="$(winearch_of "$machine")" WINELOADER="$(loader_of "$arch")"
export HOME="$prefix.home"
mkdir -p "$HOME"
# Every link a program saves would start Wine's menu builder, which reads the link after the
# program has gone on: a test that removes its links then races it and may leave them behind.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winemenubuilder.exe=d"
exec "$WINELOADER" "$@"
