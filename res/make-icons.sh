#!/usr/bin/env bash
# Regenerates the icon images from veltrano.svg (run after editing the drawing
# and commit the results):
#   icons/veltrano-<size>.png  at 16, 24, 32, 48 and 256 px (rsvg-convert,
#                              Debian package librsvg2-bin)
#   veltrano.ico               icon group 128 for Windows, thirteen images:
#                              48, 32, 24, 16 px at 16 and at 256 colours, then
#                              256 (stored as PNG), 48, 32, 24, 16 px at 32 bits
#                              (ImageMagick reduces the colours, icotool from
#                              icoutils writes the file)
# The same tools' versions give the same bytes: no dates are stored.
set -euo pipefail
cd "$(dirname "$0")"

sizes=(16 24 32 48 256)
for s in "${sizes[@]}"; do
  rsvg-convert -w "$s" -h "$s" veltrano.svg -o "icons/veltrano-$s.png"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A palette image per size and depth: transparency made all-or-nothing (the
# icon's mask), one palette entry left for it.
paletted() {
  local size=$1 colours=$2
  convert "icons/veltrano-$size.png" -channel A -threshold 50% +channel \
    -dither FloydSteinberg -colors $((colours - 1)) \
    -define png:exclude-chunks=date,time "PNG8:$work/$colours-$size.png"
  echo "$work/$colours-$size.png"
}
args=()
for depth in 4 8; do
  args+=(-b "$depth")
  for s in 48 32 24 16; do args+=("$(paletted "$s" $((1 << depth)))"); done
done
args+=(-r icons/veltrano-256.png -b 32)
for s in 48 32 24 16; do args+=("icons/veltrano-$s.png"); done
icotool -c -o veltrano.ico "${args[@]}"
