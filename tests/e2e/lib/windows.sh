# Sourced by the end-to-end scripts that use the cross-built Windows programs: the builder and
# stub paths of one architecture, a fresh Wine prefix, the display and the clean-up, once.
# Needs: repo (the checkout), work (the script's temporary folder).
#
# GBSETUP_WIN_ARCH picks the architecture: i686 (build-win32, PE32, 32-bit Wine) or x86_64
# (build-win64, PE32+, 64-bit Wine; the default, as 64-bit Wine runs on every machine of ours).
# GBSETUP_WINE_RUNS (1 or 0, set by scripts/test.sh) says whether its programs run here;
# without it, wine-run.sh is asked.

win_arch="${GBSETUP_WIN_ARCH:-x86_64}"
export GBSETUP_WIN_ARCH="$win_arch"
case "$win_arch" in
  i686) win_build="$repo/build-win32" ;;
  x86_64) win_build="$repo/build-win64" ;;
  *) echo "unknown GBSETUP_WIN_ARCH '$win_arch' (i686 or x86_64)" >&2; exit 2 ;;
esac
win_data="$win_build/data"          # the builder's data folder, with the stubs of both kinds
# The stubs of this architecture in it, and the gbsetup build --arch that takes them.
# And the sandbox machine that runs such a setup: gbsetup install --windows.
if [ "$win_arch" = i686 ]; then
  win_stubs="$win_data/Exe" win_setup_arch=x86 win_sandbox_windows=32
else
  win_stubs="$win_data/Exe/x64" win_setup_arch=x64 win_sandbox_windows=64
fi
win_tools="$win_arch-w64-mingw32"   # prefix of this architecture's compiler and binutils
gbsetup="${GBSETUP_E2E_BUILDER:-$repo/build/gbsetup}"

# win_need FILE...: each must exist, or the script stops naming the first missing one.
win_need() {
  local f
  for f in "$@"; do
    [ -e "$f" ] || { echo "$(basename "$0" .sh): $f is missing (run scripts/build.sh)" >&2; exit 1; }
  done
}

# wine_runs: true when programs of this architecture run on this machine.
wine_runs() {
  if [ -z "${GBSETUP_WINE_RUNS:-}" ]; then
    if [ "$("$repo/scripts/wine-run.sh" --probe "$win_arch")" = "$win_arch" ]; then
      GBSETUP_WINE_RUNS=1
    else
      GBSETUP_WINE_RUNS=0
    fi
    export GBSETUP_WINE_RUNS
  fi
  [ "$GBSETUP_WINE_RUNS" = 1 ]
}
# wine_not_run WHAT: the one line a script prints for a part it leaves out on this machine.
wine_not_run() {
  echo "  not run here: $1 ($win_arch programs do not run on this machine)"
}

# wine_start: this script's own prefix (a fresh copy of the template, so runs do not see each
# other's files and registry), exported as WINEPREFIX; drive is its drive C:.
wine_start() {
  export GBSETUP_WINE_PREFIXES="$work/wine"
  WINEPREFIX="$("$repo/scripts/wine-run.sh" --prefix "$win_arch")" || { echo "no Wine prefix for $win_arch" >&2; exit 1; }
  export WINEPREFIX
  wine_home="$WINEPREFIX.home"
  drive="$WINEPREFIX/drive_c"
  # The user's temporary folder (%TEMP%, C:\users\<user>\Temp).
  wine_temp="$(find "$drive/users" -mindepth 2 -maxdepth 2 -type d -name Temp | grep -v /Public/ | head -1)"
}
# temp_listing: what the prefix's temporary folder holds, one path a line.
temp_listing() { (cd "$wine_temp" && find . -mindepth 1 | sort); }
# temp_news BEFORE: what it holds now that it did not hold in the listing BEFORE.
temp_news() { comm -13 <(echo "$1") <(temp_listing); }
wine_run() { timeout "${WINE_TIMEOUT:-120}" "$repo/scripts/wine-run.sh" "$@"; }
wine_wait() { timeout 60 wineserver -w; }

# wine_display FIRST LAST [GEOMETRY]: an X server on the first free display number of that
# range (1024x768x24 unless GEOMETRY says otherwise).
xvfb_pid=""
wine_display() {
  source "$repo/scripts/xvfb.sh"
  start_xvfb "$1" "$2" "${3:-1024x768x24}" || { echo "$(basename "$0" .sh): no X server could be started" >&2; exit 1; }
}

# wine_set_dpi DPI: the display scaling of the prefix's user (96 = 100 %, 144 = 150 %), for
# the programs started from then on. Wine 8 reads the user's value under Control Panel\Desktop,
# and HKCC\Software\Fonts only where that one is missing.
wine_set_dpi() {
  wine_run reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
}

# wine_cleanup: stops this script's Wine server and X server; the caller's EXIT trap calls it.
wine_cleanup() {
  if [ -n "${WINEPREFIX:-}" ]; then wineserver -k >/dev/null 2>&1 || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}

# win_workdir DIR-TEMPLATE: the script's work folder in $work, removed on exit after Wine's
# clean-up (kept with KEEP=1, to look at after a failure).
win_workdir() {
  work="$(mktemp -d "$1")"
  trap 'wine_cleanup; [ -n "${KEEP:-}" ] || rm -rf "$work" 2>/dev/null' EXIT
}

# reg prints in the console's code page: read under the Chinese locale, whatever the program ran under.
reg_value() {  # reg_value KEY NAME -> the data, UTF-8
  GBSETUP_WINE_LANG=zh_CN.UTF-8 wine_run reg query "$1" /v "$2" 2>/dev/null | iconv -f GBK -t UTF-8 |
    awk -v n="$2" '{ sub(/\r$/, "") } $1 == n && $2 ~ /^REG_/ { sub(/^[ \t]*[^ \t]+[ \t]+REG_[A-Z_]+[ \t]*/, ""); print; f = 1 } END { exit !f }'
}
reg_key_exists() { GBSETUP_WINE_LANG=zh_CN.UTF-8 wine_run reg query "$1" >/dev/null 2>&1; }

# pe_kind FILE: PE32 or PE32+ as an independent reader (pefile) sees it; the architecture's
# expected kind is win_pe_kind.
pe_kind() {
  /usr/bin/python3 -c 'import pefile, sys; pe = pefile.PE(sys.argv[1], fast_load=True); print({0x10b: "PE32", 0x20b: "PE32+"}[pe.OPTIONAL_HEADER.Magic])' "$1" 2>/dev/null
}
if [ "$win_arch" = i686 ]; then win_pe_kind=PE32; else win_pe_kind=PE32+; fi
