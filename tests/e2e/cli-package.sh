#!/usr/bin/env bash
# gbsetup list / extract against packages written two ways: by the library's writer
# (package_maker) and by an independent writer in Python; Python's zlib reads the library's
# packages at every level, piece by piece; checks byte-exact extraction,
# the refusal of names that leave the output folder, damaged and package-less files; the
# cross-built gbsetup.exe of GBSETUP_WIN_ARCH (i686 or x86_64) reads them the same way under Wine.
# e2e-arch: each
set -euo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
source tests/e2e/lib/windows.sh
build="${GBSETUP_BUILD:-build}"
gbsetup="$build/gbsetup"
maker="$build/tests/unit/package/package_maker"
for b in "$gbsetup" "$maker"; do
  [ -x "$b" ] || { echo "cli-package: $b not built" >&2; exit 1; }
done

work="$(mktemp -d /tmp/cli-package.XXXXXX)"
trap 'wine_cleanup; rm -rf "$work"' EXIT
export GBSETUP_ROOT="$work/root"
fail() { echo "cli-package: FAIL: $*" >&2; exit 1; }

# Sources: text, random data, an empty file, exactly 3 x 8192 bytes, a Chinese name.
src="$work/src"
mkdir -p "$src/sub" "$src/数据"
printf 'hello, setup\r\n%.0s' $(seq 1 500) >"$src/a.txt"
head -c 20000 /dev/urandom >"$src/sub/b.bin"
: >"$src/empty.txt"
head -c 24576 /dev/urandom >"$src/block.bin"
printf '说明文字\n' >"$src/数据/说明.txt"
head -c 10000 /dev/urandom >"$src/UnIns.exe"
{ printf 'MZ stub'; head -c 16 /dev/zero; } >"$work/stub.exe"

entries=(
  "0:C:\\proj\\a.txt=$src/a.txt"
  "2:C:\\app\\sub\\b.bin=$src/sub/b.bin"
  "2:C:\\app\\empty.txt=$src/empty.txt"
  "2:C:\\app\\block.bin=$src/block.bin"
  "2:D:\\数据\\说明.txt=$src/数据/说明.txt"
  "6:C:\\gb\\Exe\\UnIns.exe=$src/UnIns.exe"
)

# The independent writer (zlib's level 9, or 0 to store): stub, chunk streams, index,
# positions, text block with checksum, T.
pywrite() {
  python3 - "$@" <<'EOF'
import struct, sys, zlib
stub, out, level, text = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4].encode()
zlevel = {0: 0, 1: 1, 2: 9}.get(level, -1)
def chunks(data):
    b = b""
    for i in range(0, len(data), 8192):
        c = zlib.compressobj(zlevel, zlib.DEFLATED, 15, 8)
        z = c.compress(data[i:i + 8192]) + c.flush()
        b += struct.pack("<i", len(z)) + z
    return b
f = bytearray(open(stub, "rb").read())
p1 = len(f)
index = b""
for arg in sys.argv[5:]:
    kind, rest = arg.split(":", 1)
    name, path = rest.split("=", 1)
    data = open(path, "rb").read()
    start = len(f)
    f += chunks(data)
    kind = int(kind)
    date, size = (0.0, 0) if kind == 6 else (40564.5, len(data))
    n = name.encode("gbk")
    index += struct.pack("<i", len(n)) + n + struct.pack("<qqBdq", start, len(f), kind, date, size)
p2 = len(f)
f += chunks(index) + struct.pack("<qq", p1, p2)
t = len(f)
# The text, the checksum's marker, then zlib's CRC-32 of everything from P1 up to the digits.
text += b"\r\ngbsetup-crc32:"
f += struct.pack("<i", len(text) + 8) + text
f += b"%08X" % zlib.crc32(bytes(f[p1:])) + struct.pack("<q", t)
open(out, "wb").write(f)
EOF
}

