#!/usr/bin/env bash
# Makes the release artifacts in dist/: quex_invi-<version>-windows-x64.zip
# (the Windows executable, a read-me, the licences and a screenshot),
# quex_invi-<version>-web.zip (the browser version's folder, with the same
# papers), quex_invi-<version>-source.tar.xz (the project at the release commit
# and the source package of mpg123, which both zips link statically under the
# LGPL) and the Debian package quex-invi_<version>-1_amd64.deb; with --video also
# quex_invi-<version>-1080p60.mp4, the whole demo with its music as a viewer
# sees it (long: every frame is drawn at 1920 x 1080). The last line printed
# is the .deb's path. It checks what it wrote; the zips and the source archive
# need a committed tree, as the source archive is the release commit.
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
  if [[ -n $(git status --porcelain --untracked-files=no) ]]; then
    echo "release.sh: commit first: the source archive is the release commit" >&2
    exit 1
  fi
  need_command zip zip
  need_command unzip unzip
  need_command xz xz-utils
  bash scripts/build-windows.sh build/windows >&2
  bash scripts/build-web.sh build/web >&2
  stage=$(mktemp -d)
  trap 'rm -rf "$stage"' EXIT
  source_name=quex_invi-$version-source.tar.xz

  # THIRD-PARTY-NOTICES.txt and LICENSES/ into folder $1 from the components a
  # build linked ($2), under title $3; --crlf for Windows.
  notices() {
    python3 scripts/third_party_notices.py "$2" "$1" "$3" "${@:4}" >&2
  }

  # The read-me's licence paragraph: which program file ($1) holds mpg123
  # (version from components file $2), where its source is, and how build
  # script $3 links the program again with a changed one (into $4).
  licence_text() {
    local mpg123
    mpg123=$(awk -F'\t' '$1 == "mpg123" { print $2 }' "$2")
    cat <<TEXT
Licence
quex_invi's own code: MIT; third-party parts: THIRD-PARTY-NOTICES.txt
(the MIT licence is in LICENSE.txt, the other licences' texts in LICENSES/).

$1 contains the mpg123 library, linked statically,
under the GNU Lesser General Public License 2.1 (LICENSES/LGPL-2.1.txt):
Debian's source package mpg123 $mpg123. Its source code, with Debian's
patches, and the whole source of quex_invi with the scripts that built this
program are in
  $source_name
published in the same place as this zip. To link the program again with a
changed mpg123, on Debian 12: unpack that archive, put your changed mpg123
source package (dpkg-source -b makes one from a changed tree) in place of the
files in debian-sources/mpg123/, and run
  bash $3
which builds mpg123 from it and links the program anew into
  $4
TEXT
  }

  # The Windows executable.
  win=$stage/windows
  mkdir "$win"
  cp build/windows/exe/quex_invi.exe "$win/"
  cp LICENSE "$win/LICENSE.txt"
  notices "$win" build/windows/components.tsv \
    "Third-party software in quex_invi $version for Windows (quex_invi.exe)" --crlf
  # The blitter tornado under the glowing logo. The tornado starts at 53 s, so
  # 7.5 s of preroll is its whole history: the picture a viewer sees, in about
  # a minute rather than the many a full preroll through the smoke would take.
  "$tools/quex_capture" --at 60.5 --preroll 7.5 --size 1920x1080 --quiet --out "$win" >&2
  mv "$win/frame_003630.png" "$win/screenshot.png"
  cat >"$win/README.txt" <<TEXT
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

$(licence_text quex_invi.exe build/windows/components.tsv scripts/build-windows.sh \
    build/windows/exe/quex_invi.exe)
TEXT
  sed -i 's/$/\r/' "$win/README.txt" "$win/LICENSE.txt"
  zip_path=$dist/quex_invi-$version-windows-x64.zip
  rm -f "$zip_path"
  (cd "$win" && zip -q -9 -r "$zip_path" quex_invi.exe README.txt LICENSE.txt \
    THIRD-PARTY-NOTICES.txt LICENSES screenshot.png)

  # The browser version: one folder for any static web server.
  site=quex_invi-$version-web
  web=$stage/$site
  mkdir "$web"
  cp build/web/site/index.html build/web/site/quex_invi.js build/web/site/quex_invi.wasm "$web/"
  cp LICENSE "$web/LICENSE.txt"
  notices "$web" build/web/components.tsv \
    "Third-party software in quex_invi $version for the browser (quex_invi.js, quex_invi.wasm)"
  cat >"$web/README.txt" <<TEXT
quex_invi $version for the browser

A real-time audiovisual demo: seven effect scenes, scroll texts and pictures
in time with its own music. It plays for a little over three minutes, then
loops back to its middle until it is ended.

What it needs
A web server for this folder (any static one; opened as a file, browsers
refuse to load the program) and a browser with WebGL 2 that can render into
floating-point textures (EXT_color_buffer_float): current Firefox, Chrome,
Edge and Safari. For example, in this folder:
  python3 -m http.server 8000
then open http://127.0.0.1:8000/ and click: it plays full-screen with sound.

Keys
  Escape   end (leaving full screen ends it too; a click starts it again)
  P        pause and resume, picture and music together
  C        switch the 16-colour palette on and off

$(licence_text quex_invi.wasm build/web/components.tsv scripts/build-web.sh \
    "build/web/site/ (quex_invi.js and quex_invi.wasm)")
TEXT
  web_zip=$dist/$site.zip
  rm -f "$web_zip"
  (cd "$stage" && zip -q -9 -r "$web_zip" "$site")

  # The source: the project at the release commit and the mpg123 source
  # package both zips were built from (.dsc, .orig and .debian).
  src=$stage/source/quex_invi-$version
  mkdir -p "$src/debian-sources/mpg123"
  git archive HEAD | tar -x -C "$src"
  for build in build/windows build/web; do
    cp "$build"/deps/src/mpg123/*.dsc "$build"/deps/src/mpg123/*.orig.tar.* \
      "$build"/deps/src/mpg123/*.debian.tar.* "$src/debian-sources/mpg123/"
  done
  [[ $(ls "$src"/debian-sources/mpg123/*.dsc | wc -l) == 1 ]] ||
    { echo "release.sh: the Windows and browser builds used different mpg123 packages" >&2; exit 1; }
  source_path=$dist/$source_name
  tar -C "$stage/source" --sort=name --owner=0 --group=0 --numeric-owner \
    --mtime="@$(git log -1 --format=%ct)" -cJf "$source_path" "quex_invi-$version"

  # What was written must hold what the licences ask for.
  refuse() {
    echo "release.sh: $*" >&2
    exit 1
  }
  for zip in "$zip_path" "$web_zip"; do
    listing=$(unzip -Z1 "$zip")
    for file in README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt LICENSES/LGPL-2.1.txt; do
      grep -qE "(^|/)$file\$" <<<"$listing" || refuse "$(basename "$zip") lacks $file"
    done
    grep -qE '^[0-9]+\. mpg123 ' <<<"$(unzip -p "$zip" '*THIRD-PARTY-NOTICES.txt')" ||
      refuse "$(basename "$zip"): mpg123 is not in THIRD-PARTY-NOTICES.txt"
    grep -qF "$source_name" <<<"$(unzip -p "$zip" '*README.txt' | tr -d '\r' | tr '\n' ' ')" ||
      refuse "$(basename "$zip"): README.txt does not name $source_name"
  done
  echo "release: both zips hold LICENSE.txt, README.txt, THIRD-PARTY-NOTICES.txt with" \
    "mpg123 and LICENSES/LGPL-2.1.txt" >&2
  # Each file of the mpg123 source package that its .dsc names, unchanged; an
  # upstream signature, which mirrors may lack, is not source.
  unpacked=$stage/check
  mkdir "$unpacked"
  tar -xJf "$source_path" -C "$unpacked"
  (cd "$unpacked/quex_invi-$version/debian-sources/mpg123" &&
    sed -n '/^Checksums-Sha256:/,/^[^ ]/p' ./*.dsc | awk 'NF == 3 && $3 !~ /\.asc$/ { print $1 "  " $3 }' |
    sha256sum --check --quiet) || refuse "$source_name lacks files of the mpg123 source package"
  [[ -f $unpacked/quex_invi-$version/scripts/build-windows.sh ]] ||
    refuse "$source_name lacks the build scripts"
  echo "release: $source_name holds the project and the mpg123 source package" \
    "($(basename "$(ls "$unpacked/quex_invi-$version"/debian-sources/mpg123/*.dsc)"))" >&2
  echo "$zip_path"
  echo "$web_zip"
  echo "$source_path"
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
