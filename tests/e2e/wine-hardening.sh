#!/usr/bin/env bash
# What a setup that runs with administrator rights trusts, under Wine: DLLs planted beside
# Setup.exe and the installed UnIns.exe under system libraries' names are not loaded (a careless
# control program beside them does load them); <program>.exe.local stops both programs with a
# box and 1603; the release goes into a fresh, randomly named folder of the temporary folder,
# never into one prepared at the old predictable place, with an access list of its own when
# elevated; a second setup of a product that is waiting on a page leaves with a box and 1618,
# while another product's setup installs; the uninstall entry's command is quoted.
# Where this Wine keeps no access lists (it maps them to Unix modes), what it keeps is checked.
#   tests/e2e/wine-hardening.sh   (after scripts/build.sh; GBSETUP_WIN_ARCH=i686|x86_64)
# e2e-arch: wine
set -uo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
source tests/e2e/lib/checks.sh
source tests/e2e/lib/windows.sh
dump_exe="$win_build/tests/e2e/tools/windump.exe"
sddl_exe="$win_build/tests/e2e/tools/sddl.exe"
exitcode_exe="$win_build/tests/e2e/tools/exitcode.exe"   # also for run_boxed: whole exit codes
win_need "$gbsetup" "$win_stubs/Setup.exe" "$win_stubs/UnIns.exe" "$dump_exe" "$sddl_exe" "$exitcode_exe"
command -v xdotool >/dev/null || { echo "wine-hardening: xdotool is missing (scripts/install-deps.sh)" >&2; exit 1; }

win_workdir "/tmp/gbsetup-harden.XXXXXX"
echo "wine-hardening: $win_arch programs under $win_arch Wine"
wine_start
wine_display 160 169
source tests/e2e/lib/screen.sh
source tests/e2e/lib/boxes.sh

# The names Windows programs are known to load from their own folder, and a few known DLLs.
planted_names=(imm32 version uxtheme dwmapi cryptbase propsys userenv setupapi apphelp oleacc clbcatq ntmarta
  profapi winmm msimg32 riched20 msftedit shfolder wininet winhttp mpr netapi32 textshaping cryptsp
  sspicli dbghelp rsaenh wtsapi32 secur32 bcrypt windowscodecs edputil srvcli netutils wkscli samcli
  dnsapi iphlpapi wldp winsta devobj cfgmgr32 powrprof comdlg32 shlwapi oleaut32 rpcrt4 ws2_32)
overrides="$(IFS=,; echo "${planted_names[*]}")=n,b"
entry=DllMain
[ "$win_arch" = i686 ] && entry=_DllMain@12
"$win_tools-gcc" -shared -O2 -s -nostdlib -Wl,-e,$entry -o "$work/planted.dll" tests/e2e/tools/planted.c -lkernel32 ||
  { echo "wine-hardening: the planted DLL does not build" >&2; exit 1; }
"$win_tools-gcc" -O2 -s -municode -mwindows -o "$work/loadlib.exe" tests/e2e/tools/loadlib.c -lshell32 ||
  { echo "wine-hardening: the control program does not build" >&2; exit 1; }
plant() {  # plant DIR: every planted name beside the programs in DIR
  local n
  for n in "${planted_names[@]}"; do cp "$work/planted.dll" "$1/$n.dll"; done
}
markers() { find "$@" -name '*.dll.loaded' -printf '%f ' 2>/dev/null; }
# exit_code DIR PROGRAM [ARGS...]: runs it there and prints its whole exit code.
exit_code() {
  local dir="$1"
  shift
  ( cd "$dir" && wine_run "$exitcode_exe" "$@" 2>/dev/null | tr -d '\r' | tail -1 )
}

echo "== building the test setups"
make_setup() {  # make_setup NAME DIR INTERACTIVE(是|否)
  mkdir -p "$work/$2/app"
  printf 'MZ hello\r\n' >"$work/$2/app/hello.exe"
  (
    set -e
    cd "$work/$2"
    "$gbsetup" new p.gbp
    "$gbsetup" set p.gbp 项目名称 "$1"
    "$gbsetup" set p.gbp 版本号 1.0
    "$gbsetup" set p.gbp 安装界面显示 "$3"
    "$gbsetup" add-folder p.gbp app --to "Program Files"
    "$gbsetup" page p.gbp 安装完毕 主程序 app/hello.exe
    "$gbsetup" page p.gbp 选择安装文件夹 程序文件夹名称 "$1"
    "$gbsetup" --data "$win_data" build --arch "$win_setup_arch" p.gbp --output out
  ) >"$work/$2.log" 2>&1 || { cat "$work/$2.log"; echo "wine-hardening: building $1 failed" >&2; exit 1; }
  mkdir -p "$work/run-$2"
  cp "$work/$2/out/$1.exe" "$work/run-$2/Setup.exe"
}
make_setup "加固测试" silent 否
make_setup "等待测试" waiting 是
inst="$drive/Program Files/加固测试"

