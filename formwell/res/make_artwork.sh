#!/bin/bash
# Draws formwell's pictures (our own artwork) with ImageMagick and the Debian fonts; run it by hand
# after changing a picture, and commit the results (the build only reads them):
#   start.bmp   bitmap 180, the start dialog's background, 300 x 160, 24 bits per pixel (the dialog,
#               171 x 85 dialog units of Arial 9 pt, shows about 299 x 149 of it). The band
#               from y 100 to 134 stays plain for the two links (dialog units 38,62 and 90,62).
#   update.bmp  bitmap 143, the update dialog's side picture (0,0 to 109,185 dialog units: 190 x 324
#               pixels with the start dialog's font, Arial 9 pt).
#   formwell.ico icon 128, 16, 32 and 48 pixels.
set -euo pipefail
cd "$(dirname "$0")"
cjk=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
latin=/usr/share/fonts/truetype/liberation/LiberationSans-Bold.ttf

# --- bitmap 180 ---
convert -size 300x160 gradient:'#f4f8fd'-'#dbe8f6' \
  \( -size 300x44 gradient:'#1f4f8f'-'#2d6cb5' \) -geometry +0+0 -composite \
  -fill '#ffffff' -font "$cjk" -pointsize 15 -annotate +14+28 'Velor服务平台自助申请软件' \
  -fill '#f0a030' -draw 'rectangle 0,44 300,47' \
  -fill '#33475b' -font "$cjk" -pointsize 13 -annotate +22+80 '请选择您要填写的申请：' \
  -fill '#ffffff' -stroke '#b9cde4' -draw 'roundrectangle 44,100 256,134 6,6' -stroke none \
  -fill '#7a8a9a' -font "$cjk" -pointsize 10 -annotate +22+146 '单击上面的一项开始' \
  -fill '#9fb3c8' -font "$latin" -pointsize 10 -annotate +236+146 'Orvanta' \
  -alpha off -type TrueColor BMP3:start.bmp

# --- bitmap 143 ---
convert -size 190x324 gradient:'#2d6cb5'-'#153a6b' \
  -fill '#ffffff20' -draw 'circle 165,40 165,130' -draw 'circle 20,305 20,385' \
  -fill '#f0a030' -draw 'rectangle 18,70 22,140' \
  -fill '#ffffff' -font "$latin" -pointsize 26 -annotate +30+100 'Velor' \
  -fill '#dbe8f6' -font "$cjk" -pointsize 14 -annotate +30+128 '自助申请软件' \
  -fill '#dbe8f6' -font "$cjk" -pointsize 12 -annotate +30+250 '在线升级' \
  -fill '#9fb3c8' -font "$latin" -pointsize 11 -annotate +30+300 'Orvanta' \
  -alpha off -type TrueColor BMP3:update.bmp

# --- icon 128 ---
convert -size 48x48 xc:none \
  -fill '#2d6cb5' -draw 'roundrectangle 2,2 45,45 8,8' \
  -fill '#ffffff' -draw 'rectangle 12,9 36,39' \
  -fill '#9fb3c8' -draw 'rectangle 16,15 32,17' -draw 'rectangle 16,21 32,23' -draw 'rectangle 16,27 26,29' \
  -stroke '#f0a030' -strokewidth 4 -fill none -draw 'polyline 22,32 27,37 38,24' \
  -define icon:auto-resize=48,32,16 formwell.ico
