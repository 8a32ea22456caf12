#!/usr/bin/env bash
# Version 2.0 of a program installed over 1.0 into the same folder, with another file set,
# folders and registry values: the uninstall then removes what either version installed and
# keeps what the user added, the uninstall entry names 2.0, and a 2.0 installation that fails
# leaves 1.0 installed and uninstallable. The temporary folder keeps nothing a setup wrote.
# In the sandbox (gbsetup install / uninstall), then under Wine (Setup.exe, UnIns.exe /S).
#   tests/e2e/upgrade.sh   (after scripts/build.sh; GBSETUP_WIN_ARCH=i686|x86_64 picks the stubs;
#   the runs under Wine only where that architecture runs)
# e2e-arch: each
set -uo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
source tests/e2e/lib/checks.sh
source tests/e2e/lib/windows.sh
data="$win_data"
win_need "$gbsetup" "$win_stubs/Setup.exe" "$win_stubs/UnIns.exe"

win_workdir "/tmp/gbsetup-upgrade.XXXXXX"
echo "upgrade: $win_arch stubs"

echo "== two versions of one program"
name="升级示例"
key='HKEY_CURRENT_USER\Software\GbUpgrade'
# build VERSION FILE:FOLDER... -- KEY:VALUE...: the setup out-VERSION/$name.exe; folders below
# the installation folder ("." for itself), keys below $key.
build() {
  local version="$1" dir="$work/v$1" entry
  shift
  rm -rf "$dir"
  mkdir -p "$dir/src"
  (
    set -e
    cd "$dir"
    "$gbsetup" new p.gbp
    "$gbsetup" set p.gbp 项目名称 "$name"
    "$gbsetup" set p.gbp 版本号 "$version"
    "$gbsetup" set p.gbp 安装界面显示 否
    "$gbsetup" page p.gbp 选择安装文件夹 程序文件夹名称 "$name"
    while [ $# -gt 0 ] && [ "$1" != -- ]; do
      entry="$1"
      shift
      printf '%s %s\r\n' "$version" "${entry%%:*}" >"src/${entry%%:*}"
      if [ "${entry#*:}" = . ]; then
        "$gbsetup" add-files p.gbp "src/${entry%%:*}" --to "Program Files"
      else
        "$gbsetup" add-files p.gbp "src/${entry%%:*}" --to "Program Files\\${entry#*:}"
      fi
    done
    "$gbsetup" page p.gbp 安装完毕 主程序 src/main.exe
    [ "${1:-}" = -- ] && shift
    for entry in "$@"; do
      "$gbsetup" add-registry p.gbp "$key\\${entry%%:*}" "${entry#*:}" "$version"
    done
    "$gbsetup" --data "$data" build --arch "$win_setup_arch" p.gbp --output out
  ) >"$dir/build.log" 2>&1 || { cat "$dir/build.log"; echo "upgrade: building $version failed" >&2; exit 1; }
  cp "$dir/out/$name.exe" "$work/setup-$version.exe"
}
build 1.0 main.exe:. a.txt:. b.txt:doc -- Shared:z V1:y 'V1\Deep:x'
build 2.0 main.exe:. a.txt:. c.txt:new -- Shared:z V2:w
check "both setups built" test -f "$work/setup-1.0.exe" -a -f "$work/setup-2.0.exe"

echo "== in the sandbox"
root="$work/sandbox"
pf="$root/drive_c/Program Files/$name"
temp_of() { (cd "$root/drive_c/Temp" 2>/dev/null && find . -mindepth 1 | sort); }
install() {  # install VERSION [ROOT]: gbsetup install, output in $work/install-VERSION.txt
  "$gbsetup" install "$work/setup-$1.exe" --windows "$win_sandbox_windows" --root "${2:-$root}" >"$work/install-$1.txt" 2>&1
}
install 1.0
check "1.0 installs" test "$(cat "$pf/doc/b.txt")" = $'1.0 b.txt\r'
check "nothing of 1.0's setup left in the temporary folder: $(temp_of | head -3 | tr '\n' ' ')" test -z "$(temp_of)"
install 2.0
check "2.0 installs over it" test "$(cat "$pf/a.txt")" = $'2.0 a.txt\r' -a -f "$pf/new/c.txt"
check "it says it kept 1.0's records: $(grep 'earlier' "$work/install-2.0.txt")" \
  grep -q '^install log: [0-9]* records of an earlier installation kept' "$work/install-2.0.txt"
check "nothing of 2.0's setup left in the temporary folder" test -z "$(temp_of)"
check "the uninstall entry names 2.0" grep -aq "\"DisplayName\"=\"$(printf '%s2.0' "$name" | iconv -f UTF-8 -t GBK)\"" "$root/registry.reg"
printf 'mine\r\n' >"$pf/mine.txt"
"$gbsetup" uninstall --root "$root" --silent "C:\\Program Files\\$name\\UnLog.txt" >"$work/uninstall.txt" 2>&1
rc=$?
check "the uninstall exits 0, or 3 for the folder the user's file keeps (got $rc)" test "$rc" = 0 -o "$rc" = 3
check "nothing of either version is left but the user's file: $(cd "$pf" && find . | sort | tr '\n' ' ')" \
  test "$(cd "$pf" && find . | sort | tr '\n' ' ')" = ". ./mine.txt "
check_not "no registry key of either version is left" grep -aq 'GbUpgrade' "$root/registry.reg"
check_not "no uninstall entry is left" grep -aq 'Uninstall\\' "$root/registry.reg"

size=$(stat -c %s "$work/setup-2.0.exe")
head -c $((size - 100)) "$work/setup-2.0.exe" >"$work/setup-cut.exe"
tail -c 24 "$work/setup-2.0.exe" >>"$work/setup-cut.exe"
install cut
check "a damaged setup is refused (exit $?)" grep -q '已损坏或不完整' "$work/install-cut.txt"
check "and leaves nothing in the temporary folder" test -z "$(temp_of)"

echo "-- a 2.0 installation that fails"
root2="$work/sandbox2"
install 1.0 "$root2"
pf2="$root2/drive_c/Program Files/$name"
files_of() { (cd "$1" && find . -type f | sort | tr '\n' ' '); }
before="$(files_of "$pf2")"
log1="$(md5sum <"$pf2/UnLog.txt")"
mkdir -p "$pf2/new/c.txt"  # a folder where 2.0 writes a file
install 2.0 "$root2"
rc=$?
check "it fails (exit $rc: 1603 & 255) and says it was undone" test "$rc" = $((1603 & 255)) -a -n "$(grep '安装向导已撤销本次安装' "$work/install-2.0.txt")"
rmdir "$pf2/new/c.txt"
# Files 2.0 had already replaced keep 2.0's contents, as every rollback keeps them, and are named.
check "the files 2.0 replaced are named as kept" grep -q "保持现状" "$work/install-2.0.txt"
check "1.0 is installed: its files, nothing of 2.0's own, its log as it was" \
  test "$(files_of "$pf2")" = "$before" -a "$(md5sum <"$pf2/UnLog.txt")" = "$log1" -a "$(cat "$pf2/doc/b.txt")" = $'1.0 b.txt\r'
check "the uninstall entry names 1.0 again" grep -aq "\"DisplayName\"=\"$(printf '%s1.0' "$name" | iconv -f UTF-8 -t GBK)\"" "$root2/registry.reg"
"$gbsetup" uninstall --root "$root2" --silent "C:\\Program Files\\$name\\UnLog.txt" >/dev/null 2>&1
check "and uninstalls" test ! -e "$pf2/doc/b.txt" -a ! -e "$pf2/main.exe"
check_not "with its keys" grep -aq 'GbUpgrade' "$root2/registry.reg"

echo "== under Wine"
if ! wine_runs; then
  wine_not_run "the upgrade under Wine"
else
  wine_start
  wine_display 200 249
  source "$repo/tests/e2e/lib/boxes.sh"
  check "the prefix's temporary folder is there ($wine_temp)" test -d "$wine_temp"
  wpf="$drive/Program Files/$name"
  mkdir -p "$work/w"
  cp "$work/setup-1.0.exe" "$work/setup-2.0.exe" "$work/w/"
  tempBefore="$(temp_listing)"
  run_boxed "$work/w" setup-1.0.exe x
  check "1.0 installs (exit $box_rc, $box_count boxes)" test "$box_rc" = 0 -a "$box_count" = 0 -a -f "$wpf/doc/b.txt"
  run_boxed "$work/w" setup-2.0.exe x
  check "2.0 installs over it (exit $box_rc, $box_count boxes)" test "$box_rc" = 0 -a "$box_count" = 0 -a -f "$wpf/new/c.txt"
  check "the temporary folder holds nothing the setups wrote: $(temp_news "$tempBefore" | head -3 | tr '\n' ' ')" \
    test -z "$(temp_news "$tempBefore")"
  ukey="HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$name"
  check "the uninstall entry names 2.0" test "$(reg_value "$ukey" DisplayName)" = "${name}2.0"
  check "a value of 1.0 alone is there" test "$(reg_value "$key\\V1\\Deep" x)" = 1.0
  printf 'mine\r\n' >"$wpf/mine.txt"
  wine_run "C:\\Program Files\\$name\\UnIns.exe" /S >/dev/null 2>&1
  wine_wait
  check "UnIns.exe /S leaves only the user's file: $(cd "$wpf" && find . | sort | tr '\n' ' ')" \
    test "$(cd "$wpf" && find . | sort | tr '\n' ' ')" = ". ./mine.txt "
  check_not "no key of either version is left" reg_key_exists "$key"
  check_not "no uninstall entry is left" reg_key_exists "$ukey"

  echo "-- a 2.0 installation that fails"
  rm -rf "$wpf"
  run_boxed "$work/w" setup-1.0.exe x
  before="$(files_of "$wpf")"
  log1="$(md5sum <"$wpf/UnLog.txt")"
  mkdir -p "$wpf/new/c.txt"
  run_boxed "$work/w" setup-2.0.exe x
  check "it fails with one box that says it was undone (exit $box_rc, $box_count boxes)" \
    test "$box_rc" = $((1603 & 255)) -a "$box_count" = 1 -a -n "$(grep '安装向导已撤销本次安装' "$work/setup-2.0.exe.boxes")"
  rmdir "$wpf/new/c.txt"
  check "1.0 is installed: its files, nothing of 2.0's own, its log as it was" \
    test "$(files_of "$wpf")" = "$before" -a "$(md5sum <"$wpf/UnLog.txt")" = "$log1" -a "$(cat "$wpf/doc/b.txt")" = $'1.0 b.txt\r'
  check "the uninstall entry names 1.0" test "$(reg_value "$ukey" DisplayName)" = "${name}1.0"
  check "the temporary folder holds nothing the setups wrote" test -z "$(temp_news "$tempBefore")"
  wine_run "C:\\Program Files\\$name\\UnIns.exe" /S >/dev/null 2>&1
  wine_wait
  check "1.0 uninstalls" test ! -e "$wpf/doc/b.txt" -a ! -e "$wpf/main.exe"
  check_not "with its keys" reg_key_exists "$key"
fi

echo "upgrade: $failures failure(s)"
[ "$failures" = 0 ]
