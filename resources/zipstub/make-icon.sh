#!/usr/bin/env bash
# Draws MAINICON (16x16 and 32x32): a parcel with a green arrow going in.
# 16-colour images with a transparency mask keep it about 1 KB, as the icon
# is downloaded with every package. The .ico is committed; run this only to
# change the picture.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
draw() {  # draw SIZE OUT; coordinates are given for 32x32 and scaled
  local s=$1
  p() { awk -v s="$s" 'BEGIN { for (i = 1; i < ARGC; i += 2) printf "%s%g,%g", (i > 1 ? " " : ""), ARGV[i] * s / 32, ARGV[i + 1] * s / 32 }' "$@"; }
  convert -size "${s}x${s}" xc:none +antialias -strokewidth "$([ "$s" -gt 16 ] && echo 1 || echo 0.6)" \
    -stroke '#5a3a10' -fill '#d9a55b' -draw "rectangle $(p 4 13 27 29)" \
    -fill '#c08a40' -draw "polygon $(p 4 13 8 8 31 8 27 13)" \
    -stroke none -fill '#f4e2b8' -draw "rectangle $(p 13 13 18 29)" \
    -stroke '#145214' -fill '#2fa02f' -draw "polygon $(p 12 1 19 1 19 8 23 8 15.5 16 8 8 12 8)" \
    "PNG32:$2"
}
draw 16 "$tmp/16.png"
draw 32 "$tmp/32.png"
convert "$tmp/16.png" "$tmp/32.png" -alpha on -channel A -threshold 50% +channel \
  -dither None -colors 15 -type PaletteAlpha zipstub.ico
