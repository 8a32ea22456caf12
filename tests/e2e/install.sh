#!/usr/bin/env bash
# A project with something for every step of the installation run, built with
# 'gbsetup build' over stand-in stubs and installed with 'gbsetup install --root'.
# Checks the package's kinds, the sandbox tree, registry.reg, commands.log and UnLog.txt
# byte for byte (the log against an encoder of its own, in Python).
set -euo pipefail
cd "$(dirname "$0")/../.."
build="${GBSETUP_BUILD:-build}"
gbsetup="$(pwd)/$build/gbsetup"
[ -x "$gbsetup" ] || { echo "install: $gbsetup not built" >&2; exit 1; }
export TZ=UTC

work="$(mktemp -d /tmp/e2e-install.XXXXXX)"
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
fail() { echo "install: FAIL: $*" >&2; exit 1; }
win() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }  # host path -> program path
json() { win "$1" | sed 's/\\/\\\\/g'; }

# The data folder with stand-in stubs and one "User" component.
data="$work/data"
cp -r data "$data"
mkdir -p "$data/Exe" "$data/Imports/ucom/ucom"
printf 'MZ setup stand-in' >"$data/Exe/Setup.exe"
printf 'MZ uninstaller stand-in' >"$data/Exe/UnIns.exe"
printf '[Com]\r\nUCom=ucom\r\n[Description]\r\nUCom=user component\r\n[ComSize]\r\nUCom=9\r\n' \
  >"$data/Imports/ComList.ini"
printf '[RegistryList]\r\nRegtype=User\r\n[SysDirList]\r\nucom.dll=[System Directory]\\System32\\ucom.dll\r\n' \
  >"$data/Imports/ucom/UCom.ini"
printf 'ucom body' >"$data/Imports/ucom/ucom/ucom.dll"

# Sources.
src="$work/src"
mkdir -p "$src/grp/sub" "$work/proj" "$work/out"
printf 'main program' >"$src/main.exe"
head -c 30000 /dev/urandom >"$src/lib.dll"
printf 'system file' >"$src/sys.dll"
: >"$src/empty.txt"
printf '说明\r\n' >"$src/readme.txt"
printf 'group a' >"$src/grp/a.txt"
printf 'group b' >"$src/grp/sub/b.txt"

