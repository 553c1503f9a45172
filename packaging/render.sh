#!/bin/sh
# Rasterises the kit's icon for desktops that want a bitmap (needs librsvg2-bin; only to redraw it).
set -e
cd "$(dirname "$0")"
rsvg-convert -w 256 -h 256 formwell.svg -o formwell-256.png
rsvg-convert -w 48 -h 48 formwell.svg -o formwell-48.png
