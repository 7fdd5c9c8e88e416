#!/usr/bin/env bash
# The Debian package as a Debian user gets it: made by cpack from a build
# folder, it must pass lintian with no error and no warning (overrides only in
# packaging/lintian-overrides, each with its reason) and with no hardening tag
# even at the info level, carry a manual page for each program and a valid
# desktop entry with its icon, and hold one copy of the archive, which the
# programs find in their private library through their RUNPATH (read from the
# programs themselves, as installed, not helped by LD_LIBRARY_PATH).
#
#   bash tests/e2e/package_lint.sh BUILD_DIR
set -uo pipefail
source "$(dirname "$0")/lib.sh"

build=$(realpath "$1")
rm -f "$build"/quex-invi_*.deb
(cd "$build" && cpack -G DEB >"$build/cpack.log" 2>&1) || { cat "$build/cpack.log"; fail "cpack"; }
deb=$(ls "$build"/quex-invi_*.deb)

lintian --info --fail-on error,warning "$deb" >"$build/lintian.log" 2>&1 ||
  { cat "$build/lintian.log"; fail "lintian reports errors or warnings"; }
! grep 'hardening-' "$build/lintian.log" || fail "lintian reports missing hardening"
echo "ok: lintian reports no error, no warning and no hardening tag on $(basename "$deb")"

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree"
for program in "$tree"/usr/bin/*; do
  name=$(basename "$program")
  [[ -f $tree/usr/share/man/man1/$name.1.gz ]] || fail "no manual page for $name"
done
desktop-file-validate "$tree/usr/share/applications/quex-invi.desktop" ||
  fail "the desktop entry is not valid"
icon=$(sed -n 's/^Icon=//p' "$tree/usr/share/applications/quex-invi.desktop")
for size in 16 32 48 256; do
  png=$tree/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png
  [[ $(identify -format '%wx%h' "$png" 2>/dev/null) == "${size}x${size}" ]] ||
    fail "no ${size}x${size} icon $icon"
done
echo "ok: a manual page for each of $(ls "$tree/usr/bin" | paste -sd ' '); desktop entry and icons"

# The five programs together are smaller than the archive: they share its one
# copy, which a stripped tool finds in the package's private library.
archive=$(stat -c %s "$build/archive/archive.bin")
programs=$(du -cb "$tree"/usr/bin/* | tail -n 1 | cut -f1)
((programs < archive)) || fail "the programs ($programs bytes) carry the archive ($archive bytes)"
echo "ok: one copy of the archive ($archive bytes); the programs, $programs bytes, share it"

# Each program finds the private library through the RUNPATH it was linked
# with, read as installed: every library it needs lies in the package under a
# RUNPATH folder or is a system library, and no build folder is named.
dynamic() { readelf -d "$1" | sed -n "s/.*($2).*\[\(.*\)\]/\1/p"; }
system_libraries=$(ldconfig -p)
for program in "$tree"/usr/bin/*; do
  name=$(basename "$program")
  runpath=$(dynamic "$program" RUNPATH)
  [[ $runpath == /usr/lib/* && $runpath != *:* && -z $(dynamic "$program" RPATH) ]] ||
    fail "$name: RUNPATH '$runpath', not one folder of the package"
  for library in $(dynamic "$program" NEEDED); do
    [[ -f $tree$runpath/$library ]] || grep -q "^[[:space:]]$library " <<<"$system_libraries" ||
      fail "$name needs $library, which is neither in its RUNPATH $runpath nor a system library"
  done
done
# quex_inspect runs with the library where its RUNPATH says (the loader told
# that folder, as the package is not installed here).
interpreter=$(readelf -l "$tree/usr/bin/quex_inspect" | sed -n 's/.*interpreter: \(.*\)\]/\1/p')
"$interpreter" --library-path "$tree$(dynamic "$tree/usr/bin/quex_inspect" RUNPATH)" \
  "$tree/usr/bin/quex_inspect" --lint >/dev/null || fail "quex_inspect from the package"
echo "ok: every program's RUNPATH is $(dynamic "$tree/usr/bin/quex_invi" RUNPATH), which holds" \
  "the library it needs"
