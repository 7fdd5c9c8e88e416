#!/usr/bin/env bash
# The release's source archive as the LGPL means it to be used: HEAD is
# released (release.sh --source-only) from a clone that holds an untracked
# source file which does not compile; the archive is unpacked and mpg123 in
# it changed with the README's relink steps, run as written (dpkg-source -x,
# --commit, -b, then build-windows.sh); the new quex_invi.exe must carry the
# change, and the build proves the untracked file stayed out.
#
#   bash tests/e2e/relink_mpg123.sh WINDOWS_BUILD_DIR   (its dependencies seed the build)
set -uo pipefail
source "$(dirname "$0")/lib.sh"
root=$(cd "$(dirname "$0")/../.." && pwd)
seed=$(realpath "$1")/deps
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

git clone -q --shared "$root" "$work/repo" || fail "cannot clone $root"
echo '#error "a file that is not committed reached the release"' >"$work/repo/src/base/probe.cpp"
archive=$(bash "$work/repo/scripts/release.sh" --source-only 2>"$work/release.log" | tail -n 1)
[[ -f $archive ]] || { cat "$work/release.log"; fail "release.sh --source-only wrote no archive"; }
version=$(sed -n 's/^project(quex_invi VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
echo "ok: $(basename "$archive") written"

# The steps as the README gives them; the change: one of mpg123's messages.
mark="No error... (code 0, relinked)"
awk '/<!-- relink steps/ { mark = 1; next }
  mark && /^```sh$/ { inside = 1; next }
  inside && /^```$/ { exit }
  inside' "$root/README.md" | sed "s/<version>/$version/g" >"$work/steps.sh"
grep -q 'dpkg-source --commit' "$work/steps.sh" || fail "the README has no relink steps"
sed -i "s|^# change the source in tree/\$|sed -i 's/\"No error... (code 0)\"/\"$mark\"/' \
tree/src/libmpg123/libmpg123.c|" "$work/steps.sh"
grep -q 'libmpg123.c' "$work/steps.sh" || fail "the relink steps have no place for the change"
# The dependencies this machine built already: only mpg123 is built again.
build=$work/unpacked/quex_invi-$version/build/windows
mkdir -p "$build"
cp -a "$seed" "$build/"
cp "$archive" "$work/unpacked/"
(cd "$work/unpacked" && EDITOR=true bash -e "$work/steps.sh") >"$work/steps.log" 2>&1 ||
  { tail -n 40 "$work/steps.log"; fail "the relink steps failed"; }
grep -q '^build-windows: mpg123 .* built in' "$work/steps.log" || fail "mpg123 was not built again"
exe=$build/exe/quex_invi.exe
grep -qaF "$mark" "$exe" || fail "quex_invi.exe does not carry the changed mpg123"
echo "ok: the README's steps changed mpg123 (dpkg-source --commit, -b) and linked $(basename "$exe")" \
  "anew with it ($(grep -o 'mpg123 .* built in [0-9]* s' "$work/steps.log"))"
