#!/usr/bin/env bash
# A failed installation is rolled back, with real faults: a disk that fills up half-way (a
# small tmpfs, as the sandbox root and as a Wine drive) and a target file another process holds
# open without sharing. Afterwards nothing of the application is left, no uninstall entry, no
# Run value, and what was there before is untouched; the one error box names the file.
#   tests/e2e/rollback.sh   (after scripts/build.sh; mounting needs root, else those parts are skipped;
#   GBSETUP_WIN_ARCH=i686|x86_64 picks the stubs; the runs under Wine only where that architecture runs)
# e2e-arch: each
set -uo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
source tests/e2e/lib/checks.sh
source tests/e2e/lib/windows.sh
data="$win_data"
win_need "$gbsetup" "$win_stubs/Setup.exe" "$win_stubs/UnIns.exe"

work="$(mktemp -d /tmp/gbsetup-rollback.XXXXXX)"
mounts=()
cleanup() {
  wine_cleanup
  for m in "${mounts[@]}"; do umount "$m" 2>/dev/null; done
  rm -rf "$work" 2>/dev/null
}
trap cleanup EXIT
echo "rollback: $win_arch stubs"
# small_disk DIR: a 2 MiB tmpfs at DIR; false (with a message) where mounting is not allowed.
small_disk() {
  mkdir -p "$1"
  if mount -t tmpfs -o size=2m tmpfs "$1" 2>"$work/mount.err"; then
    mounts+=("$1")
    return 0
  fi
  echo "  skip a disk that fills up: cannot mount a tmpfs here ($(head -1 "$work/mount.err"))"
  return 1
}

echo "== building the test setups"
name="回滚测试"
mkdir -p "$work/app"
printf 'MZ hello\r\n' >"$work/app/a_hello.exe"  # main program, started with Windows
head -c 3000000 /dev/urandom >"$work/app/big.bin"  # more than the small disk holds
printf 'last\r\n' >"$work/app/zz_last.dll"
(
  set -e
  cd "$work"
  "$gbsetup" new p.gbp
  "$gbsetup" set p.gbp 项目名称 "$name"
  "$gbsetup" set p.gbp 安装界面显示 否
  "$gbsetup" add-folder p.gbp app --to "Program Files"
  "$gbsetup" page p.gbp 安装完毕 主程序 app/a_hello.exe
  "$gbsetup" add-registry p.gbp 'HKEY_LOCAL_MACHINE\SOFTWARE\GbRollback' Path '安装目录\工程名称'
  "$gbsetup" add-registry p.gbp 'HKEY_LOCAL_MACHINE\SOFTWARE\GbRollback\New' Count 1 --type dword
  "$gbsetup" export p.gbp >p.json
  python3 - p.json <<'EOF'
import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
for f in d["files"]:
    if f["FileName"] == "a_hello.exe":
        f["AutoRun"] = 1
json.dump(d, open(sys.argv[1], "w", encoding="utf-8"), ensure_ascii=False)
EOF
  "$gbsetup" import p.json -o p.gbp
  "$gbsetup" page p.gbp 选择安装文件夹 程序文件夹名称 "$name"
  "$gbsetup" --data "$data" build --arch "$win_setup_arch" p.gbp --output out-c
  "$gbsetup" page p.gbp 选择安装文件夹 程序文件夹名称 'D:\App'
  "$gbsetup" --data "$data" build --arch "$win_setup_arch" p.gbp --output out-d
) >"$work/build.log" 2>&1 || { cat "$work/build.log"; echo "rollback: building the setups failed" >&2; exit 1; }
mkdir -p "$work/w"
cp "$work/out-c/$name.exe" "$work/w/setupc.exe"
cp "$work/out-d/$name.exe" "$work/w/setupd.exe"

echo "== the sandbox, its root on a small disk"
if small_disk "$work/sandbox"; then
  root="$work/sandbox"
  mkdir -p "$root/drive_c/App"
  printf 'mine\r\n' >"$root/drive_c/App/user.txt"
  "$gbsetup" install "$work/w/setupd.exe" --windows "$win_sandbox_windows" --root "$root" --dir 'C:\App' >"$work/sandbox.out" 2>"$work/sandbox.err"
  rc=$?
  check "gbsetup install exits 1603, failed and undone (status $rc)" test "$rc" = $((1603 & 255))
  check "and prints that code" grep -qx 'exit code: 1603' "$work/sandbox.out"
  check "its message names the file and the reason: $(head -c 160 "$work/sandbox.err")" \
    grep -q 'Cannot write to file "C:\\App\\app\\big.bin". No space left on device' "$work/sandbox.err"
  check "and says the run was undone" grep -q '安装向导已撤销本次安装所做的全部更改' "$work/sandbox.err"
  check "only the file that was there before is left in C:\\App" test "$(cd "$root/drive_c/App" && find . | sort | tr '\n' ' ')" = ". ./user.txt "
  check "that file is untouched" test "$(cat "$root/drive_c/App/user.txt")" = $'mine\r'
  check_not "no uninstall entry" grep -qa 'Uninstall\\' "$root/registry.reg"
  check_not "no Run value" grep -qa 'a_hello.exe' "$root/registry.reg"
  check "no install log" test -z "$(find "$root" -name UnLog.txt)"
