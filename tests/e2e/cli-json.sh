#!/usr/bin/env bash
# Projects as JSON: the concise and the full form give the same project and setup bytes,
# export --concise reads back to the same file, a folders source is scanned at each build,
# --set / --page change only what they name and only for that build, the schema in docs/
# accepts every export and the example and rejects misspellings, and bad input is an error
# with its JSON path, exit code 1 and nothing written.
set -euo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
g="$repo/${GBSETUP_BUILD:-build}/gbsetup"
source tests/e2e/lib/windows.sh
winbuild="$win_build"
[ -x "$g" ] || { echo "cli-json: $g not built" >&2; exit 1; }
work="$(mktemp -d /tmp/cli-json.XXXXXX)"
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
export GBSETUP_ROOT="$work/root"
fail() { echo "cli-json: FAIL: $*" >&2; exit 1; }
# Debian's validator (python3-jsonschema), whichever python3 comes first on the PATH.
py=/usr/bin/python3
[ -x "$py" ] || py=python3
schema="$repo/docs/project.schema.json"

# --version names the version the build was configured with.
want="$(sed -n 's/^project(gbsetup VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
[ "$("$g" --version)" = "gbsetup $want" ] || fail "--version: $("$g" --version), wanted gbsetup $want"
echo "cli-json: --version ok"

json="$(bash scripts/make-example.sh "$work" "$winbuild" | tail -1)"
hello="$(dirname "$json")"
cp -p "$json" "$work/hello.json.orig"

# The concise example and its full export are the same project, byte for byte; so is the
# concise export of it.
"$g" import "$json" -o "$work/concise.gbp"
"$g" export "$work/concise.gbp" >"$work/full.json"
"$g" export --concise "$work/concise.gbp" >"$work/concise.json"
"$g" import "$work/full.json" -o "$work/full.gbp"
"$g" import "$work/concise.json" -o "$work/concise2.gbp"
cmp "$work/concise.gbp" "$work/full.gbp" || fail "concise and full form give different project files"
cmp "$work/concise.gbp" "$work/concise2.gbp" || fail "export --concise does not read back to the same file"
grep -q '"settings": {' "$work/concise.json" && grep -q '"pages": {' "$work/concise.json" ||
  fail "export --concise of the example wrote records: $(head -5 "$work/concise.json")"
grep -q '"Items"' "$work/concise.json" && fail "export --concise wrote Items"
grep -q '"settings": \[' "$work/full.json" || fail "export no longer writes the full form"

# A project the concise objects cannot express (an extra setting, a missing page item) and
# fields that only look empty (-0.0, a relative path stored as such) still read back the same.
"$py" - "$work/full.json" "$work/odd.json" <<'PY'
import json, sys
j = json.load(open(sys.argv[1]))
j['settings'].append({'Name': '附加', 'Value': 'x', 'Items': '', 'Kind': 0})
del j['pages'][3]
j['files'].append({'FileName': '', 'SourcePath': 'rel\\a.txt', 'TargetDir': 'Program Files', 'Extra': '', 'FileDate': -0.0,
                   'FileSize': 0, 'NoOverwrite': 0, 'AutoRun': 0, 'SelfRegister': 0, 'RegServer': 0, 'DesignFlag': 0,
                   'LogFlag': 0, 'OsFilter': ''})
j['specialFiles'] = [{'TargetDir': '', 'Sources': []}]
json.dump(j, open(sys.argv[2], 'w'), ensure_ascii=False)
PY
"$g" import - -o "$work/odd.gbp" <"$work/odd.json"
"$g" export --concise "$work/odd.gbp" >"$work/odd-concise.json"
"$g" import - -o "$work/odd2.gbp" <"$work/odd-concise.json"
cmp "$work/odd.gbp" "$work/odd2.gbp" || fail "export --concise of an unusual project does not read back the same"
grep -q '"settings": \[' "$work/odd-concise.json" && grep -q '"pages": \[' "$work/odd-concise.json" ||
  fail "unusual settings and pages not written as records"
echo "cli-json: concise and full form give the same project file"

