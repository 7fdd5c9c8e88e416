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

# Source packages that come with the project (the release's source archive
# carries the ones whose licence asks for it) are built instead of apt's.
project_sources=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/debian-sources

# What a dependency is built from: the .dsc of the package that comes with the
# project, else "apt".
source_origin() {
  local dsc
  dsc=$(ls "$project_sources/$1"/*.dsc 2>/dev/null | head -n 1)
  if [[ -n $dsc ]]; then sha256sum "$dsc" | cut -d' ' -f1; else echo apt; fi
}

# Unpacks Debian's source package NAME into $deps/src/NAME/tree with Debian's
# patches applied. apt checks the files' hashes; an upstream signature file
# that the mirror lacks is not needed for the build, so only the tarballs count.
fetch_source() {
  local name=$1 dir=$deps/src/$1
  rm -rf "$dir" && mkdir -p "$dir"
  if [[ -d $project_sources/$name ]]; then
    cp "$project_sources/$name"/* "$dir/"
  else
    (cd "$dir" && download_source "$name") || true
  fi
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
# caller's build_NAME; a stamp in $prefix marks it built and says from what,
# so a changed package in debian-sources/ is built again. TAG starts the lines.
build_dependencies() {
  local tag=$1 name stamp started origin
  shift
  mkdir -p "$deps" "$prefix"
  for name in "$@"; do
    stamp=$prefix/.built-$name
    origin=$(source_origin "$name")
    # (A stamp from before stamps said their origin is empty: apt's.)
    if [[ -f $stamp && ($(cat "$stamp") == "$origin" || ($origin == apt && ! -s $stamp)) ]]; then
      continue
    fi
    [[ $origin == apt ]] && ensure_deb_src
    started=$SECONDS
    fetch_source "$name"
    rm -rf "$deps/build/$name"
    "build_${name}"
    echo "$origin" >"$stamp"
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

# The components file: what a build put into its program, one line each, for
# the release's notices (scripts/third_party_notices.py): name, Debian
# version, the package's copyright file, how it is in the program, and which
# parts of that file apply. Written anew by every build.
components_begin() {
  components=$1
  : >"$components.new"
}

# A dependency built here from source package SOURCE: NAME SOURCE HOW [PARTS].
component_source() {
  local version
  version=$(sed -n 's/^Version: //p' "$deps/src/$2"/*.dsc)
  printf '%s\t%s\t%s\t%s\t%s\n' "$1" "$version" "$deps/src/$2/tree/debian/copyright" \
    "Debian source package $2 $version, built here from source: $3" "${4:-}" >>"$components.new"
}

# What the installed package owning FILE put in: NAME FILE HOW [PARTS].
component_of() {
  local package version
  package=$(dpkg -S "$(realpath "$2")" | head -n 1 | cut -d: -f1)
  version=$(dpkg-query -W -f='${Version}' "$package")
  printf '%s\t%s\t%s\t%s\t%s\n' "$1" "$version" "/usr/share/doc/$package/copyright" \
    "Debian package $package $version: $3" "${4:-}" >>"$components.new"
}

components_end() {
  mv "$components.new" "$components"
}
