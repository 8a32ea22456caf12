#!/usr/bin/env bash
# The package checksum end to end: a built setup carries the CRC-32 an independent reader
# computes; single-byte changes sampled across every region of the package never verify as
# "ok"; files cut short are "truncated"/"damaged", a bare stub has "no package"; under Wine,
# Setup.exe refuses damaged copies with one box before it writes a single file.
#   tests/e2e/integrity.sh   (after scripts/build.sh; GBSETUP_WIN_ARCH=i686|x86_64 picks the stubs;
#   the runs under Wine only where that architecture runs)
# e2e-arch: each
set -uo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
source tests/e2e/lib/checks.sh
source tests/e2e/lib/windows.sh
data="$win_data"
win_need "$gbsetup" "$win_stubs/Setup.exe" "$win_stubs/UnIns.exe"

win_workdir /tmp/gbsetup-integrity.XXXXXX
export GBSETUP_ROOT="$work/sandbox"
echo "integrity: $win_arch stubs"

echo "== building the test setup"
name="校验测试"
mkdir -p "$work/app/doc"
printf 'MZ hello\r\n' >"$work/app/hello.exe"
head -c 200000 /dev/urandom >"$work/app/data.bin"
printf '使用说明\r\n%.0s' $(seq 1 300) >"$work/app/doc/guide.txt"
(
  set -e
  cd "$work"
  "$gbsetup" new p.gbp
  "$gbsetup" set p.gbp 项目名称 "$name"
  "$gbsetup" set p.gbp 安装界面显示 否
  "$gbsetup" add-folder p.gbp app --to "Program Files"
  "$gbsetup" page p.gbp 安装完毕 主程序 app/hello.exe
  "$gbsetup" page p.gbp 选择安装文件夹 程序文件夹名称 "$name"
  "$gbsetup" add-registry p.gbp 'HKEY_LOCAL_MACHINE\SOFTWARE\GbIntegrity' Path '安装目录\工程名称'
  "$gbsetup" --data "$data" build --arch "$win_setup_arch" p.gbp --output out
) >"$work/build.log" 2>&1 || { cat "$work/build.log"; echo "integrity: building the setup failed" >&2; exit 1; }
setup="$work/Setup.exe"
cp "$work/out/$name.exe" "$setup"

echo "== the checksum, as an independent reader computes it"
python3 - "$setup" "$win_stubs/Setup.exe" >"$work/layout.txt" <<'EOF'
import struct, sys, zlib
f = open(sys.argv[1], "rb").read()
stub = open(sys.argv[2], "rb").read()
F = len(f)
T = struct.unpack("<q", f[F - 8:])[0]
L = struct.unpack("<i", f[T:T + 4])[0]
text = f[T + 4:T + 4 + L]
p1, p2 = struct.unpack("<qq", f[T - 16:T])
marker = b"\r\ngbsetup-crc32:"
# The builder gives the stub the project's icon and version details, so its bytes differ from
# the stub's; the package starts where the rewritten image ends.
pe = struct.unpack("<I", f[0x3C:0x40])[0]
nsec, optsize = struct.unpack("<H", f[pe + 6:pe + 8])[0], struct.unpack("<H", f[pe + 20:pe + 22])[0]
sec = pe + 24 + optsize
image_end = max(struct.unpack("<II", f[sec + 40 * i + 16:sec + 40 * i + 24])[1] +
                struct.unpack("<II", f[sec + 40 * i + 16:sec + 40 * i + 24])[0] for i in range(nsec))
ok = T + 4 + L + 8 == F and text[-24:-8] == marker and f[:2] == stub[:2] == b"MZ" and p1 == image_end
crc = zlib.crc32(f[p1:F - 16])
print("layout", "ok" if ok else "bad", text[:-24].decode())
print("crc", "%08X" % crc, text[-8:].decode())
EOF
read -r _ layout version <<<"$(sed -n 1p "$work/layout.txt")"
read -r _ computed stored <<<"$(sed -n 2p "$work/layout.txt")"
check "stub, package, positions, text block with the marker, end marker (builder text '$version')" test "$layout" = ok
check "stored checksum $stored is zlib's CRC-32 of [P1, digits): $computed" test "$computed" = "$stored"
out="$("$gbsetup" verify "$setup")"; rc=$?
check "gbsetup verify: '$out', exit $rc" test "$out" = ok -a "$rc" = 0

