#!/usr/bin/env bash
# Pictures of the main window in its three modes and of the About box, taken on a virtual X
# display with the real xcb platform: scripts/screenshots.sh <build-dir> [output-dir]
# Writes main-by-frame.png, main-plan-line.png (the plan line of a clip), main-by-size.png, main-by-time.png and about.png (default: docs/),
# the same with the desktop's font at 12 points (main-by-frame-12pt.png, ...), preview-dvd.png
# (a 720x576 recording made here with ffmpeg, opened beside a main window that starts in the
# middle of a 1280x1024 screen), preview.png, preview-paused.png and preview-menu.png: the main
# window with the preview window playing a sample of tests/data/samples, then paused, then
# three pictures on with the preview's menu open, and progress.png: the progress dialog of a
# split into ten pieces over the main window.
# A window manager (openbox) draws the captions when it is installed.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:?usage: scripts/screenshots.sh <build-dir> [output-dir]}
out=${2:-docs}
tool="$build/tests/ui/tarnwick_screenshots"

preview_tool="$build/tests/preview/tarnwick_preview_screenshots"
progress_tool="$build/tests/ui/tarnwick_progress_screenshot"
samples=${TARNWICK_SAMPLES:-tests/data/samples}
sample="$samples/wxpython-classic_testmovie.mpg"

cmake --build "$build" --target tarnwick_screenshots tarnwick_preview_screenshots \
  tarnwick_progress_screenshot tarnwick_cutlist_screenshot \
  -j "$(nproc)" >/dev/null
mkdir -p "$out"
# A fixed DPI keeps the pictures comparable from one machine to the next.
screen=(xvfb-run --auto-servernum --server-args="-screen 0 1280x1024x24 -dpi 96")
QT_QPA_PLATFORM=xcb QT_FONT_DPI=96 "${screen[@]}" "$tool" "$out"
QT_QPA_PLATFORM=xcb QT_FONT_DPI=96 "${screen[@]}" "$tool" "$out" 12

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# Captions with room for the file name: the sample's video is only 160 pixels wide, and the
# caption must show "(Paused)".
wm=(true)
if command -v openbox >/dev/null && [ -f /etc/xdg/openbox/rc.xml ]; then
  sed -e 's|<titleLayout>[A-Z]*</titleLayout>|<titleLayout>LC</titleLayout>|' \
      -e '/<font place="[A-Za-z]*Window">/,/<\/font>/ s|<size>[0-9]*</size>|<size>7</size>|' \
      /etc/xdg/openbox/rc.xml > "$scratch/openbox.xml"
  wm=(openbox --config-file "$scratch/openbox.xml")
fi
# A DVD-size recording opened beside a main window in the middle of the screen.
ffmpeg -v error -f lavfi -i testsrc2=size=720x576:rate=25 -f lavfi -i sine=frequency=440 \
  -t 8 -target pal-dvd -y "$scratch/dvd.mpg"
QT_QPA_PLATFORM=xcb QT_FONT_DPI=96 "${screen[@]}" \
  sh -c 'tool=$1 dir=$2 file=$3 name=$4; shift 4; "$@" & sleep 1; exec "$tool" "$dir" "$file" "$name"' \
  sh "$preview_tool" "$out" "$scratch/dvd.mpg" preview-dvd.png "${wm[@]}"
# The plan line of a clean clip of that recording.
QT_QPA_PLATFORM=xcb QT_FONT_DPI=96 "${screen[@]}" "$tool" "$out" --plan "$scratch/dvd.mpg"

# A split's progress dialog over the main window, in the middle of the screen.
QT_QPA_PLATFORM=xcb QT_FONT_DPI=96 "${screen[@]}" \
  sh -c 'tool=$1 dir=$2; shift 2; "$@" & sleep 1; exec "$tool" "$dir"' \
  sh "$progress_tool" "$out" "${wm[@]}"

# The cut list holding three segments and Join MPEG files; the help page shows them too.
QT_QPA_PLATFORM=xcb QT_FONT_DPI=96 "${screen[@]}" "$build/tests/ui/tarnwick_cutlist_screenshot" \
  "$out/cutlist.png" "$out/join.png"
cp "$out/cutlist.png" "$out/join.png" "$(dirname "$0")/../res/help/"

if [ -f "$sample" ]; then
  # The sample under a short name.
  cp "$sample" "$scratch/movie.mpg"
  QT_QPA_PLATFORM=xcb QT_FONT_DPI=96 "${screen[@]}" \
    sh -c 'tool=$1 dir=$2 file=$3; shift 3; "$@" & sleep 1; exec "$tool" "$dir" "$file"' \
    sh "$preview_tool" "$out" "$scratch/movie.mpg" "${wm[@]}"
else
  echo "no sample at $sample: preview pictures skipped"
fi

# Keep the committed pictures small.
if command -v optipng >/dev/null; then
  optipng -quiet -o2 "$out"/main-by-*.png "$out"/main-plan-line.png "$out"/about*.png "$out"/preview*.png \
    "$out"/progress.png "$out"/cutlist.png 2>/dev/null || true
fi
