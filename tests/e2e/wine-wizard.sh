#!/usr/bin/env bash
# The interactive wizard under Wine and Xvfb, driven with xdotool as a person would: every page
# with its pictures, licence and read-me, a component unticked, a new installation folder, Esc
# answered No, the installation, the finish rows with quick launch unticked, Finish and No to the
# reboot; then the files, links, registry and UnLog.txt, and UnIns.exe /S removing it all.
# A second project that hides pages: Next skips them.
#   tests/e2e/wine-wizard.sh   (after scripts/build.sh)
# e2e-arch: wine
set -uo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
source tests/e2e/lib/checks.sh
source tests/e2e/lib/windows.sh
stubs="$win_data"
dump_exe="$win_build/tests/e2e/tools/windump.exe"
hello_exe="$win_build/examples/hello/Hello.exe"
win_need "$gbsetup" "$win_stubs/Setup.exe" "$win_stubs/UnIns.exe" "$dump_exe" "$hello_exe"
command -v xdotool >/dev/null || { echo "wine-wizard: xdotool is missing (scripts/install-deps.sh)" >&2; exit 1; }

win_workdir "/tmp/gbsetup-wizard.XXXXXX"
echo "wine-wizard: $win_arch stubs under $win_arch Wine"
wine_start
wine_display 150 159

source tests/e2e/lib/screen.sh

echo "== building the test setups"
name="向导测试"
data="$work/data"
cp -r "$stubs" "$data"
# Two runtime components, each one file into the system folder, with their sizes.
for c in ComA ComB; do
  mkdir -p "$data/Imports/$c/$c"
  printf '[RegistryList]\r\nRegtype=User\r\n[SysDirList]\r\n%s.dll=[System Directory]\\System32\\%s.dll\r\n' "$c" "$c" \
    >"$data/Imports/$c/$c.ini"
  printf '%s body' "$c" >"$data/Imports/$c/$c/$c.dll"
done
printf '[Com]\r\nComA=ComA\r\nComB=ComB\r\n[Description]\r\nComA=a\r\nComB=b\r\n[ComSize]\r\nComA=2097152\r\nComB=3145728\r\n' \
  >"$data/Imports/ComList.ini"
mkdir -p "$work/app" "$work/img"
cp "$hello_exe" "$work/app/Hello.exe"
head -c 200000 /dev/urandom >"$work/app/data.bin"
printf '软件许可协议书正文\r\n第二条：测试。\r\n' | iconv -f UTF-8 -t GBK >"$work/licence.txt"
printf '软件使用说明正文\r\n' | iconv -f UTF-8 -t GBK >"$work/app/readme.txt"
wizard_pictures "$work/img"
(
  set -e
  cd "$work"
  G() { "$gbsetup" --data "$data" "$@"; }
  G new p.gbp
  G set p.gbp 项目名称 "$name"
  G set p.gbp 版本号 3.1
  G set p.gbp 安装界面显示 是
  G add-folder p.gbp app/ --to "Program Files"
  G component use p.gbp ComA ComB
  wizard_page_pictures G p.gbp img
  G page p.gbp 欢迎 版权信息 "版权所有 测试"
  G page p.gbp 安装协议说明 安装协议 licence.txt
  G page p.gbp 软件使用说明 说明协议 app/readme.txt
  G page p.gbp 选择程序文件夹 程序文件夹名称 向导测试组
  G page p.gbp 安装完毕 主程序 app/Hello.exe
  G page p.gbp 安装完毕 自述文件 app/readme.txt
  G page p.gbp 安装完毕 显示创建快速启动栏选项 是
  G page p.gbp 安装完毕 显示重启计算机选项 是
  G add-shortcut p.gbp 桌面 向导测试 app/Hello.exe --description 启动向导测试
  G add-shortcut p.gbp '开始菜单' 向导测试 app/Hello.exe --args /quiet
  G add-shortcut p.gbp '快速启动栏' 向导测试 app/Hello.exe
  G build p.gbp --output out --arch "$win_setup_arch"
  # The second project hides the licence, read-me, folder and component pages.
  cp p.gbp q.gbp
  G set q.gbp 项目名称 跳页测试
  for p in 安装协议说明 软件使用说明 选择程序文件夹 选择安装组件; do G page q.gbp "$p" 页面显示 否; done
  G build q.gbp --output out --arch "$win_setup_arch"
) >"$work/build.log" 2>&1 || { cat "$work/build.log"; echo "wine-wizard: building the setups failed" >&2; exit 1; }

started=$(date +%s)
temp_before="$(temp_listing)"

