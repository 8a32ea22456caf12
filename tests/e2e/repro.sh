#!/usr/bin/env bash
# Reproducible setups: the example's JSON project copied to two paths with different file
# times, built with one SOURCE_DATE_EPOCH, gives one SHA-256 (sha256sum); without it, copies
# with the same times at two paths give one setup too. The stored names hold no path of this
# machine; a later date is clamped (the installed file's time in the sandbox), an earlier one
# kept; the setup's and the uninstaller's PE headers carry the epoch (pefile); a malformed
# value is an error; two signed builds differ by their signatures only. Uses the real stubs
# of the builder's data folder.
set -euo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
g="$repo/${GBSETUP_BUILD:-build}/gbsetup"
[ -x "$g" ] || { echo "repro: $g not built" >&2; exit 1; }
stub="$(dirname "$g")/data/Exe/Setup.exe"
[ -f "$stub" ] || { echo "repro: $stub missing (scripts/build.sh copies the stubs)" >&2; exit 1; }
export TZ=UTC
work="$(mktemp -d /tmp/e2e-repro.XXXXXX)"
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
fail() { echo "repro: FAIL: $*" >&2; exit 1; }
pe_stamp() { /usr/bin/python3 -c 'import pefile,sys; print(pefile.PE(sys.argv[1], fast_load=True).FILE_HEADER.TimeDateStamp)' "$1"; }

epoch=1700000000  # 2023-11-14 22:13:20 UTC
# One project, two places; the program is a stand-in, never run.
copy() {
  mkdir -p "$1"
  cp -r examples/hello "$1/hello"
  printf 'MZ hello stand-in' >"$1/hello/app/Hello.exe"
  find "$1/hello" -exec touch -d "$2" {} +
  touch -d '2001-02-03 04:05:06' "$1/hello/app/readme.txt"  # before the epoch
}
copy "$work/a" '2031-01-01 00:00:00'
copy "$work/deep/er/b" '2029-06-15 12:00:00'
name="Hello 示例"
build() {  # build JSON OUT [ENV...]
  local json="$1" out="$2"
  shift 2
  env "$@" "$g" build "$json" --output "$out" --jobs 1 >"$out.txt" 2>&1 || fail "build $json: $(cat "$out.txt")"
}
build "$work/a/hello/hello.json" "$work/sa" SOURCE_DATE_EPOCH=$epoch
build "$work/deep/er/b/hello/hello.json" "$work/sb" SOURCE_DATE_EPOCH=$epoch
sa="$(sha256sum <"$work/sa/$name.exe" | cut -d' ' -f1)"
sb="$(sha256sum <"$work/sb/$name.exe" | cut -d' ' -f1)"
[ "$sa" = "$sb" ] || fail "two paths, other times, one epoch: $sa and $sb"

