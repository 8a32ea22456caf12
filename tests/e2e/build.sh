#!/usr/bin/env bash
# 'gbsetup build' end to end: a project made with the editing commands from the example's
# files, built over stand-in stubs with one and with two threads (byte-identical), listed,
# installed into the sandbox; a missing source, a missing stub and a bad level fail with
# exit code 1 and a message. With the real stubs of GBSETUP_WIN_ARCH's cross-build (i686 or
# x86_64) the icon is replaced too and checked with wrestool.
# e2e-arch: each
set -euo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
source tests/e2e/lib/windows.sh
build="${GBSETUP_BUILD:-build}"
g="$repo/$build/gbsetup"
[ -x "$g" ] || { echo "build: $g not built" >&2; exit 1; }

work="$(mktemp -d /tmp/e2e-build.XXXXXX)"
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
fail() { echo "build: FAIL: $*" >&2; exit 1; }
cd "$work"
cp -r "$repo/data" data
mkdir -p data/Exe
printf 'MZ setup stand-in' >data/Exe/Setup.exe
printf 'MZ uninstaller stand-in' >data/Exe/UnIns.exe
cp -r "$repo/examples/hello/app" app
gd() { "$g" --data "$work/data" "$@"; }

gd new p.gbp >/dev/null
gd set p.gbp 项目名称 Hello >/dev/null
gd set p.gbp 版本号 1.0 >/dev/null
gd add-folder p.gbp app --to "Program Files" >/dev/null
gd page p.gbp 安装完毕 主程序 app/hello.ini >/dev/null
gd page p.gbp 软件使用说明 说明协议 app/readme.txt >/dev/null
gd page p.gbp 选择安装文件夹 程序文件夹名称 Hello >/dev/null
gd add-registry p.gbp 'HKEY_CURRENT_USER\Software\Hello' Path '安装目录\工程名称' >/dev/null
gd add-shortcut p.gbp 桌面 Hello app/hello.ini >/dev/null

# Two builds, one and two threads: the same bytes. Plain progress lines when piped.
gd build p.gbp --output out1 --jobs 1 >build1.txt
# The second output folder ends in 碶, whose GBK trail byte is 0x5C.
gd build p.gbp --output out2碶 --jobs 2 >build2.txt
cmp -s out1/Hello.exe out2碶/Hello.exe || fail "builds differ: $(ls -d out2* | tr '\n' ' ')"
grep -qxF "1/10 Z:${work//\//\\}\\p.gbp" build1.txt || fail "progress lines: $(cat build1.txt)"
grep -qx "$work/out1/Hello.exe" build1.txt || fail "result path: $(cat build1.txt)"
grep -q "^$(stat -c %s out1/Hello.exe) bytes" build1.txt || fail "result size: $(cat build1.txt)"
[ "$(head -c 17 out1/Hello.exe)" = "MZ setup stand-in" ] || fail "the stub does not open the setup"
[ ! -e UnIns.exe ] || fail "the uninstaller copy was left beside the project"
kinds="$(gd list out1/Hello.exe | cut -f2 | tr '\n' ' ')"
[ "$kinds" = "0 0 2 2 2 2 5 5 5 6 " ] || fail "entry kinds: $kinds"
# The text block names the program, nothing that changes from run to run, then the checksum.
[ "$(tail -c 45 out1/Hello.exe | head -c 29 | tr '\r\n' '  ')" = "gbsetup 0.1.0  gbsetup-crc32:" ] || fail "text block"
[ "$(gd verify out1/Hello.exe)" = ok ] || fail "verify: $(gd verify out1/Hello.exe)"

# Installed into the sandbox: the files, the registry value and the log.
gd install out1/Hello.exe --root root >install.txt || fail "install: $(cat install.txt)"
pf="root/drive_c/Program Files/Hello"
for f in app/hello.ini app/readme.txt app/licence.txt app/doc/guide.txt; do
  cmp -s "$pf/$f" "$f" || fail "installed $f"
done
[ -f "$pf/app/UnLog.txt" ] && [ -f "$pf/app/UnIns.exe" ] || fail "UnLog.txt and UnIns.exe beside the main program"
grep -q '"Path"="C:\\\\Program Files\\\\Hello"' root/registry.reg || fail "registry value"

# A missing source names itself; exit code 1.
mv app/licence.txt licence.moved
if gd build p.gbp --output out3 >/dev/null 2>err.txt; then fail "missing source accepted"; fi
grep -q 'Cannot open file ".*licence.txt"' err.txt || fail "missing source message: $(cat err.txt)"
mv licence.moved app/licence.txt
# A missing stub: the builder's own message.
mv data/Exe/Setup.exe stub.moved
if gd build p.gbp --output out3 >/dev/null 2>err.txt; then fail "missing stub accepted"; fi
grep -q '原始安装文件不存在!' err.txt || fail "missing stub message: $(cat err.txt)"
mv stub.moved data/Exe/Setup.exe
if gd build p.gbp --level 4 >/dev/null 2>err.txt; then fail "level 4 accepted"; fi
# Level 0 stores: larger than the default level.
gd build p.gbp --output out0 --level 0 >/dev/null
[ "$(stat -c %s out0/Hello.exe)" -gt "$(stat -c %s out1/Hello.exe)" ] || fail "level 0 not stored"

# With the real stubs: the project's icon in the built setup.
win_need "$win_stubs/Setup.exe" "$win_stubs/UnIns.exe"
if command -v wrestool >/dev/null; then
  mkdir -p data/Exe/x64
  cp "$win_stubs/Setup.exe" "$win_stubs/UnIns.exe" "data/Exe/${win_stubs#$win_data/Exe}"
  gd set p.gbp 安装程序图标 "$repo/examples/hello/hello.ico" >/dev/null
  gd set p.gbp 卸载程序图标 "$repo/examples/hello/hello.ico" >/dev/null
  gd build p.gbp --output out4 --arch "$win_setup_arch" >/dev/null
  wrestool -l out4/Hello.exe | grep -q "type=14 --name='MAINICON' --language=1033" || fail "icon group: $(wrestool -l out4/Hello.exe)"
  [ "$(wrestool -l out4/Hello.exe | grep -c 'type=3 ')" = 3 ] || fail "icon images: $(wrestool -l out4/Hello.exe)"
  [ "$(gd list out4/Hello.exe | wc -l)" = 10 ] || fail "package after the icon"
  [ "$(pe_kind out4/Hello.exe)" = "$win_pe_kind" ] || fail "not a $win_pe_kind image: $(pe_kind out4/Hello.exe)"
  echo "build: ok (with icons, $win_arch stubs)"
else
  fail "wrestool is missing (scripts/install-deps.sh)"
fi
