#!/usr/bin/env bash
# Pictures of the main window in its three modes and of the About box, taken on a virtual X
# display with the real xcb platform: scripts/screenshots.sh <build-dir> [output-dir]
# Writes main-by-frame.png, main-by-size.png, main-by-time.png and about.png (default: docs/).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:?usage: scripts/screenshots.sh <build-dir> [output-dir]}
out=${2:-docs}
tool="$build/tests/ui/tarnwick_screenshots"

cmake --build "$build" --target tarnwick_screenshots -j "$(nproc)" >/dev/null
mkdir -p "$out"
# A fixed DPI keeps the pictures comparable from one machine to the next.
QT_QPA_PLATFORM=xcb QT_FONT_DPI=96 \
  xvfb-run --auto-servernum --server-args="-screen 0 1280x1024x24 -dpi 96" "$tool" "$out"

# Keep the committed pictures small.
if command -v optipng >/dev/null; then
  optipng -quiet -o2 "$out"/main-by-*.png "$out"/about.png
fi
