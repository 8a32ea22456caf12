#!/usr/bin/env bash
# gbsetup new / export / import: a new project against an independent reader of the file
# layout (Python), an export-import round trip that must give the same bytes, and JSON
# errors that name their path and write nothing. Also add-folder's refusal of a missing folder.
set -euo pipefail
cd "$(dirname "$0")/../.."
build="${GBSETUP_BUILD:-build}"
gbsetup="$build/gbsetup"
[ -x "$gbsetup" ] || { echo "cli-project: $gbsetup not built" >&2; exit 1; }

work="$(mktemp -d /tmp/cli-project.XXXXXX)"
trap 'rm -rf "$work"' EXIT
export GBSETUP_ROOT="$work/root"
fail() { echo "cli-project: FAIL: $*" >&2; exit 1; }

# An independent reader: parses the seven sections, insists on ending exactly at the end,
# prints the record counts and the project as JSON (GBK decoded, IconIndex left out).
cat >"$work/read.py" <<'PY'
import json, struct, sys
b = open(sys.argv[1], 'rb').read()
pos = 0
def take(n):
    global pos
    if pos + n > len(b): raise SystemExit('runs past the end at %d' % pos)
    v = b[pos:pos + n]; pos += n; return v
def i32(): return struct.unpack('<i', take(4))[0]
def i64(): return struct.unpack('<q', take(8))[0]
def f64(): return struct.unpack('<d', take(8))[0]
def u8(): return take(1)[0]
def s():
    n = i32()
    if n < 0: raise SystemExit('negative length')
    return take(n).decode('gbk')
def lines(t): return t.split('\r\n')[:-1] if t else []
def rec(n, f): return [f() for _ in range(max(n, 0))]
out = {}
out['settings'] = rec(i32(), lambda: dict(Name=s(), Value=s(), Items=s(), Kind=u8()))
def fil():
    r = dict(FileName=s(), SourcePath=s(), TargetDir=s(), Extra=s(), OsFilter=s(), FileDate=f64(), FileSize=i64())
    i32()  # IconIndex
    for k in ('NoOverwrite', 'AutoRun', 'SelfRegister', 'RegServer', 'DesignFlag', 'LogFlag'): r[k] = u8()
    return r
out['files'] = rec(i32(), fil)
out['specialFiles'] = rec(i32(), lambda: dict(TargetDir=s(), Sources=lines(s())))
out['registry'] = rec(i32(), lambda: dict(KeyPath=s(), ValueName=s(), ValueData=s(), OsFilter=s(), ValueType=u8(), Extra=u8()))
out['components'] = lines(s())
out['pages'] = rec(i32(), lambda: dict(Page=s(), Name=s(), Items=s(), Value=s(), Kind=u8()))
out['directories'] = rec(i32(), lambda: dict(Name=s(), Path=s(), Kind=u8()))
out['shortcuts'] = rec(i32(), lambda: dict(Folder=s(), Name=s(), Description=s(), Target=s(), Arguments=s(), ExtraByte=u8(), ExtraInt=i32()))
if pos != len(b): raise SystemExit('%d bytes after the last section' % (len(b) - pos))
json.dump(out, open(sys.argv[2], 'w'), ensure_ascii=False, sort_keys=True)
PY

# A new project with the shipped data folder: eight settings, every page's items.
"$gbsetup" new "$work/new.gbp"
python3 "$work/read.py" "$work/new.gbp" "$work/new.indep.json"
python3 - "$work/new.indep.json" <<'PY' || fail "new project content"
import json, sys
j = json.load(open(sys.argv[1]))
assert [w['Name'] for w in j['settings']][0] == '项目名称' and len(j['settings']) == 8
pages = []
for p in j['pages']:
    if p['Page'] not in pages: pages.append(p['Page'])
assert pages == ['欢迎', '安装协议说明', '软件使用说明', '选择程序文件夹', '选择安装组件', '选择安装文件夹', '确认安装', '安装进程', '安装完毕'], pages
assert all(any(p['Page'] == n and p['Name'] == '页面显示' and p['Value'] == '是' for p in j['pages']) for n in pages)
assert any(p['Name'] == '主程序' and p['Kind'] == 2 for p in j['pages'])
PY
"$gbsetup" new "$work/new.gbp" 2>/dev/null && fail "new replaced an existing project"

# add-folder of a folder that is not there fails and leaves the project as it was.
cp "$work/new.gbp" "$work/edit.gbp"
touch "$work/plain-file"
for dir in "$work/no-such-dir" "$work/plain-file"; do
  if "$gbsetup" add-folder "$work/edit.gbp" "$dir" --to X 2>/dev/null; then fail "add-folder of $dir succeeded"; fi
done
cmp "$work/new.gbp" "$work/edit.gbp" || fail "a failed add-folder changed the project"

