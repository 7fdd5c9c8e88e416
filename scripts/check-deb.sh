#!/usr/bin/env bash
# Checks the Debian package on a fresh Debian 12 tree: builds the .deb here,
# then, in the tree, installs it with apt (which must pull in every library it
# needs, libGL included, which GLFW opens at run time), shows the desktop entry
# and the icons it installed, and lints the shipped script with quex_inspect
# from PATH; one scene rendered headless by quex_bench shows the installed
# renderer works.
# Needs root (the fresh tree is a chroot).
#
#   bash scripts/check-deb.sh
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(bash scripts/release.sh --deb-only | tail -n 1)
# /dev is the one folder the fresh tree shares with this machine (its own
# /dev/shm is another mount, not shared).
drop=$(mktemp -d /dev/quex-deb.XXXXXX)
trap 'rm -rf "$drop"' EXIT
shared=$drop/$(basename "$deb")
cp "$deb" "$shared"
chmod 755 "$drop"
../shared/tools/fresh-debian.sh "apt-get update -qq && \
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $shared >/dev/null && \
  dpkg-query -W -f='\${Package} \${Version}\n' quex-invi && \
  command -v quex_invi quex_capture quex_inspect quex_bench quex_preview && \
  cat /usr/share/applications/quex-invi.desktop && ls -l /usr/share/icons/hicolor/*/apps/quex-invi.png && \
  ldconfig -p | grep -q 'libGL.so.1 ' && echo 'check-deb: libGL.so.1, which GLFW opens, is installed' && \
  quex_inspect --lint && echo 'check-deb: quex_inspect --lint passed' && \
  quex_bench --scene road --frames 2 --warmup 1 --size 320x180 | tail -n 2"
