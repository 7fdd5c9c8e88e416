#!/usr/bin/env bash
# Installs the Debian packages the build needs (and, with --test, what the test
# suite needs too). Idempotent: apt runs only when something is missing.
# --list prints the packages instead of installing them.
set -euo pipefail

build_packages=(
  build-essential cmake pkg-config python3-glad
  libglfw3-dev libstb-dev zlib1g-dev libsdl2-dev libpulse-dev libmpg123-dev libboost-dev libegl-dev libgl-dev
  libgl1-mesa-dri libegl-mesa0
  help2man
)
test_packages=(
  libgtest-dev clang libclang-rt-14-dev xvfb xauth xdotool x11-utils imagemagick
  ffmpeg lame sox wine64 pulseaudio pulseaudio-utils libx11-dev
  glslang-tools apitrace mesa-vulkan-drivers
  lintian desktop-file-utils
)
# The shaders' reference compiler and the browser the web page is tested in.
test_packages+=(glslang-tools chromium)

with_tests=0
list_only=0
for arg in "$@"; do
  case "$arg" in
    --test) with_tests=1 ;;
    --list) list_only=1 ;;
    *) echo "install-deps.sh: unknown option $arg (use --test, --list)" >&2; exit 2 ;;
  esac
done

wanted=("${build_packages[@]}")
if ((with_tests)); then
  wanted+=("${test_packages[@]}")
fi
if ((list_only)); then
  printf '%s\n' "${wanted[@]}"
  exit 0
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
