#!/usr/bin/env bash
# The finish page's actions: a project offering every finish row, built with 'gbsetup build'
# over stand-in stubs and installed with 'gbsetup install --root --finish --reboot'. The links
# the sandbox writes are read back with lnkinfo, as is a link written by the shell's own link
# object under Wine (the wizard suite's FinishShellLink case); then the uninstall removes the
# links and the folders made for them. GBSETUP_WIN_ARCH=i686|x86_64 picks the Windows suite.
# e2e-arch: each
set -euo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
source tests/e2e/lib/windows.sh
build="${GBSETUP_BUILD:-build}"
gbsetup="$repo/$build/gbsetup"
[ -x "$gbsetup" ] || { echo "finish: $gbsetup not built" >&2; exit 1; }
command -v lnkinfo >/dev/null || { echo "finish: lnkinfo missing (scripts/install-deps.sh)" >&2; exit 1; }

work="$(mktemp -d /tmp/e2e-finish.XXXXXX)"
trap 'wine_cleanup; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
fail() { printf 'finish: FAIL: %b\n' "$*" >&2; exit 1; }
win() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }
json() { win "$1" | sed 's/\\/\\\\/g'; }
# "Field : value" of lnkinfo's output, the value as printed.
field() { sed -n "s/^[[:space:]]*$2[[:space:]]*: //p" "$1" | head -1; }
lnk() { lnkinfo -c windows-936 "$1" >"$2" 2>&1 || fail "lnkinfo $1: $(cat "$2")"; }
# The show command, straight from the header (offset 0x3C): this lnkinfo prints the file size there.
show_command() { od -An -tu4 -j60 -N4 "$1" | tr -d ' '; }

data="$work/data"
cp -r data "$data"
mkdir -p "$data/Exe"
printf 'MZ setup stand-in' >"$data/Exe/Setup.exe"
printf 'MZ uninstaller stand-in' >"$data/Exe/UnIns.exe"
src="$work/src"
mkdir -p "$src" "$work/out"
printf 'main program' >"$src/main.exe"
printf '说明\r\n' >"$src/readme.txt"

cat >"$work/p.json" <<JSON
{
  "settings": [
    {"Name": "项目名称", "Value": "示例程序", "Items": "", "Kind": 0},
    {"Name": "安装界面显示", "Value": "是", "Items": "是,否", "Kind": 4}
  ],
  "files": [
    {"FileName": "main.exe", "SourcePath": "$(json "$src/main.exe")", "TargetDir": "Program Files"}
  ],
  "pages": [
    {"Page": "选择安装文件夹", "Name": "程序文件夹名称", "Items": "", "Kind": 0, "Value": "示例"},
    {"Page": "选择程序文件夹", "Name": "程序文件夹名称", "Items": "", "Kind": 0, "Value": "示例组"},
    {"Page": "安装完毕", "Name": "主程序", "Items": "", "Kind": 2, "Value": "$(json "$src/main.exe")"},
    {"Page": "安装完毕", "Name": "显示运行主程序选项", "Items": "是,否", "Kind": 4, "Value": "是"},
    {"Page": "安装完毕", "Name": "自述文件", "Items": "", "Kind": 2, "Value": "$(json "$src/readme.txt")"},
    {"Page": "安装完毕", "Name": "显示创建桌面快捷方式选项", "Items": "是,否", "Kind": 4, "Value": "是"},
    {"Page": "安装完毕", "Name": "显示创建开始菜单选项", "Items": "是,否", "Kind": 4, "Value": "是"},
    {"Page": "安装完毕", "Name": "显示创建快速启动栏选项", "Items": "是,否", "Kind": 4, "Value": "是"},
    {"Page": "安装完毕", "Name": "显示重启计算机选项", "Items": "是,否", "Kind": 4, "Value": "是"}
  ],
  "shortcuts": [
    {"Folder": "桌面", "Name": "示例程序", "Description": "示例的说明", "Target": "$(json "$src/main.exe")", "Arguments": "-x \\"a b\\""},
    {"Folder": "桌面\\\\工具", "Name": "工具", "Target": "$(json "$src/main.exe")"},
    {"Folder": "开始菜单", "Name": "示例程序", "Target": "$(json "$src/main.exe")"},
    {"Folder": "开始菜单\\\\文档", "Name": "说明", "Target": "$(json "$src/readme.txt")"},
    {"Folder": "快速启动栏", "Name": "示例", "Target": "$(json "$src/main.exe")"}
  ]
}
JSON
"$gbsetup" import "$work/p.json" -o "$work/p.gbp" >/dev/null
"$gbsetup" --data "$data" build "$work/p.gbp" --output "$work/out" --jobs 2 >"$work/build.txt"
setup="$work/out/示例程序.exe"
[ -f "$setup" ] || fail "no setup built: $(cat "$work/build.txt")"