echo "== DLLs planted beside Setup.exe"
plant "$work/run-silent"
cp "$work/loadlib.exe" "$work/run-silent/"
( cd "$work/run-silent" && WINEDLLOVERRIDES="$overrides" wine_run loadlib.exe version.dll uxtheme.dll ) >/dev/null 2>&1
check "control: a program that does not restrict the search loads them ($(markers "$work/run-silent"))" \
  test -f "$work/run-silent/version.dll.loaded" -a -f "$work/run-silent/uxtheme.dll.loaded"
rm -f "$work/run-silent"/*.loaded "$work/run-silent/loadlib.exe"
temp_before="$(temp_listing)"
( cd "$work/run-silent" && WINEDEBUG=trace+file WINEDLLOVERRIDES="$overrides" wine_run Setup.exe x ) >/dev/null 2>"$work/first.trace"
rc=$?
wine_wait
check "Setup.exe with ${#planted_names[@]} planted DLLs installs (exit $rc)" test "$rc" = 0 -a -f "$inst/app/hello.exe"
left="$(markers "$work/run-silent")"
check "no planted DLL was loaded into Setup.exe${left:+ ($left)}" test -z "$left"
check "the temporary folder holds nothing afterwards" test -z "$(temp_news "$temp_before")"

echo "== the uninstall entry"
ukey='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\加固测试'
check "UninstallString is quoted: $(reg_value "$ukey" UninstallString)" \
  test "$(reg_value "$ukey" UninstallString)" = '"C:\Program Files\加固测试\app\UnIns.exe"'

echo "== UnIns.exe beside UnIns.exe.local"
mkdir "$inst/app/UnIns.exe.local"
rc="$(exit_code "$inst/app" 'C:\Program Files\加固测试\app\UnIns.exe' /S)"
wine_wait
check "UnIns.exe /S stops with 1603 (got $rc), removing nothing" test "$rc" = 1603 -a -f "$inst/app/hello.exe"
rmdir "$inst/app/UnIns.exe.local"

echo "== DLLs planted beside the installed UnIns.exe"
plant "$inst/app"
WINEDEBUG=+process WINEDLLOVERRIDES="$overrides" wine_run 'C:\Program Files\加固测试\app\UnIns.exe' /S >/dev/null 2>"$work/unins.trace"
rc=$?
wine_wait
left="$(markers "$inst/app")"
check "no planted DLL was loaded into UnIns.exe${left:+ ($left)}" test -z "$left"
check "UnIns.exe /S removed the program (exit $rc)" test ! -e "$inst/app/hello.exe" -a ! -e "$inst/app/UnIns.exe"
check "its copy ran from a private folder: $(grep -aoi 'Temp\\\\[^"]*UnIns[^"]*\.exe' "$work/unins.trace" | head -1)" \
  grep -aqiE 'NtCreateUserProcess .*Temp\\\\gbs-[0-9a-f]{16}\\\\UnIns\.exe.* /S ' "$work/unins.trace"
rm -rf "$inst"

echo "== <program>.exe.local"
mkdir "$work/run-silent/Setup.exe.local"
rm -f "$work/run-silent"/*.dll
run_boxed "$work/run-silent" Setup.exe x
check "Setup.exe beside Setup.exe.local: one box ($(cat "$work/Setup.exe.boxes"))" \
  test "$box_count" = 1 -a -n "$(grep -F '.local' "$work/Setup.exe.boxes")"
check "and exit code 1603 (got $box_rc)" test "$box_rc" = 1603
check "nothing installed" test ! -e "$inst"
rmdir "$work/run-silent/Setup.exe.local"

echo "== the private temporary folder"
# Where the release of this setup went before: the builder's folders below %TEMP%. Prepared
# there, a project file of one's own would have been read and its programs run.
stored="$("$gbsetup" list "$work/run-silent/Setup.exe" 2>/dev/null | grep -o '[A-Z]:\\[^ ]*p\.gbp' | head -1)"
old_place="$wine_temp/$(sed -E 's/^[A-Z]:\\//; s/\\/\//g' <<<"${stored%\\p.gbp}")"
check "the setup stores its project as ${stored:-?}" test -n "$stored"
mkdir -p "$old_place"
printf 'prepared\r\n' >"$old_place/p.gbp"
chmod 0444 "$old_place/p.gbp"
temp_before="$(temp_listing)"
( cd "$work/run-silent" && WINEDEBUG=trace+file wine_run Setup.exe x ) >/dev/null 2>"$work/second.trace"
rc=$?
wine_wait
check "installed beside a folder prepared at the old place (exit $rc)" test "$rc" = 0 -a -f "$inst/app/hello.exe"
check "the prepared folder is as it was" test "$(find "$old_place" -type f | wc -l)" = 1 -a "$(cat "$old_place/p.gbp")" = $'prepared\r'
folder_of() { grep -aoE 'Temp\\\\gbs-[0-9a-f]{16}' "$1" | head -1 | sed 's/.*\\//'; }
first="$(folder_of "$work/first.trace")" second="$(folder_of "$work/second.trace")"
check "each run had a folder of its own ($first, $second)" test -n "$first" -a -n "$second" -a "$first" != "$second"
check "and took it away" test -z "$(temp_news "$temp_before")"
chmod -R u+w "$old_place"

echo "== one run of a product at a time"
# Started as a user would: it relaunches itself elevated, and that instance shows the wizard.
( cd "$work/run-waiting" && wine_run Setup.exe ) >/dev/null 2>&1 &
waiting=$!
check "the interactive setup waits on its welcome page" wait_for TFrm_Setup '等待测试' 60
private="$(find "$wine_temp" -maxdepth 1 -name 'gbs-*' | head -1)"
check "its files lie in $(basename "${private:-none}")" test -n "$private" -a -f "$private/$(sed -E 's/^[A-Z]:\\//; s/\\/\//g' <<<"$("$gbsetup" list "$work/run-waiting/Setup.exe" 2>/dev/null | grep -o '[A-Z]:\\[^ ]*p\.gbp' | head -1)")"
if [ -n "$private" ]; then
  winpath() { sed 's|.*/drive_c/|C:\\|; s|/|\\|g' <<<"$1"; }
  acl="$(wine_run "$sddl_exe" "$(winpath "$private")" 2>/dev/null | tr -d '\r')"
  # Does this Wine keep access lists? A folder made with one is read back.
  probe_sddl='O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)'
  probe="$(wine_run "$sddl_exe" --mkdir "$probe_sddl" "$(winpath "$wine_temp/acl-probe")" 2>/dev/null | tr -d '\r')"
  rmdir "$wine_temp/acl-probe" 2>/dev/null
  if [ "$probe" = "$probe_sddl" ]; then
    # The setup runs elevated: only administrators and the system may change the folder,
    # nothing is inherited, the user may read it.
    check "its access list: $acl" grep -qE '^O:BAD:P\(A;OICI;FA;;;SY\)\(A;OICI;FA;;;BA\)\(A;OICI;0x1200a9;;;S-1-5-[0-9-]+\)$' <<<"$acl"
  else
    echo "  not checked here: the access list as Windows keeps it (this Wine reads a folder made with $probe_sddl back as $probe)"
    # What this Wine keeps of it is the Unix mode it derives: no one but the owner and group
    # may enter, where a folder made without the list is open to all (the temporary folder).
    check "its access list reached the file system: $(stat -c %A "$private"), the temporary folder $(stat -c %A "$wine_temp")" \
      test "$(( 0$(stat -c %a "$private") & 07 ))" = 0 -a "$(( 0$(stat -c %a "$wine_temp") & 05 ))" = 5
  fi
