# Helpers for the builds that compile dependencies from Debian's source
# packages (Windows, browser). Sourced, not run; needs $deps set.

sudo=""
if [[ $(id -u) -ne 0 ]]; then
  sudo="sudo"
fi

# Installs the named Debian packages that are missing.
install_packages() {
  local missing=() package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

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

# Downloads the newest version of source package NAME that a mirror serves into
# the current folder: a mirror may list a security update it does not carry.
download_source() {
  local name=$1 version
  if apt-get source -qq --download-only "$name" >/dev/null 2>&1; then
    return
  fi
  for version in $(apt-cache showsrc "$name" | sed -n 's/^Version: //p' | sort -urV); do
    rm -f ./*
    if apt-get source -qq --download-only "$name=$version" >/dev/null 2>&1; then
      return
    fi
  done
}

# Unpacks Debian's source package NAME into $deps/src/NAME/tree with Debian's
# patches applied. apt checks the files' hashes; an upstream signature file
# that the mirror lacks is not needed for the build, so only the tarballs count.
fetch_source() {
  local name=$1 dir=$deps/src/$1
  rm -rf "$dir" && mkdir -p "$dir"
  (cd "$dir" && download_source "$name") || true
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

# Builds each named dependency once, from its source package, with the
# caller's build_NAME; a stamp in $prefix marks it built. TAG starts the lines.
build_dependencies() {
  local tag=$1 name stamp started
  shift
  mkdir -p "$deps" "$prefix"
  for name in "$@"; do
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
    echo "$tag: $name built in $((SECONDS - started)) s"
  done
}

# pack_assets for the build machine, in folder $1, rebuilt when its source is
# newer: the archive is packed here, not on the target.
build_host_packer() {
  local host=$1 root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  mkdir -p "$host"
  if [[ ! -x $host/pack_assets || $root/tools/pipeline/pack_assets.cpp -nt $host/pack_assets ]]; then
    g++ -std=c++20 -O2 -Wall -Wextra -o "$host/pack_assets" "$root/tools/pipeline/pack_assets.cpp" -lz
  fi
}
