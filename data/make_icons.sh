#!/bin/sh
# Draws the program's icon with ImageMagick at 256 x 256 and scales it to the other
# freedesktop sizes. The PNGs are kept in the tree; run this again only to change them.
set -eu
cd "$(dirname "$0")"
convert -size 256x256 xc:none \
    -fill '#173a6b' -draw 'roundrectangle 8,8 247,247 40,40' \
    -fill none -stroke '#9fc4f0' -strokewidth 20 -draw 'circle 128,128 128,48' \
    -stroke '#dce9fa' -strokewidth 12 \
    -draw 'line 128,76 128,180' -draw 'line 76,128 180,128' \
    -draw 'line 92,92 164,164' -draw 'line 164,92 92,164' \
    -stroke none -fill '#173a6b' -draw 'circle 128,128 128,104' \
    -fill '#f2b134' -draw 'circle 128,128 128,116' \
    -define png:bit-depth=8 icons/ombrevault-256.png
for size in 16 22 24 32 48 64 128; do
    convert icons/ombrevault-256.png -filter Lanczos -resize ${size}x${size} \
        -define png:bit-depth=8 icons/ombrevault-${size}.png
done