fi
run_boxed "$work/run-waiting" Setup.exe x
check "a second setup of the product shows one box ($(cat "$work/Setup.exe.boxes"))" \
  test "$box_count" = 1 -a -n "$(grep -F '另一个安装程序或卸载程序正在运行' "$work/Setup.exe.boxes")"
check "and leaves with 1618 (got $box_rc)" test "$box_rc" = 1618
rm -rf "$inst"
( cd "$work/run-silent" && wine_run Setup.exe x ) >/dev/null 2>&1
rc=$?
check "another product's setup installs meanwhile (exit $rc)" test "$rc" = 0 -a -f "$inst/app/hello.exe"
refresh
check "the first setup still waits" test -n "$(find_ctl TFrm_Setup '等待测试')"
xdotool key Escape
wait_for Static '确定要退出该安装向导吗' 10 && click Button '^是'
for _ in $(seq 1 40); do kill -0 "$waiting" 2>/dev/null || break; sleep 0.5; done
wait "$waiting"
rc=$?
wine_wait
check "cancelled, its private folder went" test ! -e "$private"
# The first instance passes on the elevated one's code: 1602, of which Linux sees the low byte.
check "and the setup ended with 1602, cancelled (got $rc: 1602 & 255)" test "$rc" = $((1602 & 255))

echo "wine-hardening: $failures failure(s)"
[ "$failures" = 0 ]
