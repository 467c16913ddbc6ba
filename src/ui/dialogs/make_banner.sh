#!/bin/sh
# Draws the About box's banner (550 x 28) with ImageMagick. The PNG is kept in the tree.
set -eu
cd "$(dirname "$0")"
BOLD=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
convert -size 28x550 gradient:'#0a1a33'-'#24589e' -rotate 90 \
    -font "$BOLD" -pointsize 18 -fill white -annotate +8+21 'Ombrevault' \
    -fill none -stroke '#3d78c4' -strokewidth 2 \
    -draw 'line 430,28 458,0' -draw 'line 460,28 488,0' -draw 'line 490,28 518,0' \
    -draw 'line 520,28 548,0' \
    -define png:bit-depth=8 aboutbanner.png
