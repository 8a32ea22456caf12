#!/usr/bin/env bash
# What the package check adds to a silent installation under Wine: the same generated setup
# installed with its checksum and with the checksum's marker spoilt (so Setup.exe does not
# check), alternately, several times; prints each time and the medians.
#   bench/checksum-cost.sh [MB] [RUNS]   (after scripts/build.sh; default 300 MB, 3 runs each)
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$(pwd)"
mb="${1:-300}"
runs="${2:-3}"
work="$(mktemp -d /tmp/gbsetup-crccost.XXXXXX)"
# The stubs of GBSETUP_WIN_ARCH (default x86_64, which runs on every machine of ours).
source tests/e2e/lib/windows.sh
data="$win_data"
trap 'wine_cleanup; rm -rf "$work"' EXIT
echo "checksum-cost: $win_arch Setup.exe"

# A corpus of text-like and random files, 100 KB to 2 MB each, deterministic.
python3 - "$work/app" "$mb" <<'EOF'
import os, random, sys
root, total = sys.argv[1], int(sys.argv[2]) * 1000 * 1000
rng = random.Random(10)
words = [b"setup ", b"install ", b"program ", b"file\r\n", b"component ", b"the ", b"registry "]
n = size = 0
while size < total:
    k = rng.randint(100_000, 2_000_000)
    if n % 3 == 2:
        data = rng.randbytes(k)
    else:
        data = b"".join(rng.choice(words) for _ in range(k // 6))[:k]
    d = os.path.join(root, "d%02d" % (n % 20))
    os.makedirs(d, exist_ok=True)
    open(os.path.join(d, "f%04d.dat" % n), "wb").write(data)
    n, size = n + 1, size + k
print("%d files, %d bytes" % (n, size))
EOF
(
  cd "$work"
  "$gbsetup" new p.gbp
  "$gbsetup" set p.gbp 项目名称 CrcCost
  "$gbsetup" set p.gbp 安装界面显示 否
  "$gbsetup" add-folder p.gbp app --to "Program Files"
  "$gbsetup" page p.gbp 安装完毕 主程序 app/d00/f0000.dat
  "$gbsetup" page p.gbp 选择安装文件夹 程序文件夹名称 CrcCost
  "$gbsetup" --data "$data" build --arch "$win_setup_arch" p.gbp --output out
) >/dev/null
cp "$work/out/CrcCost.exe" "$work/checked.exe"
python3 - "$work/checked.exe" "$work/unchecked.exe" <<'EOF'
import sys
b = bytearray(open(sys.argv[1], "rb").read())
at = len(b) - 32 + 2  # the "g" of "gbsetup-crc32:" in the text block
assert b[at:at + 14] == b"gbsetup-crc32:"
b[at] = ord("x")
open(sys.argv[2], "wb").write(b)
EOF
echo "setup: $(stat -c %s "$work/checked.exe") bytes; $("$gbsetup" verify "$work/unchecked.exe")"

wine_start
inst="$drive/Program Files/CrcCost"
declare -A times
for i in $(seq 1 "$runs"); do
  for v in checked unchecked; do
    rm -rf "$inst"
    cat "$work/$v.exe" >/dev/null  # both from the page cache
    t0=$(date +%s.%N)
    (cd "$work" && "$repo/scripts/wine-run.sh" "$v.exe" x >/dev/null 2>&1)
    t1=$(date +%s.%N)
    t=$(echo "$t1 - $t0" | bc)
    times[$v]+="$t "
    echo "run $i $v: $t s"
  done
done
median() { tr ' ' '\n' | grep . | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
fastest() { tr ' ' '\n' | grep . | sort -n | head -1; }
for stat in median fastest; do
  c=$(echo "${times[checked]}" | $stat)
  u=$(echo "${times[unchecked]}" | $stat)
  echo "$stat with the check: $c s, without: $u s, cost: $(echo "scale=1; ($c - $u) * 100 / $u" | bc) %"
done
