#!/usr/bin/env bash
# Regenerates samples/demo.h264 and the media fixtures in tests/data/ from lavfi test
# sources: ffmpeg (libx264, mjpeg) makes the pictures, quendrel-make-recording wraps them.
#   samples/make-samples.sh [BUILD_DIR]    (default: build; the maker must be built there)
set -euo pipefail
cd "$(dirname "$0")/.."
maker=${1:-build}/tools/quendrel-make-recording
[ -x "$maker" ] || { echo "build quendrel-make-recording first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
q() { ffmpeg -hide_banner -loglevel error -y "$@"; }

# H.264 as cameras send it: no B-frames, an access unit delimiter before every picture,
# a fixed key-frame interval.
h264() {  # size rate seconds gop bitrate out [extra filter]
  local size=$1 rate=$2 seconds=$3 gop=$4 bitrate=$5 out=$6 filter=${7:-null}
  q -f lavfi -i "testsrc2=size=${size}:rate=${rate}" -t "$seconds" -vf "$filter" \
    -c:v libx264 -preset medium -profile:v main -bf 0 -g "$gop" -keyint_min "$gop" \
    -sc_threshold 0 -b:v "$bitrate" -maxrate "$bitrate" -bufsize "$bitrate" \
    -pix_fmt yuv420p -x264-params aud=1 -threads 1 -f h264 "$out"
}

# The demo starts 20 ms into a second, so no frame has a millisecond field of 0: the pacing
# lets a frame whose predecessor says 0 ms go at once, which would jolt the picture.
# A dark strip along the top, where cameras put their own text, keeps the red capture time
# readable over the colour bars.
clock="drawbox=x=0:y=0:w=iw:h=56:color=black:t=fill,drawtext=fontfile=${font}:text='%{pts\\:hms}':x=(w-tw)/2:y=h-th-40:fontsize=64:fontcolor=white:box=1:boxcolor=black@0.6"
h264 1280x720 25 20 50 1400k "$work/demo.264" "$clock"
"$maker" h264 "$work/demo.264" samples/demo.h264 --start 1773480413 --start-ms 20 \
  --fps 25 --seed 7

h264 320x240 25 0.48 6 300k "$work/a.264"
"$maker" h264 "$work/a.264" tests/data/h264_320x240.h264 --start 1773480413 --fps 25 --seed 11
h264 640x480 25 0.48 6 600k "$work/b.264"
"$maker" h264 "$work/b.264" tests/data/h264_640x480.h264 --start 1773480413 --fps 25 --seed 12
h264 1280x720 25 0.12 3 1500k "$work/c.264"
"$maker" h264 "$work/c.264" tests/data/h264_1280x720.h264 --start 1773480413 --fps 25 --seed 13

q -f lavfi -i "testsrc2=size=640x480:rate=5" -t 2 -c:v mjpeg -q:v 4 -pix_fmt yuvj420p \
  "$work/j%02d.jpg"
"$maker" jpeg tests/data/jpeg_640x480.h264 "$work"/j*.jpg --start 1773480413 --fps 5 --seed 14

"$maker" damage tests/data/h264_320x240.h264 tests/data/h264_320x240_damaged.h264
"$maker" damage tests/data/jpeg_640x480.h264 tests/data/jpeg_640x480_damaged.h264
ls -l samples/demo.h264 tests/data/*.h264
