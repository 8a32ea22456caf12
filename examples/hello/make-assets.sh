#!/usr/bin/env bash
# Draws the example's icon (16, 32 and 48 pixels) and its two wizard pictures with ImageMagick.
set -euo pipefail
cd "$(dirname "$0")"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
for s in 16 32 48; do
  r=$((s * 3 / 8))
  c=$((s / 2))
  convert -size ${s}x${s} xc:none -fill '#1f6fb2' -draw "roundrectangle 0,0 $((s-1)),$((s-1)) $((s/5)),$((s/5))" \
    -fill '#ffd23f' -draw "circle $c,$c $c,$((c-r))" -strip "PNG32:$tmp/$s.png"
done
convert "$tmp/16.png" "$tmp/32.png" "$tmp/48.png" hello.ico
mkdir -p images
# The welcome and finish pages: the left strip carries the picture, text stands on the right.
convert -size 508x289 gradient:'#ffffff'-'#dfe9f5' \
  -fill '#1f6fb2' -draw "rectangle 0,0 150,289" \
  -fill '#ffd23f' -draw "circle 75,120 75,70" -strip -quality 85 images/head.jpg
convert -size 508x57 gradient:'#ffffff'-'#dfe9f5' \
  -fill '#ffd23f' -draw "circle 470,28 470,10" -strip -quality 85 images/caption.jpg
echo "wrote hello.ico and images/ in $(pwd)"