# An unknown row is refused before anything is installed.
if "$gbsetup" install "$setup" --root "$work/bad" --finish desktop,bogus >"$work/bad.txt" 2>&1; then
  fail "--finish bogus accepted"
fi
grep -q 'unknown finish row "bogus"' "$work/bad.txt" || fail "bogus message: $(cat "$work/bad.txt")"
[ ! -e "$work/bad/drive_c/Program Files/示例" ] || fail "installed despite the bad --finish"

# Every offered row, the reboot accepted.
root="$work/root"
rc=0
"$gbsetup" install "$setup" --root "$root" --reboot yes --log >"$work/install.txt" 2>&1 || rc=$?
# Installed, and the restart started (recorded): the setup program's own code for it.
grep -qx 'exit code: 1641' "$work/install.txt" && [ "$rc" = $((1641 & 255)) ] ||
  fail "install exits $rc, not 1641: $(cat "$work/install.txt")"
c="$root/drive_c"
desk='C:\Users\User\Desktop'
progs='C:\Users\User\AppData\Roaming\Microsoft\Windows\Start Menu\Programs'
ql='C:\Users\User\AppData\Roaming\Microsoft\Internet Explorer\Quick Launch'
want_links="$(printf '%s\n' \
  "link: $desk\\示例程序.lnk" "link folder: $desk\\工具" "link: $desk\\工具\\工具.lnk" \
  "link folder: $progs\\示例组" "link: $progs\\示例组\\示例程序.lnk" "link: $progs\\示例组\\卸载.lnk" \
  "link folder: $progs\\示例组\\文档" "link: $progs\\示例组\\文档\\说明.lnk" \
  "link folder: C:\\Users\\User\\AppData\\Roaming\\Microsoft\\Internet Explorer" \
  "link folder: $ql" "link: $ql\\示例.lnk")"
got_links="$(grep -E '^link( folder)?: ' "$work/install.txt")"
[ "$got_links" = "$want_links" ] || fail "links printed:\n$got_links\nwanted:\n$want_links"
grep -qxF "  in the sandbox: $c/Users/User/Desktop/示例程序.lnk" "$work/install.txt" || fail "sandbox path not printed"
grep -q '^question: “示例程序”安装向导需要重启操作系统，方可完成安装。要自动重启吗？ -> yes$' "$work/install.txt" ||
  fail "reboot question: $(cat "$work/install.txt")"
# Run program, read-me (unpacked into the run's private folder of the temporary folder, its
# random name written PRIVATE here), then the reboot.
# ($work, which holds the project and its sources, is stored as C:\src\.)
readme='C:\Temp\PRIVATE\src\src\readme.txt'
want_cmds="$(printf '%s\n' 'open: C:\Program Files\示例\main.exe' "open: $readme" \
  'reboot: SeShutdownPrivilege, EWX_REBOOT')"
got_cmds="$(iconv -f GBK -t UTF-8 "$root/commands.log" | sed -E 's/^(open: C:\\Temp\\)gbs-[0-9a-f]{16}\\/\1PRIVATE\\/')"
[ "$got_cmds" = "$want_cmds" ] || fail "commands.log:\n$got_cmds\nwanted:\n$want_cmds"
# The saved log holds the links and their folders.
grep -q 'UnLog' "$work/install.txt" || fail "no log line"
for f in "$desk\\示例程序.lnk" "$progs\\示例组\\卸载.lnk" "$progs\\示例组\\文档"; do
  grep -qF "  $f" "$work/install.txt" || fail "$f not in the install log"
done
unlog="$c/Program Files/示例/UnLog.txt"
iconv -f GBK -t UTF-8 "$unlog" 2>/dev/null | grep -aqF '卸载.lnk' || grep -aqF "$(printf '卸载.lnk' | iconv -f UTF-8 -t GBK)" "$unlog" ||
  fail "UnLog.txt lacks the uninstall link"

