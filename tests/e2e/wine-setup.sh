#!/usr/bin/env bash
# End to end under Wine: build a silent setup with the Linux builder and the cross-built stubs,
# install it in a fresh Chinese prefix, check files, registry and the install log, uninstall it
# with the installed UnIns.exe /S, and check the elevated relaunch and a damaged setup file.
#   tests/e2e/wine-setup.sh   (after scripts/build.sh; GBSETUP_WIN_ARCH=i686|x86_64 picks the stubs)
# e2e-arch: wine
set -uo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
source tests/e2e/lib/checks.sh
source tests/e2e/lib/windows.sh
data="$win_data"
exitcode_exe="$win_build/tests/e2e/tools/exitcode.exe"
win_need "$gbsetup" "$win_stubs/Setup.exe" "$win_stubs/UnIns.exe" "$exitcode_exe"

win_workdir "/tmp/gbsetup-e2e.XXXXXX"
echo "wine-setup: $win_arch stubs under $win_arch Wine"
wine_start
# One X server for every run: the unpack dialog and the boxes are real windows.
wine_display 90 140

echo "== building the test setup"
name="E2E测试"
mkdir -p "$work/app/doc"
printf 'MZ hello\r\n' > "$work/app/hello.exe"
printf '使用说明\r\n' | iconv -f UTF-8 -t GBK > "$work/app/doc/guide.txt"
(
  set -e
  cd "$work"
  "$gbsetup" new p.gbp
  "$gbsetup" set p.gbp 项目名称 "$name"
  "$gbsetup" set p.gbp 版本号 1.2
  "$gbsetup" set p.gbp 作者名称 测试作者
  "$gbsetup" set p.gbp 作者网址 http://example.com/
  "$gbsetup" set p.gbp 安装界面显示 否
  "$gbsetup" add-folder p.gbp app --to "Program Files"
  "$gbsetup" page p.gbp 安装完毕 主程序 app/hello.exe
  "$gbsetup" page p.gbp 选择安装文件夹 程序文件夹名称 "$name"
  "$gbsetup" add-registry p.gbp 'HKEY_LOCAL_MACHINE\SOFTWARE\GbE2E测试' Path '安装目录\工程名称'
  "$gbsetup" add-registry p.gbp 'HKEY_LOCAL_MACHINE\SOFTWARE\GbE2E测试' Count FF --type dword
  # The main program also starts with Windows.
  "$gbsetup" export p.gbp > p.json
  python3 - p.json <<'EOF'
import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
for f in d["files"]:
    if f["FileName"] == "hello.exe":
        f["AutoRun"] = 1
json.dump(d, open(sys.argv[1], "w", encoding="utf-8"), ensure_ascii=False)
EOF
  "$gbsetup" import p.json -o p.gbp
  "$gbsetup" --data "$data" build --arch "$win_setup_arch" p.gbp --output out
) >"$work/build.log" 2>&1 || { cat "$work/build.log"; echo "wine-setup: building the setup failed" >&2; exit 1; }
cp "$work/out/$name.exe" "$work/Setup.exe"
echo "  Setup.exe stub: $(stat -c %s "$win_stubs/Setup.exe") bytes; test setup: $(stat -c %s "$work/Setup.exe") bytes"

echo "== silent installation under Wine"
temp_before="$(temp_listing)"
( cd "$work" && wine_run Setup.exe x ) >/dev/null 2>&1
rc=$?
wine_wait
check "setup with a parameter exits 0 (got $rc)" test "$rc" = 0
check "the temporary folder holds nothing the setup wrote: $(temp_news "$temp_before" | head -3 | tr '\n' ' ')" \
  test -d "$wine_temp" -a -z "$(temp_news "$temp_before")"
inst="$drive/Program Files/$name"
check "hello.exe installed byte for byte" cmp -s "$work/app/hello.exe" "$inst/app/hello.exe"
check "doc/guide.txt installed byte for byte" cmp -s "$work/app/doc/guide.txt" "$inst/app/doc/guide.txt"
check "UnIns.exe placed beside the main program" cmp -s "$win_stubs/UnIns.exe" "$inst/app/UnIns.exe"
check "UnLog.txt written" test -f "$inst/app/UnLog.txt"
# The log starts with the title as a stream string: length 7, then GBK "E2E测试".
expect_head="$( { printf '\007\000\000\000'; printf '%s' "$name" | iconv -f UTF-8 -t GBK; } | od -An -tx1 | tr -d ' \n')"
got_head="$(head -c 11 "$inst/app/UnLog.txt" 2>/dev/null | od -An -tx1 | tr -d ' \n')"
check "UnLog.txt begins with the title ($got_head)" test "$got_head" = "$expect_head"

key='HKLM\SOFTWARE\GbE2E测试'
check "project string value" test "$(reg_value "$key" Path)" = 'C:\Program Files\E2E测试'
check "project dword value" test "$(reg_value "$key" Count)" = "0xff"
ukey='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\E2E测试'
unins='C:\Program Files\E2E测试\app\UnIns.exe'
check "DisplayIcon" test "$(reg_value "$ukey" DisplayIcon)" = "$unins"
check "DisplayName" test "$(reg_value "$ukey" DisplayName)" = "E2E测试1.2"
check "DisplayVersion" test "$(reg_value "$ukey" DisplayVersion)" = "1.2"
check "URLInfoAbout" test "$(reg_value "$ukey" URLInfoAbout)" = "http://example.com/"
check "Publisher" test "$(reg_value "$ukey" Publisher)" = "测试作者"
check "UninstallString, quoted" test "$(reg_value "$ukey" UninstallString)" = "\"$unins\""
runkey='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run'
check "Run value of the AutoRun file" test "$(reg_value "$runkey" hello.exe)" = 'C:\Program Files\E2E测试\app\hello.exe'