echo "== walking the wizard"
( cd "$work/out" && wine_run "$name.exe" x ) >/dev/null 2>&1 &
setup_pid=$!
title="“${name}”安装向导"
check "the wizard window appears with its caption" wait_for TFrm_Setup "^$title\$" 60
cp "$work/screen.txt" "$work/page0.txt"
check "welcome: heading with the project name" visible_text "欢迎使用“${name}”安装向导"
check "welcome: copyright line shown" visible_text "版权所有 测试"
check "welcome: Next reads 下一步(&N)->" test -n "$(find_ctl Button '^下一步\(&N\)->$')"
check "welcome: no Previous" test -z "$(find_ctl Button '上一步')"
next_page
check "licence: Next reads 我同意" test -n "$(find_ctl Button '^我同意$')"
check "licence: the project's licence text" visible_text "第二条：测试。"
next_page
check "read-me: the read-me text" visible_text "软件使用说明正文"
prev_page
check "Previous goes back to the licence" test -n "$(find_ctl Button '^我同意$')"
next_page
next_page
check "program folder: the project's folder name" test -n "$(find_ctl Edit '^向导测试组$')"
next_page
check "components: three rows, all ticked" test "$(checks_of)" = "1,1,1"
needed_before="$(awk -F'|' '$4 == "vis=1" && index($3, "所需空间大小:") { print $3; exit }' "$work/screen.txt")"
list="$(find_ctl SysListView32 '')"
read -r lx ly lw lh < <(sed -E 's/.*\|rect=(-?[0-9]+),(-?[0-9]+),([0-9]+),([0-9]+)\|.*/\1 \2 \3 \4/' <<<"$list")
# Select the first row by its text, then down to ComB and toggle it with the space bar.
click_at $((lx + 80)) $((ly + 8))
xdotool key Down Down space
sleep 0.5
refresh
check "components: ComB unticked" test "$(checks_of)" = "1,1,0"
needed_after="$(awk -F'|' '$4 == "vis=1" && index($3, "所需空间大小:") { print $3; exit }' "$work/screen.txt")"
check "components: the needed size dropped ($needed_before -> $needed_after)" \
  test -n "$needed_after" -a "$needed_before" != "$needed_after"
xdotool key Up Up space
sleep 0.5
refresh
check "components: the main program row cannot be unticked" test "$(checks_of)" = "1,1,0"
next_page
check "installation folder: Program Files default" test -n "$(find_ctl Edit 'Program Files')"
click Edit 'Program Files'
xdotool key ctrl+a BackSpace
xdotool type --delay 30 'C:\WizardTest\App'
sleep 0.5
refresh
check "installation folder: typed" test -n "$(find_ctl Edit 'WizardTest.App$')"
check "installation folder: free space of drive C shown" grep -Eq '\|[0-9.]+ (KB|MB|GB)\|vis=1' "$work/screen.txt"
xdotool key Escape
check "Esc asks the exit question" wait_for Static '确定要退出该安装向导吗' 10
click Button '^否'
sleep 0.5
refresh
check "No keeps the wizard on its page" test -n "$(find_ctl Edit 'WizardTest.App$')"
next_page
check "confirmation page" visible_text "确认之前所有的操作。"
next_page
check "the installation ends on the finish page" wait_for Button '^完成\(&F\)$' 60
check "finish: five rows, all ticked" test "$(checks_of)" = "1,1,1,1,1"
list="$(find_ctl SysListView32 '')"
read -r lx ly lw lh < <(sed -E 's/.*\|rect=(-?[0-9]+),(-?[0-9]+),([0-9]+),([0-9]+)\|.*/\1 \2 \3 \4/' <<<"$list")
click_at $((lx + 80)) $((ly + 8))
xdotool key Down Down Down Down space
sleep 0.5
refresh
check "finish: quick launch unticked" test "$(checks_of)" = "1,1,1,1,0"
click Button '^完成\(&F\)$'
check "Finish asks about the reboot" wait_for Static '需要重启操作系统' 20
check "the main program was started" visible_text "你好！这是示例程序。"
check "the read-me was opened" grep -q '|Notepad|readme.txt' "$work/screen.txt"
# Out of the way: both sit over the setup's question.
wine_run taskkill /f /im notepad.exe >/dev/null 2>&1
wine_run taskkill /f /im Hello.exe >/dev/null 2>&1
sleep 0.5
refresh
check "the reboot question is still there" visible_text "需要重启操作系统"
# The reboot box is the setup's own; answer its No.
click Button '^否'
for i in $(seq 1 40); do kill -0 "$setup_pid" 2>/dev/null || break; sleep 0.5; done
check "the setup ends after No to the reboot" test "$(kill -0 "$setup_pid" 2>/dev/null; echo $?)" = 1
wait "$setup_pid"
rc=$?
check "the setup's exit code is 3010, installed with the restart not done (got $rc: 3010 & 255)" test "$rc" = $((3010 & 255))
check "the temporary folder holds nothing the setup wrote: $(temp_news "$temp_before" | head -3 | tr '\n' ' ')" \
  test -d "$wine_temp" -a -z "$(temp_news "$temp_before")"
echo "  walk took $(($(date +%s) - started)) s"