# The same setups: built from the concise JSON, and from the full form at the same place.
before="$(ls -A "$hello")"
"$g" build "$json" --output "$work/s-concise" >/dev/null
[ "$(ls -A "$hello")" = "$before" ] || fail "build left files beside the JSON: $(ls -A "$hello")"
cp "$work/full.json" "$json"
touch -r "$work/hello.json.orig" "$json"
"$g" build "$json" --output "$work/s-full" >/dev/null
cmp "$work/s-concise/Hello 示例.exe" "$work/s-full/Hello 示例.exe" || fail "concise and full form give different setups"
cp -p "$work/hello.json.orig" "$json"
echo "cli-json: concise and full form give the same setup"

# The package's project entry, exported: what the installer will read.
packaged() {
  rm -rf "$work/x"
  "$g" extract "$1" -o "$work/x" >/dev/null
  "$g" export "$(find "$work/x" -name hello.gbp)"
}
# It names the project's folder C:\src\ and the data folder C:\gbsetup\, wherever they lie.
"$py" - "$work/full.json" "$hello" "$(cd "$(dirname "$g")/data" && pwd)" >"$work/full-stored.json" <<'PY'
import sys
text = open(sys.argv[1], encoding='utf-8').read()
for host, root in ((sys.argv[3], 'C:\\gbsetup\\'), (sys.argv[2], 'C:\\src\\')):
    text = text.replace(('Z:' + host.replace('/', '\\') + '\\').replace('\\', '\\\\'), root.replace('\\', '\\\\'))
sys.stdout.write(text)
PY
! grep -qF "${work#/}" "$work/full-stored.json" || fail "a path left in $work/full-stored.json"
packaged "$work/s-concise/Hello 示例.exe" >"$work/base.json"
cmp -s "$work/base.json" "$work/full-stored.json" ||
  fail "the package does not carry the project import writes: $(diff "$work/full-stored.json" "$work/base.json" | head -4)"

# A file added to the folders source is in the next build, with no edit of the project.
printf 'new\n' >"$hello/app/doc/added.txt"
"$g" build "$json" --output "$work/s-added" >/dev/null
"$g" list "$work/s-added/Hello 示例.exe" | grep -q 'app\\doc\\added.txt$' || fail "added file not packed"
"$g" list "$work/s-concise/Hello 示例.exe" | grep -q 'added.txt' && fail "added file in the earlier build"
cmp -s "$json" "$work/hello.json.orig" || fail "the build changed the JSON"
rm "$hello/app/doc/added.txt"
echo "cli-json: a file added to a folders source is in the next build"

# Overrides: only the named values change, only in this build's package.
"$g" build "$json" --output "$work/s-over" --set 版本号=2.5.1 --set '作者网址=https://example.org/a=b' \
  --page 安装完毕/显示重启计算机选项=是 --page 欢迎/标题图片="$hello/images/caption.jpg" >/dev/null
packaged "$work/s-over/Hello 示例.exe" >"$work/over.json"
"$py" - "$work/base.json" "$work/over.json" "$hello" <<'PY' || fail "overrides changed other things"
import json, sys
a = json.load(open(sys.argv[1])); b = json.load(open(sys.argv[2]))
z = 'C:\\src'  # the stored name of the JSON's folder
def diff(x, y, path=''):
    if isinstance(x, dict):
        assert x.keys() == y.keys(), path
        return [d for k in x for d in diff(x[k], y[k], path + '.' + k)]
    if isinstance(x, list):
        assert len(x) == len(y), path
        return [d for i in range(len(x)) for d in diff(x[i], y[i], path + '[%d]' % i)]
    return [] if x == y else [(path, x, y)]
got = diff(a, b)
def where(section, key, value):
    return next(i for i, r in enumerate(a[section]) if all(r[k] == v for k, v in zip(key, value)))
