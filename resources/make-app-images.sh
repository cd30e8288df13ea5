#!/bin/sh
# Renders the application's pictures from their SVG sources in this folder:
#   app-svg/lens.svg -> lens.png     (64 x 64, the camera buttons of the scanner window)
#   app-svg/logo.svg -> logo.png     (360 x 120, the watermark of the local camera preview)
#   vistamo.svg   -> vistamo.png  (256 x 256, the application icon)
#   vistamo.svg   -> icons/NxN/vistamo.png (the icon in the desktop's usual sizes, 16 to 512)
# (Kept apart from svg/, which make-button-images.sh renders at the bar's size.)
# Needs rsvg-convert. Run from anywhere: sh resources/make-app-images.sh
set -eu
here=$(cd "$(dirname "$0")" && pwd)
rsvg-convert -w 64 -h 64 "$here/app-svg/lens.svg" -o "$here/lens.png"
rsvg-convert -w 360 -h 120 "$here/app-svg/logo.svg" -o "$here/logo.png"
rsvg-convert -w 256 -h 256 "$here/vistamo.svg" -o "$here/vistamo.png"
for size in 16 22 24 32 48 64 128 256 512; do
  mkdir -p "$here/icons/${size}x${size}"
  rsvg-convert -w "$size" -h "$size" "$here/vistamo.svg" -o "$here/icons/${size}x${size}/vistamo.png"
done
