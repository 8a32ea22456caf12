#!/usr/bin/env bash
# The setup on a Windows of any language for non-Unicode programs: Wine under en_US.UTF-8
# (code page 1252), zh_TW.UTF-8 (950) and zh_CN.UTF-8 (936). In each, a setup with a Chinese
# file name installs silently into a Chinese program folder with Chinese sub-folders, files
# and registry values; the names on the host are the right UTF-8 names, reg query reads the
# values and the uninstall entry, and UnIns.exe /S removes it all. Under 1252 the wizard is
# walked as well: windump reads its texts (wide window texts) and Finish makes the links.
# A setup in a folder that GBK cannot name runs by the folder's short name; where a folder
# has none, the setup stops with a box that names it.
#   tests/e2e/wine-locales.sh   (after scripts/build.sh; GBSETUP_WIN_ARCH=i686|x86_64)
# e2e-arch: wine
set -uo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
source tests/e2e/lib/checks.sh
source tests/e2e/lib/windows.sh
dump_exe="$win_build/tests/e2e/tools/windump.exe"
hello_exe="$win_build/examples/hello/Hello.exe"
win_need "$gbsetup" "$win_stubs/Setup.exe" "$win_stubs/UnIns.exe" "$dump_exe" "$hello_exe"

win_workdir "/tmp/gbsetup-locales.XXXXXX"
echo "wine-locales: $win_arch stubs under $win_arch Wine"
wine_start
wine_display 260 299
source tests/e2e/lib/screen.sh

echo "== building the setups"
name="多语言测试"
group="多语言程序组"
mkdir -p "$work/app/文档/图片"
cp "$hello_exe" "$work/app/主程序.exe"
printf '说明正文\r\n' | iconv -f UTF-8 -t GBK >"$work/app/文档/说明.txt"
head -c 3000 /dev/urandom >"$work/app/文档/图片/图一.bin"
cat >"$work/p.json" <<EOF
{
  "settings": {"项目名称": "$name", "版本号": "2.0", "作者名称": "测试作者", "安装界面显示": "否"},
  "folders": [{"from": "app/", "to": "Program Files"}],
  "registry": [
    {"KeyPath": "HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\多语言测试键", "ValueName": "名称", "ValueData": "值：中文"},
    {"KeyPath": "HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\多语言测试键", "ValueName": "Path", "ValueData": "安装目录\\\\工程名称"}
  ],
  "pages": {
    "选择程序文件夹": {"程序文件夹名称": "$group"},
    "选择安装文件夹": {"程序文件夹名称": "$name"},
    "安装完毕": {"主程序": "app/主程序.exe"}
  },
  "shortcuts": [
    {"Folder": "桌面", "Name": "$name", "Description": "启动$name", "Target": "app/主程序.exe"},
    {"Folder": "开始菜单", "Name": "使用说明", "Target": "app/文档/说明.txt"}
  ]
}
EOF
# The walked setup: the welcome and components pages, then the installation and the finish.
walk_pages=""
for p in 安装协议说明 软件使用说明 选择程序文件夹 选择安装文件夹 确认安装; do walk_pages+="--page $p/页面显示=否 "; done
(
  set -e
  cd "$work"
  "$gbsetup" --data "$win_data" build p.json --arch "$win_setup_arch" --output silent
  # shellcheck disable=SC2086
  "$gbsetup" --data "$win_data" build p.json --arch "$win_setup_arch" --output walk \
    --set 安装界面显示=是 --page 安装完毕/显示运行主程序选项=否 --page 安装完毕/自述文件= $walk_pages
) >"$work/build.log" 2>&1 || { cat "$work/build.log"; echo "wine-locales: building the setups failed" >&2; exit 1; }
check "the setup carries the Chinese name" test -f "$work/silent/$name.exe" -a -f "$work/walk/$name.exe"

