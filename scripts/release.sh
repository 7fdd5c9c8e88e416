#!/usr/bin/env bash
# Makes the release artifacts in dist/: quex_invi-<version>-windows-x64.zip
# (the Windows executable, a read-me, the licence and a screenshot),
# quex_invi-<version>-web.zip (the browser version's folder) and the Debian
# package quex-invi_<version>-1_amd64.deb; with --video also
# quex_invi-<version>-1080p60.mp4, the whole demo with its music as a viewer
# sees it (long: every frame is drawn at 1920 x 1080). The last line printed
# is the .deb's path.
#
#   bash scripts/release.sh [--deb-only] [--video]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
dist=$root/dist
mkdir -p "$dist"

deb_only=0
video=0
for arg in "$@"; do
  case "$arg" in
    --deb-only) deb_only=1 ;;
    --video) video=1 ;;
    *) echo "release.sh: unknown option $arg (use --deb-only, --video)" >&2; exit 2 ;;
  esac
done

# Installs a Debian package for a command the release needs beyond the build.
need_command() {
  command -v "$1" >/dev/null && return
  local sudo=""
  [[ $(id -u) -ne 0 ]] && sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$2" >&2
}

bash scripts/install-deps.sh >&2
cmake -S . -B build/package -DCMAKE_BUILD_TYPE=Release -DQUEX_TESTS=OFF >/dev/null
cmake --build build/package -j"$(nproc)" >&2
rm -f build/package/quex-invi_*.deb
(cd build/package && cpack -G DEB >&2)
deb=$(ls build/package/quex-invi_*_amd64.deb)
version=$(dpkg-deb -f "$deb" Version)
version=${version%-*} # the program's version, without the package's revision
cp "$deb" "$dist/"
tools=build/package/tools

if ((!deb_only)); then
  need_command zip zip
  bash scripts/build-windows.sh build/windows >&2
  stage=$(mktemp -d)
  trap 'rm -rf "$stage"' EXIT
  cp build/windows/exe/quex_invi.exe "$stage/"
  cp LICENSE "$stage/LICENSE.txt"
  # The blitter tornado under the glowing logo. The tornado starts at 53 s, so
  # 7.5 s of preroll is its whole history: the picture a viewer sees, in about
  # a minute rather than the many a full preroll through the smoke would take.
  "$tools/quex_capture" --at 60.5 --preroll 7.5 --size 1920x1080 --quiet --out "$stage" >&2
  mv "$stage/frame_003630.png" "$stage/screenshot.png"
  cat >"$stage/README.txt" <<TEXT
quex_invi $version for Windows (64-bit)

A real-time audiovisual demo: seven effect scenes, scroll texts and pictures
in time with its own music. It plays for a little over three minutes, then
loops back to its middle until you quit. screenshot.png shows it at 1:00.

What it needs
Windows and a graphics driver with OpenGL 3.3 (the driver from the maker of
the graphics card or chip; cards and chips from about 2010 on have it). The
music, pictures and script are inside quex_invi.exe: nothing to install.
It runs full-screen on the main monitor; without a sound device it runs
silently.

Keys
  Escape   quit
  P        pause and resume, picture and music together
  C        switch the 16-colour palette on and off

Messages
The demo writes its messages, one line each, to the standard error stream.
Started from Explorer it has no console to show them, so when it cannot start
(no OpenGL 3.3 driver, say) the same lines appear in a message box before it
exits. To keep them in a file, start it from a command prompt:
  quex_invi.exe 2> quex_invi.log

Licence: MIT, see LICENSE.txt.
TEXT
  sed -i 's/$/\r/' "$stage/README.txt" "$stage/LICENSE.txt"
  zip_path=$dist/quex_invi-$version-windows-x64.zip
  rm -f "$zip_path"
  (cd "$stage" && zip -q -9 "$zip_path" quex_invi.exe README.txt LICENSE.txt screenshot.png)
  echo "$zip_path"

  # The browser version: one folder for any static web server.
  bash scripts/build-web.sh build/web >&2
  site=quex_invi-$version-web
  mkdir "$stage/$site"
  cp build/web/site/index.html build/web/site/quex_invi.js build/web/site/quex_invi.wasm \
    "$stage/$site/"
  web_zip=$dist/$site.zip
  rm -f "$web_zip"
  (cd "$stage" && zip -q -9 -r "$web_zip" "$site")
  echo "$web_zip"
fi

if ((video)); then
  need_command ffmpeg ffmpeg
  # From 0 to the music's end: its last frame starts 1/60 s before it.
  length=$("$tools/pipeline/quex_music_levels" | awk '/^length/ {print $2}')
  last=$(awk -v length_s="$length" 'BEGIN { printf "%.6f", length_s - 1 / 60 }')
  video_path=$dist/quex_invi-$version-1080p60.mp4
  frames_dir=$(mktemp -d)
  started=$SECONDS
  "$tools/quex_capture" --from 0 --to "$last" --fps 60 --size 1920x1080 --preroll full \
    --video "$video_path" --out "$frames_dir" >&2
  rmdir "$frames_dir"
  echo "release: $(basename "$video_path") ($(stat -c %s "$video_path") bytes)" \
    "rendered in $((SECONDS - started)) s" >&2
  echo "$video_path"
fi
echo "$dist/$(basename "$deb")"
