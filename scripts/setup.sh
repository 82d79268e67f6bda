#!/usr/bin/env bash
# Installs every Debian package that building, testing, the demo and the
# benchmarks need. Safe to run again: it returns at once when all is present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-qpa-plugins libgl-dev
  libavcodec-dev libavformat-dev libavutil-dev
  libturbojpeg0-dev libyuv-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev
  fonts-liberation fonts-wqy-microhei fonts-dejavu-core
  xvfb xauth imagemagick ffmpeg
  shared-mime-info desktop-file-utils libxml2-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