echo "== single-byte changes in every region"
# One line per change: region, offset, and what gbsetup verify says (exit code, first words).
python3 - "$setup" "$gbsetup" "$work" >"$work/changes.txt" <<'EOF'
import struct, subprocess, sys, zlib
path, gbsetup, work = sys.argv[1:4]
f = bytearray(open(path, "rb").read())
F = len(f)
T = struct.unpack("<q", f[F - 8:])[0]
p1, p2 = struct.unpack("<qq", f[T - 16:T])
# The entries' data from the index, read with plain zlib.
def chunks(a, b):
    out, pos = [], a
    while pos < b:
        c = struct.unpack("<i", f[pos:pos + 4])[0]
        out.append((pos, c))
        pos += 4 + c
    return out
index = b"".join(zlib.decompress(bytes(f[p + 4:p + 4 + c])) for p, c in chunks(p2, T - 16))
entries, at = [], 0
while at < len(index):
    n = struct.unpack("<i", index[at:at + 4])[0]
    start, end, kind = struct.unpack("<qqB", index[at + 4 + n:at + 21 + n])
    entries.append((start, end, kind))
    at += n + 37
offsets = []
for a, b, kind in entries:
    data = "program file data" if kind == 2 else "chunk data"
    for i, (pos, c) in enumerate(chunks(a, b)):
        if i < 2 or i == len(chunks(a, b)) - 1:
            offsets += [("chunk header", pos), ("chunk header", pos + 3), ("zlib header", pos + 4)]
        offsets += [(data, pos + 4 + c // 2), ("adler-32", pos + 3 + c)]
for i in range(p2, T - 16, max(1, (T - 16 - p2) // 40)):
    offsets.append(("index", i))
offsets += [("positions", o) for o in (T - 16, T - 13, T - 9, T - 8, T - 1)]
L = struct.unpack("<i", f[T:T + 4])[0]
offsets += [("text length", T), ("text length", T + 3)]
offsets += [("builder text", o) for o in range(T + 4, F - 32, 3)]
offsets += [("marker", o) for o in range(F - 32, F - 16)]
offsets += [("digits", o) for o in range(F - 16, F - 8)]
offsets += [("end marker", o) for o in range(F - 8, F)]
for region, o in offsets:
    # Both a low and a high bit where a field's meaning turns on it (lengths, positions, text).
    for delta in (0x01,) if region in ("index", "chunk data", "program file data", "adler-32") else (0x01, 0x80):
        g = bytearray(f)
        g[o] ^= delta
        name = "%s/change.exe" % work
        open(name, "wb").write(g)
        r = subprocess.run([gbsetup, "verify", name], capture_output=True, text=True)
        words = r.stdout.strip().split(":")[0]
        print("%s\t%d\t%d\t%d\t%s" % (region.replace(" ", "_"), o, delta, r.returncode, words.replace(" ", "_")))
EOF
total=$(wc -l <"$work/changes.txt")
okays=$(awk -F'\t' '$5 == "ok" || $4 == 0' "$work/changes.txt" | wc -l)
check "$total changes: none verifies as ok or exits 0 ($okays did)" test "$total" -gt 250 -a "$okays" = 0
hidden=$(awk -F'\t' '$5 == "no_checksum" && $1 != "marker" && $1 != "digits"' "$work/changes.txt" | wc -l)
check "'no checksum' only where the change hides the marker ($hidden elsewhere)" test "$hidden" = 0
check "every change in chunk data is a checksum mismatch" \
  test "$(awk -F'\t' '$1 ~ /chunk|data|zlib|adler/ && $5 != "checksum_mismatch"' "$work/changes.txt" | wc -l)" = 0
awk -F'\t' '{ n[$1 " -> " $5]++ } END { for (k in n) printf "       %-40s %d\n", k, n[k] }' "$work/changes.txt" | sort

echo "== cut short, and a bare stub"
size=$(stat -c %s "$setup")
stubsize=$(stat -c %s "$win_stubs/Setup.exe")
# The image's end read from the section table by a reader of its own: where the package begins.
imageend=$(python3 -c '
import struct, sys
b = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", b, 0x3C)[0]
n, opt = struct.unpack_from("<H", b, pe + 6)[0], struct.unpack_from("<H", b, pe + 20)[0]
print(max(sum(struct.unpack_from("<II", b, pe + 24 + opt + 40 * i + 16)) for i in range(n)))' "$win_stubs/Setup.exe")
check "the stub's image ends at its size, $stubsize (section table: $imageend)" test "$imageend" = "$stubsize"
bad=0
for cut in $((stubsize + 1)) $((stubsize + 5000)) $(((stubsize + size) / 2)) $((size - 9)) $((size - 1)); do
  head -c "$cut" "$setup" >"$work/cut.exe"
  v="$("$gbsetup" verify "$work/cut.exe")"; rc=$?
  case "$v" in truncated*|damaged*) [ "$rc" = 1 ] || bad=$((bad + 1)) ;; *) bad=$((bad + 1)); echo "       cut $cut: $v" ;; esac
  for cmd in "list" "extract -o $work/x"; do
    # shellcheck disable=SC2086
    "$gbsetup" $cmd "$work/cut.exe" >/dev/null 2>"$work/err" && bad=$((bad + 1))
    grep -q "damaged" "$work/err" || { bad=$((bad + 1)); echo "       $cmd, cut $cut: $(cat "$work/err")"; }
  done
done
check "setups cut short: verify says truncated or damaged, list and extract say damaged, all exit 1" test "$bad" = 0
check "nothing extracted from a damaged setup" test ! -e "$work/x"
cp "$win_stubs/Setup.exe" "$work/stub.exe"
check "bare stub: list says no package" test "$("$gbsetup" list "$work/stub.exe")" = "no package"
check "bare stub: extract says no package" test "$("$gbsetup" extract "$work/stub.exe" -o "$work/x")" = "no package"
v="$("$gbsetup" verify "$work/stub.exe")"; rc=$?
check "bare stub: verify says no package, exit 1 ($v, $rc)" test "$v" = "no package" -a "$rc" = 1

echo "== Setup.exe under Wine refuses damaged copies before writing anything"
if ! wine_runs; then
  wine_not_run "the damaged copies under Wine"
else
  wine_start
  wine_display 250 299
  source "$repo/tests/e2e/lib/boxes.sh"
  snapshot() { find "$drive/users" "$drive/Program Files" -newer "$work/layout.txt" 2>/dev/null | sort; }
  touch "$work/layout.txt"
  before="$(snapshot)"
  mkdir -p "$work/w"
  # One damaged copy per region (the first change of each that verify called damage), and one cut short.
  # Chunk data here is that of the program files the release leaves in the package.
  awk -F'\t' '$5 != "no_checksum" && $1 !~ /adler|zlib|^chunk_data/ && !seen[$1]++ { print $1, $2, $3 }' "$work/changes.txt" >"$work/samples.txt"
  echo "cut $((size - 5000)) 0" >>"$work/samples.txt"
  n=0
  pids=()
  while read -r region offset delta; do
    n=$((n + 1))
    exe="d$n.exe"
    echo "$region $offset" >"$work/$exe.what"
    if [ "$region" = cut ]; then
      head -c "$offset" "$setup" >"$work/w/$exe"
    else
      python3 -c 'import sys; b = bytearray(open(sys.argv[1], "rb").read()); b[int(sys.argv[3])] ^= int(sys.argv[4]); open(sys.argv[2], "wb").write(b)' \
        "$setup" "$work/w/$exe" "$offset" "$delta"
    fi
    # Two at a time: each answers its own box.
    run_boxed "$work/w" "$exe" x </dev/null &
    pids+=($!)
    if [ "${#pids[@]}" = 2 ]; then wait "${pids[@]}"; pids=(); fi
  done <"$work/samples.txt"
  [ "${#pids[@]}" = 0 ] || wait "${pids[@]}"
  refused=0
  for i in $(seq 1 "$n"); do
    exe="d$i.exe"
    text="$(head -1 "$work/$exe.boxes")"
    if [ "$(cat "$work/$exe.rc")" = 1 ] && [ "$(wc -l <"$work/$exe.boxes")" = 1 ] &&
      [[ "$text" == *"$exe"*"已损坏或不完整，请重新下载后再安装"* ]]; then
      refused=$((refused + 1))
    else
      echo "       $(cat "$work/$exe.what"): exit $(cat "$work/$exe.rc"), boxes: $(cat "$work/$exe.boxes")"
    fi
  done
  after="$(snapshot)"
  [ "$after" = "$before" ] || diff <(echo "$before") <(echo "$after") | head -5
  check "$refused of $n damaged copies refused with one box naming the file, exit 1" test "$refused" = "$n" -a "$n" -ge 8
  check "no file written by any of them" test "$after" = "$before"
  check_not "no uninstall entry" wine_run reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\校验测试' >/dev/null 2>&1

  cp "$setup" "$work/w/good.exe"
  run_boxed "$work/w" good.exe x
  check "the undamaged setup installs without a box (exit $box_rc, $box_count boxes)" test "$box_rc" = 0 -a "$box_count" = 0
  check "data.bin installed byte for byte" cmp -s "$work/app/data.bin" "$drive/Program Files/$name/app/data.bin"
fi

if [ "$failures" -gt 0 ]; then
  echo "integrity: $failures check(s) failed"
  exit 1
fi
echo "integrity: all checks passed"
