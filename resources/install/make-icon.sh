#!/usr/bin/env bash
# Draws MAINICON of install.exe (16 and 32 pixels): a handheld with a
# dark blue screen and a white arrow going onto it. Each size keeps its 15
# most frequent colours and a transparency mask: 16-colour images take about
# 1 KB where 32-bit ones took 5 KB. The .ico is committed; run this only to
# change the picture.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
draw() {  # draw SIZE OUT; coordinates are for 48x48 and scaled
  local s=$1
  pt() { awk -v s="$s" 'BEGIN { for (i = 1; i < ARGC; i += 2) printf "%s%g,%g", (i > 1 ? " " : ""), ARGV[i] * s / 48, ARGV[i + 1] * s / 48 }' "$@"; }
  local w; w=$(awk -v s="$s" 'BEGIN { print (s >= 32 ? 1.5 : 0.8) }')
  convert -size "${s}x${s}" xc:none -strokewidth "$w" \
    -stroke '#202020' -fill '#9aa3ad' -draw "roundrectangle $(pt 9 3 39 45) $(pt 4 4)" \
    -stroke '#101030' -fill '#000080' -draw "rectangle $(pt 13 8 35 32)" \
    -stroke none -fill '#5d6670' -draw "circle $(pt 24 39 24 42)" \
    -stroke '#000000' -fill '#ffffff' -draw "polygon $(pt 20 10 28 10 28 19 33 19 24 29 15 19 20 19)" \
    "PNG32:$2"
}
# reduce SIZE: the drawing with its alpha cut at 50% and its colours mapped
# onto its own 15 most frequent ones (a shared palette would blur the arrow's
# outline into the screen at 32 pixels).
reduce() {
  local s=$1
  convert "$tmp/$s.png" -alpha on -channel A -threshold 50% +channel "$tmp/$s-cut.png"
  convert "$tmp/$s-cut.png" -alpha off -format %c histogram:info:- | sort -rn | head -15 |
    sed -E 's/.*(#[0-9A-Fa-f]{6}).*/xc:\1/' | xargs sh -c 'convert "$@" +append "$0"' "$tmp/$s-palette.png"
  convert "$tmp/$s-cut.png" -alpha off -dither None -remap "$tmp/$s-palette.png" \
    \( "$tmp/$s-cut.png" -alpha extract \) -compose CopyOpacity -composite "$tmp/$s-reduced.png"
}
draw 16 "$tmp/16.png"
draw 32 "$tmp/32.png"
reduce 16
reduce 32
convert "$tmp/16-reduced.png" "$tmp/32-reduced.png" -type PaletteAlpha install.ico
