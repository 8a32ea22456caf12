#!/usr/bin/env bash
# gbsetup preview on Linux, without Wine: the example's pages from its JSON and from the setup
# built from it (the same pictures, byte for byte, and nothing left in the temporary folder),
# one page at another scale, hidden pages skipped, a picture the setup cannot show named once,
# a silent project, and output that cannot be written.
set -uo pipefail
cd "$(dirname "$0")/../.."
source tests/e2e/lib/checks.sh
build="${GBSETUP_BUILD:-build}"
gbsetup="$(pwd)/$build/gbsetup"
[ -x "$gbsetup" ] || { echo "preview: $gbsetup not built" >&2; exit 1; }

work="$(mktemp -d /tmp/e2e-preview.XXXXXX)"
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
size_of() { identify -format '%wx%h' "$1" 2>/dev/null; }
pages="1-welcome 2-licence 3-readme 4-program-folder 5-components 6-install-folder 7-confirm 8-progress 9-finish"

# The example with a stand-in main program, and a data folder with stand-in stubs.
cp -r examples/hello "$work/hello"
printf 'MZ hello stand-in' >"$work/hello/app/Hello.exe"
cp -r data "$work/data"
mkdir -p "$work/data/Exe"
printf 'MZ setup stand-in' >"$work/data/Exe/Setup.exe"
printf 'MZ uninstaller stand-in' >"$work/data/Exe/UnIns.exe"
G() { "$gbsetup" --data "$work/data" "$@"; }
quiet() { "$@" >/dev/null 2>&1; }
variant() {  # variant NAME PYTHON-EXPR-ON-j: a copy of hello.json, changed
  python3 - "$work/hello/hello.json" "$work/hello/$1.json" "$2" <<'PY'
import json, sys
j = json.load(open(sys.argv[1], encoding="utf-8"))
exec(sys.argv[3])
json.dump(j, open(sys.argv[2], "w", encoding="utf-8"), ensure_ascii=False)
PY
}

echo "== the example's JSON"
G preview "$work/hello/hello.json" --output "$work/json" >"$work/json.log" 2>&1
check "exit code 0" test $? = 0
for p in $pages; do
  check "$p.png is the window, frame included (514x356)" test "$(size_of "$work/json/$p.png")" = 514x356
done
check "nothing skipped" test -z "$(grep skipped "$work/json.log")"
check "every picture named on the terminal" test "$(grep -c '^wrote ' "$work/json.log")" = 9

echo "== the setup built from it"
# The stand-in stub takes no icon: the example without its setup icon, as JSON and as setup.
variant plain 'del j["settings"]["安装程序图标"]'
G preview "$work/hello/plain.json" --output "$work/json" >/dev/null 2>&1
G build "$work/hello/plain.json" --output "$work/dist" >/dev/null 2>&1
check "the setup was built" test -f "$work/dist/Hello 示例.exe"
mkdir -p "$work/tmp"
TMPDIR="$work/tmp" G preview "$work/dist/Hello 示例.exe" --output "$work/setup" >"$work/setup.log" 2>&1
check "exit code 0" test $? = 0
for p in $pages; do
  check "$p.png the same as from the JSON" cmp -s "$work/json/$p.png" "$work/setup/$p.png"
done
check "the private temporary folder is gone: $(ls -A "$work/tmp" | head -3 | tr '\n' ' ')" test -z "$(ls -A "$work/tmp")"

echo "== one page at scale 2"
G preview "$work/hello/hello.json" --output "$work/big" --page licence --scale 2 >/dev/null 2>&1
check "only 2-licence.png, at twice the size" test "$(ls "$work/big")" = 2-licence.png -a "$(size_of "$work/big/2-licence.png")" = 1028x712
check_not "--scale 3 is refused" quiet G preview "$work/hello/hello.json" --output "$work/big" --scale 3

echo "== hidden pages, a picture the setup cannot show"
printf 'BM this is no bitmap' >"$work/hello/images/bad.bmp"
variant hidden 'j["pages"]["软件使用说明"]["页面显示"] = "否"; j["pages"]["选择安装组件"]["页面显示"] = "否"; j["pages"]["确认安装"]["标题图片"] = "images/bad.bmp"'
G preview "$work/hello/hidden.json" --output "$work/hidden" >"$work/hidden.log" 2>&1
check "exit code 0" test $? = 0
check "the hidden pages are listed as skipped" grep -q '^skipped (the project does not show them): 3-readme 5-components$' "$work/hidden.log"
check "no picture of a hidden page" test ! -e "$work/hidden/3-readme.png" -a ! -e "$work/hidden/5-components.png"
check "seven pictures" test "$(ls "$work/hidden" | wc -l)" = 7
check "the bad picture is named once, with its page" \
  test "$(grep -c "bad.bmp" "$work/hidden.log")" = 1 -a -n "$(grep '无法读取' "$work/hidden.log" | grep '确认安装')"
check "its page still comes" test -s "$work/hidden/7-confirm.png"
check_not "a page the project hides is an error with --page" quiet G preview "$work/hello/hidden.json" --output "$work/h2" --page 3

echo "== a silent project"
variant silent 'j["settings"]["安装界面显示"] = "否"'
G preview "$work/hello/silent.json" --output "$work/silent" >"$work/silent.log" 2>&1
check "exit code 0, no page shown" test $? = 0 -a -z "$(ls -A "$work/silent")"
check "it says so" grep -q 'shows no page' "$work/silent.log"

echo "== output that cannot be written"
printf 'x' >"$work/a-file"
G preview "$work/hello/hello.json" --output "$work/a-file/sub" >"$work/bad.log" 2>&1
check "exit code 1" test $? = 1
check "a clear message" grep -q "^gbsetup: cannot write to $work/a-file/sub" "$work/bad.log"
mkdir -p "$work/ro" && chmod 555 "$work/ro"
if [ "$(id -u)" != 0 ]; then
  G preview "$work/hello/hello.json" --output "$work/ro" >/dev/null 2>&1
  check "a folder without write permission: exit code 1" test $? = 1
fi
check_not "a missing input file" quiet G preview "$work/none.json" --output "$work/x"

echo "preview: $failures failure(s)"
[ "$failures" = 0 ]
