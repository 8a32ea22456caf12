#!/usr/bin/env bash
# Names that no setup can store: the package and the project keep GBK, which has no place for
# Korean or emoji. Such a name in a project's folder, in a component's folder, or on the
# command line stops build, import, add-folder and component import with
# exit code 1 and a message that names every such path, and nothing is written. The same folder
# without them builds.
set -uo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
source tests/e2e/lib/checks.sh
g="$repo/${GBSETUP_BUILD:-build}/gbsetup"
[ -x "$g" ] || { echo "unstorable-names: $g not built" >&2; exit 1; }
work="$(mktemp -d /tmp/unstorable.XXXXXX)"
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
export GBSETUP_ROOT="$work/root"
cd "$work"
cp -r "$repo/data" data
mkdir -p data/Exe
printf 'MZ setup stand-in' >data/Exe/Setup.exe
printf 'MZ uninstaller stand-in' >data/Exe/UnIns.exe
gd() { "$g" --data "$work/data" "$@"; }
# snapshot: every file below the work folder with its checksum, to show that nothing changed.
snapshot() { find . -path ./root -prune -o -type f ! -name out.txt ! -name err.txt -print0 | sort -z | xargs -0 md5sum; }

mkdir -p app/子 app/표
printf 'a' >app/说明.txt
printf 'b' >app/한국어.txt
printf 'c' >app/emoji😀.txt
printf 'd' >app/子/正常.txt
printf 'e' >app/표/文件.txt
cat >p.json <<'EOF'
{"settings": {"项目名称": "名称测试"}, "folders": [{"from": "app/", "to": "Program Files"}]}
EOF
# expect_refused WHAT PATH... -- COMMAND...: exit 1, every path named, nothing written.
expect_refused() {
  local what="$1" paths=() before rc
  shift
  while [ "$1" != -- ]; do paths+=("$1"); shift; done
  shift
  before="$(snapshot)"
  "$@" >out.txt 2>err.txt
  rc=$?
  check "$what: exit code 1 (got $rc)" test "$rc" = 1
  local p
  for p in "${paths[@]}"; do
    check "$what: names $p" grep -qF "$p" err.txt
  done
  check "$what: nothing written" test "$(snapshot)" = "$before"
}

echo "== a project folder holding names GBK cannot hold"
expect_refused "build of the JSON project" "$work/app/한국어.txt" "$work/app/emoji😀.txt" "$work/app/표" -- \
  gd build p.json --output out
check "no setup was written" test ! -e out
expect_refused "import of the JSON project" "$work/app/한국어.txt" "$work/app/emoji😀.txt" -- gd import p.json -o p.gbp
gd new q.gbp >/dev/null
expect_refused "add-folder" "$work/app/한국어.txt" "$work/app/emoji😀.txt" -- gd add-folder q.gbp app --to "Program Files"
expect_refused "a name on the command line" "새.gbp" -- gd new 새.gbp
check "the message says why" grep -q 'cannot be written in GBK' err.txt

echo "== components"
mkdir -p comp
printf 'x' >comp/Setup.exe
printf 'y' >comp/라이브러리.dll
expect_refused "component import" "$work/comp/라이브러리.dll" -- gd component import q.gbp 组件甲 说明 comp
check "the catalogue was not touched" cmp -s "$repo/data/Imports/ComList.ini" data/Imports/ComList.ini
# A component already in the data folder is listed at build, as every folder the package takes.
rm comp/라이브러리.dll app/한국어.txt app/emoji😀.txt && rm -r app/표
mkdir -p data/Imports/组件乙/组件乙
printf 'z' >data/Imports/组件乙/组件乙/Setup.exe
printf '[Com]\r\n组件乙=组件乙\r\n' | iconv -f UTF-8 -t GBK >>data/Imports/ComList.ini
gd component use q.gbp 组件乙 >/dev/null 2>&1
printf 'w' >data/Imports/组件乙/组件乙/데이터.bin
gd page q.gbp 选择安装文件夹 程序文件夹名称 名称测试 >/dev/null
expect_refused "build with a component holding such a name" "$work/data/Imports/组件乙/组件乙/데이터.bin" -- \
  gd build q.gbp --output out
rm data/Imports/组件乙/组件乙/데이터.bin

echo "== the same folders without them"
gd build p.json --output out >out.txt 2>err.txt
check "build succeeds ($(head -c 200 err.txt))" test -f "out/名称测试.exe"
check "and lists every file" test "$(gd list "out/名称测试.exe" | grep -c -E '说明\.txt|正常\.txt')" = 2
gd build q.gbp --output out2 >out.txt 2>err.txt
check "the component builds ($(head -c 200 err.txt))" test -f out2/Setup.exe

echo "unstorable-names: $failures failure(s)"
[ "$failures" = 0 ]
