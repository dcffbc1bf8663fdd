#!/usr/bin/env bash
# Draws the application icon (a film strip cut in two) and writes it at the sizes the window
# manager and the About box use. Run by hand after changing the drawing; the PNGs are committed.
set -euo pipefail
cd "$(dirname "$0")/icons"

holes() {  # $1: first x, $2: last x, $3: y offset
    local x
    for ((x = $1; x <= $2; x += 22)); do
        printf 'rectangle %d,%d %d,%d ' "$x" $((88 + $3)) $((x + 10)) $((98 + $3))
        printf 'rectangle %d,%d %d,%d ' "$x" $((158 + $3)) $((x + 10)) $((168 + $3))
    done
}

convert -size 256x256 xc:none \
    -fill '#2b6f8e' -draw 'roundrectangle 8,8 247,247 44,44' \
    -fill '#1c1c1c' -draw 'rectangle 18,78 118,178' -draw 'rectangle 138,90 238,190' \
    -fill '#f4f4f4' -draw "$(holes 26 104 0)" -draw "$(holes 146 224 12)" \
    -fill '#9fd3e6' -draw 'rectangle 28,104 108,152' -draw 'rectangle 148,116 228,164' \
    -stroke '#e8463a' -strokewidth 8 -fill none \
    -draw 'line 128,30 128,58' -draw 'line 128,82 128,174' -draw 'line 128,198 128,226' \
    tarnwick-256.png

for size in 16 24 32 48 64 128; do
    convert tarnwick-256.png -resize ${size}x${size} -strip tarnwick-${size}.png
done
optipng -quiet tarnwick-*.png 2>/dev/null || true
