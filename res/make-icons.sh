#!/usr/bin/env bash
# Regenerates the icon images from veltrano.svg (run after editing the drawing
# and commit the results):
#   icons/veltrano-<size>.png  at 16, 24, 32, 48 and 256 px (rsvg-convert,
#                              Debian package librsvg2-bin)
#   veltrano.ico               all five sizes for Windows (ImageMagick)
set -euo pipefail
cd "$(dirname "$0")"

sizes=(16 24 32 48 256)
pngs=()
for s in "${sizes[@]}"; do
  rsvg-convert -w "$s" -h "$s" veltrano.svg -o "icons/veltrano-$s.png"
  pngs+=("icons/veltrano-$s.png")
done
# Windows reads the 256 px image as PNG and the smaller ones as 32-bit bitmaps.
convert "${pngs[@]}" veltrano.ico