# Without template items the file is 250 bytes.
mkdir -p "$work/emptydata"
"$gbsetup" --data "$work/emptydata" new "$work/bare.gbp"
[ "$(stat -c %s "$work/bare.gbp")" = 250 ] || fail "bare project is $(stat -c %s "$work/bare.gbp") bytes"

# export -> import gives the same bytes.
"$gbsetup" export "$work/new.gbp" >"$work/new.json"
"$gbsetup" import "$work/new.json" -o "$work/new2.gbp"
cmp "$work/new.gbp" "$work/new2.gbp" || fail "export/import of a new project changed its bytes"

# A project with every kind of record, Chinese text and extreme numbers.
python3 - "$work/new.json" "$work/full.json" <<'PY'
import json, sys
j = json.load(open(sys.argv[1]))
j['settings'][0]['Value'] = '测试软件'
j['settings'].append({'Name': '附加', 'Value': '值 "引号"', 'Items': '甲,乙', 'Kind': 255})
j['files'] = [
    {'FileName': '程序.exe', 'SourcePath': 'Z:\\源\\程序.exe', 'TargetDir': '安装目录\\子', 'Extra': '额外',
     'FileDate': 45123.5678901234, 'FileSize': -9223372036854775808, 'NoOverwrite': 1, 'AutoRun': 255,
     'SelfRegister': 0, 'RegServer': 1, 'DesignFlag': 7, 'LogFlag': 1, 'OsFilter': '5.1 6.1'},
    {'FileName': 'b', 'SourcePath': 'C:\\b', 'TargetDir': '', 'Extra': '', 'FileDate': -1.0,
     'FileSize': 9223372036854775807, 'NoOverwrite': 0, 'AutoRun': 0, 'SelfRegister': 0, 'RegServer': 0,
     'DesignFlag': 0, 'LogFlag': 0, 'OsFilter': ''}]
j['specialFiles'] = [{'TargetDir': '系统', 'Sources': ['C:\\源\\甲.dll', 'C:\\源\\目录']}, {'TargetDir': '空', 'Sources': []}]
j['registry'] = [{'KeyPath': 'HKEY_LOCAL_MACHINE\\SOFTWARE\\软件', 'ValueName': '名', 'ValueData': '0A0B',
                  'ValueType': 2, 'Extra': 200, 'OsFilter': ''}]
j['components'] = ['运行库', 'DX']
j['directories'] = [{'Name': '子', 'Path': '安装目录', 'Kind': 0}]
j['shortcuts'] = [{'Folder': '开始菜单\\测试', 'Name': '程序', 'Description': '说明', 'Target': 'Z:\\源\\程序.exe',
                   'Arguments': '-a "b"', 'ExtraByte': 9, 'ExtraInt': -2147483648}]
json.dump(j, open(sys.argv[2], 'w'), ensure_ascii=False, indent=1)
PY
"$gbsetup" import "$work/full.json" -o "$work/full.gbp"
python3 "$work/read.py" "$work/full.gbp" "$work/full.indep.json"
python3 - "$work/full.json" "$work/full.indep.json" <<'PY' || fail "imported file differs from its JSON"
import json, sys
a = json.load(open(sys.argv[1])); b = json.load(open(sys.argv[2]))
assert json.dumps(a, sort_keys=True, ensure_ascii=False) == json.dumps(b, sort_keys=True, ensure_ascii=False)
PY
"$gbsetup" export "$work/full.gbp" >"$work/full2.json"
"$gbsetup" import "$work/full2.json" -o "$work/full2.gbp"
cmp "$work/full.gbp" "$work/full2.gbp" || fail "export/import round trip changed the bytes"

# Bad JSON: the error names the path, nothing is written, an existing file stays.
cp "$work/full.gbp" "$work/keep.gbp"
python3 - "$work/full.json" "$work/bad.json" <<'PY'
import json, sys
j = json.load(open(sys.argv[1]))
j['files'][1]['FileSize'] = 9223372036854775808
json.dump(j, open(sys.argv[2], 'w'), ensure_ascii=False)
PY
if "$gbsetup" import "$work/bad.json" -o "$work/keep.gbp" 2>"$work/err.txt"; then fail "out-of-range FileSize accepted"; fi
grep -q 'files\[1\]\.FileSize' "$work/err.txt" || fail "error does not name files[1].FileSize: $(cat "$work/err.txt")"
cmp "$work/full.gbp" "$work/keep.gbp" || fail "a failed import changed the existing file"
sed 's/"Kind": 255/"Kind": "255"/' "$work/full.json" >"$work/bad2.json"
if "$gbsetup" import "$work/bad2.json" -o "$work/bad2.gbp" 2>"$work/err2.txt"; then fail "string Kind accepted"; fi
grep -q 'settings\[8\]\.Kind' "$work/err2.txt" || fail "error does not name settings[8].Kind: $(cat "$work/err2.txt")"
[ ! -e "$work/bad2.gbp" ] || fail "a failed import wrote a file"
echo "cli-project: ok"
