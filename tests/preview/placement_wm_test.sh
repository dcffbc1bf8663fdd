#!/usr/bin/env bash
# The preview of a DVD-size recording beside the main window, under real window managers on a
# 1280x1024 virtual screen: the two windows' frame rectangles (client area plus the frame
# extents the window manager reports) must not overlap. The program is started as a file
# manager starts it, `tarnwick FILE`.
#   placement_wm_test.sh <build-dir> [screenshot-folder]
# Exits 77 (skipped) where no window manager or virtual display is installed.
set -uo pipefail

build=${1:?usage: placement_wm_test.sh <build-dir> [screenshot-folder]}
shots=${2:-}
program="$build/src/tarnwick"

# Inside the virtual display: start the window manager, then the program; print the two frame
# rectangles as "left top right bottom" (right and bottom exclusive).
inner() {
  local wm=$1 file=$2 shot=$3
  "$wm" >/dev/null 2>&1 &
  local wm_pid=$!
  sleep 1.5
  QT_QPA_PLATFORM=xcb QT_FONT_DPI=96 "$program" "$file" >/dev/null 2>&1 &
  local app=$!
  local main='' preview=''
  for _ in $(seq 1 150); do
    main=$(xdotool search --onlyvisible --name '^Tarnwick$' 2>/dev/null | head -1)
    preview=$(xdotool search --onlyvisible --name '^dvd\.mpg' 2>/dev/null | head -1)
    [ -n "$main" ] && [ -n "$preview" ] && break
    sleep 0.2
  done
  sleep 2
  local status=0
  if [ -z "$main" ] || [ -z "$preview" ]; then
    echo "the windows did not appear (main '$main', preview '$preview')"
    status=1
  else
    for win in "$main" "$preview"; do
      local x y w h extents
      x=$(xwininfo -id "$win" | awk '/Absolute upper-left X/ {print $NF}')
      y=$(xwininfo -id "$win" | awk '/Absolute upper-left Y/ {print $NF}')
      w=$(xwininfo -id "$win" | awk '/Width:/ {print $NF}')
      h=$(xwininfo -id "$win" | awk '/Height:/ {print $NF}')
      extents=$(xprop -id "$win" _NET_FRAME_EXTENTS | sed -n 's/.*= *//p' | tr -d ' ')
      [ -n "$extents" ] || extents=0,0,0,0
      IFS=, read -r l r t b <<<"$extents"
      echo "$((x - l)) $((y - t)) $((x + w + r)) $((y + h + b))"
    done
    if [ -n "$shot" ]; then
      import -window root "$shot" 2>/dev/null
    fi
  fi
  kill "$app" 2>/dev/null
  wait "$app" 2>/dev/null
  kill "$wm_pid" 2>/dev/null
  return $status
}

if [ "${3:-}" = --inner ]; then
  inner "$4" "$5" "${6:-}"
  exit $?
fi

command -v xvfb-run >/dev/null && command -v xdotool >/dev/null && command -v xwininfo >/dev/null &&
  command -v xprop >/dev/null || { echo "no virtual display tools: skipped"; exit 77; }
managers=()
for wm in openbox metacity xfwm4; do
  command -v "$wm" >/dev/null && managers+=("$wm")
done
[ ${#managers[@]} -gt 0 ] || { echo "no window manager: skipped"; exit 77; }
[ -x "$program" ] || { echo "no $program"; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# The program's settings stay in the scratch folder.
export HOME="$scratch" XDG_CONFIG_HOME="$scratch/config" XDG_RUNTIME_DIR="$scratch/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
ffmpeg -v error -f lavfi -i testsrc2=size=720x576:rate=25 -t 3 -target pal-dvd -an \
  -y "$scratch/dvd.mpg" || { echo "ffmpeg could not make the recording"; exit 1; }

failed=0
for wm in "${managers[@]}"; do
  shot=''
  [ -n "$shots" ] && shot="$shots/placement-$wm.png"
  out=$(xvfb-run --auto-servernum --server-args="-screen 0 1280x1024x24 -dpi 96" \
        "$0" "$build" "" --inner "$wm" "$scratch/dvd.mpg" "$shot" 2>&1)
  if [ $? -ne 0 ]; then
    echo "$wm: $out"
    failed=1
    continue
  fi
  read -r ml mt mr mb <<<"$(sed -n 1p <<<"$out")"
  read -r pl pt pr pb <<<"$(sed -n 2p <<<"$out")"
  echo "$wm: main $ml,$mt to $mr,$mb; preview $pl,$pt to $pr,$pb"
  if [ "$ml" -lt "$pr" ] && [ "$pl" -lt "$mr" ] && [ "$mt" -lt "$pb" ] && [ "$pt" -lt "$mb" ]; then
    echo "$wm: the windows overlap"
    failed=1
  fi
done
exit $failed