want = [
    ('.settings[%d].Value' % where('settings', ['Name'], ['版本号']), '1.0', '2.5.1'),
    ('.settings[%d].Value' % where('settings', ['Name'], ['作者网址']), 'https://example.com/hello', 'https://example.org/a=b'),
    ('.pages[%d].Value' % where('pages', ['Page', 'Name'], ['欢迎', '标题图片']), z + '\\images\\head.jpg', z + '\\images\\caption.jpg'),
    ('.pages[%d].Value' % where('pages', ['Page', 'Name'], ['安装完毕', '显示重启计算机选项']), '否', '是'),
]
assert sorted(got) == sorted(want), got
PY
cmp -s "$json" "$work/hello.json.orig" || fail "an override changed the JSON"
# On a project file the same, and the file stays as it was.
cp "$work/concise.gbp" "$hello/p.gbp"
"$g" build "$hello/p.gbp" --output "$work/s-gbp" --set 版本号=9 >/dev/null
cmp -s "$work/concise.gbp" "$hello/p.gbp" || fail "an override changed the project file"
rm -rf "$work/x" && "$g" extract "$work/s-gbp/Hello 示例.exe" -o "$work/x" >/dev/null
"$g" export "$(find "$work/x" -name p.gbp)" | diff "$work/full-stored.json" - | grep '^[<>]' >"$work/gbp-diff.txt" || true
[ "$(cat "$work/gbp-diff.txt")" = "$(printf '%s\n' '<       "Value": "1.0",' '>       "Value": "9",')" ] ||
  fail "override on a project file: $(cat "$work/gbp-diff.txt")"
rm "$hello/p.gbp"
echo "cli-json: --set and --page change only what they name, for one build"

# The schema: every export, the example and hand-written concise projects pass; misspellings not.
"$g" new "$work/new.gbp"
"$g" export "$work/new.gbp" >"$work/new-full.json"
"$g" export --concise "$work/new.gbp" >"$work/new-concise.json"
cat >"$work/bad-keys.txt" <<'EOF'
{"settings": {"版本": "1.0"}}
{"setings": {}}
{"pages": {"欢迎": {"标题图": "a.jpg"}}}
{"pages": {"欢迎页": {}}}
{"folders": [{"from": "app/", "too": "Program Files"}]}
{"files": [{"SourcePth": "a.exe"}]}
{"shortcuts": [{"Folder": "桌面", "Nmae": "x"}]}
{"registry": [{"KeyPath": "HKEY_CURRENT_USER\\x", "ValueType": 256}]}
EOF
"$py" - "$schema" "$repo/data/Page.txt" "$work/bad-keys.txt" "$repo/examples/hello/hello.json" "$work/full.json" \
  "$work/concise.json" "$work/odd.json" "$work/odd-concise.json" "$work/new-full.json" "$work/new-concise.json" <<'PY' ||
import json, sys
from jsonschema import Draft202012Validator
schema = json.load(open(sys.argv[1]))
Draft202012Validator.check_schema(schema)
v = Draft202012Validator(schema)
for f in sys.argv[4:]:
    errors = list(v.iter_errors(json.load(open(f))))
    assert not errors, (f, errors[0].message)
for line in open(sys.argv[3], encoding='utf-8'):
    assert list(v.iter_errors(json.loads(line))), 'accepted: ' + line
# The concise objects offer exactly the shipped template's pages and items, in its order.
pages = {}
for line in open(sys.argv[2], encoding='gbk'):
    page, item = line.split(';')[:2]
    pages.setdefault(page, [])
    if item not in pages[page]: pages[page].append(item)
concise = next(s for s in schema['properties']['pages']['oneOf'] if s['type'] == 'object')['properties']
assert list(concise) == list(pages), list(concise)
assert all(list(concise[p]['properties']) == pages[p] for p in pages)
settings = next(s for s in schema['properties']['settings']['oneOf'] if s['type'] == 'object')['properties']
new = json.load(open(sys.argv[9]))
assert list(settings) == [w['Name'] for w in new['settings']], list(settings)
PY
  fail "schema"
echo "cli-json: the schema accepts the example and every export, rejects misspelt keys"

