#!/usr/bin/env bash
# Runs a Windows program under Wine in a throw-away 32-bit prefix with the Chinese locale.
# The prefix is made once per GBSETUP_WINE_PREFIX (default: one per user under /tmp) and reused.
set -u
prefix="${GBSETUP_WINE_PREFIX:-/tmp/gbsetup-wine-$(id -u)}"
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG="${WINEDEBUG:--all}" LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
export HOME="$prefix.home"
mkdir -p "$HOME"
if [ ! -f "$prefix/system.reg" ]; then
  # Serialise the first start: two suites creating one prefix at once would clash.
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  flock -u 9
fi
if [ -z "${DISPLAY:-}" ]; then
  # Message-box free programs still need no display; GUI tests set DISPLAY themselves.
  :
fi
wine "$@"
rc=$?
exit $rc
