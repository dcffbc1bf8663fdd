#!/usr/bin/env bash
# Installs the Debian 12 packages Tarnwick needs to build, run and test; with the argument
# "fuzz", what `make fuzz` needs instead (clang and libFuzzer's runtime).
# Idempotent: does nothing when every package is already present.
set -euo pipefail

packages=(
  cmake g++ make pkg-config clang-format
  qt6-base-dev qt6-base-dev-tools libgl-dev libxcb1-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav gstreamer1.0-tools
  libgtest-dev libgmock-dev libbenchmark-dev
  ffmpeg xvfb xauth xdotool imagemagick x11-utils openbox metacity bindfs
  fonts-dejavu-core
  desktop-file-utils appstream man-db lintian dpkg-dev
)
if [ "${1:-}" = fuzz ]; then
  # clang-14 compiles; libclang-rt-14-dev holds libFuzzer and the sanitizer runtimes.
  packages=(clang-14 libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
