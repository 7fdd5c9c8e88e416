#!/usr/bin/env bash
# Cross-builds the Windows executable quex_invi.exe (and quex_invi_corrupt.exe,
# whose archive is damaged) with mingw-w64. GLFW, SDL2 and mpg123 are built
# from Debian's source packages as static libraries and cached under the build
# folder, so only the first run pays for them.
#
#   bash scripts/build-windows.sh [BUILD_DIR]     (default build/windows)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(realpath -m "${1:-build/windows}")
deps=$build/deps
prefix=$deps/prefix
jobs=$(nproc)
mingw=x86_64-w64-mingw32
toolchain=$root/cmake/mingw-w64-x86_64.cmake

sudo=""
if [[ $(id -u) -ne 0 ]]; then
  sudo="sudo"
fi

packages=(
  build-essential cmake pkg-config python3-glad zlib1g-dev libboost-dev libstb-dev
  mingw-w64 g++-mingw-w64-x86-64-posix libz-mingw-w64-dev patch bzip2 xz-utils file
)
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Source packages need deb-src lines for the archive and suites already in use.
ensure_deb_src() {
  if grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    return
  fi
  local list=/etc/apt/sources.list.d/debian.sources
  if [[ -f $list ]]; then
    sed 's/^Types: *deb$/Types: deb-src/' "$list" |
      $sudo tee /etc/apt/sources.list.d/quex-deb-src.sources >/dev/null
  else
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list |
      $sudo tee /etc/apt/sources.list.d/quex-deb-src.list >/dev/null
  fi
  $sudo apt-get update -qq
}

# Unpacks Debian's source package NAME into $deps/src/NAME with Debian's
# patches applied. apt checks the files' hashes; an upstream signature file
# that the mirror lacks is not needed for the build, so only the tarballs count.
fetch_source() {
  local name=$1 dir=$deps/src/$1
  rm -rf "$dir" && mkdir -p "$dir"
  (cd "$dir" && apt-get source -qq --download-only "$name" >/dev/null 2>&1) || true
  local orig debian
  orig=$(ls "$dir"/*.orig.tar.* 2>/dev/null | grep -v '\.asc$' | head -n 1)
  debian=$(ls "$dir"/*.debian.tar.* 2>/dev/null | head -n 1)
  [[ -n "$orig" && -n "$debian" ]] || { echo "cannot download the source of $name" >&2; return 1; }
  mkdir "$dir/tree"
  tar -xf "$orig" -C "$dir/tree" --strip-components=1
  tar -xf "$debian" -C "$dir/tree"
  if [[ -f $dir/tree/debian/patches/series ]]; then
    local patch
    while read -r patch _; do
      [[ -z "$patch" || "$patch" == \#* ]] && continue
      patch -d "$dir/tree" -p1 -s <"$dir/tree/debian/patches/$patch"
    done <"$dir/tree/debian/patches/series"
  fi
}

build_glfw3() {
  local src=$deps/src/glfw3/tree
  cmake -S "$src" -B "$deps/build/glfw3" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
    -DGLFW_BUILD_EXAMPLES=OFF -DGLFW_BUILD_TESTS=OFF -DGLFW_BUILD_DOCS=OFF >/dev/null
  cmake --build "$deps/build/glfw3" -j"$jobs" >/dev/null
  cmake --install "$deps/build/glfw3" >/dev/null
}

# Only what the demo uses from SDL: audio (with its threads, timers and events).
# No dynamic API layer: it refers to the video functions left out here, and a
# static library has no use for it. SDL takes that choice only in its header.
build_libsdl2() {
  local src=$deps/src/libsdl2/tree
  local off=(VIDEO RENDER JOYSTICK HAPTIC HIDAPI SENSOR POWER FILESYSTEM LOCALE MISC
    DIRECTX RENDER_D3D VULKAN OPENGL OPENGLES TEST SHARED)
  sed -i 's/^#define SDL_DYNAMIC_API 1$/#define SDL_DYNAMIC_API 0/' "$src/src/dynapi/SDL_dynapi.h"
  grep -q '^#define SDL_DYNAMIC_API 0$' "$src/src/dynapi/SDL_dynapi.h"
  local flags=()
  for option in "${off[@]}"; do
    flags+=("-DSDL_${option}=OFF")
  done
  cmake -S "$src" -B "$deps/build/libsdl2" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DSDL_STATIC=ON \
    "${flags[@]}" >/dev/null
  cmake --build "$deps/build/libsdl2" -j"$jobs" >/dev/null
  cmake --install "$deps/build/libsdl2" >/dev/null
}

# The decoder library only: no programs, no output modules, no network.
build_mpg123() {
  local src=$deps/src/mpg123/tree out=$deps/build/mpg123
  mkdir -p "$out" "$prefix/lib" "$prefix/include"
  (cd "$out" &&
    "$src/configure" -q --host=$mingw --prefix="$prefix" CC=$mingw-gcc-posix \
      --enable-static --disable-shared --disable-modules --with-audio=dummy \
      --disable-network >/dev/null &&
    make -s -j"$jobs" src/libmpg123/libmpg123.la >/dev/null)
  cp "$out/src/libmpg123/.libs/libmpg123.a" "$prefix/lib/"
  cp "$out/src/libmpg123/mpg123.h" "$src/src/libmpg123/fmt123.h" "$prefix/include/"
}

mkdir -p "$deps" "$prefix"
for name in glfw3 libsdl2 mpg123; do
  stamp=$prefix/.built-$name
  if [[ -f $stamp ]]; then
    continue
  fi
  ensure_deb_src
  started=$SECONDS
  fetch_source "$name"
  rm -rf "$deps/build/$name"
  "build_${name}"
  touch "$stamp"
  echo "build-windows: $name built in $((SECONDS - started)) s"
done

# The packer runs here, on the build machine.
host=$build/host
mkdir -p "$host"
if [[ ! -x $host/pack_assets || $root/tools/pack_assets.cpp -nt $host/pack_assets ]]; then
  g++ -std=c++20 -O2 -Wall -Wextra -o "$host/pack_assets" "$root/tools/pack_assets.cpp" -lz
fi

cmake -S "$root" -B "$build/exe" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DQUEX_WINDOWS_PREFIX="$prefix" -DQUEX_HOST_PACK_ASSETS="$host/pack_assets" >/dev/null
cmake --build "$build/exe" -j"$jobs"
file "$build/exe/quex_invi.exe"
