#!/bin/sh
# Rasterises the hand-drawn artwork into the package's images (rsvg-convert draws, ImageMagick flattens).
set -e
cd "$(dirname "$0")"
out=../common/images
rsvg-convert -z 2 logo.svg | convert - -resize 240x56 -strip "$out/logo.png"
rsvg-convert -z 3 logo_print.svg | convert - -background white -flatten -colorspace Gray -strip "$out/logo_print.png"
rsvg-convert -z 2 service_code.svg | convert - -background white -flatten -colorspace Gray -strip "$out/service_code.png"
