#!/bin/sh
# Rebuilds the picture generator and redraws every picture, the font atlas,
# the screen mask, docs/contact_sheet.png and the icons in packaging/icons.
# The output is deterministic: running it twice leaves byte-identical files.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-"$root/build"}
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target gen_pictures
mkdir -p "$root/assets/textures" "$root/docs" "$root/packaging/icons"
"$build/tools/pipeline/gen_pictures" "$root"
echo "pictures written to $root/assets/textures and $root/docs/contact_sheet.png"
