#!/usr/bin/env bash
# Sets the machine up, configures, builds and runs every test.
#   BUILD_DIR  build folder (default: build)
#   SANITIZE   sanitizers to build with, e.g. address,undefined or thread (default: none)
#   CTEST_ARGS extra arguments for ctest, e.g. "-L input"
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUENDREL_SANITIZE="${SANITIZE:-}" >/dev/null
cmake --build "$build"
# shellcheck disable=SC2086
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" ${CTEST_ARGS:-}
