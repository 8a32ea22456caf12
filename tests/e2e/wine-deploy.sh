#!/usr/bin/env bash
# Unattended deployment under Wine, with the example's interactive setup: /VERYSILENT with
# /DIR="..." and /LOG="..." as an administrator types them installs into that folder without
# showing a window or a box, logs each file, and exits 0; /D= (last, with a blank) does the
# same; an installation that fails half-way exits 1603 and is undone; a second run while
# one is at work exits 1618; a bad switch exits 87 and /VERYSILENT keeps even that quiet; a
# first instance started without administrator rights relaunches itself elevated and
# returns the elevated one's code; the uninstall entry holds what deployment tools read
# (reg query); UnIns.exe /VERYSILENT returns only once everything is removed, with 0.
#   tests/e2e/wine-deploy.sh   (after scripts/build.sh; GBSETUP_WIN_ARCH=i686|x86_64)
# e2e-arch: wine
set -uo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
source tests/e2e/lib/checks.sh
source tests/e2e/lib/windows.sh
exitcode_exe="$win_build/tests/e2e/tools/exitcode.exe"
dump_exe="$win_build/tests/e2e/tools/windump.exe"
hello_exe="$win_build/examples/hello/Hello.exe"
win_need "$gbsetup" "$win_stubs/Setup.exe" "$win_stubs/UnIns.exe" "$exitcode_exe" "$dump_exe" "$hello_exe"

win_workdir "/tmp/gbsetup-deploy.XXXXXX"
echo "wine-deploy: $win_arch programs under $win_arch Wine"
wine_start
wine_display 170 179
source tests/e2e/lib/screen.sh

# typed DIR LINE: runs LINE in DIR as a command line typed at a prompt (quotes as they stand),
# with Wine's traces of shown windows and boxes in $work/typed.trace; prints the whole exit code.
typed() {
  printf '%s' "$2" >"$1/cmdline.txt"
  ( cd "$1" && WINEDEBUG=trace+win,trace+msgbox,+process wine_run "$exitcode_exe" @cmdline.txt 2>"$work/typed.trace" |
      tr -d '\r' | tail -1 )
  wine_wait
}
# What the traced run showed: windows made visible, message boxes.
shown_windows() { python3 tests/e2e/lib/shown-windows.py "$work/typed.trace" Setup.exe | head -3; }
shown_boxes() { grep -a 'MSGBOX_OnInit' "$work/typed.trace" | head -3; }

echo "== building the example's setup"
project="$(bash scripts/make-example.sh "$work/example" "$win_build" | tail -1)"
"$gbsetup" --data "$win_data" build --arch "$win_setup_arch" "$project" --output "$work/out" >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; echo "wine-deploy: the build failed" >&2; exit 1; }
mkdir -p "$work/run"
cp "$work/out/Hello 示例.exe" "$work/run/Setup.exe"
ukey='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Hello 示例'

echo '== Setup.exe /VERYSILENT /DIR="C:\Deploy\Hello 示例" /LOG="C:\d.log"'
inst="$drive/Deploy/Hello 示例"
rc="$(typed "$work/run" 'Setup.exe /VERYSILENT /DIR="C:\Deploy\Hello 示例" /LOG="C:\d.log"')"
check "exit code 0 (got $rc)" test "$rc" = 0
check "no window was shown$(shown_windows | sed 's/^/: /' | head -1)" test -z "$(shown_windows)"
check "no box was shown" test -z "$(shown_boxes)"
check "installed into that folder" test -f "$inst/Hello.exe" -a -f "$inst/UnIns.exe" -a -f "$inst/UnLog.txt"
log="$drive/d.log"
check "the log is UTF-8 text with its mark" test "$(head -c 3 "$log" | od -An -tx1 | tr -d ' ')" = efbbbf
check "the log is valid UTF-8" iconv -f UTF-8 -t UTF-8 "$log" -o /dev/null
missing=""
while IFS= read -r f; do
  rel="${f#"$inst"/}"
  [ "$rel" = UnLog.txt ] && continue
  winpath="C:\\Deploy\\Hello 示例\\${rel//\//\\}"
  grep -qF "文件: $winpath: 已写入" "$log" || missing+="$winpath "
