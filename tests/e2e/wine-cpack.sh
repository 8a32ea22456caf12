#!/usr/bin/env bash
# The setup that cpack makes from tests/cpack/hello (built with the MinGW toolchain of
# GBSETUP_WIN_ARCH, packaged through the native build's CMake package) installs silently under
# Wine: /VERYSILENT exits 0 without a window, puts both components' files into the install
# folder, writes the uninstall entry from the CPACK_* values (reg query), and the installed
# program runs; UnIns.exe /VERYSILENT removes it all again.
#   tests/e2e/wine-cpack.sh   (after scripts/build.sh; GBSETUP_WIN_ARCH=i686|x86_64)
# e2e-arch: wine
set -uo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
source tests/e2e/lib/checks.sh
source tests/e2e/lib/windows.sh
build="${GBSETUP_BUILD:-build}"
package_dir="$repo/$build/cmake/GBSetup"
win_need "$package_dir/GBSetupConfig.cmake" "$repo/$build/data/Exe/Setup.exe" "$repo/$build/data/Exe/x64/Setup.exe"

win_workdir "/tmp/gbsetup-cpack.XXXXXX"
echo "wine-cpack: $win_arch programs under $win_arch Wine"
b="$work/b"
{ cmake -S tests/cpack/hello -B "$b" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-$win_arch.cmake" \
    -DGBSetup_DIR="$package_dir" && cmake --build "$b" && (cd "$b" && cpack); } >"$work/cpack.log" 2>&1 ||
  { tail -20 "$work/cpack.log"; echo "wine-cpack: cpack failed" >&2; exit 1; }
setup="$b/CpackHello.exe"
[ -f "$setup" ] || { echo "wine-cpack: cpack made no $setup" >&2; exit 1; }
check "of this architecture: $(pe_kind "$setup")" test "$(pe_kind "$setup")" = "$(pe_kind "$b/hello.exe")"

wine_start
wine_display 180 189
mkdir -p "$work/run"
cp "$setup" "$work/run/Setup.exe"
(cd "$work/run" && WINEDEBUG=trace+win,trace+msgbox wine_run Setup.exe /VERYSILENT >"$work/setup.out" 2>"$work/setup.trace")
rc=$?
wine_wait
check "Setup.exe /VERYSILENT exits 0 (got $rc)" test "$rc" = 0
shown="$(python3 tests/e2e/lib/shown-windows.py "$work/setup.trace" Setup.exe | head -3)"
check "no window was shown${shown:+: $shown}" test -z "$shown"
inst="$drive/Program Files/Cpack Hello"
check "both components installed" test -f "$inst/bin/hello.exe" -a -f "$inst/readme.txt" -a -f "$inst/tools/hello-tool.exe"
check "the uninstaller and its log beside the program" test -f "$inst/bin/UnIns.exe" -a -f "$inst/bin/UnLog.txt"
ukey='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\CpackHello'
check "the uninstall entry: version $(reg_value "$ukey" DisplayVersion)" test "$(reg_value "$ukey" DisplayVersion)" = 1.2.3
check "publisher $(reg_value "$ukey" Publisher)" test "$(reg_value "$ukey" Publisher)" = 示例公司
out="$(cd "$inst/bin" && wine_run hello.exe 2>/dev/null | tr -d '\r')"
check "the installed program runs: '$out'" test "$out" = hello

(cd "$inst/bin" && wine_run UnIns.exe /VERYSILENT >/dev/null 2>&1)
rc=$?
wine_wait
check "UnIns.exe /VERYSILENT exits 0 (got $rc)" test "$rc" = 0
check "and removes the installation: $(find "$inst" 2>/dev/null | head -3 | tr '\n' ' ')" test ! -e "$inst"
check_not "and the uninstall entry" reg_key_exists "$ukey"

echo "wine-cpack: $failures failure(s)"
[ "$failures" = 0 ]