# The stored names: the project side and the data folder under their roots, nothing of $work.
"$g" list "$work/sa/$name.exe" >"$work/list.txt" 2>/dev/null
! grep -qF "${work#/}" "$work/list.txt" || fail "a path of this machine stored: $(grep -F "${work#/}" "$work/list.txt" | head -2)"
cut -f6 "$work/list.txt" >"$work/names.txt"
grep -qxF 'C:\src\hello.gbp' "$work/names.txt" || fail "project entry: $(head -1 "$work/names.txt")"
grep -qxF 'C:\gbsetup\Imports\ComList.ini' "$work/names.txt" || fail "catalogue entry: $(sed -n 2p "$work/names.txt")"
grep -qxF 'C:\src\app\Hello.exe' "$work/names.txt" || fail "program file entry"
grep -qxF 'C:\src\images\head.jpg' "$work/names.txt" || fail "page picture entry"
# The project in the package says the same names, so that the setup finds its files.
"$g" extract "$work/sa/$name.exe" -o "$work/x" >/dev/null 2>&1
"$g" export "$work/x/src/hello.gbp" >"$work/stored.json"
/usr/bin/python3 - "$work/stored.json" "$work" <<'PY' || fail "the stored project"
import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
text = json.dumps(d, ensure_ascii=False)
assert sys.argv[2].lstrip("/") not in text, "a path of this machine"
sources = {f["SourcePath"] for f in d["files"]}
assert "C:\\src\\app\\Hello.exe" in sources, sources
pages = {(p["Page"], p["Name"]): p["Value"] for p in d["pages"]}
assert pages[("安装完毕", "主程序")] == "C:\\src\\app\\Hello.exe", pages
assert pages[("欢迎", "标题图片")] == "C:\\src\\images\\head.jpg", pages
targets = {s["Target"] for s in d["shortcuts"]}
assert "C:\\src\\app\\Hello.exe" in targets, targets
PY

# Dates: later ones clamped, earlier ones kept; the headers carry the epoch.
root="$work/sandbox"
"$g" install "$work/sa/$name.exe" --root "$root" >"$work/install.txt" 2>&1 || fail "install: $(cat "$work/install.txt")"
pf="$root/drive_c/Program Files/$name"
[ "$(stat -c %Y "$pf/Hello.exe")" = $epoch ] || fail "a later date is not clamped: $(stat -c %y "$pf/Hello.exe")"
[ "$(stat -c %Y "$pf/readme.txt")" = "$(date -d '2001-02-03 04:05:06' +%s)" ] ||
  fail "an earlier date changed: $(stat -c %y "$pf/readme.txt")"
[ "$(pe_stamp "$work/sa/$name.exe")" = $epoch ] || fail "setup header: $(pe_stamp "$work/sa/$name.exe")"
[ "$(pe_stamp "$pf/UnIns.exe")" = $epoch ] || fail "uninstaller header: $(pe_stamp "$pf/UnIns.exe")"
# The shortcut and the main program found their files under the stored names.
grep -q 'Hello.exe' "$root/commands.log" 2>/dev/null || ls "$root/drive_c/Users/User/Desktop/$name.lnk" >/dev/null ||
  fail "no link to the program"

# Without the epoch: the dates as they are, the stub's own header, still no path of this machine.
build "$work/a/hello/hello.json" "$work/na"
[ "$(pe_stamp "$work/na/$name.exe")" = "$(pe_stamp "$stub")" ] || fail "the stub's header changed without an epoch"
cp -a "$work/a" "$work/c"
build "$work/c/hello/hello.json" "$work/nc"
cmp -s "$work/na/$name.exe" "$work/nc/$name.exe" || fail "the same files at another path give another setup"
cmp -s "$work/na/$name.exe" "$work/sa/$name.exe" && fail "the epoch changed nothing"

# Signed: a stand-in signer appends 24 bytes that differ at every call (a real one puts its
# signature where the package reader steps over it; this one is cut off again before
# reading). Two signed builds differ by those bytes only: every packed file is the same, the
# uninstaller once its signature is cut off.
signer="printf 'SIG %011d%s' 0 \$(date +%N) >>"
for n in 1 2; do
  build "$work/a/hello/hello.json" "$work/g$n" SOURCE_DATE_EPOCH=$epoch GBSETUP_SIGN="$signer"
  head -c -24 "$work/g$n/$name.exe" >"$work/g$n/unsigned.exe"
  "$g" extract "$work/g$n/unsigned.exe" -o "$work/gx$n" >/dev/null 2>&1 || fail "extract g$n"
done
cmp -s "$work/g1/$name.exe" "$work/g2/$name.exe" && fail "the stand-in signatures are the same"
un1="$(find "$work/gx1" -name UnIns.exe)" un2="$(find "$work/gx2" -name UnIns.exe)"
cmp -s "$un1" "$un2" && fail "the stand-in signatures of the uninstaller are the same"
cmp -s <(head -c -24 "$un1") <(head -c -24 "$un2") || fail "the signed uninstallers differ before their signatures"
[ "$(pe_stamp "$un1")" = $epoch ] || fail "the signed uninstaller's header: $(pe_stamp "$un1")"
diff -r -x UnIns.exe "$work/gx1" "$work/gx2" >/dev/null || fail "signed builds pack other files"
[ "$(pe_stamp "$work/g1/unsigned.exe")" = $epoch ] || fail "the signed setup's header"

# A malformed value stops the build before anything is written.
for bad in abc 1.5 -3 '' 99999999999; do
  if SOURCE_DATE_EPOCH="$bad" "$g" build "$work/a/hello/hello.json" --output "$work/bad" >"$work/bad.txt" 2>&1; then
    fail "SOURCE_DATE_EPOCH='$bad' accepted"
  fi
  grep -q "SOURCE_DATE_EPOCH" "$work/bad.txt" || fail "no word of SOURCE_DATE_EPOCH: $(cat "$work/bad.txt")"
  [ ! -e "$work/bad/$name.exe" ] || fail "a setup written for '$bad'"
done
echo "repro: all checks passed"