done < <(find "$inst" -type f)
check "the log names each installed file${missing:+ (not: $missing)}" test -z "$missing"
check "and the registry values, the links, the result" \
  grep -q '注册表值: HKEY_LOCAL_MACHINE\\SOFTWARE\\Hello 示例\\InstallDir: 已写入' "$log" -a \
  -n "$(grep '快捷方式: .*Hello 示例\.lnk: 已创建' "$log")" -a -n "$(grep -x '.* 结果: 退出代码 0.' "$log")"

echo "== the uninstall entry"
size_kib=$(( ($(find "$inst" -type f ! -name UnLog.txt -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }') + 1023) / 1024 ))
check "QuietUninstallString: $(reg_value "$ukey" QuietUninstallString)" \
  test "$(reg_value "$ukey" QuietUninstallString)" = '"C:\Deploy\Hello 示例\UnIns.exe" /S'
check "UninstallString: $(reg_value "$ukey" UninstallString)" \
  test "$(reg_value "$ukey" UninstallString)" = '"C:\Deploy\Hello 示例\UnIns.exe"'
check "InstallLocation: $(reg_value "$ukey" InstallLocation)" test "$(reg_value "$ukey" InstallLocation)" = 'C:\Deploy\Hello 示例'
day="$(reg_value "$ukey" InstallDate)"
check "InstallDate: $day" test "$day" = "$(date +%Y%m%d)" -o "$day" = "$(date -d yesterday +%Y%m%d)"
check "EstimatedSize: $(reg_value "$ukey" EstimatedSize), the files' $size_kib KiB" \
  test "$(( $(reg_value "$ukey" EstimatedSize) ))" = "$size_kib"
check "NoModify and NoRepair: 1" test "$(reg_value "$ukey" NoModify)" = 0x1 -a "$(reg_value "$ukey" NoRepair)" = 0x1
check "DisplayVersion: $(reg_value "$ukey" DisplayVersion)" test "$(reg_value "$ukey" DisplayVersion)" = 1.0

echo "== a second run of the same product, while the first is at work"
# The product lock, held by a waiting setup: the second run leaves at once, quietly, with 1618.
( cd "$work/run" && wine_run Setup.exe x ) >/dev/null 2>&1 &
waiting=$!
check "an interactive run of it waits on its welcome page" wait_for TFrm_Setup 'Hello 示例' 60
rc="$(typed "$work/run" 'Setup.exe /VERYSILENT x')"
check "a second one exits 1618 (got $rc), without a box" test "$rc" = 1618 -a -z "$(shown_boxes)"
kill "$waiting" 2>/dev/null
wineserver -k >/dev/null 2>&1
wait "$waiting" 2>/dev/null

echo "== UnIns.exe /VERYSILENT"
uninstall_trace="$work/unins.trace"
rc="$(cd "$work" && WINEDEBUG=trace+msgbox wine_run "$exitcode_exe" 'C:\Deploy\Hello 示例\UnIns.exe' /VERYSILENT /LOG='C:\u.log' 2>"$uninstall_trace" | tr -d '\r' | tail -1)"
# Looked at before Wine's processes have ended: the first instance returned only once its copy was done.
gone="$(test ! -e "$inst" && echo yes)"
wine_wait
check "exit code 0 (got $rc)" test "$rc" = 0
check "the program folder was gone when it returned" test "$gone" = yes
check "no box" test -z "$(grep -a MSGBOX_OnInit "$uninstall_trace")"
check "the uninstall entry is gone" test -z "$(reg_value "$ukey" DisplayName)"
check "the uninstall log names Hello.exe" grep -qF '文件: C:\Deploy\Hello 示例\Hello.exe: 已删除' "$drive/u.log"

echo '== /D=C:\Deploy 2\X, last and unquoted'
inst2="$drive/Deploy 2/X"
rc="$(typed "$work/run" 'Setup.exe /SUPPRESSMSGBOXES /S /NORESTART /D=C:\Deploy 2\X')"
check "exit code 0 (got $rc)" test "$rc" = 0
check "installed into C:\\Deploy 2\\X" test -f "$inst2/Hello.exe" -a -f "$inst2/UnIns.exe"
check "no log without /LOG" test -z "$(find "$wine_temp" -maxdepth 1 -name '*安装日志*')"
rc="$(cd "$work" && wine_run "$exitcode_exe" 'C:\Deploy 2\X\UnIns.exe' /S 2>/dev/null | tr -d '\r' | tail -1)"
check "UnIns.exe /S: 0 (got $rc), and it is gone" test "$rc" = 0 -a ! -e "$inst2"
wine_wait

echo "== an installation that fails half-way"
# A folder where the setup would write its read-me: the files before it are written, then
# the run is undone.
mkdir -p "$drive/Deploy/Fail/readme.txt"
rc="$(typed "$work/run" 'Setup.exe /VERYSILENT /DIR=C:\Deploy\Fail /LOG')"
check "exit code 1603 (got $rc), without a box" test "$rc" = 1603 -a -z "$(shown_boxes)"
check "undone: only what was there before is left" test "$(cd "$drive/Deploy/Fail" && find . | sort | tr '\n' ' ')" = ". ./readme.txt "
check "no uninstall entry" test -z "$(reg_value "$ukey" DisplayName)"
dlog="$(find "$wine_temp" -maxdepth 1 -name 'Setup 安装日志 *.txt' | head -1)"
check "/LOG alone: $(basename "${dlog:-none}") in the temporary folder" test -n "$dlog"
check "which says what failed and that it was undone" \
  test -n "$(grep -F '错误: ' "$dlog" 2>/dev/null)" -a -n "$(grep -F '撤销: 本次安装所做的更改: 已撤销' "$dlog" 2>/dev/null)"
check "and names the written file it took back" grep -qF '文件: C:\Deploy\Fail\Hello.exe: 已写入' "$dlog"
rm -rf "$drive/Deploy/Fail"

echo "== bad switches, /?"
rc="$(typed "$work/run" 'Setup.exe /VERYSILENT /BOGUS')"
check "/BOGUS with /VERYSILENT: 87 (got $rc), no box" test "$rc" = 87 -a -z "$(shown_boxes)"
rc="$(typed "$work/run" 'Setup.exe /S /DIR=Deploy')"
check "a folder that is no full path: 87 (got $rc), nothing installed" test "$rc" = 87 -a ! -e "$drive/Deploy/Hello.exe"
rc="$(typed "$work/run" 'Setup.exe /S /COMPONENTS="none such"')"
check "a component the setup does not have: 87 (got $rc)" test "$rc" = 87

echo "== started without administrator rights"
# As a user's program starts under user account control (this Wine starts programs elevated):
# the first instance relaunches itself elevated with "Ins" and the switches, waits for it, and
# ends with its code, here the 1603 of an installation undone.
mkdir -p "$drive/Deploy/Fail/readme.txt"
printf '%s' 'Setup.exe /VERYSILENT /DIR=C:\Deploy\Fail' >"$work/run/cmdline.txt"
rc="$(cd "$work/run" && WINEDEBUG=+process wine_run "$exitcode_exe" --limited @cmdline.txt 2>"$work/limited.trace" |
  tr -d '\r' | tail -1)"
wine_wait
check "the first instance relaunched itself elevated, passing the switches on" \
  grep -aqE 'cmdline L".*Setup\.exe[^ ]{0,2} Ins /VERYSILENT /DIR=C:' "$work/limited.trace"
check "and ended with the elevated instance's code, 1603 (got $rc)" test "$rc" = 1603
check "undone" test "$(cd "$drive/Deploy/Fail" && find . | sort | tr '\n' ' ')" = ". ./readme.txt "
rm -rf "$drive/Deploy/Fail"

echo "wine-deploy: $failures failure(s)"
[ "$failures" = 0 ]
