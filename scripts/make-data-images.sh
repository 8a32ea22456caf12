#!/usr/bin/env bash
# Draws the wizard's default pictures into data/Image with ImageMagick:
#   Head.jpg     508x289, background of the welcome and finish pages (text sits right of x=167)
#   Caption.jpg  508x57, header strip of the other pages (text sits on its left)
# Run again after changing the drawing; commit the generated JPEGs.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
out="$here/data/Image"
mkdir -p "$out"

# Head: a blue side panel with soft circles on the left, white text area on the right.
convert -size 508x289 xc:white \
  \( -size 289x160 gradient:'#1d4f91'-'#5aa0e6' -rotate 90 \) -geometry +0+0 -composite \
  -fill 'rgba(255,255,255,0.18)' -draw 'circle 40,230 40,300' \
  -fill 'rgba(255,255,255,0.12)' -draw 'circle 120,60 120,140' \
  -fill 'rgba(255,255,255,0.25)' -draw 'circle 80,150 80,175' \
  -fill '#d8e6f5' -draw 'rectangle 160,0 161,289' \
  -strip -quality 90 -sampling-factor 4:2:0 "$out/Head.jpg"

# Caption: white strip fading to light blue on the right, a thin rule at the bottom.
convert -size 57x508 gradient:white-'#cfe0f4' -rotate -90 \
  -fill '#5aa0e6' -draw 'circle 470,28 470,46' \
  -fill 'rgba(255,255,255,0.5)' -draw 'circle 478,20 478,28' \
  -fill '#a0b4cc' -draw 'rectangle 0,55 508,56' \
  -strip -quality 90 -sampling-factor 4:2:0 "$out/Caption.jpg"

identify "$out/Head.jpg" "$out/Caption.jpg"
