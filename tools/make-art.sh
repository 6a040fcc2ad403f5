#!/bin/bash
# Regenerates the program's raster art from its SVG sources:
#   res/emblem.bmp     128 x 128, 24 bpp, bottom-up, 3780 pixels per metre,
#                      on white (the window and the About dialog draw it as is)
#   res/quillmere.ico  nine images, in the order the icon groups list them:
#                      32 and 16 at 4 bpp; 48, 32 and 16 at 8 bpp;
#                      256 at 32 bpp stored as PNG; 48, 32 and 16 at 32 bpp.
# Sources: res/emblem.svg (48 px and up), res/emblem-32.svg, res/emblem-16.svg.
# Needs rsvg-convert, ImageMagick's convert and icotool.
# Run it after changing any of the SVG files; both outputs are committed.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
res=$root/res
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

render() { # svg size out.png
    rsvg-convert -w "$2" -h "$2" -f png -o "$3" "$1"
}

render "$res/emblem.svg"    256 "$work/full256.png"
render "$res/emblem.svg"    128 "$work/full128.png"
render "$res/emblem.svg"     48 "$work/full48.png"
render "$res/emblem-32.svg"  32 "$work/full32.png"
render "$res/emblem-16.svg"  16 "$work/full16.png"

# --- emblem bitmap
# BMP3 gives the plain BITMAPINFOHEADER layout; TrueColor with alpha off
# forces 24 bpp without a palette. The header wants 3780 pixels per metre
# (96 dpi); convert truncates density x 100 to an integer and 37.8 x 100
# comes out a hair under 3780 in floating point, hence the extra 0.005.
convert "$work/full128.png" -background white -alpha remove -alpha off \
    -type TrueColor -units PixelsPerCentimeter -density 37.805 \
    "BMP3:$res/emblem.bmp"

# --- icon images
# Paletted entries carry transparency only as the 1-bit mask, so each is
# built from two halves: the colours, reduced without dithering, and the
# alpha channel cut to on/off at 50 %. icotool then sees at most 16 or 256
# colours (the transparent one included) and stores 4 or 8 bits per pixel.
with_mask() { # in.png out.png colour-reduction-options...
    local in=$1 out=$2
    shift 2
    convert "$in" -write mpr:src +delete \
        \( mpr:src -alpha off -dither None "$@" \) \
        \( mpr:src -alpha extract -threshold 50% \) \
        -alpha off -compose CopyOpacity -composite \
        "PNG32:$out"
}

# The 16-colour images use the 15 colours of the 16-pixel drawing, mapped
# onto directly; an adaptive 15-colour palette for the 32-pixel drawing
# loses the parasol's red to the sand. Transparent pixels are painted in
# the frame's colour first so that they add no colour of their own.
convert "$work/full16.png" -background '#37474f' -alpha remove -alpha off \
    -unique-colors "$work/palette.png"
colours=$(convert "$work/palette.png" -format %w info:)
if [ "$colours" -gt 15 ]; then
    echo "emblem-16.svg uses $colours colours; the 16-colour icons allow 15" >&2
    exit 1
fi
with_mask "$work/full32.png" "$work/p32x4.png" -remap "$work/palette.png"
with_mask "$work/full16.png" "$work/p16x4.png" -remap "$work/palette.png"
with_mask "$work/full48.png" "$work/p48x8.png" -colors 255
with_mask "$work/full32.png" "$work/p32x8.png" -colors 255
with_mask "$work/full16.png" "$work/p16x8.png" -colors 255

icotool -c -o "$res/quillmere.ico" \
    -b 4 "$work/p32x4.png" \
    -b 4 "$work/p16x4.png" \
    -b 8 "$work/p48x8.png" \
    -b 8 "$work/p32x8.png" \
    -b 8 "$work/p16x8.png" \
    -r "$work/full256.png" \
    -b 32 "$work/full48.png" \
    -b 32 "$work/full32.png" \
    -b 32 "$work/full16.png"

echo "wrote $res/emblem.bmp and $res/quillmere.ico"
