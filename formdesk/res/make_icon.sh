#!/usr/bin/env bash
# Draws formdesk.ico (48, 32 and 16 pixels): a form sheet with lines and a QR-like mark on the
# kit's blue. Needs ImageMagick; only to redraw the icon.
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for s in 48 32 16; do
  m=$((s / 8)) w=$((s - 1))
  convert -size ${s}x${s} xc:none \
    -fill '#1f5fa8' -draw "roundrectangle 0,0 $w,$w $((s / 6)),$((s / 6))" \
    -fill white -draw "rectangle $((m + 1)),$m $((s - m - 2)),$((s - m))" \
    -fill '#1f5fa8' -draw "rectangle $((m * 2)),$((m * 2)) $((s / 2)),$((m * 2 + s / 16))" \
    -draw "rectangle $((m * 2)),$((s / 2 - 1)) $((s - m * 2 - 1)),$((s / 2 + s / 24))" \
    -fill '#c0392b' -draw "rectangle $((s - m * 3 - 1)),$((s - m * 3 - 1)) $((s - m * 2 - 1)),$((s - m * 2 - 1))" \
    PNG32:"$tmp/$s.png"
done
convert "$tmp/48.png" "$tmp/32.png" "$tmp/16.png" formdesk.ico
