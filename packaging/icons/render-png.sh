#!/bin/sh
# Renders the 48 x 48 PNG of each program's icon from its SVG. The PNGs are kept in the
# repository so that a build needs no SVG renderer; run this after changing an SVG.
# Needs rsvg-convert (Debian: librsvg2-bin).
set -eu
cd "$(dirname "$0")"
for svg in *.svg; do
    program=${svg%.svg}
    rsvg-convert --width 48 --height 48 --output "$program-48.png" "$svg"
    echo "$program-48.png"
done