# The independent reader: every piece of every entry and of the index through Python's zlib,
# each header's level class (FLEVEL) as the level's, the entries' bytes against their sources.
pyread() {
  python3 - "$@" <<'EOF'
import struct, sys, zlib
setup, level = sys.argv[1], int(sys.argv[2])
sources = [arg.split("=", 1)[1] for arg in sys.argv[3:]]
flevel = {0: 0, 1: 0, 2: 2, 3: 3}[level]
f = open(setup, "rb").read()
T, = struct.unpack_from("<q", f, len(f) - 8)
p1, p2 = struct.unpack_from("<qq", f, T - 16)
def expand(start, end):
    out, pos, n = b"", start, 0
    while pos < end:
        c, = struct.unpack_from("<i", f, pos)
        z = f[pos + 4:pos + 4 + c]
        assert (z[0] * 256 + z[1]) % 31 == 0 and z[0] == 0x78, "zlib header at %d" % pos
        assert z[1] >> 6 == flevel, "FLEVEL %d, not %d, at %d" % (z[1] >> 6, flevel, pos)
        d = zlib.decompressobj()
        piece = d.decompress(z) + d.flush()
        assert d.eof and not d.unused_data, "piece at %d is not one whole zlib stream" % pos
        assert len(piece) == 8192 or pos + 4 + c == end, "short piece inside a stream at %d" % pos
        out += piece
        pos += 4 + c
        n += 1
    assert pos == end
    return out, n
index, _ = expand(p2, T - 16)
pos, i, pieces, at = 0, 0, 0, p1
while pos < len(index):
    n, = struct.unpack_from("<i", index, pos)
    start, end, kind, date, size = struct.unpack_from("<qqBdq", index, pos + 4 + n)
    pos += 4 + n + 33
    assert start == at, "entry %d starts at %d, not %d" % (i + 1, start, at)
    data, k = expand(start, end)
    assert data == open(sources[i], "rb").read(), "entry %d" % (i + 1)
    pieces += k
    i += 1
    at = end
assert i == len(sources) and at == p2, "%d entries ending at %d" % (i, at)
print("level %d: %d entries, %d pieces, FLEVEL %d" % (level, i, pieces, flevel))
EOF
}

"$maker" "$work/stub.exe" "$work/ours.exe" 2 2 "${entries[@]}"
pywrite "$work/stub.exe" "$work/py.exe" 2 gbsetup "${entries[@]}"
[ "$("$gbsetup" verify "$work/py.exe")" = ok ] || fail "verify of the independent writer's package"
[ "$("$gbsetup" verify "$work/ours.exe")" = ok ] || fail "verify of the library writer's package"
# Stored pieces are zlib's own: with the same layout the two writers agree byte for byte.
"$maker" "$work/stub.exe" "$work/ours0.exe" 0 2 "${entries[@]}"
pywrite "$work/stub.exe" "$work/py0.exe" 0 gbsetup "${entries[@]}"
cmp "$work/ours0.exe" "$work/py0.exe" || fail "library writer and independent writer differ when storing"
for level in 0 1 2 3; do
  for jobs in 1 3; do "$maker" "$work/stub.exe" "$work/l$level-$jobs.exe" "$level" "$jobs" "${entries[@]}"; done
  cmp "$work/l$level-1.exe" "$work/l$level-3.exe" || fail "level $level: 1 and 3 jobs differ"
  pyread "$work/l$level-1.exe" "$level" "${entries[@]}" || fail "level $level: Python's zlib does not read the package"
done

for setup in ours py; do
  "$gbsetup" list "$work/$setup.exe" >"$work/$setup.list"
  [ "$(wc -l <"$work/$setup.list")" = 6 ] || fail "$setup: list has not 6 lines"
  line5="$(sed -n 5p "$work/$setup.list")"
  IFS=$'\t' read -r num kind size start end name <<<"$line5"
  [ "$num" = 5 ] && [ "$kind" = 2 ] && [ "$size" = "$(stat -c %s "$src/数据/说明.txt")" ] \
    && [ "$name" = 'D:\数据\说明.txt' ] || fail "$setup: line 5 is '$line5'"
  [ "$(sed -n 3p "$work/$setup.list" | cut -f4)" = "$(sed -n 3p "$work/$setup.list" | cut -f5)" ] \
    || fail "$setup: the empty file has data"
  [ "$(sed -n 6p "$work/$setup.list" | cut -f2,3)" = "6	0" ] || fail "$setup: uninstaller line"

  "$gbsetup" extract "$work/$setup.exe" -o "$work/out-$setup" >/dev/null
  o="$work/out-$setup"
  cmp "$src/a.txt" "$o/proj/a.txt"
  cmp "$src/sub/b.bin" "$o/app/sub/b.bin"
  cmp "$src/empty.txt" "$o/app/empty.txt"
  cmp "$src/block.bin" "$o/app/block.bin"
  cmp "$src/数据/说明.txt" "$o/数据/说明.txt"
  cmp "$src/UnIns.exe" "$o/gb/Exe/UnIns.exe"
