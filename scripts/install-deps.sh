#!/usr/bin/env bash
# Installs the Debian packages the build needs (and, with --test, what the test
# suite needs too). Idempotent: apt runs only when something is missing.
set -euo pipefail

build_packages=(
  build-essential cmake pkg-config python3-glad
  libglfw3-dev libstb-dev zlib1g-dev libsdl2-dev libmpg123-dev libegl-dev libgl-dev
  libgl1-mesa-dri libegl-mesa0
)
test_packages=(
  libgtest-dev clang libclang-rt-14-dev xvfb xauth xdotool x11-utils imagemagick
  ffmpeg lame sox wine64
)

wanted=("${build_packages[@]}")
if [[ "${1:-}" == "--test" ]]; then
  wanted+=("${test_packages[@]}")
fi

missing=()
for package in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  if [[ $(id -u) -ne 0 ]]; then
    sudo="sudo"
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
