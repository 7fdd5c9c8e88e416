#!/usr/bin/env bash
# Builds the browser version with Emscripten into BUILD_DIR/site: the page
# (index.html, page.js, page.css), the program (quex_invi.js, quex_invi.wasm),
# the sound worklet (worklet.js) and the music (tune.<hash>.mp3), which any
# static web server can serve.
# zlib and mpg123 are built with emcc from Debian's source packages (the
# ports that come with Emscripten would need the network) and cached
# under the build folder, so only the first run pays for them.
#
#   bash scripts/build-web.sh [BUILD_DIR]     (default build/web)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(realpath -m "${1:-build/web}")
deps=$build/deps
prefix=$deps/prefix
jobs=$(nproc)
source scripts/debian-source.sh

install_packages build-essential cmake pkg-config python3-glad zlib1g-dev libboost-dev libstb-dev \
  emscripten patch bzip2 xz-utils

# emcc runs its JavaScript tools with node, which must find Debian's acorn
# even when the node on PATH is not Debian's.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}

# inflate and the rest of zlib as one static library; no configure needed.
build_zlib() {
  local src=$deps/src/zlib/tree out=$deps/build/zlib
  mkdir -p "$out" "$prefix/lib" "$prefix/include"
  local objects=() file
  for file in adler32 compress crc32 deflate inffast inflate inftrees trees uncompr zutil; do
    emcc -O2 -c "$src/$file.c" -o "$out/$file.o"
    objects+=("$out/$file.o")
  done
  emar rcs "$prefix/lib/libz.a" "${objects[@]}"
  cp "$src/zlib.h" "$src/zconf.h" "$prefix/include/"
}

# The decoder library only: no programs, no output modules, no network.
# wasm32 is not a host that mpg123's configure knows; a 32-bit Linux host
# with the generic floating-point decoder is what it builds.
build_mpg123() {
  local src=$deps/src/mpg123/tree out=$deps/build/mpg123
  mkdir -p "$out" "$prefix/lib" "$prefix/include"
  (cd "$out" &&
    emconfigure "$src/configure" -q --host=i686-pc-linux-gnu --prefix="$prefix" \
      --with-cpu=generic_fpu --enable-static --disable-shared --disable-modules \
      --with-audio=dummy --disable-network >configure.log 2>&1 &&
    emmake make -s -j"$jobs" src/libmpg123/libmpg123.la >make.log 2>&1) ||
    { tail -n 20 "$out"/*.log >&2; return 1; }
  cp "$out/src/libmpg123/.libs/libmpg123.a" "$prefix/lib/"
  cp "$out/src/libmpg123/mpg123.h" "$src/src/libmpg123/fmt123.h" "$prefix/include/"
}

build_dependencies build-web zlib mpg123
host=$build/host
build_host_packer "$host"

emcmake cmake -S "$root" -B "$build/wasm" -DCMAKE_BUILD_TYPE=Release \
  -DQUEX_WEB_PREFIX="$prefix" -DQUEX_HOST_PACK_ASSETS="$host/pack_assets" \
  -DQUEX_SITE="$build/site" >/dev/null
cmake --build "$build/wasm" -j"$jobs"
ls -l "$build/site"

# What the .wasm and .js hold of other projects, for the release's notices.
components_begin "$build/components.tsv"
component_source mpg123 mpg123 "the MP3 decoder (decoder only), a static library linked into \
quex_invi.wasm; the source package is in the release's source archive"
component_source zlib zlib "inflates the embedded archive, a static library"
component_of stb_image /usr/include/stb/stb_image.h "the PNG decoder, compiled in"
component_of Boost.Lockfree /usr/include/boost/lockfree/spsc_queue.hpp \
  "the queue from the sound thread, headers compiled in" "files:boost/"
component_of Emscripten "$(command -v emcc)" "its JavaScript runtime (quex_invi.js, with its \
GLFW and WebGL layers), its C library (from musl), libc++, libc++abi and compiler-rt, \
compiled into quex_invi.wasm and quex_invi.js" "files:src/ files:system/"
components_end