inst="$drive/Program Files/$name"
key='HKLM\SOFTWARE\多语言测试键'
ukey="HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$name"
# Everything the installation left, under the program folder, the links and the keys.
leftovers() {
  { [ -e "$inst" ] && (cd "$inst" && find . -mindepth 1 | sort); find "$drive/users" -name '*.lnk' \( -path "*$name*" -o -path "*$group*" \) 2>/dev/null
    reg_key_exists "$key" && echo "key $key"; reg_key_exists "$ukey" && echo "key $ukey"; } | tr '\n' ' '
}
uninstall_and_check() {  # uninstall_and_check LANG
  GBSETUP_WINE_LANG="$1" wine_run "C:\\Program Files\\$name\\UnIns.exe" /S >/dev/null 2>&1
  local rc=$?
  wine_wait
  check "$1: UnIns.exe /S exits 0 (got $rc)" test "$rc" = 0
  local left
  left="$(leftovers)"
  check "$1: UnIns.exe /S removes everything${left:+ (left: $left)}" test -z "$left"
}

for lang in en_US.UTF-8 zh_TW.UTF-8 zh_CN.UTF-8; do
  echo "== silent installation under $lang"
  # A start without parameters relaunches itself elevated: the wide "runas" call too.
  ( cd "$work/silent" && GBSETUP_WINE_LANG="$lang" wine_run "$name.exe" ) >"$work/run.log" 2>&1
  rc=$?
  wine_wait
  check "$lang: the setup exits 0 (got $rc)" test "$rc" = 0
  check "$lang: files under their UTF-8 names" \
    cmp -s "$work/app/文档/说明.txt" "$inst/文档/说明.txt"
  check "$lang: the sub-folder's file and the program" \
    cmp -s "$work/app/文档/图片/图一.bin" "$inst/文档/图片/图一.bin"
  check "$lang: the program" cmp -s "$work/app/主程序.exe" "$inst/主程序.exe"
  check "$lang: UnIns.exe and UnLog.txt beside it" test -f "$inst/UnIns.exe" -a -f "$inst/UnLog.txt"
  check_not "$lang: no mangled name on the host" grep -q '?' <(cd "$drive" && find . -path ./windows -prune -o -print)
  check "$lang: the string value" test "$(reg_value "$key" 名称)" = '值：中文'
  check "$lang: the path value" test "$(reg_value "$key" Path)" = "C:\\Program Files\\$name"
  check "$lang: the uninstall entry's name" test "$(reg_value "$ukey" DisplayName)" = "${name}2.0"
  check "$lang: the uninstall entry's command" \
    test "$(reg_value "$ukey" UninstallString)" = "\"C:\\Program Files\\$name\\UnIns.exe\""
  uninstall_and_check "$lang"
done

echo "== the wizard walked under en_US.UTF-8 (code page 1252)"
export GBSETUP_WINE_LANG=en_US.UTF-8
( cd "$work/walk" && wine_run "$name.exe" x ) >/dev/null 2>&1 &
setup_pid=$!
check "the wizard appears with its Chinese title" wait_for TFrm_Setup "^“${name}”安装向导$" 60
check "the welcome page's heading" visible_text "欢迎使用“${name}”安装向导"
check "the Next button" visible_text "下一步(&N)->"
check "the Cancel button" visible_text "取消"
next_page
check "the components page" wait_for Static '选择' 20
# GBK read in code page 1252 shows as Latin letters with accents (»¶Ó­Ê¹ÓÃ…): none may appear.
mojibake="$(LC_ALL=C.UTF-8 grep -P '\|vis=1\|' "$work/screen.txt" | cut -d'|' -f3 | LC_ALL=C.UTF-8 grep -P '[\x{00A0}-\x{00FF}]')"
check "no text of the window is mojibake${mojibake:+: $mojibake}" test -z "$mojibake"
next_page
finish_setup "$setup_pid" "the walked setup"
unset GBSETUP_WINE_LANG
links="$(find "$drive/users" -name '*.lnk' 2>/dev/null)"
check "the desktop link under its Chinese name" grep -qF "/Desktop/$name.lnk" <<<"$links"
check "the start-menu link in the Chinese group" grep -qF "/$group/使用说明.lnk" <<<"$links"
lnk="$(grep -F "/Desktop/$name.lnk" <<<"$links" | head -1)"
if [ -n "$lnk" ]; then
  # The texts the link keeps in UTF-16 (lnkinfo). Its local path and item names Wine writes in
  # the ANSI code page, as the shell's own format has it: under 1252 they cannot hold Chinese.
  info="$(lnkinfo "$lnk" 2>&1)"
  check "the link's working folder (lnkinfo)" grep -qF "Working directory		: C:\\Program Files\\$name\\" <<<"$info"
  check "the link's description (lnkinfo)" grep -qF "Description			: 启动$name" <<<"$info"