cat >"$work/p.json" <<JSON
{
  "settings": [
    {"Name": "项目名称", "Value": "示例程序", "Items": "", "Kind": 0},
    {"Name": "作者名称", "Value": "示例作者", "Items": "", "Kind": 0},
    {"Name": "版本号", "Value": "2.0", "Items": "", "Kind": 0},
    {"Name": "作者网址", "Value": "http://example.invalid/", "Items": "", "Kind": 0},
    {"Name": "压缩类型", "Value": "默认压缩", "Items": "不压缩,最快压缩,默认压缩,最好压缩", "Kind": 4},
    {"Name": "安装界面显示", "Value": "否", "Items": "是,否", "Kind": 4}
  ],
  "files": [
    {"FileName": "main.exe", "SourcePath": "$(json "$src/main.exe")", "TargetDir": "Program Files", "AutoRun": 1, "LogFlag": 1, "FileDate": 44259.212592592594},
    {"FileName": "lib.dll", "SourcePath": "$(json "$src/lib.dll")", "TargetDir": "Program Files\\\\bin", "SelfRegister": 1, "RegServer": 1},
    {"FileName": "empty.txt", "SourcePath": "$(json "$src/empty.txt")", "TargetDir": "Program Files\\\\bin"},
    {"FileName": "sys.dll", "SourcePath": "$(json "$src/sys.dll")", "TargetDir": "Windows\\\\System32"}
  ],
  "directories": [
    {"Name": "bin", "Path": "Program Files", "Kind": 0},
    {"Name": "System32", "Path": "Windows", "Kind": 0},
    {"Name": "示例", "Path": "HKEY_LOCAL_MACHINE\\\\Software", "Kind": 1}
  ],
  "specialFiles": [
    {"TargetDir": "C:\\\\Data\\\\示例", "Sources": ["$(json "$src/grp")"]}
  ],
  "registry": [
    {"KeyPath": "HKEY_LOCAL_MACHINE\\\\Software\\\\示例", "ValueName": "InstallDir", "ValueData": "安装目录\\\\工程名称\\\\bin", "ValueType": 0},
    {"KeyPath": "HKEY_LOCAL_MACHINE\\\\Software\\\\示例", "ValueName": "System", "ValueData": "Windows\\\\System\\\\a.dll", "ValueType": 0},
    {"KeyPath": "HKEY_LOCAL_MACHINE\\\\Software\\\\示例", "ValueName": "System32", "ValueData": "Windows\\\\System32\\\\b.dll", "ValueType": 0},
    {"KeyPath": "HKEY_CURRENT_USER\\\\Software\\\\示例", "ValueName": "Home", "ValueData": "Program Files\\\\工程名称\\\\c", "ValueType": 0},
    {"KeyPath": "HKEY_CURRENT_USER\\\\Software\\\\示例", "ValueName": "Count", "ValueData": "1F4", "ValueType": 1},
    {"KeyPath": "HKEY_CURRENT_USER\\\\Software\\\\示例", "ValueName": "Bytes", "ValueData": "0A0B0", "ValueType": 2}
  ],
  "components": ["UCom"],
  "pages": [
    {"Page": "欢迎", "Name": "标题图片", "Items": "", "Kind": 6, "Value": "$(json "$data/Image/Head.jpg")"},
    {"Page": "软件使用说明", "Name": "说明协议", "Items": "", "Kind": 2, "Value": "$(json "$src/readme.txt")"},
    {"Page": "选择安装文件夹", "Name": "程序文件夹名称", "Items": "", "Kind": 0, "Value": "示例"},
    {"Page": "安装完毕", "Name": "主程序", "Items": "", "Kind": 2, "Value": "$(json "$src/main.exe")"}
  ],
  "shortcuts": [
    {"Folder": "桌面", "Name": "示例程序", "Target": "$(json "$src/main.exe")"},
    {"Folder": "开始菜单\\\\示例", "Name": "说明", "Target": "$(json "$src/readme.txt")"}
  ]
}
JSON
"$gbsetup" import "$work/p.json" -o "$work/proj/p.gbp" >/dev/null
"$gbsetup" --data "$data" build "$work/proj/p.gbp" --output "$work/out" --jobs 2 >"$work/build.txt"
setup="$work/out/示例程序.exe"
[ -f "$setup" ] || fail "no setup built: $(cat "$work/build.txt")"

# Every kind of entry is in the package, in package order.
kinds="$("$gbsetup" list "$setup" | cut -f2 | tr '\n' ' ')"
[ "$kinds" = "0 0 2 2 2 2 4 4 3 3 5 5 6 " ] || fail "entry kinds: $kinds"

root="$work/root"
"$gbsetup" install "$setup" --root "$root" >"$work/install.txt" || fail "install: $(cat "$work/install.txt")"
grep -q '^files written: 6$' "$work/install.txt" || fail "summary: $(cat "$work/install.txt")"
grep -q '^registry values: 6 (keys created: [0-9]*)$' "$work/install.txt" || fail "summary: $(cat "$work/install.txt")"
grep -q '^commands recorded: 2$' "$work/install.txt" || fail "summary: $(cat "$work/install.txt")"

# Nothing is left in the temporary folder; the tree outside it.
c="$root/drive_c"
[ -z "$(find "$c/Temp" -mindepth 1 2>/dev/null)" ] || fail "left in the temporary folder: $(find "$c/Temp" -mindepth 1 | head -3)"
pf="$c/Program Files/示例"
got="$(cd "$c" && find . -path ./Temp -prune -o -type f -print | LC_ALL=C sort)"
# A group keeps its files' places below the folder that holds the project and its sources
# ($work), which the package stores as C:\src\.
want="$(printf '%s\n' "./Data/示例/src/src/grp/a.txt" "./Data/示例/src/src/grp/sub/b.txt" \
  "./Program Files/示例/UnIns.exe" "./Program Files/示例/UnLog.txt" "./Program Files/示例/bin/empty.txt" \
  "./Program Files/示例/bin/lib.dll" "./Program Files/示例/main.exe" "./Windows/System32/sys.dll" \
  "./Windows/System32/ucom.dll" | LC_ALL=C sort)"
