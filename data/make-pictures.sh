#!/bin/sh
# Makes the window logo (data/logo.jpg, 679 x 139) and the window icon (data/regbench.png, 32 x 32, 16 colours).
# Needs ImageMagick and fonts-liberation2. The outputs are committed; run this again only after changing it.
set -eu

# A stand-in "convert" may come first on PATH; use ImageMagick's own.
CONVERT=${CONVERT:-/usr/bin/convert}
FONT=${FONT:-/usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf}
here=$(cd "$(dirname "$0")" && pwd)

navy='#1f3a5f'
pin='#8a96a3'
green='#00c000'
grey='#7f7f7f'

# Eight bit cells reading 10100101 (0xA5), most significant bit on the left, as the register panels show them.
bit_cells() {
    x=$1 y=$2 w=$3 h=$4 gap=$5
    for bit in 1 0 1 0 0 1 0 1; do
        if [ "$bit" = 1 ]; then colour=$green; else colour=$grey; fi
        printf -- "-fill '%s' -draw 'rectangle %d,%d %d,%d' " "$colour" "$x" "$y" $((x + w - 1)) $((y + h - 1))
        x=$((x + w + gap))
    done
}

# The chip: a dark body with four pins on each side.
chip_pins() {
    left=$1 top=$2 size=$3 pinlen=$4 pinw=$5
    step=$((size / 4))
    for i in 0 1 2 3; do
        c=$((step / 2 + i * step))
        printf -- "-fill '%s' " "$pin"
        printf -- "-draw 'rectangle %d,%d %d,%d' " $((left - pinlen)) $((top + c - pinw / 2)) $((left - 1)) $((top + c + pinw / 2))
        printf -- "-draw 'rectangle %d,%d %d,%d' " $((left + size)) $((top + c - pinw / 2)) $((left + size + pinlen - 1)) $((top + c + pinw / 2))
        printf -- "-draw 'rectangle %d,%d %d,%d' " $((left + c - pinw / 2)) $((top - pinlen)) $((left + c + pinw / 2)) $((top - 1))
        printf -- "-draw 'rectangle %d,%d %d,%d' " $((left + c - pinw / 2)) $((top + size)) $((left + c + pinw / 2)) $((top + size + pinlen - 1))
    done
}

logo() {
    eval "\"$CONVERT\" -size 679x139 xc:white \
        $(chip_pins 34 30 80 12 8) \
        -fill '$navy' -draw 'roundrectangle 34,30 113,109 8,8' \
        -fill white -font '$FONT' -pointsize 30 -gravity NorthWest -annotate +50+53 '1C' \
        -fill '$navy' -pointsize 92 -annotate +152+4 'reg' \
        -fill '$green' -annotate +296+4 'bench' \
        $(bit_cells 157 108 30 18 6) \
        -fill '$grey' -font '$FONT' -pointsize 20 -annotate +455+107 '8-bit register bench' \
        -fill '#d7dee6' -draw 'rectangle 0,136 678,138' \
        -strip -quality 92 -sampling-factor 1x1 '$here/logo.jpg'"
}

icon() {
    eval "\"$CONVERT\" -size 32x32 xc:none +antialias \
        $(chip_pins 6 6 20 4 2) \
        -fill '$navy' -draw 'rectangle 6,6 25,25' \
        -fill '$green' -draw 'rectangle 9,9 14,14' -draw 'rectangle 17,17 22,22' \
        -fill '$grey' -draw 'rectangle 17,9 22,14' -draw 'rectangle 9,17 14,22' \
        -colors 16 -strip -define png:exclude-chunks=date,time 'PNG8:$here/regbench.png'"
}

logo
icon
