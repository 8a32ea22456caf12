#!/usr/bin/env bash
# A setup whose package passes 4 GiB: built, listed, verified, extracted and installed in the
# sandbox and, with the Setup.exe of GBSETUP_WIN_ARCH (i686 or x86_64), under Wine. Digests
# compare the files; the peak memory of every step stays that of a small setup.
#   tests/e2e/large.sh   (after scripts/build.sh; about 2 minutes and 10 GB of free disk in
#   /tmp or GBSETUP_LARGE_DIR; GBSETUP_TEST_LARGE=0 skips it)
# e2e-arch: wine
set -uo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
source tests/e2e/lib/checks.sh
source tests/e2e/lib/windows.sh
if [ "${GBSETUP_TEST_LARGE:-1}" = 0 ]; then
  echo "large: skipped (GBSETUP_TEST_LARGE=0)"
  exit 0
fi
place="${GBSETUP_LARGE_DIR:-/tmp}"
free_kib="$(df -Pk "$place" | awk 'NR == 2 { print $4 }')"
if [ "$free_kib" -lt $((10 * 1024 * 1024)) ]; then
  echo "large: skipped: $place has $((free_kib / 1024 / 1024)) GB free, the test needs 10 GB (GBSETUP_LARGE_DIR picks another place)"
  exit 0
fi
data="$win_data"
win_need "$gbsetup" "$win_stubs/Setup.exe" "$win_stubs/UnIns.exe"

win_workdir "$place/gbsetup-large.XXXXXX"
echo "large: $win_arch stubs"
started=$(date +%s)
# measured NAME OUT COMMAND...: runs it with its output in OUT, keeps its exit code in rc and
# its peak memory (KiB) in NAME.kib.
measured() {
  local name="$1" out="$2"; shift 2
  local t0=$(date +%s)
  /usr/bin/time -f %M -o "$work/$name.kib" "$@" >"$out"
  rc=$?
  echo "       $name: $(( $(date +%s) - t0 )) s, peak $(( $(tail -1 "$work/$name.kib") / 1024 )) MiB"
  return 0
}
peak() { tail -1 "$work/$1.kib"; }

echo "== a project with one file of 4 GiB + 64 MiB (sparse: cheap to make) and a few small ones"
name="大安装包"
mkdir -p "$work/app"
big=$((4 * 1024 * 1024 * 1024 + 64 * 1024 * 1024))
truncate -s "$big" "$work/app/big.bin"
printf 'the end\r\n' | dd of="$work/app/big.bin" bs=1 seek=$((big - 9)) conv=notrunc status=none
printf 'MZ hello\r\n' >"$work/app/hello.exe"
head -c 100000 /dev/urandom >"$work/app/tail.dat"  # behind 4 GiB in the package
(
  set -e
  cd "$work"
  "$gbsetup" new p.gbp
  "$gbsetup" set p.gbp 项目名称 "$name"
  "$gbsetup" set p.gbp 安装界面显示 否
  "$gbsetup" add-folder p.gbp app --to "Program Files"
  "$gbsetup" page p.gbp 安装完毕 主程序 app/hello.exe
  "$gbsetup" page p.gbp 选择安装文件夹 程序文件夹名称 "$name"
) >"$work/build.log" 2>&1 || { cat "$work/build.log"; echo "large: making the project failed" >&2; exit 1; }
sum_big="$(md5sum <"$work/app/big.bin" | cut -d' ' -f1)"
sum_tail="$(md5sum <"$work/app/tail.dat" | cut -d' ' -f1)"

echo "== build (stored chunks, so the package is as large as its files)"
measured build "$work/build.out" "$gbsetup" --data "$data" build --arch "$win_setup_arch" "$work/p.gbp" --output "$work/out" --level 0
check "build exits 0" test "$rc" = 0
setup="$work/Setup.exe"
mv "$work/out/$name.exe" "$setup"
size=$(stat -c %s "$setup")
check "the setup has $size bytes, past 2^32" test "$size" -gt 4294967296

echo "== list and verify"
"$gbsetup" list "$setup" >"$work/list.txt"
line="$(grep -F 'big.bin' "$work/list.txt")"
IFS=$'\t' read -r _ kind esize estart eend _ <<<"$line"
check "big.bin listed with its size $esize and data ending past 4 GiB ($eend)" test "$esize" = "$big" -a "$eend" -gt 4294967296
line="$(grep -F 'tail.dat' "$work/list.txt")"
IFS=$'\t' read -r _ _ _ tstart _ _ <<<"$line"
check "tail.dat's data starts past 4 GiB ($tstart)" test "$tstart" -gt 4294967296
measured verify "$work/verify.out" "$gbsetup" verify "$setup"
check "verify: $(cat "$work/verify.out"), exit $rc" test "$(cat "$work/verify.out")" = ok -a "$rc" = 0

echo "== extract"
measured extract /dev/null "$gbsetup" extract "$setup" -o "$work/x"
check "extract exits 0" test "$rc" = 0
x="$(find "$work/x" -name big.bin)"
check "big.bin extracted: same digest" test "$(md5sum <"$x" | cut -d' ' -f1)" = "$sum_big"
check "tail.dat extracted: same digest" test "$(md5sum <"$(find "$work/x" -name tail.dat)" | cut -d' ' -f1)" = "$sum_tail"
rm -rf "$work/x"

echo "== install in the sandbox"
measured sandbox "$work/sandbox.out" "$gbsetup" install "$setup" --windows "$win_sandbox_windows" --root "$work/sandbox"
check "install exits 0" test "$rc" = 0
inst="$work/sandbox/drive_c/Program Files/$name/app"
check "big.bin installed: same digest" test "$(md5sum <"$inst/big.bin" | cut -d' ' -f1)" = "$sum_big"
check "tail.dat installed: same digest" test "$(md5sum <"$inst/tail.dat" | cut -d' ' -f1)" = "$sum_tail"
check "install log written" test -f "$inst/UnLog.txt"
rm -rf "$work/sandbox"

echo "== install under Wine with the $win_arch Setup.exe"
wine_start
# A server that stays, so the peak measured is the setup program's own.
wineserver -p
measured wine /dev/null timeout 1200 "$repo/scripts/wine-run.sh" "$setup" x
check "Setup.exe exits 0 (got $rc)" test "$rc" = 0
wineserver -k
wine_wait
inst="$drive/Program Files/$name/app"
check "big.bin installed: same digest" test "$(md5sum <"$inst/big.bin" | cut -d' ' -f1)" = "$sum_big"
check "tail.dat installed: same digest" test "$(md5sum <"$inst/tail.dat" | cut -d' ' -f1)" = "$sum_tail"
check "install log written" test -f "$inst/UnLog.txt"

# Flat: no step holds more than a small part of what it moves.
for step in build verify extract sandbox wine; do
  check "peak memory of $step: $(( $(peak $step) / 1024 )) MiB, under 200 MiB" test "$(peak $step)" -lt 204800
done
echo "large: $(( $(date +%s) - started )) s"

if [ "$failures" -gt 0 ]; then
  echo "large: $failures check(s) failed"
  exit 1
fi
echo "large: all checks passed"
