#!/usr/bin/env bash
# Draws MAINICON of install.exe (16 and 32 pixels): a handheld with a
# dark blue screen and a white arrow going onto it. The .ico is committed;
# run this only to change the picture.
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
draw 16 "$tmp/16.png"
draw 32 "$tmp/32.png"
convert "$tmp/16.png" "$tmp/32.png" install.ico
