#!/usr/bin/env bash
# Signed setups: a self-signed code-signing certificate made with openssl, a silent project
# built with 'gbsetup build --sign' running osslsigncode, then: the signature verifies, the
# builder still reads the package (list, install --root, verify where it exists), the version
# resource holds the project's values (read with pefile), the setup installs under Wine and
# the installed UnIns.exe carries a valid signature too; one changed package byte breaks the
# signature (and gbsetup verify); a failing signing command leaves nothing in the output
# folder; GBSETUP_SIGN signs without the option, --sign "" does not.
#   tests/e2e/sign.sh   (after scripts/build.sh; GBSETUP_WIN_ARCH=i686|x86_64 picks the stubs;
#   the run under Wine only where that architecture runs)
# e2e-arch: each
set -uo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
source tests/e2e/lib/checks.sh
source tests/e2e/lib/windows.sh
data="$win_data"
win_need "$gbsetup" "$win_stubs/Setup.exe" "$win_stubs/UnIns.exe"
for t in openssl osslsigncode; do
  command -v "$t" >/dev/null || { echo "sign: $t is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

win_workdir /tmp/gbsetup-sign.XXXXXX
unset GBSETUP_SIGN
echo "sign: $win_arch stubs"

echo "== a code-signing certificate"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=gbsetup e2e signer" \
  -addext "keyUsage=digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1 || { echo "sign: openssl failed" >&2; exit 1; }
verify_sig() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$work/verify.log" 2>&1; }
# osslsigncode writes a new file; the signing command leaves the signed file in place.
sign_cmd="osslsigncode sign -certs '$work/cert.pem' -key '$work/key.pem' -h sha256 -n 签名测试 -in {} -out {}.signed && mv {}.signed {}"

echo "== building a signed setup"
name="签名测试"
mkdir -p "$work/app"
printf 'MZ signed hello\r\n' > "$work/app/hello.exe"
(
  set -e
  cd "$work"
  "$gbsetup" new p.gbp
  "$gbsetup" set p.gbp 项目名称 "$name"
  "$gbsetup" set p.gbp 版本号 3.4.5
  "$gbsetup" set p.gbp 作者名称 签名作者
  "$gbsetup" set p.gbp 安装界面显示 否
  "$gbsetup" add-folder p.gbp app --to "Program Files"
  "$gbsetup" page p.gbp 安装完毕 主程序 app/hello.exe
  "$gbsetup" page p.gbp 选择安装文件夹 程序文件夹名称 "$name"
) >"$work/setup.log" 2>&1 || { cat "$work/setup.log"; echo "sign: making the project failed" >&2; exit 1; }
( cd "$work" && "$gbsetup" --data "$data" build --arch "$win_setup_arch" p.gbp --output out --sign "$sign_cmd" ) >"$work/build.log" 2>&1
rc=$?
check "build --sign exits 0 (got $rc)" test "$rc" = 0
setup="$work/out/$name.exe"
check "the build says it signed the uninstaller and the setup" \
  test "$(grep -c '^signed ' "$work/build.log")" = 2
check "osslsigncode verifies the setup" verify_sig "$setup"
check "the setup is a $win_pe_kind image (pefile: $(pe_kind "$setup"))" test "$(pe_kind "$setup")" = "$win_pe_kind"
check "no signing leftovers in the output folder" test "$(ls -A "$work/out")" = "$name.exe"

echo "== the builder reads the signed setup"
"$gbsetup" list "$setup" >"$work/list.txt" 2>"$work/list.err"
check "gbsetup list reads it" grep -q 'hello.exe$' "$work/list.txt"
check "gbsetup list: the uninstaller is the last entry" test "$(tail -1 "$work/list.txt" | cut -f2)" = 6
"$gbsetup" install "$setup" --windows "$win_sandbox_windows" --root "$work/sandbox" >"$work/install.log" 2>&1
check "gbsetup install --root installs it" cmp -s "$work/app/hello.exe" "$work/sandbox/drive_c/Program Files/$name/app/hello.exe"
has_verify=0
if "$gbsetup" --help 2>/dev/null | grep -qE '^\s*verify\b'; then has_verify=1; fi
if [ "$has_verify" = 1 ]; then
  check "gbsetup verify accepts it" "$gbsetup" verify "$setup"
fi
mkdir -p "$work/unins"
"$gbsetup" extract "$setup" -o "$work/unins" >/dev/null 2>&1
packed_unins="$(find "$work/unins" -name UnIns.exe | head -1)"
check "the packed UnIns.exe verifies" verify_sig "$packed_unins"

echo "== version details (pefile)"
/usr/bin/python3 - "$setup" "$name" >"$work/version.log" 2>&1 <<'PY'
import sys
import pefile
pe = pefile.PE(sys.argv[1])
strings = {}
for info in pe.FileInfo[0]:
    if info.Key == b"StringFileInfo":
        for table in info.StringTable:
            assert table.LangID == b"080404b0", table.LangID
            strings = {k.decode(): v.decode() for k, v in table.entries.items()}
name = sys.argv[2]
want = {"ProductName": name, "CompanyName": "签名作者", "FileDescription": name + " 安装程序",
        "ProductVersion": "3.4.5", "FileVersion": "3.4.5", "OriginalFilename": name + ".exe"}
assert strings == want, strings
fixed = pe.VS_FIXEDFILEINFO[0]
assert (fixed.FileVersionMS, fixed.FileVersionLS) == (3 << 16 | 4, 5 << 16), (hex(fixed.FileVersionMS), hex(fixed.FileVersionLS))
assert (fixed.ProductVersionMS, fixed.ProductVersionLS) == (3 << 16 | 4, 5 << 16)
# The resource is in the stub's language, and there is only one.
versions = [l.id for e in pe.DIRECTORY_ENTRY_RESOURCE.entries if e.id == 16
            for n in e.directory.entries for l in n.directory.entries]
assert versions == [2052], versions
PY
py_rc=$?
check "the version resource holds the project's values" test "$py_rc" = 0
[ "$py_rc" = 0 ] || cat "$work/version.log"
# wrestool, a second reader, finds the same single version resource.
check "wrestool lists one version resource" \
  test "$(wrestool -l "$setup" 2>/dev/null | grep -c -- '--type=16 --name=1 --language=2052')" = 1

echo "== the signed setup under Wine"
if wine_runs; then
  wine_start
  wine_display 300 349
  cp "$setup" "$work/Setup.exe"
  ( cd "$work" && wine_run Setup.exe x ) >/dev/null 2>&1
  rc=$?
  wine_wait
  check "the signed setup exits 0 (got $rc)" test "$rc" = 0
  inst="$drive/Program Files/$name/app"
  check "hello.exe installed byte for byte" cmp -s "$work/app/hello.exe" "$inst/hello.exe"
  check "UnLog.txt written" test -f "$inst/UnLog.txt"
  check "the installed UnIns.exe carries a valid signature" verify_sig "$inst/UnIns.exe"
else
  wine_not_run "the signed setup's installation"
fi

echo "== one changed package byte"
cp "$setup" "$work/changed.exe"
# A byte of the first entry's data (column 4 of the listing is its start).
at=$(( $(head -1 "$work/list.txt" | cut -f4) + 20 ))
orig=$(od -An -tu1 -j "$at" -N1 "$work/changed.exe" | tr -d ' ')
printf "$(printf '\\%03o' $(( orig ^ 0x55 )))" | dd of="$work/changed.exe" bs=1 seek="$at" conv=notrunc 2>/dev/null
check_not "osslsigncode verify refuses it" verify_sig "$work/changed.exe"
if [ "$has_verify" = 1 ]; then
  check_not "gbsetup verify refuses it" "$gbsetup" verify "$work/changed.exe"
fi

echo "== a signing command that fails"
rm -rf "$work/out"
( cd "$work" && "$gbsetup" --data "$data" build --arch "$win_setup_arch" p.gbp --output out --sign 'echo "no key here" >&2; exit 3' ) \
  >"$work/fail.out" 2>"$work/fail.err"
rc=$?
check "the build exits with the command's code 3 (got $rc)" test "$rc" = 3
check "the command's output is shown" grep -q 'no key here' "$work/fail.err"
check "nothing is left in the output folder" test -z "$(ls -A "$work/out" 2>/dev/null)"
check "the uninstaller copy is gone" test ! -e "$work/UnIns.exe"
# The same when only the second signing (the finished setup) fails.
rm -rf "$work/out"
( cd "$work" && "$gbsetup" --data "$data" build --arch "$win_setup_arch" p.gbp --output out \
    --sign "case {} in *UnIns.exe) $sign_cmd ;; *) exit 5 ;; esac" ) >/dev/null 2>&1
rc=$?
check "failing on the setup: exit code 5 (got $rc), nothing left" test "$rc" = 5 -a -z "$(ls -A "$work/out" 2>/dev/null)"

echo "== the signing command from the environment"
rm -rf "$work/out"
( cd "$work" && GBSETUP_SIGN="$sign_cmd" "$gbsetup" --data "$data" build --arch "$win_setup_arch" p.gbp --output out ) >/dev/null 2>&1
check "GBSETUP_SIGN signs the setup" verify_sig "$setup"
( cd "$work" && GBSETUP_SIGN="$sign_cmd" "$gbsetup" --data "$data" build --arch "$win_setup_arch" p.gbp --output out --sign "" ) >/dev/null 2>&1
check_not "--sign \"\" builds it unsigned" verify_sig "$setup"
check "the unsigned setup still lists" "$gbsetup" list "$setup" >/dev/null

if [ "$failures" -gt 0 ]; then
  echo "sign: $failures check(s) failed"
  exit 1
fi
echo "sign: all checks passed"
