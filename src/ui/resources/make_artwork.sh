#!/bin/sh
# Draws the window's artwork with ImageMagick. The PNGs are kept in the tree; run this
# again only to change them.
set -eu
cd "$(dirname "$0")"
BOLD=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
BOOK=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf

# Program icon: a vault door on a dark blue tile.
convert -size 64x64 xc:none \
    -fill '#173a6b' -draw 'roundrectangle 2,2 61,61 10,10' \
    -fill none -stroke '#9fc4f0' -strokewidth 5 -draw 'circle 32,32 32,12' \
    -stroke '#dce9fa' -strokewidth 3 \
    -draw 'line 32,19 32,45' -draw 'line 19,32 45,32' \
    -draw 'line 23,23 41,41' -draw 'line 41,23 23,41' \
    -stroke none -fill '#173a6b' -draw 'circle 32,32 32,26' \
    -fill '#f2b134' -draw 'circle 32,32 32,29' \
    ombrevault.png

# Banner across the top of the window: 576 x 64.
convert -size 64x576 gradient:'#0a1a33'-'#24589e' -rotate 90 \
    \( ombrevault.png -resize 48x48 \) -geometry +14+8 -composite \
    -font "$BOLD" -pointsize 26 -fill white -annotate +74+36 'Ombrevault' \
    -font "$BOOK" -pointsize 12 -fill '#b9d3f5' \
    -annotate +76+54 'Files and free space destroyed beyond recovery' \
    -fill none -stroke '#3d78c4' -strokewidth 2 \
    -draw 'line 440,64 504,0' -draw 'line 470,64 534,0' -draw 'line 500,64 564,0' \
    -draw 'line 530,64 594,0' \
    -stroke '#0a1a33' -strokewidth 1 -draw 'line 0,63 575,63' \
    banner.png

# Small picture beside the advice: a caution sign.
convert -size 36x36 xc:none \
    -fill '#f2b134' -stroke '#8a5a00' -strokewidth 2 -draw 'polygon 18,3 34,32 2,32' \
    -stroke none -fill '#3b2a00' -draw 'roundrectangle 16,11 20,24 2,2' \
    -draw 'circle 18,28 18,26' \
    picture2.png
