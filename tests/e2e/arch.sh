#!/usr/bin/env bash
# 32-bit and 64-bit setups of the example: gbsetup build --arch (or the JSON's "arch"), what
# list and verify say of them, icons, version details and a signature on both kinds, the
# error of a data folder without the 64-bit stubs; the sandbox as 64-bit Windows, where the
# x86 setup is redirected (Program Files (x86), WOW6432Node) and the x64 one is not, and the
# uninstalls remove both. Under 64-bit Wine the setup of GBSETUP_WIN_ARCH's kind, its wizard
# walked to Finish, lands where 64-bit Windows puts it, links included, and UnIns.exe /S
# removes it all but a file the user added.
#   tests/e2e/arch.sh   (after scripts/build.sh; the run under Wine only where it runs)
# e2e-arch: each
set -uo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
source tests/e2e/lib/checks.sh
source tests/e2e/lib/windows.sh
data="$repo/build/data"
win_need "$gbsetup" "$data/Exe/Setup.exe" "$data/Exe/UnIns.exe" "$data/Exe/x64/Setup.exe" "$data/Exe/x64/UnIns.exe"

win_workdir "/tmp/gbsetup-arch.XXXXXX"
echo "arch: $win_arch"
G() { "$gbsetup" --data "$data" "$@"; }
json="$(bash scripts/make-example.sh "$work" "$win_build" | tail -1)"
name="Hello 示例"

echo "== gbsetup build --arch"
G build "$json" --output "$work/x86" >"$work/b86.txt" 2>&1
G build "$json" --output "$work/x64" --arch x64 >"$work/b64.txt" 2>&1
x86="$work/x86/$name.exe" x64="$work/x64/$name.exe"
check "the default is a 32-bit setup: $(tail -1 "$work/b86.txt")" grep -q ', x86 setup$' "$work/b86.txt"
check "--arch x64 a 64-bit one: $(tail -1 "$work/b64.txt")" grep -q ', x64 setup$' "$work/b64.txt"
check "the x86 setup is a PE32 image (pefile)" test "$(pe_kind "$x86")" = PE32
check "the x64 setup is a PE32+ image (pefile)" test "$(pe_kind "$x64")" = PE32+
"$gbsetup" list "$x64" >"$work/list.txt" 2>"$work/list.err"
check "list names the architecture: $(cat "$work/list.err")" test "$(cat "$work/list.err")" = "x64 setup (PE32+)"
check "and lists the x64 uninstaller last" test "$(tail -1 "$work/list.txt" | cut -f2)" = 6
v="$("$gbsetup" verify "$x86" 2>"$work/verify.err")"
check "verify: '$v', and the architecture: $(cat "$work/verify.err")" test "$v" = ok -a "$(cat "$work/verify.err")" = "x86 setup (PE32)"
"$gbsetup" extract "$x64" -o "$work/x" >/dev/null 2>&1
check "the x64 setup packs the x64 uninstaller" cmp -s "$(find "$work/x" -name UnIns.exe | head -1)" "$data/Exe/x64/UnIns.exe"
check "the project's icon in the x64 setup (wrestool)" test "$(wrestool -l --type=3 "$x64" | grep -c 'language=1033')" = 3
check "its version details (pefile)" /usr/bin/python3 -c '
import sys, pefile
pe = pefile.PE(sys.argv[1])
s = {k.decode(): v.decode() for i in pe.FileInfo[0] if i.Key == b"StringFileInfo" for t in i.StringTable for k, v in t.entries.items()}
sys.exit(0 if s.get("ProductName") == sys.argv[2] and s.get("FileVersion") == "1.0" else 1)' "$x64" "$name"
# The JSON may say it; the option wins; a wrong value names its place and writes nothing.
python3 - "$json" <<'EOF'
import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
d["arch"] = "x64"
json.dump(d, open(sys.argv[1], "w", encoding="utf-8"), ensure_ascii=False)
EOF
G build "$json" --output "$work/j64" >/dev/null 2>&1
check "\"arch\": \"x64\" in the JSON builds a 64-bit setup" test "$(pe_kind "$work/j64/$name.exe")" = PE32+
G build "$json" --output "$work/j86" --arch x86 >/dev/null 2>&1
check "--arch x86 wins over it" test "$(pe_kind "$work/j86/$name.exe")" = PE32
sed -i 's/"arch": "x64"/"arch": "arm"/' "$json"
G build "$json" --output "$work/bad" >/dev/null 2>"$work/bad.err"
check "\"arch\": \"arm\" is refused by its place: $(cat "$work/bad.err")" grep -q 'arch: expected "x86" or "x64"' "$work/bad.err"
check "and nothing is written" test ! -e "$work/bad"
sed -i 's/"arch": "arm"/"arch": "x86"/' "$json"
check "the schema takes \"arch\"" /usr/bin/python3 -m jsonschema -i "$json" docs/project.schema.json
# A data folder without the 64-bit stubs.
cp -r "$data" "$work/data32"
rm -rf "$work/data32/Exe/x64"
"$gbsetup" --data "$work/data32" build "$json" --output "$work/none" --arch x64 >/dev/null 2>"$work/none.err"
rc=$?
check "no x64 stubs: exit 1, naming the file: $(tr '\n' ' ' <"$work/none.err")" \
  test "$rc" = 1 -a -n "$(grep -F 'Exe\x64\Setup.exe' "$work/none.err")"