# The sandbox's link files, read by lnkinfo.
d="$c/Users/User/Desktop"
lnk "$d/示例程序.lnk" "$work/l1.txt"
[ "$(field "$work/l1.txt" 'Local path')" = 'C:\Program Files\示例\main.exe' ] || fail "target: $(cat "$work/l1.txt")"
[ "$(field "$work/l1.txt" 'Working directory')" = 'C:\Program Files\示例\' ] || fail "working folder: $(cat "$work/l1.txt")"
[ "$(field "$work/l1.txt" 'Command line arguments')" = '-x "a b"' ] || fail "arguments: $(cat "$work/l1.txt")"
[ "$(field "$work/l1.txt" 'Description')" = '示例的说明' ] || fail "description: $(cat "$work/l1.txt")"
[ "$(show_command "$d/示例程序.lnk")" = 1 ] || fail "show command $(show_command "$d/示例程序.lnk")"
lnk "$c/Users/User/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/示例组/卸载.lnk" "$work/l2.txt"
[ "$(field "$work/l2.txt" 'Local path')" = 'C:\Program Files\示例\UnIns.exe' ] || fail "uninstall link: $(cat "$work/l2.txt")"
[ -z "$(field "$work/l2.txt" 'Command line arguments')" ] || fail "uninstall link arguments"

# The uninstall removes every link and the folders made for them, and leaves the shell folders.
"$gbsetup" uninstall --root "$root" --silent 'C:\Program Files\示例\UnLog.txt' >"$work/un.txt" 2>&1 ||
  fail "uninstall: $(cat "$work/un.txt")"
left="$(cd "$c/Users" && find . -name '*.lnk' -o -name '工具' -o -name '示例组' -o -name 'Quick Launch' -o -name 'Internet Explorer')"
[ -z "$left" ] || fail "left after the uninstall: $left"
[ -d "$d" ] && [ -d "$c/Users/User/AppData/Roaming/Microsoft/Windows/Start Menu/Programs" ] || fail "a shell folder went"

# The project asks for a restart, which --reboot no declines: installed, a restart needed,
# 3010, of which the exit status holds the low byte.
installed_without_restart() { "$gbsetup" install "$@"; [ "$?" = $((3010 & 255)) ]; }

# Installing again over links that are there: they are kept, and logged again.
root="$work/again"
d="$root/drive_c/Users/User/Desktop"
installed_without_restart "$setup" --root "$root" --finish desktop >/dev/null 2>&1 || fail "first desktop install"
before="$(md5sum <"$d/示例程序.lnk")"
installed_without_restart "$setup" --root "$root" --finish desktop --log >"$work/again.txt" 2>&1 || fail "again: $(cat "$work/again.txt")"
[ "$(md5sum <"$d/示例程序.lnk")" = "$before" ] || fail "an existing link was rewritten"
[ "$(grep -c '^link: ' "$work/again.txt")" = 2 ] || fail "second run links: $(grep '^link' "$work/again.txt")"
grep -q '^question: .* -> no$' "$work/again.txt" || fail "the reboot default is no"

# --finish none: no link, nothing started besides what the installation itself starts.
installed_without_restart "$setup" --root "$work/none" --finish none >"$work/none.txt" 2>&1 || fail "none: $(cat "$work/none.txt")"
! grep -q '^link' "$work/none.txt" || fail "--finish none made links"
[ ! -s "$work/none/commands.log" ] || fail "--finish none started: $(cat "$work/none/commands.log")"
grep -q '^question: .* -> no$' "$work/none.txt" || fail "--finish none: the reboot question still comes"

# The Windows writer: the shell's link object under Wine, read by the same lnkinfo.
tests="$win_build/tests/unit/wizard/wizard_tests.exe"
win_need "$tests"
if wine_runs; then
  wine_start
  out="$work/winlink"
  mkdir -p "$out"
  GBSETUP_LINK_OUT="$(win "$out")" wine_run "$tests" --gtest_filter='FinishShellLink.*' \
    >"$work/wine.txt" 2>&1 || fail "wine link test: $(cat "$work/wine.txt")"
  grep -q '\[  PASSED  \] 1 test' "$work/wine.txt" || fail "wine link test did not run: $(cat "$work/wine.txt")"
  lnk "$out/链接/示例.lnk" "$work/w.txt"
  wtarget="$(win "$out")\\应用\\示例.exe"
  [ "$(field "$work/w.txt" 'Local path')" = "$wtarget" ] || fail "wine target: $(cat "$work/w.txt")"
  [ "$(field "$work/w.txt" 'Working directory')" = "$(win "$out")\\应用\\" ] || fail "wine working folder: $(cat "$work/w.txt")"
  [ "$(field "$work/w.txt" 'Command line arguments')" = '-x "a b"' ] || fail "wine arguments: $(cat "$work/w.txt")"
  [ "$(field "$work/w.txt" 'Description')" = '说明文字' ] || fail "wine description: $(cat "$work/w.txt")"
  [ "$(show_command "$out/链接/示例.lnk")" = 1 ] || fail "wine show command $(show_command "$out/链接/示例.lnk")"
  echo "finish: the $win_arch shell link object checked under Wine"
else
  wine_not_run "the link written by the shell's link object"
fi
echo "finish: ok"