echo "== what the walk installed"
inst="$drive/WizardTest/App/app"
check "program files in the typed folder" cmp -s "$work/app/data.bin" "$inst/data.bin"
check "UnIns.exe and UnLog.txt beside the main program" test -f "$inst/UnIns.exe" -a -f "$inst/UnLog.txt"
sys="$drive/windows/system32"
check "ticked component ComA installed" test -f "$sys/ComA.dll"
check "unticked component ComB not installed" test ! -e "$sys/ComB.dll"
links="$(find "$drive" "$wine_home" -name '*.lnk' 2>/dev/null)"
desktop_lnk="$(grep -F "/Desktop/向导测试.lnk" <<<"$links" | head -1)"
menu_lnk="$(grep -F "/Programs/向导测试组/向导测试.lnk" <<<"$links" | head -1)"
unins_lnk="$(grep -F "/Programs/向导测试组/卸载.lnk" <<<"$links" | head -1)"
check "desktop link" test -n "$desktop_lnk"
check "start-menu link in the program folder" test -n "$menu_lnk"
check "start-menu 卸载 link" test -n "$unins_lnk"
check "no quick-launch link" test -z "$(grep -F "Quick Launch" <<<"$links")"
if [ -n "$menu_lnk" ]; then
  info="$(lnkinfo "$menu_lnk" 2>/dev/null)"
  check "start-menu link: arguments" grep -q 'Command line arguments.*: /quiet' <<<"$info"
  check "start-menu link: working folder with its backslash" grep -q 'Working directory.*: C:\\WizardTest\\App\\app\\$' <<<"$info"
fi
if [ -n "$unins_lnk" ]; then
  check "卸载 link points to UnIns.exe" grep -q 'Local path.*: C:\\WizardTest\\App\\app\\UnIns.exe' <<<"$(lnkinfo "$unins_lnk" 2>/dev/null)"
fi
# The install log read back on its own terms: each link is a stream string of it (a 4-byte
# length, then the GBK path).
in_log() {  # in_log WINDOWS-PATH
  python3 - "$inst/UnLog.txt" "$1" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
text = sys.argv[2].encode("gbk")
sys.exit(0 if struct.pack("<i", len(text)) + text in data else 1)
EOF
}
check "UnLog.txt records the desktop link" in_log 'C:\users\root\Desktop\向导测试.lnk'
check "UnLog.txt records the 卸载 link" \
  in_log 'C:\users\root\AppData\Roaming\Microsoft\Windows\Start Menu\Programs\向导测试组\卸载.lnk'
check "UnLog.txt records the folder the finish created" \
  in_log 'C:\users\root\AppData\Roaming\Microsoft\Windows\Start Menu\Programs\向导测试组'
ukey='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\'"$name"
check "uninstall entry names UnIns.exe in the typed folder" \
  grep -q 'C:\\WizardTest\\App\\app\\UnIns.exe' <<<"$(wine_run reg query "$ukey" /v UninstallString 2>/dev/null | iconv -f GBK -t UTF-8)"

echo "== UnIns.exe /S"
printf 'mine\r\n' >"$drive/WizardTest/user.txt"
wine_run 'C:\WizardTest\App\app\UnIns.exe' /S >/dev/null 2>&1
wine_wait
check "installed files removed" test ! -e "$inst/data.bin" -a ! -e "$inst/UnLog.txt"
check "links removed" test ! -e "$desktop_lnk" -a ! -e "$menu_lnk" -a ! -e "$unins_lnk"
check "the program folder the finish created is removed" \
  test -z "$(find "$drive" -type d -name '向导测试组' 2>/dev/null)"
check "a file the user added stays" test -f "$drive/WizardTest/user.txt"

echo "== a project that hides pages"
( cd "$work/out" && wine_run "跳页测试.exe" x ) >/dev/null 2>&1 &
setup_pid=$!
check "the second wizard appears" wait_for TFrm_Setup '跳页测试' 60
next_page
check "Next skips the hidden pages to the installation folder" test -n "$(find_ctl Button '^浏览\(&B\)\.\.\.$')"
prev_page
check "Previous from there goes back to the welcome page" test -z "$(find_ctl Button '上一步')"
xdotool key Escape
wait_for Static '确定要退出该安装向导吗' 10 && click Button '^是'
for i in $(seq 1 20); do kill -0 "$setup_pid" 2>/dev/null || break; sleep 0.5; done
check "Yes to the exit question ends the setup" test "$(kill -0 "$setup_pid" 2>/dev/null; echo $?)" = 1
check "nothing was installed" test ! -e "$drive/Program Files/跳页测试"
check "cancelled: the temporary folder holds nothing the setup wrote: $(temp_news "$temp_before" | head -3 | tr '\n' ' ')" \
  test -z "$(temp_news "$temp_before")"

echo "wine-wizard: $failures failure(s)"
[ "$failures" = 0 ]
