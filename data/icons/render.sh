#!/usr/bin/env bash
# Renders korvalen.svg as the hicolor PNGs (run after changing the SVG; the
# PNGs are kept in the repository so a build needs no SVG renderer).
# Needs librsvg2-bin.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
    mkdir -p "hicolor/${size}x${size}/apps"
    rsvg-convert -w "$size" -h "$size" korvalen.svg -o "hicolor/${size}x${size}/apps/korvalen.png"
done
