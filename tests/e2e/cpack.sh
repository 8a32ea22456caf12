#!/usr/bin/env bash
# The CMake package: tests/cpack/hello cross-compiled with the MinGW toolchain and packaged with
# cpack through gbsetup_cpack(), from the build tree's package and from an installed one. Checks
# the JSON project the script wrote (Python's json), the setup CPack copied back (gbsetup list),
# the sandbox installation (files, links, uninstall entry), the same SHA-256 from two cpack runs
# and from a second clone at another path with SOURCE_DATE_EPOCH, the warnings for CPack's
# defaults, and an x64 setup from the 64-bit toolchain.
set -euo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
build="${GBSETUP_BUILD:-build}"
g="$repo/$build/gbsetup"
[ -x "$g" ] || { echo "cpack: $g not built" >&2; exit 1; }
[ -f "$repo/$build/cmake/GBSetup/GBSetupConfig.cmake" ] || { echo "cpack: $build has no CMake package" >&2; exit 1; }
[ -f "$repo/$build/data/Exe/Setup.exe" ] || { echo "cpack: $build/data/Exe has no stubs (scripts/build.sh)" >&2; exit 1; }
command -v i686-w64-mingw32-gcc >/dev/null || { echo "cpack: the MinGW toolchain is missing (scripts/install-deps.sh)" >&2; exit 1; }
export TZ=UTC
work="$(mktemp -d /tmp/e2e-cpack.XXXXXX)"
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
failures=0
check() {  # check DESCRIPTION COMMAND...
  local what="$1"
  shift
  if "$@"; then echo "  ok   $what"; else echo "  FAIL $what"; failures=$((failures + 1)); fi
}
py=/usr/bin/python3

# package SRC BUILD TOOLCHAIN PACKAGE_DIR [CMAKE ARGS...]: configure, build and cpack; output in BUILD.log
package() {
  local src="$1" dir="$2" toolchain="$3" pkg="$4"
  shift 4
  { cmake -S "$src" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-$toolchain.cmake" -DGBSetup_DIR="$pkg" "$@" &&
    cmake --build "$dir" && (cd "$dir" && cpack); } >"$dir.log" 2>&1
}
stage_json() { find "$1/_CPack_Packages" -name gbsetup-project.json 2>/dev/null | head -1 || true; }

echo "-- from the build tree's package"
cp -r tests/cpack/hello "$work/src"
b="$work/b"
assets=(-DCPACK_GBSETUP_ICON="$repo/examples/hello/hello.ico" -DCPACK_GBSETUP_HEAD_PICTURE="$repo/examples/hello/images/head.jpg")
check "cmake, build and cpack" package "$work/src" "$b" i686 "$repo/$build/cmake/GBSetup" "${assets[@]}"
[ -f "$b.log" ] && grep -q "CPack: - package: $b/CpackHello.exe generated" "$b.log" || tail -20 "$b.log"
setup="$b/CpackHello.exe"
check "the setup is in the build folder, as CPack's packages are" test -f "$setup"
check "no warning for set values" test -z "$(grep -i 'warning' "$b.log")"
json="$(stage_json "$b")"
check "the JSON project the script wrote" "$py" - "$json" <<'PY'
import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
s = d["settings"]
assert s == {"项目名称": "CpackHello", "版本号": "1.2.3", "作者名称": "示例公司",
             "作者网址": "https://example.com/cpack-hello", "安装程序图标": ".gbsetup/hello.ico"}, s
