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

source scripts/debian-source.sh

install_packages build-essential cmake pkg-config python3-glad zlib1g-dev libboost-dev libstb-dev \
  mingw-w64 g++-mingw-w64-x86-64-posix libz-mingw-w64-dev patch bzip2 xz-utils file

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

build_dependencies build-windows glfw3 libsdl2 mpg123
host=$build/host
build_host_packer "$host"

cmake -S "$root" -B "$build/exe" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DQUEX_WINDOWS_PREFIX="$prefix" -DQUEX_HOST_PACK_ASSETS="$host/pack_assets" >/dev/null
cmake --build "$build/exe" -j"$jobs"
file "$build/exe/quex_invi.exe"

# What quex_invi.exe holds of other projects, for the release's notices: the
# libraries and objects the link took, each from the package that owns it.
cxx=$mingw-g++-posix
zlib=$(sed -n 's/^ZLIB_LIBRARY_RELEASE:FILEPATH=//p' "$build/exe/CMakeCache.txt")
components_begin "$build/components.tsv"
component_source mpg123 mpg123 "the MP3 decoder (decoder only), a static library linked into \
quex_invi.exe; the source package is in the release's source archive"
component_source GLFW glfw3 "the window, the OpenGL context and the keys, a static library" \
  "files:src/ files:include/ files:deps/mingw/"
component_source SDL2 libsdl2 "the sound output (audio only), a static library" \
  "files:src/ files:include/"
component_of zlib "$zlib" "inflates the embedded archive, a static library"
component_of glad "$(command -v glad)" "generated the OpenGL 3.3 loader that is compiled in" \
  "spdx:$build/exe/glad/include/glad/gl.h"
component_of stb_image /usr/include/stb/stb_image.h "the PNG decoder, compiled in"
component_of Boost.Lockfree /usr/include/boost/lockfree/spsc_queue.hpp \
  "the queue from the sound thread, headers compiled in" "files:boost/"
component_of "mingw-w64 runtime" "$($cxx -print-file-name=libmingwex.a)" \
  "the C runtime (with gdtoa and mingw_pformat), winpthreads and the Windows headers, linked \
statically" "files:mingw-w64-crt/ files:mingw-w64-headers/ files:mingw-w64-libraries/winpthreads/"
component_of "GNU C++ library (libstdc++)" "$($cxx -print-file-name=libstdc++.a)" \
  "linked statically, under the GCC Runtime Library Exception (in the text below)" "licence:GPL-3"
component_of "GCC support library (libgcc)" "$($cxx -print-libgcc-file-name)" \
  "linked statically, under the GCC Runtime Library Exception (in the text below)" "licence:GPL-3"
components_end
