#!/usr/bin/env bash
# Prints the music's integrated loudness and true peak (ffmpeg ebur128), its
# length, and per section of the shipped script the share of frames whose
# bass and treble levels exceed 0.6.
# Usage: tools/pipeline/music_report.sh [BUILD_DIR [MP3]]
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
mp3=${2:-$root/assets/music/tune.mp3}

cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target quex_music_levels >/dev/null

summary=$(ffmpeg -hide_banner -nostats -i "$mp3" -af ebur128=peak=true -f null - 2>&1 | sed -n '/Summary:/,$p')
loudness=$(echo "$summary" | awk '$1 == "I:" { print $2, $3 }')
peak=$(echo "$summary" | awk '$1 == "Peak:" { print $2, "dBTP" }')
echo "file        $mp3 ($(stat -c %s "$mp3") bytes)"
echo "loudness    $loudness (integrated)"
echo "true peak   $peak"
"$build/tools/pipeline/quex_music_levels" "$mp3"
