#!/usr/bin/env bash
# Draws the icons of the two stubs (16, 32 and 48 pixels) with ImageMagick: a box for
# Setup.exe, the same box with a red cross for UnIns.exe. The builder replaces Setup.exe's
# icon with the project's; these are what an unbranded stub shows.
set -euo pipefail
cd "$(dirname "$0")/.."
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
for s in 16 32 48; do
  m=$((s / 8)); e=$((s - 1 - s / 8)); t=$((s * 3 / 8))
  convert -size ${s}x${s} xc:none \
    -fill '#c8893a' -stroke '#6b4416' -strokewidth 1 -draw "rectangle $m,$t $e,$e" \
    -fill '#e0a95b' -draw "polygon $m,$t $((s / 2)),$((t - s / 4)) $e,$t" \
    -stroke '#2d7d2d' -strokewidth $((s / 12 + 1)) -draw "line $((s / 2)),$((m)) $((s / 2)),$((s * 3 / 4))" \
    -strip "PNG32:$tmp/setup$s.png"
  convert "$tmp/setup$s.png" -stroke '#c62828' -strokewidth $((s / 10 + 1)) \
    -draw "line $((s / 2)),$((s / 2)) $e,$e" -draw "line $e,$((s / 2)) $((s / 2)),$e" -strip "PNG32:$tmp/unins$s.png"
done
# The images stay PNG inside the icon files (Windows reads them so since Vista): a third of
# the size of bitmaps, and the stubs carry these bytes into every setup.
ico() {  # ico OUT PNG...
  python3 - "$@" <<'PY'
import struct, sys
out, pngs = sys.argv[1], [open(p, "rb").read() for p in sys.argv[2:]]
head = struct.pack("<HHH", 0, 1, len(pngs))
at = 6 + 16 * len(pngs)
entries = b""
for data in pngs:
    w, h = struct.unpack(">II", data[16:24])
    entries += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(data), at)
    at += len(data)
open(out, "wb").write(head + entries + b"".join(pngs))
PY
}
ico src/apps/setup/Setup.ico "$tmp/setup16.png" "$tmp/setup32.png" "$tmp/setup48.png"
ico src/apps/unins/UnIns.ico "$tmp/unins16.png" "$tmp/unins32.png" "$tmp/unins48.png"
echo "wrote src/apps/setup/Setup.ico and src/apps/unins/UnIns.ico"
