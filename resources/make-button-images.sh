#!/bin/sh
# Renders the control bar's button images from their SVG sources in svg/: 96 x 96 pixels,
# 8-bit RGBA, so they stay sharp at twice the bar's size on HiDPI screens.
set -eu
cd "$(dirname "$0")"
for source in svg/*.svg; do
    name=$(basename "$source" .svg)
    rsvg-convert --width 96 --height 96 --format png --output "$name.png" "$source"
done