[ "$got" = "$want" ] || fail "tree:\n$got\nwanted:\n$want"
cmp -s "$pf/main.exe" "$src/main.exe" || fail "main.exe differs"
cmp -s "$pf/bin/lib.dll" "$src/lib.dll" || fail "lib.dll differs"
cmp -s "$c/Windows/System32/ucom.dll" "$data/Imports/ucom/ucom/ucom.dll" || fail "ucom.dll differs"
[ "$(cat "$pf/UnIns.exe")" = "MZ uninstaller stand-in" ] || fail "UnIns.exe differs"
# The file record's date (2021-03-04 05:06:08) becomes the last-write time.
[ "$(stat -c %Y "$pf/main.exe")" = "$(date -d '2021-03-04 05:06:08' +%s)" ] || fail "main.exe time stamp"

# The uninstall entry's size: every file the run wrote (not the log written after it, nor the
# component's shared system file), in KiB rounded up; its date: the day of the run (read after
# it, and once more should midnight pass).
estimated_kib=$(( ($(cd "$c" && find . -path ./Temp -prune -o -type f ! -name UnLog.txt ! -name ucom.dll -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }') + 1023) / 1024 ))
install_day="$(date +%Y%m%d)"
grep -qa "\"InstallDate\"=\"$install_day\"" "$root/registry.reg" || install_day="$(date -d yesterday +%Y%m%d)"

# registry.reg, byte for byte (GBK, CR LF): the keys a new machine has, then the keys in the
# order they were made, parents too.
{
  printf 'REGEDIT4\r\n'
  for k in 'HKEY_LOCAL_MACHINE\SOFTWARE' 'HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft' \
    'HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows' 'HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion'; do
    printf '\r\n[%s]\r\n' "$k"
  done
  printf '\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n'
  printf '"main.exe"="C:\\\\Program Files\\\\示例\\\\main.exe"\r\n'
  printf '\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall]\r\n'
  printf '\r\n[HKEY_CURRENT_USER\\Software]\r\n'
  printf '\r\n[HKEY_CURRENT_USER\\Software\\Microsoft]\r\n'
  printf '\r\n[HKEY_LOCAL_MACHINE\\Software\\示例]\r\n'
  printf '"InstallDir"="C:\\\\Program Files\\\\示例\\\\bin"\r\n'
  printf '"System"="C:\\\\Windows\\\\System\\\\a.dll"\r\n'
  printf '"System32"="C:\\\\Windows\\\\System32\\\\b.dll"\r\n'
  printf '\r\n[HKEY_CURRENT_USER\\Software\\示例]\r\n'
  printf '"Home"="C:\\\\Program Files\\\\示例程序\\\\c"\r\n'
  printf '"Count"=dword:000001f4\r\n'
  printf '"Bytes"=hex:0a,0b,00\r\n'
  printf '\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\示例程序]\r\n'
  printf '"DisplayIcon"="C:\\\\Program Files\\\\示例\\\\UnIns.exe"\r\n'
  printf '"DisplayName"="示例程序2.0"\r\n'
  printf '"DisplayVersion"="2.0"\r\n'
  printf '"URLInfoAbout"="http://example.invalid/"\r\n'
  printf '"Publisher"="示例作者"\r\n'
  printf '"UninstallString"="\\"C:\\\\Program Files\\\\示例\\\\UnIns.exe\\""\r\n'
  printf '"QuietUninstallString"="\\"C:\\\\Program Files\\\\示例\\\\UnIns.exe\\" /S"\r\n'
  printf '"InstallLocation"="C:\\\\Program Files\\\\示例"\r\n'
  printf '"InstallDate"="%s"\r\n' "$install_day"
  printf '"EstimatedSize"=dword:%08x\r\n' "$estimated_kib"
  printf '"NoModify"=dword:00000001\r\n'
  printf '"NoRepair"=dword:00000001\r\n'
} | iconv -f UTF-8 -t GBK >"$work/want.reg"
cmp -s "$work/want.reg" "$root/registry.reg" || {
  diff <(iconv -f GBK -t UTF-8 "$work/want.reg") <(iconv -f GBK -t UTF-8 "$root/registry.reg") >&2 || true
  fail "registry.reg"
}

# commands.log: the self-registration and regsvr32 of lib.dll, nothing else; quoted, and the
# system's own regsvr32.
printf 'exec: "C:\\Program Files\\示例\\bin\\lib.dll" -Install\nexec: "C:\\Windows\\System32\\regsvr32.exe" /s "C:\\Program Files\\示例\\bin\\lib.dll"\n' \
  | iconv -f UTF-8 -t GBK >"$work/want.log"
cmp -s "$work/want.log" "$root/commands.log" || fail "commands.log: $(iconv -f GBK -t UTF-8 "$root/commands.log")"

# UnLog.txt against an encoder of its own.
python3 - "$work" "$pf/UnLog.txt" <<'PY'
import struct, sys
work, path = sys.argv[1], sys.argv[2]
pf = 'C:\\Program Files\\示例'
grp = 'C:\\Data\\示例\\src\\src\\grp'
F = '创建的文件夹'
K = '创建的注册表项'
recs = []
# (The folders made while unpacking below the temporary folder are not logged: they are gone.)
# (C:\\Windows\\System32 is there before, as on every Windows.)
recs += [(pf, F, 0, 0, 0, 0), (pf + '\\bin', F, 0, 0, 0, 0),
         (pf + '\\main.exe', '', 1, 0, 0, 1), (pf + '\\bin\\lib.dll', '', 0, 1, 1, 0),
         (pf + '\\bin\\empty.txt', '', 0, 0, 0, 0), ('C:\\Windows\\System32\\sys.dll', '', 0, 0, 0, 0)]
gp = grp.split('\\')
for i in range(2, len(gp) + 1):
    recs.append(('\\'.join(gp[:i]), F, 0, 0, 0, 0))
recs += [(grp + '\\a.txt', '', 0, 0, 0, 0), (grp + '\\sub', F, 0, 0, 0, 0), (grp + '\\sub\\b.txt', '', 0, 0, 0, 0)]
# The keys the run made, then their values.
recs.append(('HKEY_LOCAL_MACHINE\\Software\\示例', K, 0, 0, 0, 0))
for name in ('InstallDir', 'System', 'System32'):
    recs.append(('HKEY_LOCAL_MACHINE\\Software\\示例', name, 0, 0, 0, 0))
recs.append(('HKEY_CURRENT_USER\\Software\\示例', K, 0, 0, 0, 0))
for name in ('Home', 'Count', 'Bytes'):
    recs.append(('HKEY_CURRENT_USER\\Software\\示例', name, 0, 0, 0, 0))
def s(t):
    b = t.encode('gbk')
    return struct.pack('<i', len(b)) + b
out = s('示例程序')
for p, t, a, r, g, l in recs:
    out += s(p) + s(t) + bytes([a, r, g, l])
got = open(path, 'rb').read()
def records(b):
    i, r = 0, []
    while i < len(b):
        n = struct.unpack_from('<i', b, i)[0]
        r.append(b[i + 4:i + 4 + n].decode('gbk', 'replace'))
        i += 4 + n
        if len(r) % 2 == 1 and len(r) > 1:
            r[-1] += ' ' + b[i:i + 4].hex()
            i += 4
    return r
if got != out:
    g, w = records(got), records(out)
    for k in range(max(len(g), len(w))):
        if k >= len(g) or k >= len(w) or g[k] != w[k]:
            sys.exit('UnLog.txt differs at field %d:\n got %s\nwant %s' % (k, g[k:k + 4], w[k:k + 4]))
PY
echo "install: ok"
