#!/usr/bin/env bash
# Makes the release artifacts in dist/: quex_invi-<version>-windows-x64.zip
# (the Windows executable, a read-me, the licences and a screenshot),
# quex_invi-<version>-web.zip (the browser version's folder, with the same
# papers), quex_invi-<version>-source.tar.xz (the project at the release commit
# and the source package of mpg123, which both zips link statically under the
# LGPL) and the Debian package quex-invi_<version>-1_amd64.deb; with --video also
# quex_invi-<version>-1080p60.mp4, the whole demo with its music as a viewer
# sees it (long: every frame is drawn at 1920 x 1080). The last line printed
# is the .deb's path (the source archive's with --source-only).
#
# The release is the commit HEAD, so the tree must have no uncommitted
# changes. Every program shipped is built from the source archive's own tree,
# unpacked (with --deb-only, from HEAD's tree): a file that is not committed
# cannot reach a program. That tree is kept in build/dist/tree, where only the
# files that changed are rewritten, beside the release's own build folders in
# build/dist/, so a second release rebuilds only what changed. It checks what
# it wrote.
#
#   bash scripts/release.sh [--deb-only | --source-only] [--video]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
dist=$root/dist
out=$root/build/dist
mkdir -p "$dist" "$out"

deb_only=0
source_only=0
video=0
for arg in "$@"; do
  case "$arg" in
    --deb-only) deb_only=1 ;;
    --source-only) source_only=1 ;;
    --video) video=1 ;;
    *) echo "release.sh: unknown option $arg (use --deb-only, --source-only, --video)" >&2; exit 2 ;;
  esac
done

refuse() {
  echo "release.sh: $*" >&2
  exit 1
}

# Installs a Debian package for a command the release needs beyond the build.
need_command() {
  command -v "$1" >/dev/null && return
  local sudo=""
  [[ $(id -u) -ne 0 ]] && sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$2" >&2
}

# Makes folder $2 hold exactly what folder $1 holds: only the files that
# differ (in content or mode) are written, so the kept build folders rebuild
# only what changed; what $1 lacks is deleted.
sync_tree() {
  local from=$1 to=$2 file
  mkdir -p "$to"
  (cd "$to" && find . ! -type d) | while IFS= read -r file; do
    [[ -e $from/$file ]] || rm -f "$to/$file"
  done
  (cd "$from" && find . ! -type d) | while IFS= read -r file; do
    if ! cmp -s "$from/$file" "$to/$file" ||
      [[ $(stat -c %a "$from/$file") != $(stat -c %a "$to/$file") ]]; then
      mkdir -p "$(dirname "$to/$file")"
      rm -f "$to/$file"
      cp --preserve=mode "$from/$file" "$to/$file"
    fi
  done
  find "$to" -mindepth 1 -type d -empty -delete
  diff -r "$from" "$to" >/dev/null || refuse "$to does not hold what $from holds"
}

bash scripts/install-deps.sh >&2
[[ -z $(git status --porcelain --untracked-files=no) ]] ||
  refuse "commit first: the release is the commit HEAD"
