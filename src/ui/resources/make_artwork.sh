#!/bin/sh
# Draws the window's artwork with ImageMagick. The PNGs are kept in the tree; run this
# again only to change them.
set -eu
cd "$(dirname "$0")"
BOLD=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
BOOK=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf

# Program icon: the installed icon (data/make_icons.sh draws it) at 64 x 64.
convert ../../../data/icons/ombrevault-256.png -filter Lanczos -resize 64x64 ombrevault.png

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