done

# The cross-built gbsetup under Wine reads the same package the same way.
wingbsetup="$win_build/gbsetup.exe"
win_need "$wingbsetup"
if wine_runs; then
  wine_start
  wine_run "$wingbsetup" list "$work/ours.exe" | tr -d '\r' >"$work/win.list"
  cmp "$work/ours.list" "$work/win.list" || fail "Windows list differs"
  (cd "$work" && wine_run "$wingbsetup" extract ours.exe -o out-win >/dev/null)
  diff -r "$work/out-ours" "$work/out-win" || fail "Windows extraction differs"
  # Chinese arguments reach the Windows builder intact (its argv is in the ANSI code page).
  (cd "$work" && wine_run "$wingbsetup" new win.gbp >/dev/null &&
    wine_run "$wingbsetup" set win.gbp 项目名称 "示例 软件" >/dev/null) ||
    fail "Windows builder: set with a Chinese value"
  "$gbsetup" export "$work/win.gbp" >"$work/win.json" 2>&1 || fail "export of the Windows builder's project: $(cat "$work/win.json")"
  grep -q '"Value": "示例 软件"' "$work/win.json" ||
    fail "Windows builder stored another name: $(grep -A1 '项目名称' "$work/win.json" | tr -d '\n')"
  # A Chinese path on its command line names that file, on an English Windows (code page
  # 1252) too; a name GBK cannot hold is refused, and nothing is written.
  for lang in zh_CN.UTF-8 en_US.UTF-8; do
    rm -f "$work/中文项目.gbp"
    (cd "$work" && GBSETUP_WINE_LANG="$lang" wine_run "$wingbsetup" new 中文项目.gbp >/dev/null 2>&1) ||
      fail "Windows builder under $lang: new with a Chinese path"
    [ -f "$work/中文项目.gbp" ] || fail "Windows builder under $lang wrote another name: $(ls "$work" | grep -i gbp | tr '\n' ' ')"
  done
  if (cd "$work" && wine_run "$wingbsetup" new 한국.gbp >/dev/null 2>&1); then fail "Windows builder took a Korean name"; fi
  [ -z "$(find "$work" -maxdepth 1 -name '*.gbp' -newer "$work/中文项目.gbp" ! -name 'win.gbp')" ] ||
    fail "Windows builder wrote a file for the Korean name"
  echo "cli-package: the $win_arch Windows build checked under Wine"
else
  wine_not_run "the Windows build's list and extract"
fi

# Names that would leave the output folder are refused before anything is written.
for bad in 'C:\app\..\..\evil.txt' 'C:\\evil.txt' 'C:\a\D:\evil.txt' 'C:\a\...\evil.txt'; do
  pywrite "$work/stub.exe" "$work/bad.exe" 2 "" "2:C:\\app\\a.txt=$src/a.txt" "2:$bad=$src/a.txt"
  if "$gbsetup" extract "$work/bad.exe" -o "$work/deep/out" 2>"$work/err"; then fail "extracted '$bad'"; fi
  grep -qF "$bad" "$work/err" || fail "message does not name '$bad': $(cat "$work/err")"
  [ "$(wc -l <"$work/err")" = 1 ] || fail "not a one-line message"
  [ ! -e "$work/deep/out/app/a.txt" ] || fail "wrote files before refusing '$bad'"
  [ -z "$(find "$work" -name evil.txt)" ] || fail "evil.txt written for '$bad'"
done

# A file without a package, and a damaged one.
"$gbsetup" list "$work/stub.exe" >"$work/none" || fail "list of a stub failed"
[ "$(cat "$work/none")" = "no package" ] || fail "stub: $(cat "$work/none")"
head -c -3 "$work/ours.exe" >"$work/cut.exe"
printf '\x10\x00\x00' >>"$work/cut.exe"   # T now points past the end
if "$gbsetup" list "$work/cut.exe" 2>"$work/err"; then fail "damaged file listed"; fi
grep -q "damaged package" "$work/err" || fail "damaged: $(cat "$work/err")"
if "$gbsetup" list "$work/missing.exe" 2>/dev/null; then fail "missing file listed"; fi
"$gbsetup" list --help | grep -q "usage: gbsetup list" || fail "list --help"
"$gbsetup" extract --help | grep -q "usage: gbsetup extract" || fail "extract --help"
echo "cli-package: ok"