version=$(sed -n 's/^project(quex_invi VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=quex_invi-$version
source_name=$name-source.tar.xz
source_path=$dist/$source_name
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/source/$name"
git archive HEAD | tar -x -C "$stage/source/$name"
tree=$stage/source/$name

if ((!deb_only)); then
  need_command xz xz-utils
  need_command dpkg-source dpkg-dev
  # The source: the project at the release commit and, as the LGPL asks, the
  # source package of mpg123 that both zips link statically, whole (its
  # upstream signature too, which its .dsc lists), as Debian publishes it.
  mpg123=$tree/debian-sources/mpg123
  if [[ ! -d $mpg123 ]]; then
    deps=$stage/deps # (debian-source.sh wants it; nothing is built here)
    source scripts/debian-source.sh
    mkdir -p "$mpg123"
    (cd "$mpg123" && download_source mpg123) || refuse "cannot download mpg123's source package"
  fi
  tar -C "$stage/source" --sort=name --owner=0 --group=0 --numeric-owner \
    --mtime="@$(git log -1 --format=%ct)" -cJf "$source_path" "$name"
  # The archive unpacks, and so does mpg123's source package in it, checked
  # by dpkg-source against its .dsc: the builds below take both from there.
  unpacked=$stage/unpacked
  mkdir "$unpacked"
  tar -xJf "$source_path" -C "$unpacked"
  tree=$unpacked/$name
  [[ -f $tree/scripts/build-windows.sh ]] || refuse "$source_name lacks the build scripts"
  dsc=$(ls "$tree"/debian-sources/mpg123/*.dsc)
  (cd "$stage" && dpkg-source -x "$dsc" mpg123 >"$stage/dpkg-source.log" 2>&1) ||
    { cat "$stage/dpkg-source.log" >&2; refuse "mpg123's source package in $source_name does not unpack"; }
  echo "release: $source_name unpacks, and so does $(basename "$dsc") in it with dpkg-source" >&2
  if ((source_only)); then
    echo "$source_path"
    exit 0
  fi
fi

# Every program is built from the archive's tree, in the release's own build
# folders. A developer's dependency builds seed them: their stamps say from
# which package and how each was built, so what differs is built again.
built=$out/tree
sync_tree "$tree" "$built"
cmake -S "$built" -B "$out/package" -DCMAKE_BUILD_TYPE=Release -DQUEX_TESTS=OFF >/dev/null
cmake --build "$out/package" -j"$(nproc)" >&2
rm -f "$out"/package/quex-invi_*.deb
(cd "$out/package" && cpack -G DEB >&2)
deb=$(ls "$out"/package/quex-invi_*_amd64.deb)
[[ $(dpkg-deb -f "$deb" Version) == "$version"-* ]] || refuse "$(basename "$deb") is not version $version"
cp "$deb" "$dist/"
tools=$out/package/tools

if ((!deb_only)); then
  need_command zip zip
  need_command unzip unzip
  for platform in windows web; do
    if [[ ! -d $out/$platform/deps && -d build/$platform/deps ]]; then
      mkdir -p "$out/$platform"
      cp -a "build/$platform/deps" "$out/$platform/"
    fi
  done
  bash "$built/scripts/build-windows.sh" "$out/windows" >&2
  # The site is zipped whole, so it is built afresh: nothing left from before.
  rm -rf "$out/web/site"
  bash "$built/scripts/build-web.sh" "$out/web" >&2
  # Both built mpg123 from the archived package (the stamps say from which).
  for platform in windows web; do
    grep -qF "$(sed -n 's/^Version: //p' "$dsc") $(sha256sum <"$dsc" | cut -d' ' -f1)" \
      "$out/$platform/deps/prefix/.built-mpg123" ||
      refuse "the $platform build did not build mpg123 from $source_name"
  done

  # THIRD-PARTY-NOTICES.txt and LICENSES/ into folder $1 from the components a
  # build linked ($2), under title $3; --crlf for Windows.
  notices() {
    python3 "$built/scripts/third_party_notices.py" "$2" "$1" "$3" "${@:4}" >&2
  }

  # The README's steps that link a program again with a changed mpg123 (the
  # block after its "relink steps" mark), for build script $1.
  relink_steps() {
    awk '/<!-- relink steps/ { mark = 1; next }
      mark && /^```sh$/ { inside = 1; next }
      inside && /^```$/ { exit }
      inside' "$built/README.md" | sed "s/<version>/$version/g; s#scripts/build-windows.sh#$1#"
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
changed mpg123, on Debian 12 (dpkg-source is in the package dpkg-dev):
$(relink_steps "$3" | sed 's/^/  /')
The last step builds mpg123 from the changed package and links the program
anew into
  $4
TEXT
  }

  # The Windows executable.
  win=$stage/windows
  mkdir "$win"
  cp "$out/windows/exe/quex_invi.exe" "$win/"
  cp "$built/LICENSE" "$win/LICENSE.txt"
  notices "$win" "$out/windows/components.tsv" \
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

$(licence_text quex_invi.exe "$out/windows/components.tsv" scripts/build-windows.sh \
    build/windows/exe/quex_invi.exe)
TEXT
  sed -i 's/$/\r/' "$win/README.txt" "$win/LICENSE.txt"
  zip_path=$dist/quex_invi-$version-windows-x64.zip
  rm -f "$zip_path"
  (cd "$win" && zip -q -9 -r "$zip_path" quex_invi.exe README.txt LICENSE.txt \
    THIRD-PARTY-NOTICES.txt LICENSES screenshot.png)

  # The browser version: one folder for any static web server, holding all
  # that the build put in its site.
  site=quex_invi-$version-web
  web=$stage/$site
  cp -r "$out/web/site" "$web"
  cp "$built/LICENSE" "$web/LICENSE.txt"
  notices "$web" "$out/web/components.tsv" \
    "Third-party software in quex_invi $version for the browser (quex_invi.js, quex_invi.wasm)"
  policy=$(sed -n 's/^Content-Security-Policy: //p' "$built/README.md" | head -n 1)
  [[ -n $policy ]] || refuse "README.md states no Content-Security-Policy for the web README"
  cat >"$web/README.txt" <<TEXT
quex_invi $version for the browser

A real-time audiovisual demo: seven effect scenes, scroll texts and pictures
in time with its own music. It plays for a little over three minutes, then
loops back to its middle until it is ended.

What it needs
A web server for this folder (any static one; opened as a file, browsers
refuse to load the program) and a browser with WebGL 2 that can render into
floating-point textures (EXT_color_buffer_float): current Firefox, Chrome,
Edge and Safari. For example, in this folder (served to this computer only):
  python3 -m http.server --bind 127.0.0.1 8000
then open http://127.0.0.1:8000/ and click: it plays full-screen with sound.

Serving it on the web
Serve every file in this folder. The music (tune.*.mp3) is named by its
content, so it may be cached for good (Cache-Control: public,
max-age=31536000, immutable); index.html should be revalidated
(Cache-Control: no-cache). The page needs no more than this policy:
  Content-Security-Policy: $policy

Keys
  Escape   end (leaving full screen ends it too; a click starts it again)
  P        pause and resume, picture and music together
  C        switch the 16-colour palette on and off

$(licence_text quex_invi.wasm "$out/web/components.tsv" scripts/build-web.sh \
    "build/web/site/ (with quex_invi.js and quex_invi.wasm)")
TEXT
  web_zip=$dist/$site.zip
  rm -f "$web_zip"
  (cd "$stage" && zip -q -9 -r "$web_zip" "$site")

  # What was written must hold what the licences ask for.
  for zip in "$zip_path" "$web_zip"; do
    listing=$(unzip -Z1 "$zip")
    for file in README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt LICENSES/LGPL-2.1.txt; do
      grep -qE "(^|/)$file\$" <<<"$listing" || refuse "$(basename "$zip") lacks $file"
    done
    grep -qE '^[0-9]+\. mpg123 ' <<<"$(unzip -p "$zip" '*THIRD-PARTY-NOTICES.txt')" ||
      refuse "$(basename "$zip"): mpg123 is not in THIRD-PARTY-NOTICES.txt"
    readme=$(unzip -p "$zip" '*README.txt' | tr -d '\r')
    grep -qF "$source_name" <<<"$(tr '\n' ' ' <<<"$readme")" ||
      refuse "$(basename "$zip"): README.txt does not name $source_name"
    grep -qF 'dpkg-source --commit' <<<"$readme" ||
      refuse "$(basename "$zip"): README.txt lacks the steps to relink mpg123"
  done
  echo "release: both zips hold LICENSE.txt, README.txt with the relink steps," \
    "THIRD-PARTY-NOTICES.txt with mpg123 and LICENSES/LGPL-2.1.txt" >&2
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