fi

echo "== Wine"
if ! wine_runs; then
  wine_not_run "the rollbacks under Wine"
else
  wine_start
  wine_display 250 299
  source "$repo/tests/e2e/lib/boxes.sh"
  run='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run'
  ukey="HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$name"

  echo "-- drive D: on a small disk"
  if small_disk "$work/d"; then
    ln -s "$work/d" "$WINEPREFIX/dosdevices/d:"
    mkdir -p "$work/d/App"
    printf 'mine\r\n' >"$work/d/App/user.txt"
    run_boxed "$work/w" setupd.exe x
    text="$(cat "$work/setupd.exe.boxes")"
    check "exit code 1603, failed and undone (got $box_rc: 1603 & 255)" test "$box_rc" = $((1603 & 255))
    check "one box ($box_count)" test "$box_count" = 1
    check "the box names the file and the reason: ${text:0:160}" \
      grep -q 'Cannot write to file "D:\\App\\app\\big.bin". 磁盘' "$work/setupd.exe.boxes"
    check "and says the run was undone" grep -q '安装向导已撤销本次安装所做的全部更改' "$work/setupd.exe.boxes"
    check "only the file that was there before is left on D:" test "$(cd "$work/d" && find . | sort | tr '\n' ' ')" = ". ./App ./App/user.txt "
    check "that file is untouched" test "$(cat "$work/d/App/user.txt")" = $'mine\r'
    check_not "no uninstall entry" reg_key_exists "$ukey"
    check_not "no Run value" reg_value "$run" a_hello.exe
  fi

  echo "-- the uninstaller's place held open by another program"
  # A value that was there before the run, which the run overwrites.
  wine_run reg add 'HKLM\SOFTWARE\GbRollback' /v Path /d 'before' /f >/dev/null 2>&1
  inst="$drive/Program Files/$name/app"
  mkdir -p "$inst"
  printf 'old uninstaller\r\n' >"$inst/UnIns.exe"
  cat >"$work/hold.c" <<'EOF'
  /* hold FILE READY STOP: keeps FILE open without sharing until STOP exists. */
  #include <windows.h>
  int main(int argc, char **argv) {
    HANDLE h, r;
    int i;
    if (argc != 4) return 2;
    h = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE) return 3;
    r = CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    CloseHandle(r);
    for (i = 0; i < 1800 && GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
    CloseHandle(h);
    return 0;
  }
EOF
  "$win_tools-gcc" -O2 -s -o "$work/w/hold.exe" "$work/hold.c" || fail "building the holder"
  listing() { (cd "$drive/Program Files/$name" && find . -type f -exec md5sum {} + | sort; find . | sort); }
  before="$(listing)"
  wine_run "$work/w/hold.exe" "C:\\Program Files\\$name\\app\\UnIns.exe" 'C:\held.flag' 'C:\stop.flag' >/dev/null 2>&1 &
  holder=$!
  for _ in $(seq 1 150); do [ -e "$drive/held.flag" ] && break; sleep 0.2; done
  check "the holder has the file open" test -e "$drive/held.flag"
  run_boxed "$work/w" setupc.exe x
  touch "$drive/stop.flag"
  wait "$holder"
  text="$(cat "$work/setupc.exe.boxes")"
  check "exit code 1603, failed and undone (got $box_rc: 1603 & 255)" test "$box_rc" = $((1603 & 255))
  check "one box ($box_count)" test "$box_count" = 1
  check "the box names the held file: ${text:0:160}" grep -qF "Cannot create file \"C:\\Program Files\\$name\\app\\UnIns.exe\"" "$work/setupc.exe.boxes"
  check "and says the run was undone" grep -q '安装向导已撤销本次安装所做的全部更改' "$work/setupc.exe.boxes"
  check "the program folder as it was before (files and contents)" test "$(listing)" = "$before"
  check "the overwritten registry value has its old data back" test "$(reg_value 'HKLM\SOFTWARE\GbRollback' Path)" = before
  check_not "the key the run made is gone" reg_key_exists 'HKLM\SOFTWARE\GbRollback\New'
  check_not "no uninstall entry" reg_key_exists "$ukey"
  check_not "no Run value" reg_value "$run" a_hello.exe
fi

if [ "$failures" -gt 0 ]; then
  echo "rollback: $failures check(s) failed"
  exit 1
fi
echo "rollback: all checks passed"
