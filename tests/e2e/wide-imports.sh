#!/usr/bin/env bash
# The Windows programs call no ANSI (…A) function of Windows: such a call reads program text in
# the machine's code page, which is GBK only on a Simplified Chinese Windows. Each program's
# import table (objdump -p) is read, and an import counts as an ANSI function when its name
# ends in A and the same DLL's import library (MinGW's) also offers the name ending in W.
# Imports by ordinal and names without a wide twin (GetProcAddress) pass. The objects compiled
# from src/ are read the same way, by the imports they leave undefined: there no ANSI function
# may appear at all; in the linked programs only the few that MinGW's runtime brings. Setup.exe
# and UnIns.exe import system libraries only. Read
# without running anything, so it holds where the programs cannot run.
#   tests/e2e/wide-imports.sh   (after scripts/build.sh; GBSETUP_WIN_ARCH=i686|x86_64 picks the build)
# e2e-arch: each
set -uo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
source tests/e2e/lib/checks.sh
source tests/e2e/lib/windows.sh
programs=("$win_stubs/Setup.exe" "$win_stubs/UnIns.exe" "$win_build/gbsetup.exe" "$win_build/tests/e2e/tools/windump.exe")
win_need "${programs[@]}"
echo "wide-imports: $win_arch programs"
libdir="/usr/$win_tools/lib"
work_list="$(mktemp)"
trap 'rm -f "$work_list"' EXIT

# exports_of DLL: the names the DLL's import library offers, one a line (cached).
declare -A exports
exports_of() {
  local dll="${1,,}" lib
  dll="${dll%.dll}"
  if [ -z "${exports[$dll]+x}" ]; then
    lib="$libdir/lib$dll.a"
    if [ -f "$lib" ]; then
      exports[$dll]="$("$win_tools-nm" -g --defined-only "$lib" 2>/dev/null | sed -n 's/^[0-9a-f]* [TI] _*__imp_*\([A-Za-z0-9_]*\)\(@[0-9]*\)\?$/\1/p' | sort -u)"
    else
      exports[$dll]=""
    fi
  fi
  printf '%s\n' "${exports[$dll]}"
}

# imports_of FILE: "DLL NAME" for every import by name.
imports_of() {
  "$win_tools-objdump" -p "$1" | awk '
    /^\tDLL Name: / { dll = $3; next }
    dll != "" && /^\t[ 0-9a-f]+\t/ { n = split($0, f, /[ \t]+/); if (f[n] !~ /^<none>$/) print dll, f[n] }
    /^$/ { }'
}

# What the runtime MinGW links in imports by itself (the start-up code, libgcc's frame
# registration, the thread library, libstdc++'s messages), with constant ASCII names or none.
runtime_ansi=" GetStartupInfoA GetModuleHandleA LoadLibraryA CreateEventA CreateSemaphoreA OutputDebugStringA FormatMessageA "
wide_twin() {  # wide_twin DLL NAME: true when NAME ends in A and the DLL offers NAME-less-A + W
  case "$2" in *A) grep -qx "${2%A}W" <(exports_of "$1") ;; *) return 1 ;; esac
}

echo "-- the programs' import tables"
for f in "${programs[@]}"; do
  name="$(basename "$f")"
  list="$(imports_of "$f")"
  count="$(wc -l <<<"$list")"
  # The reader must see the imports, or every program would pass.
  check "$name: objdump lists its imports ($count, from $(awk '{print $1}' <<<"$list" | sort -u | tr '\n' ' '))" \
    test "$count" -gt 10 -a -n "$(grep -i '^kernel32.dll ' <<<"$list")"
  ansi=""
  while read -r dll fn; do
    [ -n "$fn" ] || continue
    wide_twin "$dll" "$fn" && [[ "$runtime_ansi" != *" $fn "* ]] && ansi+=" $dll:$fn"
  done <<<"$list"
  check "$name: no ANSI function imported but the runtime's${ansi:+ (found:$ansi)}" test -z "$ansi"
done

echo "-- the libraries Setup.exe and UnIns.exe import"
# Only libraries Windows always takes from its system folder (known DLLs, and comctl32 through
# the manifest): anything else is looked up at run time from there, so no DLL beside the
# program is loaded before it restricts the search.
allowed_dlls=" ADVAPI32.DLL COMCTL32.DLL GDI32.DLL KERNEL32.DLL MSVCRT.DLL OLE32.DLL SHELL32.DLL USER32.DLL "
for f in "$win_stubs/Setup.exe" "$win_stubs/UnIns.exe"; do
  dlls="$("$win_tools-objdump" -p "$f" | sed -n 's/^\tDLL Name: //p' | sort -u | tr '\n' ' ')"
  other=""
  for d in $dlls; do [[ "$allowed_dlls" == *" ${d^^} "* ]] || other+=" $d"; done
  check "$(basename "$f") imports only system libraries (${dlls% })${other:+, not:$other}" test -n "$dlls" -a -z "$other"
done

echo "-- what the project's own code calls"
# Every object compiled from src/ (and the test tool), by the Windows functions it leaves
# undefined (_Name@N on i686, Name on x86_64; __imp_ when declared for import). The runtime
# is not among them.
objects=("$win_build"/src/*/libgb_*.a)
mapfile -t -O "${#objects[@]}" objects < <(find "$win_build/src/apps" "$win_build/tests/e2e/tools" -name '*.obj')
windows_names="$work_list"
for dll in KERNEL32 USER32 GDI32 SHELL32 OLE32 ADVAPI32 COMDLG32 COMCTL32; do exports_of "$dll"; done | sort -u >"$windows_names"
undefined="$(for o in "${objects[@]}"; do
  "$win_tools-nm" -u "$o" 2>/dev/null | sed -n 's/^ *U \(__imp_\)\?_\?\([A-Za-z0-9_]*\)\(@[0-9]*\)\?$/\2/p' |
    sed "s|^|$(basename "$o") |"
done | sort -u)"
calls="$(awk '{print $2}' <<<"$undefined" | sort -u | grep -cxFf "$windows_names")"
ansi=""
while read -r o fn; do
  case "$fn" in *A) grep -qx "${fn%A}W" "$windows_names" && grep -qx "$fn" "$windows_names" && ansi+=" $o:$fn" ;; esac
done <<<"$undefined"
check "the objects call Windows (${#objects[@]} objects, $calls Windows functions)" test "${#objects[@]}" -gt 10 -a "$calls" -gt 100
check "no object of the project calls an ANSI function${ansi:+ (found:$ansi)}" test -z "$ansi"

# The check itself tells an ANSI import from a wide one: MessageBoxA has a wide twin, GetProcAddress none.
check "the oracle knows MessageBoxW in user32" grep -qx MessageBoxW <(exports_of USER32.dll)
check_not "the oracle finds no GetProcAddressW" grep -qx GetProcAddressW <(exports_of KERNEL32.dll)
# And the sources: a literal call of an A function outside the conversion helpers.
sources="$(grep -rnE '\b(SendMessage|CreateWindowEx|MessageBox|CreateFile|RegSetValueEx|ShellExecuteEx|GetWindowText|SetWindowText|CreateProcess|LoadLibrary|GetModuleFileName|FindFirstFile|DefWindowProc)A\(' src tests/e2e/tools || true)"
check "no A call in the sources${sources:+: $(head -3 <<<"$sources")}" test -z "$sources"
echo "wide-imports: $failures failure(s)"
[ "$failures" = 0 ]
