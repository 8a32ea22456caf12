#!/usr/bin/env bash
# The example as the demo makes it: built straight from its concise JSON (nothing left beside
# it), the same bytes as import + build, installed into a sandbox and removed again.
set -euo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
g="$repo/${GBSETUP_BUILD:-build}/gbsetup"
source tests/e2e/lib/windows.sh
winbuild="$win_build"
work="$(mktemp -d /tmp/e2e-example.XXXXXX)"
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
fail() { echo "example: FAIL: $*" >&2; exit 1; }

json="$(bash scripts/make-example.sh "$work" "$winbuild" | tail -1)"
before="$(ls -A "$work/hello")"
"$g" build "$json" --output "$work/a" --jobs 1 >/dev/null
[ "$(ls -A "$work/hello")" = "$before" ] || fail "the JSON build left files beside the project: $(ls -A "$work/hello")"

# import + build: the project file dated like the JSON (the package carries its date) gives the same setup.
project="$work/hello/hello.gbp"
"$g" import "$json" -o "$project"
touch -r "$json" "$project"
# The JSON names its files relative to itself; the project holds this machine's full paths.
"$g" export "$project" >"$work/export.json"
grep -qF "\"SourcePath\": \"Z:${work//\//\\\\}\\\\hello\\\\app\\\\Hello.exe\"" "$work/export.json" ||
  fail "source paths not resolved: $(grep SourcePath "$work/export.json" | head -2)"
size="$(stat -c %s "$work/hello/app/Hello.exe")"
grep -q "\"FileSize\": $size," "$work/export.json" || fail "FileSize not taken from the file"
"$g" build "$project" --output "$work/b" --jobs 2 >/dev/null
setup="$work/a/Hello 示例.exe"
[ -f "$setup" ] || fail "no setup named after the project: $(ls "$work/a")"
cmp -s "$setup" "$work/b/Hello 示例.exe" || fail "the JSON build and import + build differ"
# The project's icon went into the setup: three images in US English.
[ "$(wrestool -l --type=3 "$setup" | grep -c "language=1033")" = 3 ] || fail "icon: $(wrestool -l "$setup")"

root="$work/sandbox"
"$g" install "$setup" --root "$root" >"$work/install.txt" || fail "install: $(cat "$work/install.txt")"
pf="$root/drive_c/Program Files/Hello 示例"
for f in Hello.exe hello.ini readme.txt licence.txt doc/guide.txt; do
  src="$work/hello/app/$f"
  cmp -s "$pf/$f" "$src" || fail "installed $f"
done
[ -f "$pf/UnLog.txt" ] && [ -f "$pf/UnIns.exe" ] || fail "UnLog.txt and UnIns.exe beside the main program"
cmp -s "$pf/UnIns.exe" "$(dirname "$g")/data/Exe/UnIns.exe" || fail "UnIns.exe is not the uninstaller stub"
reg="$(iconv -f GBK -t UTF-8 "$root/registry.reg")"
grep -qF '"InstallDir"="C:\\Program Files\\Hello 示例"' <<<"$reg" || fail "install-folder value"
grep -qF '"Version"=dword:00010000' <<<"$reg" || fail "dword value"
grep -qF '"DisplayName"="Hello 示例1.0"' <<<"$reg" || fail "uninstall entry"

"$g" uninstall --root "$root" --silent 'C:\Program Files\Hello 示例\UnLog.txt' >/dev/null || fail "uninstall"
[ ! -e "$pf" ] || fail "installation folder left: $(find "$pf")"
reg="$(iconv -f GBK -t UTF-8 "$root/registry.reg")"
! grep -q 'InstallDir\|Uninstall\\Hello' <<<"$reg" || fail "registry left: $reg"
# The keys the installation made go once empty, the one above them stays.
! grep -q 'Hello 示例' <<<"$reg" || fail "a key of the example left: $(grep 'Hello 示例' <<<"$reg")"
grep -q '^\[HKEY_CURRENT_USER\\Software\]' <<<"$reg" || fail "HKEY_CURRENT_USER\Software went too"
[ -z "$(find "$root/drive_c/Temp" -mindepth 1 2>/dev/null)" ] || fail "left in the temporary folder: $(find "$root/drive_c/Temp" -mindepth 1 | head -3)"
echo "example: all checks passed"
