#!/usr/bin/env bash
# Builds the fuzz targets with clang-14 and runs each for a bounded time.
#   fuzz/run.sh [SECONDS]    (default 60)
# The corpus grows in fuzz/corpus-run/ (not kept), starting from fuzz/seeds/ and
# fuzz/regressions/. An input that fails is written to fuzz/corpus-run/crashes/; copy it into
# fuzz/regressions/ when the fault is fixed, where the input test suite replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${FUZZ_BUILD_DIR:-build-fuzz}
CC=clang-14 CXX=clang++-14 cmake -S fuzz -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target reader_fuzz
mkdir -p fuzz/corpus-run/reader fuzz/corpus-run/crashes fuzz/regressions
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
"$build/reader_fuzz" fuzz/corpus-run/reader fuzz/seeds fuzz/regressions \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
  -artifact_prefix=fuzz/corpus-run/crashes/ -print_final_stats=1