fi
check "the files of the walked setup" cmp -s "$work/app/文档/说明.txt" "$inst/文档/说明.txt"
uninstall_and_check en_US.UTF-8

echo "== folders that GBK cannot name"
# Korean has no place in GBK. A folder that has a short (8.3) name is used by it: Wine makes
# one for every such name, as Windows does where short names are on.
korean="$drive/박 폴더"
mkdir -p "$korean"
cp "$work/silent/$name.exe" "$korean/설치.exe"
( cd "$korean" && GBSETUP_WINE_LANG=en_US.UTF-8 wine_run "설치.exe" x ) >/dev/null 2>&1
rc=$?
wine_wait
check "a setup in a Korean folder under a Korean name installs by the short name (exit $rc)" \
  test "$rc" = 0 -a -f "$inst/文档/说明.txt"
uninstall_and_check en_US.UTF-8
# A folder with no short name: a temporary folder that is named but not there. The setup must
# stop before it writes anything, with a box that names the folder as Windows names it.
GBSETUP_WINE_LANG=zh_CN.UTF-8 wine_run reg add 'HKCU\Environment' /v TEMP /d 'C:\없는 폴더' /f >/dev/null 2>&1
GBSETUP_WINE_LANG=zh_CN.UTF-8 wine_run reg add 'HKCU\Environment' /v TMP /d 'C:\없는 폴더' /f >/dev/null 2>&1
wine_wait
( cd "$work/silent" && GBSETUP_WINE_LANG=en_US.UTF-8 WINE_TIMEOUT=60 wine_run "$name.exe" x >/dev/null 2>&1
  echo $? >"$work/korean.rc" ) &
runner=$!
box=""
for _ in $(seq 1 150); do
  refresh
  box="$(grep -F '없는 폴더' "$work/screen.txt" | head -1)"
  [ -n "$box" ] && break
  sleep 0.2
done
check "a box names the temporary folder${box:+: $(cut -d'|' -f3 <<<"$box" | cut -c1-60)}" grep -qF 'C:\없는 폴더' <<<"$box"
ok="$(find_ctl Button '^OK$|^确定$')"
[ -n "$ok" ] && click Button '^OK$|^确定$'
wait "$runner"
check "the setup ends with exit code 1 (got $(cat "$work/korean.rc"))" test "$(cat "$work/korean.rc")" = 1
check "nothing was installed" test ! -e "$inst"
check_not "nothing was written to a mangled name" grep -q '?' <(cd "$drive" && find . -path ./windows -prune -o -print)
GBSETUP_WINE_LANG=zh_CN.UTF-8 wine_run reg delete 'HKCU\Environment' /v TEMP /f >/dev/null 2>&1
GBSETUP_WINE_LANG=zh_CN.UTF-8 wine_run reg delete 'HKCU\Environment' /v TMP /f >/dev/null 2>&1

echo "wine-locales: $failures failure(s)"
[ "$failures" = 0 ]
