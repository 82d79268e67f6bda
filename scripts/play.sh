#!/usr/bin/env bash
# Sets the machine up, builds the player and plays the demo recording in its window.
#   scripts/play.sh [RECORDING]   (default: samples/demo.h264)
#   BUILD_DIR  build folder (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUENDREL_SANITIZE="${SANITIZE:-}" >/dev/null
cmake --build "$build" --target quendrel
recording=${1:-samples/demo.h264}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: run this from a desktop session, or under xvfb-run -a." >&2
  exit 1
fi
exec "$build/app/quendrel" "$recording"
