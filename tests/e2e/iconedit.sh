#!/usr/bin/env bash
# The icon replacement seen from outside. The native suite rewrites the fixture executables
# with the portable rewriter, the Wine suite with the system's resource calls; here wrestool
# lists and unpacks both results, which must hold the same resources byte for byte, objdump
# must still read them, and every rewritten executable must still start under Wine. The fixtures
# are images of GBSETUP_WIN_ARCH's kind (fixture*.exe PE32, fixture64*.exe PE32+), rewritten by
# the system in that architecture's suite.
# e2e-arch: wine
set -euo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
source tests/e2e/lib/windows.sh
native="${GBSETUP_BUILD:-build}"
win="$win_build"
suite=tests/unit/iconedit/iconedit_tests
win_need "$native/$suite" "$win/$suite.exe"
work="$(mktemp -d /tmp/iconedit.XXXXXX)"
trap 'wine_cleanup; rm -rf "$work"' EXIT
fail() { echo "iconedit: FAIL: $*" >&2; exit 1; }
wine_start

test_name=TwoImagesReplacedByThreeInEveryLayout
GBSETUP_ROOT="$work/root" "$native/$suite" --gtest_filter="IconEdit.$test_name" >"$work/native.log" 2>&1 ||
  { cat "$work/native.log"; fail "native suite"; }
wine_run "$win/$suite.exe" --gtest_filter="IconEdit.$test_name" >"$work/wine.log" 2>&1 ||
  { cat "$work/wine.log"; fail "Wine suite"; }

listing() { wrestool -l "$1" | sed 's/ offset=0x[0-9a-f]*//'; }

fix=fixture
[ "$win_arch" = x86_64 ] && fix=fixture64
for name in $fix $fix-noreloc $fix-extra; do
  byRewrite="$native/tests/unit/iconedit/work-$test_name/$name.exe"
  bySystem="$win/tests/unit/iconedit/work-$test_name/$name.exe"
  listing "$byRewrite" >"$work/rewrite.txt"
  listing "$bySystem" >"$work/system.txt"
  diff -u "$work/system.txt" "$work/rewrite.txt" || fail "$name: the two paths list different resources"
  for line in "--type=3 --name=1 --language=1033 [type=icon size=40]" \
              "--type=3 --name=2 --language=1033 [type=icon size=300]" \
              "--type=3 --name=3 --language=1033 [type=icon size=5000]" \
              "--type=14 --name='MAINICON' --language=1033 [type=group_icon size=48]" \
              "--type=16 --name=1 --language=2052 [type=version size=312]"; do
    grep -qxF -- "$line" "$work/rewrite.txt" || fail "$name: missing $line"
  done
  [ "$(grep -c -- '--type=3 ' "$work/rewrite.txt")" = 3 ] || fail "$name: not exactly three images"
  # Every resource, unpacked raw from both files, is the same.
  i=0
  while read -r t n l _; do
    i=$((i + 1))
    eval "wrestool -x --raw $t $n $l \"\$byRewrite\"" >"$work/r$i"
    eval "wrestool -x --raw $t $n $l \"\$bySystem\"" >"$work/s$i"
    cmp -s "$work/r$i" "$work/s$i" || fail "$name: $t $n $l differs"
  done <"$work/rewrite.txt"
  [ "$i" -ge 6 ] || fail "$name: only $i resources"
  # The image grew past a page: the relocation section behind the resources had to move, and
  # must hold the same relocations.
  # (a reader that cannot read the image fails here instead of giving two empty lists)
  relocs() {
    "$win_tools-objdump" -p "$1" >"$work/headers" || fail "$win_tools-objdump cannot read $1"
    sed -n '/^PE File Base Relocations/,$p' "$work/headers" | grep -E '^\s+reloc' || true
  }
  original="$native/tests/unit/iconedit/fixtures/$name.exe"
  relocs "$original" >"$work/relocs.orig"
  relocs "$byRewrite" >"$work/relocs.new"
  case "$name" in
    *noreloc) ;;
    *) [ -s "$work/relocs.orig" ] || fail "$name: no relocations read from the original" ;;
  esac
  cmp -s "$work/relocs.orig" "$work/relocs.new" || fail "$name: relocations changed"
  # pefile, a third reader: no complaints, a valid checksum (rewriter), SizeOfImage and the resource
  # and relocation directories matching the sections.
  /usr/bin/python3 - "$byRewrite" "$bySystem" <<'PY' || fail "$name: pefile check"
import sys
import pefile
for path in sys.argv[1:]:
    pe = pefile.PE(path)
    # (the test images are runs of one byte, which pefile's entropy hint notices)
    warnings = [w for w in pe.get_warnings() if "makes up" not in w]
    assert not warnings, (path, warnings)
    opt = pe.OPTIONAL_HEADER
    # Wine's EndUpdateResource leaves the old checksum; the rewriter recomputes it.
    if path == sys.argv[1]:
        assert opt.CheckSum == 0 or pe.verify_checksum(), (path, "checksum")
    align = opt.SectionAlignment
    end = max(s.VirtualAddress + (s.Misc_VirtualSize or s.SizeOfRawData) for s in pe.sections)
    assert opt.SizeOfImage == (end + align - 1) // align * align, (path, "SizeOfImage", hex(opt.SizeOfImage))
    dirs = opt.DATA_DIRECTORY
    res = dirs[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]]
    assert pe.get_section_by_rva(res.VirtualAddress).VirtualAddress == res.VirtualAddress, (path, "resources")
    rel = dirs[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    if rel.VirtualAddress:
        assert pe.get_section_by_rva(rel.VirtualAddress).Name.rstrip(b"\0") == b".reloc", (path, "relocations")
    assert len(pe.DIRECTORY_ENTRY_RESOURCE.entries) == 4, (path, "resource types")
PY
  for exe in "$byRewrite" "$bySystem"; do
    "$win_tools-objdump" -p "$exe" >/dev/null 2>&1 || fail "objdump cannot read $exe"
    out="$(wine_run "$exe" 2>/dev/null | tr -d '\r')" || fail "$exe does not start"
    [ "$out" = "fixture ok" ] || fail "$exe printed '$out'"
  done
  echo "iconedit: $name: $(wc -l <"$work/rewrite.txt") resources identical from both paths; both start"
done
# Unstripped: the symbol table moves with what follows the sections and stays readable.
unstripped="$native/tests/unit/iconedit/work-$test_name/$fix-unstripped.exe"
symbols() { "$win_tools-objdump" -t "$1" | tail -n +3; }
symbols "$native/tests/unit/iconedit/fixtures/$fix-unstripped.exe" >"$work/sym.orig"
symbols "$unstripped" >"$work/sym.new" || fail "objdump cannot read the symbols of $unstripped"
[ "$(wc -l <"$work/sym.orig")" -gt 100 ] || fail "no symbols in the unstripped fixture"
cmp -s "$work/sym.orig" "$work/sym.new" || fail "symbols changed in $unstripped"
out="$(wine_run "$unstripped" 2>/dev/null | tr -d '\r')"
[ "$out" = "fixture ok" ] || fail "$unstripped printed '$out'"
echo "iconedit: unstripped: symbol table intact; starts"
echo "iconedit: ok ($win_arch)"