assert d["arch"] == "x86", d["arch"]
assert d["folders"] == [{"from": "program/", "to": "Program Files"}, {"from": "tools/", "to": "Program Files"}], d["folders"]
p = {k: v for k, v in d["pages"].items() if v}
assert sorted(p) == sorted(["欢迎", "安装完毕", "安装协议说明", "软件使用说明", "选择安装文件夹", "选择程序文件夹"]), p
assert p["欢迎"] == {"标题图片": ".gbsetup/head.jpg"} and p["安装完毕"]["标题图片"] == ".gbsetup/head.jpg", p
assert p["选择安装文件夹"]["程序文件夹名称"] == "Cpack Hello", p
assert p["选择程序文件夹"]["程序文件夹名称"] == "Cpack Hello", p
assert p["安装协议说明"]["安装协议"] == ".gbsetup/licence.txt", p
assert p["软件使用说明"]["说明协议"] == ".gbsetup/readme.txt", p
assert p["安装完毕"]["主程序"] == "program/bin/hello.exe", p
links = [(x["Folder"], x["Name"], x["Target"]) for x in d["shortcuts"]]
assert links == [("开始菜单", "Cpack Hello", "program/bin/hello.exe"), ("桌面", "Cpack Hello", "program/bin/hello.exe"),
                 ("开始菜单", "Hello Tool", "tools/tools/hello-tool.exe")], links
assert d["manifest"] == {"url": "https://example.com/download/{file}", "license": "MIT",
                         "description": "A greeting"}, d["manifest"]
PY
"$g" list "$setup" >"$work/list.txt" 2>"$work/list.err"
names="$(cut -f2,6 "$work/list.txt")"
for want in $'0\tC:\\src\\gbsetup-project.gbp' $'2\tC:\\src\\program\\bin\\hello.exe' $'2\tC:\\src\\program\\readme.txt' \
  $'2\tC:\\src\\tools\\tools\\hello-tool.exe' $'5\tC:\\src\\.gbsetup\\licence.txt' $'5\tC:\\src\\.gbsetup\\readme.txt'; do
  check "listed: ${want//$'\t'/ }" grep -qxF "$want" <<<"$names"
