#!/usr/bin/env bash
# Cross-builds the Windows executable quex_invi.exe (and quex_invi_corrupt.exe,
# whose archive is damaged) with mingw-w64. GLFW, SDL2, mpg123 and zlib are
# built from Debian's source packages as static libraries and cached under the
# build folder, so only the first run pays for them.
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

# Everything compiled into quex_invi.exe, the libraries built here included,
# is hardened as far as mingw-w64 allows: stack protection and fortified
# memory and string calls, both from GCC's libssp (linked statically). ASLR
# with high entropy and DEP are the linker's defaults. The dependencies'
# stamps hold these flags, so changing them builds the dependencies again.
hardening="-O2 -fstack-protector-strong -D_FORTIFY_SOURCE=2"
export CFLAGS=$hardening CXXFLAGS=$hardening LDFLAGS=-fstack-protector-strong

install_packages build-essential cmake pkg-config python3-glad zlib1g-dev libboost-dev libstb-dev \
  mingw-w64 g++-mingw-w64-x86-64-posix patch bzip2 xz-utils file

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

# zlib's own configure; -MD: its dependency files name the headers it
# included, like the other builds' (see the notices below).
build_zlib() {
  local src=$deps/src/zlib/tree out=$deps/build/zlib
  mkdir -p "$out" "$prefix/lib" "$prefix/include"
  (cd "$out" &&
    CHOST=$mingw CC=$mingw-gcc-posix CFLAGS="$CFLAGS -MD" "$src/configure" --static >/dev/null &&
    make -s -j"$jobs" libz.a >/dev/null)
  cp "$out/libz.a" "$prefix/lib/"
  cp "$src/zlib.h" "$out/zconf.h" "$prefix/include/"
}

build_dependencies build-windows glfw3 libsdl2 mpg123 zlib
host=$build/host
build_host_packer "$host"

# The flags are given again here: a kept build folder took them only once.
cmake -S "$root" -B "$build/exe" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_FLAGS="$CFLAGS" -DCMAKE_CXX_FLAGS="$CXXFLAGS" -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" \
  -DQUEX_WINDOWS_PREFIX="$prefix" -DQUEX_HOST_PACK_ASSETS="$host/pack_assets" >/dev/null
cmake --build "$build/exe" -j"$jobs"
file "$build/exe/quex_invi.exe"

# The hardening as built: libssp's stack guard and fortified calls were linked
# for calls in the code (the link map says which), every library built here
# calls the guard, and the image has ASLR with relocations and DEP.
exe=$build/exe/quex_invi.exe
map=$build/exe/quex_invi.map
refuse() {
  echo "build-windows: $*" >&2
  exit 1
}
grep -q '(__stack_chk_fail)$' "$map" && grep -qE '\(__[a-z]+_chk\)$' "$map" ||
  refuse "quex_invi.exe lacks stack protection or fortified calls (see $map)"
for library in "$prefix"/lib/*.a "$build"/exe/libquex_*.a; do
  grep -qx '__stack_chk_fail' <<<"$($mingw-nm -u "$library" | awk '{ print $2 }')" ||
    refuse "$library is built without stack protection"
done
characteristics=$($mingw-objdump -p "$exe" | sed -n '/^DllCharacteristics/,/^[^[:space:]]/p')
for flag in HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT; do
  grep -qw "$flag" <<<"$characteristics" || refuse "quex_invi.exe lacks $flag"
done
$mingw-objdump -h "$exe" | grep -qw '\.reloc' || refuse "quex_invi.exe has no relocations for ASLR"
echo "build-windows: quex_invi.exe has stack protection, fortified calls, ASLR and DEP"

# What quex_invi.exe holds of other projects, for the release's notices, each
# with the parts of its copyright file that apply. Of the libraries built
# here, the files their builds compiled, as the compilers' dependency files
# list them; of the Windows headers, those that compiling the program and its
# libraries included (their inline functions and GUIDs reach the program); of
# the C runtime, the folders of the libraries linked (libmingw32, libmingwex,
# libmsvcrt; not the profiling library) and winpthreads' sources.
cxx=$mingw-g++-posix
windows_headers=""
for header in $(included_files "$build/exe" "$deps"/build/* | sed -n 's#^/usr/share/mingw-w64/include/##p'); do
  windows_headers+=" files:mingw-w64-headers/include/$header files:mingw-w64-headers/crt/$header"
  windows_headers+=" files:mingw-w64-headers/include/${header%.h}.idl"
done
components_begin "$build/components.tsv"
component_source mpg123 mpg123 "the MP3 decoder (decoder only), a static library linked into \
quex_invi.exe; the source package is in the release's source archive" "$(compiled_parts mpg123)"
component_source GLFW glfw3 "the window, the OpenGL context and the keys, a static library" \
  "$(compiled_parts glfw3)"
component_source SDL2 libsdl2 "the sound output (audio only), a static library" \
  "$(compiled_parts libsdl2)"
component_source zlib zlib "inflates the embedded archive, a static library" "$(compiled_parts zlib)"
component_of glad "$(command -v glad)" "generated the OpenGL 3.3 loader that is compiled in" \
  "spdx:$build/exe/glad/include/glad/gl.h"
component_of stb_image /usr/include/stb/stb_image.h "the PNG decoder, compiled in"
component_of Boost.Lockfree /usr/include/boost/lockfree/spsc_queue.hpp \
  "the queue from the sound thread, headers compiled in" "files:boost/"
component_of "mingw-w64 runtime" "$($cxx -print-file-name=libmingwex.a)" \
  "the C runtime (with gdtoa and mingw_pformat) and winpthreads, linked statically, and what \
the Windows headers that were compiled in hold" "files:mingw-w64-crt/crt/ files:mingw-w64-crt/gdtoa/ \
files:mingw-w64-crt/math/ files:mingw-w64-crt/misc/ files:mingw-w64-crt/stdio/ \
files:mingw-w64-libraries/winpthreads/src/ files:mingw-w64-libraries/winpthreads/include/$windows_headers"
component_of "GNU C++ library (libstdc++)" "$($cxx -print-file-name=libstdc++.a)" \
  "linked statically, under the GCC Runtime Library Exception (in its copyright file)" "licence:GPL-3"
component_of "GCC support libraries (libgcc, libssp)" "$($cxx -print-libgcc-file-name)" \
  "linked statically, under the GCC Runtime Library Exception (in its copyright file)" "licence:GPL-3"
components_end

# Every library and object from this machine that the link took is owned by
# a package the components name: nothing linked goes without its notice.
{
  sed -n 's#^\(/[^ (]*\.a\)(.*#\1#p' "$map"
  sed -n 's#^LOAD \(/.*\.o\)$#\1#p' "$map"
} | sort -u | while read -r file; do
  [[ $file == "$build"/* ]] && continue
  package=$(dpkg -S "$(realpath "$file")" | head -n 1 | cut -d: -f1)
  grep -qF "Debian package $package " "$build/components.tsv" ||
    refuse "quex_invi.exe links $file (package $package), which the notices lack"
done
