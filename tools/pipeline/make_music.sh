#!/usr/bin/env bash
# Regenerates assets/music/tune.mp3 byte for byte: builds gen_music, renders
# the track to a 48 kHz 16-bit WAV and encodes it with lame (3.100) as MPEG-1
# Layer III, 320 kbit/s CBR, joint stereo, with the Info header that carries
# the exact length. Usage: tools/pipeline/make_music.sh [BUILD_DIR]
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
out=$root/assets/music/tune.mp3

command -v lame >/dev/null || { echo "[make_music] lame is not installed" >&2; exit 1; }
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target gen_music >/dev/null

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$build/tools/pipeline/gen_music" "$tmp/tune.wav"
lame --quiet -q 2 -b 320 --cbr -m j --resample 48 --noreplaygain "$tmp/tune.wav" "$tmp/tune.mp3"
mkdir -p "$(dirname "$out")"
cp "$tmp/tune.mp3" "$out"
echo "[make_music] wrote $out ($(stat -c %s "$out") bytes)" >&2