check "and nothing is written" test -z "$(ls -A "$work/none" 2>/dev/null)"
# Signed, as the 32-bit one is.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=arch e2e" -addext "extendedKeyUsage=codeSigning" \
  -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
G build "$json" --output "$work/s64" --arch x64 \
  --sign "osslsigncode sign -certs '$work/cert.pem' -key '$work/key.pem' -h sha256 -in {} -out {}.signed && mv {}.signed {}" \
  >/dev/null 2>&1
verify_sig() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$work/verify.log" 2>&1; }
check "a signed x64 setup verifies (osslsigncode)" verify_sig "$work/s64/$name.exe"

echo "== the sandbox as 64-bit Windows"
root="$work/sandbox64"
reg() { iconv -f GBK -t UTF-8 "$root/registry.reg"; }
"$gbsetup" install "$x86" --root "$root" --windows 64 --finish desktop,startmenu >"$work/i86.txt" 2>&1
check "x86 setup: says it is redirected" grep -q '^setup: x86 (32-bit), on 64-bit Windows: redirected' "$work/i86.txt"
check "its files in Program Files (x86)" test -f "$root/drive_c/Program Files (x86)/$name/Hello.exe"
check "its values in WOW6432Node" grep -qF "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\$name]" <(reg)
check "its uninstall entry where 32-bit programs' are" \
  grep -qF "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$name]" <(reg)
check "its links" test -f "$root/drive_c/Users/User/Desktop/$name.lnk"
"$gbsetup" install "$x64" --root "$root" --finish none >"$work/i64.txt" 2>&1
check "x64 setup: not redirected" grep -q '^setup: x64, on 64-bit Windows' "$work/i64.txt"
check "its files in Program Files" test -f "$root/drive_c/Program Files/$name/Hello.exe"
check "its values in the 64-bit view" grep -qF "[HKEY_LOCAL_MACHINE\\SOFTWARE\\$name]" <(reg)
check "its uninstall entry where 64-bit programs' are" \
  grep -qF "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$name]" <(reg)