# Bad input: the error names the JSON path (and the closest name), exit code 1, nothing written.
bad() {  # bad NAME 'JSON' 'expected stderr text'
  local name="$1" text="$2" want="$3" rc
  mkdir -p "$work/bad"
  printf '%s\n' "$text" >"$work/bad/$name.json"
  for cmd in build import; do
    rm -rf "$work/bad-out" && mkdir "$work/bad-out"
    rc=0
    if [ "$cmd" = build ]; then
      "$g" build "$work/bad/$name.json" --output "$work/bad-out" >/dev/null 2>"$work/err.txt" || rc=$?
    else
      "$g" import "$work/bad/$name.json" -o "$work/bad-out/p.gbp" 2>"$work/err.txt" || rc=$?
    fi
    [ "$rc" = 1 ] || fail "$cmd $name: exit code $rc"
    grep -qF -- "$want" "$work/err.txt" || fail "$cmd $name: $(cat "$work/err.txt"), wanted: $want"
    [ -z "$(ls -A "$work/bad-out")" ] || fail "$cmd $name wrote $(ls "$work/bad-out")"
    [ "$(ls -A "$work/bad")" = "$name.json" ] || fail "$cmd $name left $(ls "$work/bad")"
  done
  rm "$work/bad/$name.json"
}
bad unknown-key '{"settings": {}, "pages": {}, "fles": []}' "bad/unknown-key.json: fles: unknown key"
bad record-key '{"shortcuts": [{"Folder": "桌面"}, {"Nmae": "x"}]}' "shortcuts[1].Nmae: unknown key"
bad wrong-type '{"settings": {"版本号": 1.0}}' "settings.版本号: expected a string"
bad wrong-type2 '{"settings": "1.0"}' "settings: expected an object of values or an array of records"
bad wrong-type3 '{"files": [{"SourcePath": "a", "NoOverwrite": true}]}' "files[0].NoOverwrite: expected an integer"
bad setting '{"settings": {"项目名称": "A", "版本": "1.0"}}' "settings.版本: unknown setting '版本' (did you mean '版本号'?)"
bad setting-far '{"settings": {"colour": "x"}}' "settings.colour: unknown setting 'colour' (known: 项目名称, 作者名称,"
bad page '{"pages": {"安装完成": {}}}' "pages.安装完成: unknown page '安装完成' (did you mean '安装完毕'?)"
bad page-item '{"pages": {"欢迎": {"标题图": "a.jpg"}}}' "pages.欢迎.标题图: unknown item '标题图' on page '欢迎' (did you mean '标题图片'?)"
bad folder '{"folders": [{"from": "../hello/app/", "to": "Program Files"}, {"from": "nowhere/", "to": "Program Files"}]}' \
  "folders[1].from: 'nowhere/' is not a folder"
bad folder-file '{"folders": [{"from": "folder-file.json", "to": "Program Files"}]}' "folders[0].from: 'folder-file.json' is not a folder"
bad folder-to '{"folders": [{"from": "/tmp"}]}' "folders[0].to: missing"
bad syntax '{"settings": {' "bad/syntax.json: not valid JSON"
bad twice '{"settings": {"版本号": "1.0", "版本号": "2.0"}}' "settings.版本号: the key is given twice"
# Overrides of names the project does not have, and malformed ones.
over() {  # over 'expected stderr text' ARGS...
  local want="$1"; shift
  rm -rf "$work/bad-out" && mkdir "$work/bad-out"
  local rc=0
  "$g" build "$json" --output "$work/bad-out" "$@" >/dev/null 2>"$work/err.txt" || rc=$?
  [ "$rc" = 1 ] || fail "build $*: exit code $rc"
  grep -qF -- "$want" "$work/err.txt" || fail "build $*: $(cat "$work/err.txt"), wanted: $want"
  [ -z "$(ls -A "$work/bad-out")" ] || fail "build $* wrote $(ls "$work/bad-out")"
  [ "$(ls -A "$hello")" = "$before" ] || fail "build $* left $(ls -A "$hello")"
}
over "--set 版本=2: unknown setting '版本' (did you mean '版本号'?)" --set 版本号=1 --set 版本=2
over "--set takes NAME=VALUE" --set 版本号
over "--page 安装完毕/主程式=a: unknown item '主程式' on page '安装完毕' (did you mean '主程序'?)" --page 安装完毕/主程式=a
over "--page takes PAGE/NAME=VALUE" --page 主程序=a
over "unknown page '完毕'" --page 完毕/主程序=a
# A file that is neither a project file nor JSON.
printf 'just some text\n' >"$work/notes.txt"
rc=0
"$g" build "$work/notes.txt" --output "$work/bad-out" >/dev/null 2>"$work/err.txt" || rc=$?
[ "$rc" = 1 ] && grep -qF "neither a project file nor a JSON project: expected a binary project file" "$work/err.txt" ||
  fail "neither-nor: rc $rc, $(cat "$work/err.txt")"
[ -z "$(ls -A "$work/bad-out")" ] || fail "a build of a text file wrote $(ls "$work/bad-out")"
echo "cli-json: bad input is an error with its JSON path, exit code 1, nothing written"
echo "cli-json: all checks passed"