done
check "no path of this machine in the package: $(grep -F "${work#/}" "$work/list.txt" | head -1)" \
  test -z "$(grep -F "${work#/}" "$work/list.txt")"
check "the icon went into the setup" test "$(wrestool -l --type=3 "$setup" 2>/dev/null | grep -c "language=1033")" = 3
check "the head picture is packed" grep -qxF $'5\tC:\\src\\.gbsetup\\head.jpg' <<<"$names"
check "an x86 setup: $(cat "$work/list.err")" test "$(cat "$work/list.err")" = "x86 setup (PE32)"
check "the manifest beside the setup names it" grep -q 'InstallerUrl: "https://example.com/download/CpackHello.exe"' \
  "$b/manifest/示例公司.CpackHello.installer.yaml"

root="$work/sandbox"
"$g" install "$setup" --root "$root" --finish desktop,startmenu >"$work/install.txt" 2>&1 || true
pf="$root/drive_c/Program Files/Cpack Hello"
check "installed: the program, its read-me and the tool" \
  cmp -s "$pf/bin/hello.exe" "$b/_CPack_Packages/win32/External/CpackHello-1.2.3-win32/program/bin/hello.exe"
check "and the read-me, the tool; the log beside the program" \
  test -f "$pf/readme.txt" -a -f "$pf/tools/hello-tool.exe" -a -f "$pf/bin/UnLog.txt"
lnk() { lnkinfo -c windows-936 "$1" 2>/dev/null | sed -n 's/^[[:space:]]*Local path[[:space:]]*: //p' | head -1; }
desk="$root/drive_c/Users/User/Desktop/Cpack Hello.lnk"
check "the desktop link points at the program: $(lnk "$desk")" test "$(lnk "$desk")" = 'C:\Program Files\Cpack Hello\bin\hello.exe'
menu="$(find "$root/drive_c" -path '*Start Menu*' -name 'Hello Tool.lnk' | head -1)"
check "a start-menu link for the tool: $(lnk "$menu")" test "$(lnk "$menu")" = 'C:\Program Files\Cpack Hello\tools\hello-tool.exe'
reg="$(iconv -f GBK -t UTF-8 "$root/registry.reg")"
check "the uninstall entry under the registry key, with the vendor" \
  grep -qF '"Publisher"="示例公司"' <<<"$(sed -n '/Uninstall\\CpackHello\]/,/^$/p' <<<"$reg")"

echo "-- reproducible: two cpack runs, and another clone at another path"
export SOURCE_DATE_EPOCH=1700000000
(cd "$b" && cpack >"$work/r1.log" 2>&1) && first="$(sha256sum <"$setup")"
touch "$work/src/licence.txt" "$work/src/readme.txt"
(cd "$b" && cpack >"$work/r2.log" 2>&1) && second="$(sha256sum <"$setup")"
check "two cpack runs give one SHA-256" test -n "$first" -a "$first" = "$second"
mkdir -p "$work/elsewhere/deeper"
cp -r tests/cpack/hello "$work/elsewhere/deeper/src"
touch -d '2031-01-01' "$work/elsewhere/deeper/src"/*
c="$work/elsewhere/deeper/b"
package "$work/elsewhere/deeper/src" "$c" i686 "$repo/$build/cmake/GBSetup" "${assets[@]}" || tail -5 "$c.log"
# The program is built again there; the project links it without a time stamp.
check "a clone at another path, other file times: the same program" cmp -s "$c/hello.exe" "$b/hello.exe"
check "and the same setup, by SHA-256" test "$(sha256sum <"$c/CpackHello.exe")" = "$second"
unset SOURCE_DATE_EPOCH

echo "-- CPack's defaults, an installed package, the 64-bit toolchain"
prefix="$work/prefix"
cmake --install "$repo/$build" --prefix "$prefix" >"$work/install-prefix.log" 2>&1
check "installed: bin/gbsetup, share/gbsetup/data, lib/cmake/GBSetup" test -x "$prefix/bin/gbsetup" -a \
  -f "$prefix/share/gbsetup/data/Exe/Setup.exe" -a -f "$prefix/lib/cmake/GBSetup/GBSetupConfig.cmake" -a \
  ! -e "$prefix/lib/cmake/GBSetup/GBSetupBuildTree.cmake"
d="$work/defaults"
package "$work/src" "$d" x86_64 "$prefix/lib/cmake/GBSetup" -DHELLO_CPACK_DEFAULTS=ON \
  -DCPACK_GBSETUP_MANIFEST_ID=Humanity.CpackHello -DCPACK_COMPONENTS_ALL=program || tail -5 "$d.log"
check "warned: the vendor Humanity" grep -q "CPACK_PACKAGE_VENDOR is CPack's default 'Humanity'" "$d.log"
check "warned: a registry key of name and version" grep -q "CPACK_PACKAGE_INSTALL_REGISTRY_KEY is CPack's default 'CpackHello$" "$d.log"
check "the setup named after the package, not the version" test -f "$d/CpackHello.exe"
check "warned: an installation folder of name and version" grep -q "CPACK_PACKAGE_INSTALL_DIRECTORY is CPack's default 'CpackHello" "$d.log"
check "the installed package runs the installed builder" grep -q "$prefix/bin/gbsetup\|x64 setup" "$d.log"
"$g" list "$d/CpackHello.exe" >"$work/list-d.txt" 2>/dev/null || true
check "warned: a link to an executable of a component left out" grep -q "CPACK_PACKAGE_EXECUTABLES names 'hello-tool'" "$d.log"
check "one component of no group, as CPACK_COMPONENTS_ALL chose: its staged tree packed, no other" \
  test "$(cut -f6 "$work/list-d.txt" | grep -i hello)" = 'C:\src\program\bin\hello.exe'
check "x64 from the 64-bit toolchain" test "$("$g" list "$d/CpackHello.exe" 2>&1 >/dev/null)" = "x64 setup (PE32+)"
check "its JSON says x64" "$py" -c 'import json,sys; assert json.load(open(sys.argv[1]))["arch"] == "x64"' "$(stage_json "$d")"

echo "cpack: $failures failure(s)"
[ "$failures" = 0 ]