printf 'mine\r\n' >"$root/drive_c/Program Files/$name/mine.txt"
"$gbsetup" uninstall --root "$root" --silent "C:\\Program Files (x86)\\$name\\UnLog.txt" >/dev/null 2>&1
check "the x86 uninstall removes its files" test ! -e "$root/drive_c/Program Files (x86)/$name"
check "and its links" test ! -e "$root/drive_c/Users/User/Desktop/$name.lnk"
check "and leaves the x64 installation alone" test -f "$root/drive_c/Program Files/$name/Hello.exe"
"$gbsetup" uninstall --root "$root" --silent "C:\\Program Files\\$name\\UnLog.txt" >/dev/null 2>&1
check "the x64 uninstall removes all but the user's file" \
  test "$(cd "$root/drive_c/Program Files/$name" && find . | sort | tr '\n' ' ')" = ". ./mine.txt "
check_not "no key of either is left" grep -qF "$name" <(reg)
"$gbsetup" install "$x64" --root "$work/sandbox32" >"$work/i32.txt" 2>&1
rc=$?
check "on 32-bit Windows an x64 setup is refused (exit $rc): $(cat "$work/i32.txt")" \
  test "$rc" = 1 -a -n "$(grep 'does not start on 32-bit Windows' "$work/i32.txt")"

echo "== under 64-bit Wine"
if ! wine_runs; then
  wine_not_run "the $win_setup_arch setup in a 64-bit prefix"
else
  # The setup of this architecture on 64-bit Windows: a 32-bit one as WoW64 runs it.
  export GBSETUP_WINE_MACHINE=win64
  wine_start
  wine_display 210 249
  dump_exe="$win_build/tests/e2e/tools/windump.exe"
  source tests/e2e/lib/screen.sh
  # The wizard from its welcome page straight to the installation and Finish; the finish
  # makes the links, and starts nothing.
  G build "$json" --output "$work/w" --arch "$win_setup_arch" \
    --page 安装完毕/显示运行主程序选项=否 --page 安装完毕/自述文件= \
    $(for p in 安装协议说明 软件使用说明 选择程序文件夹 选择安装组件 选择安装文件夹 确认安装; do printf -- '--page %s/页面显示=否 ' "$p"; done) \
    >"$work/w.txt" 2>&1 || { cat "$work/w.txt"; fail "building the walked setup"; }
  ( cd "$work/w" && wine_run "$name.exe" x ) >/dev/null 2>&1 &
  setup_pid=$!
  check "the wizard appears" wait_for TFrm_Setup "$name" 60
  next_page
  finish_setup "$setup_pid" "the setup"
  if [ "$win_setup_arch" = x64 ]; then pf="Program Files" key="HKLM\\SOFTWARE\\$name"; else pf="Program Files (x86)" key="HKLM\\SOFTWARE\\WOW6432Node\\$name"; fi
  inst="$drive/$pf/$name"
  check "files in C:\\$pf" test -f "$inst/Hello.exe" -a -f "$inst/UnLog.txt"
  check "the value where the 64-bit reg query reads it ($key)" test "$(reg_value "$key" InstallDir)" = "C:\\$pf\\$name"
  ukey="HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$name"
  [ "$win_setup_arch" = x86 ] && ukey="HKLM\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$name"
  check "the uninstall entry ($ukey)" test "$(reg_value "$ukey" DisplayName)" = "${name}1.0"
  links="$(find "$drive/users" -name '*.lnk' 2>/dev/null)"
  check "the desktop link" grep -qF "/Desktop/$name.lnk" <<<"$links"
  check "the start-menu link" grep -qF "/Programs/$name/$name.lnk" <<<"$links"
  printf 'mine\r\n' >"$inst/mine.txt"
  wine_run "C:\\$pf\\$name\\UnIns.exe" /S >/dev/null 2>&1
  wine_wait
  check "UnIns.exe /S removes all but the user's file" test "$(cd "$inst" && find . | sort | tr '\n' ' ')" = ". ./mine.txt "
  check "and the links" test -z "$(find "$drive/users" -name "$name.lnk" 2>/dev/null)"
  check_not "and the values" reg_key_exists "$key"
  check_not "and the uninstall entry" reg_key_exists "$ukey"
fi

echo "arch: $failures failure(s)"
[ "$failures" = 0 ]