echo "== uninstalling with UnIns.exe /S"
printf 'mine\r\n' > "$inst/user.txt"
WINEDEBUG=+process wine_run "C:\\Program Files\\$name\\app\\UnIns.exe" /S >/dev/null 2>"$work/unins.trace"
rc=$?
wine_wait
# The user's file keeps the program's folder: removed but for that, which has a code of its own.
check "UnIns.exe /S exits 3, an item left (got $rc)" test "$rc" = 3
check "the work was done by a copy in a private folder of the temporary folder" \
  grep -aqiE 'NtCreateUserProcess .*Temp\\\\gbs-[0-9a-f]{16}\\\\UnIns\.exe.* /S .*/Orig=C:' "$work/unins.trace"
check "installed files removed" test ! -e "$inst/app/hello.exe" -a ! -e "$inst/app/doc/guide.txt"
check "UnIns.exe and UnLog.txt removed" test ! -e "$inst/app/UnIns.exe" -a ! -e "$inst/app/UnLog.txt"
check "created folders removed once empty" test ! -e "$inst/app"
check "the user's file and its folder stay" test -f "$inst/user.txt"
check_not "project key removed" reg_key_exists "$key"
check_not "uninstall entry removed" reg_key_exists "$ukey"
check_not "Run value removed" reg_value "$runkey" hello.exe
check "Uninstall key itself untouched" reg_key_exists 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'

echo "== uninstaller without its log"
mkdir -p "$drive/nolog"
cp "$win_stubs/UnIns.exe" "$drive/nolog/UnIns.exe"
printf 'keep\r\n' > "$drive/nolog/keep.txt"
wine_run 'C:\nolog\UnIns.exe' /S >/dev/null 2>&1
wine_wait
check "missing UnLog.txt: removes nothing, not even itself" test -f "$drive/nolog/keep.txt" -a -f "$drive/nolog/UnIns.exe"
# A log that names keep.txt but ends inside that record.
python3 -c 'import struct,sys; p=b"C:\\nolog\\keep.txt"; sys.stdout.buffer.write(struct.pack("<i",4)+b"demo"+struct.pack("<i",len(p))+p+struct.pack("<i",0)+b"\0\0")' \
  > "$drive/nolog/UnLog.txt"
wine_run 'C:\nolog\UnIns.exe' /S >/dev/null 2>&1
wine_wait
check "damaged UnLog.txt: removes nothing" test -f "$drive/nolog/keep.txt" -a -f "$drive/nolog/UnIns.exe" -a -f "$drive/nolog/UnLog.txt"

echo "== elevated relaunch"
rm -rf "$inst"
trace="$work/relaunch.trace"
# This Wine starts programs elevated, which install themselves: started as a user's program
# is under user account control, with the limited token.
rc="$(cd "$work" && WINEDEBUG=+process wine_run "$exitcode_exe" --limited Setup.exe 2>"$trace" | tr -d '\r' | tail -1)"
wine_wait
check "start without parameters exits 0 (got $rc)" test "$rc" = 0
check "relaunched itself with the parameter Ins" grep -aq 'NtCreateUserProcess .*Setup.exe.* cmdline L"\\"[^"]*Setup.exe\\" Ins"' "$trace"
check "the relaunched instance installed" test -f "$inst/app/hello.exe"

echo "== damaged setup file"
size=$(stat -c %s "$work/Setup.exe")
head -c $((size - 100)) "$work/Setup.exe" > "$work/broken.exe"
tail -c 24 "$work/Setup.exe" >> "$work/broken.exe"   # the trailer now points past the data
rm -rf "$inst"
( cd "$work" && WINE_TIMEOUT=90 wine_run broken.exe x >/dev/null 2>&1; echo $? > "$work/broken.rc" ) &
runner=$!
box=""
for _ in $(seq 1 300); do
  # Without a window manager a box has no title; it is the one visible window of the program.
  box="$(xdotool search --onlyvisible --class '^broken\.exe$' 2>/dev/null | head -1)"
  [ -n "$box" ] && break
  sleep 0.2
done
check "one error box is shown" test -n "$box"
if [ -n "$box" ]; then
  sleep 0.5
  check "only one box" test "$(xdotool search --onlyvisible --class '^broken\.exe$' 2>/dev/null | wc -l)" = 1
  xdotool mousemove --window "$box" 10 10 click 1 key Return >/dev/null 2>&1
fi
wait "$runner"
check "damaged setup exits 1 after the box (got $(cat "$work/broken.rc"))" test "$(cat "$work/broken.rc")" = 1
check "nothing installed from the damaged setup" test ! -e "$inst"
check "nothing of the damaged setup in the temporary folder" test -z "$(temp_news "$temp_before")"

if [ "$failures" -gt 0 ]; then
  echo "wine-setup: $failures check(s) failed"
  exit 1
fi
echo "wine-setup: all checks passed"
