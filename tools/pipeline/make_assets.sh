#!/usr/bin/env bash
# Regenerates every generated asset byte for byte: the pictures, the font
# atlas, the mask (with the review contact sheet) and the music. The shipped
# script assets/demo.txt is written by hand. Usage: tools/pipeline/make_assets.sh [BUILD_DIR]
set -euo pipefail
here=$(dirname "$0")
if [[ $# -gt 0 ]]; then
  export BUILD_DIR=$1 # make_pictures.sh reads it from the environment
fi
bash "$here/make_pictures.sh" "$@"
bash "$here/make_music.sh" "$@"
