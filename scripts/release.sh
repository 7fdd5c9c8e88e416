#!/usr/bin/env bash
# Makes the release artifacts in dist/: quex_invi-<version>-windows-x64.zip
# (the Windows executable and a short read-me), quex_invi-<version>-web.zip
# (the browser version's folder) and the Debian package
# quex-invi_<version>_amd64.deb. The last line printed is the .deb's path.
#
#   bash scripts/release.sh [--deb-only]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
dist=$root/dist
mkdir -p "$dist"

bash scripts/install-deps.sh >&2
cmake -S . -B build/package -DCMAKE_BUILD_TYPE=Release -DQUEX_TESTS=OFF >/dev/null
cmake --build build/package -j"$(nproc)" >&2
(cd build/package && cpack -G DEB >&2)
deb=$(ls build/package/quex-invi_*_amd64.deb)
version=$(basename "$deb" | sed 's/^quex-invi_\(.*\)_amd64\.deb$/\1/')
cp "$deb" "$dist/"

if [[ "${1:-}" != "--deb-only" ]]; then
  command -v zip >/dev/null || {
    sudo=""
    [[ $(id -u) -ne 0 ]] && sudo="sudo"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends zip >&2
  }
  bash scripts/build-windows.sh build/windows >&2
  stage=$(mktemp -d)
  trap 'rm -rf "$stage"' EXIT
  cp build/windows/exe/quex_invi.exe "$stage/"
  cat >"$stage/README.txt" <<TEXT
quex_invi $version for Windows (64-bit)

Double-click quex_invi.exe. It needs nothing besides Windows and a graphics
driver with OpenGL 3.3: the music, pictures and script are inside the file.
It runs full-screen on the main monitor; without a sound device it runs
silently.

Keys: Escape quits, P pauses and resumes, C switches the 16-colour palette.
TEXT
  sed -i 's/$/\r/' "$stage/README.txt"
  zip_path=$dist/quex_invi-$version-windows-x64.zip
  rm -f "$zip_path"
  (cd "$stage" && zip -q -9 "$zip_path" quex_invi.exe README.txt)
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
echo "$dist/$(basename "$deb")"
