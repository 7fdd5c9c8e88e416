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

# Source packages need deb-src lines for the archive and suites already in use,
# and for the security suite: a point release's source package may list files
# (an upstream signature) that only the security archive still serves, and a
# minimal system (debootstrap) lists no security suite.
ensure_deb_src() {
  if grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    return
  fi
  local list=/etc/apt/sources.list.d/debian.sources mirror codename
  if [[ -f $list ]]; then
    sed 's/^Types: *deb$/Types: deb-src/' "$list" |
      $sudo tee /etc/apt/sources.list.d/quex-deb-src.sources >/dev/null
  else
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list |
      $sudo tee /etc/apt/sources.list.d/quex-deb-src.list >/dev/null
  fi
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  mirror=$(grep -rhsoE '^(URIs: *|deb +)[a-z]+://[^ ]*/debian/?( |$)' /etc/apt/sources.list \
    /etc/apt/sources.list.d/ | head -n 1 | sed -E 's/^(URIs: *|deb +)//; s#/? *$##')
  if [[ -n $codename && -n $mirror ]] &&
    ! grep -rqs -- "$codename-security" /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "deb-src ${mirror}-security $codename-security main" |
      $sudo tee /etc/apt/sources.list.d/quex-deb-src-security.list >/dev/null
  fi
  $sudo apt-get update -qq >&2
}

# The files that a source package's .dsc ($1) lists and the current folder lacks.
missing_files() {
  local file
  for file in $(sed -n '/^Files:/,/^[^ ]/p' "$1" | awk '/^ / && NF == 3 { print $3 }'); do
    [[ -f $file ]] || echo "$file"
  done
}

# Downloads source package NAME into the current folder (emptied first): the
# newest version that a mirror serves whole, else the newest it serves with
# its tarballs, which is all a build needs. apt takes each version from one
# suite, and a mirror may lack a suite's files in part (a security update it
# lists, an upstream signature): another suite listing the same version may
# have them.
download_source() {
  local name=$1 version release dsc file fallback=""
  ensure_deb_src
  for version in $(apt-cache showsrc "$name" | sed -n 's/^Version: //p' | sort -urV); do
    rm -rf ./* .other
    apt-get source -qq --download-only "$name=$version" >/dev/null 2>&1
    dsc=$(ls ./*_"${version#*:}".dsc 2>/dev/null) || continue
    for release in $(apt-get indextargets --format '$(RELEASE)' 'Created-By: Sources' | sort -u); do
      [[ -z $(missing_files "$dsc") ]] && break
      rm -rf .other && mkdir .other
      (cd .other && apt-get source -qq --download-only "$name/$release" >/dev/null 2>&1)
      for file in $(missing_files "$dsc"); do
        [[ -f .other/$file ]] && mv ".other/$file" .
      done
    done
    rm -rf .other
    [[ -z $(missing_files "$dsc") ]] && return
    [[ -z $fallback ]] && ls ./*.orig.tar.* ./*.debian.tar.* >/dev/null 2>&1 && fallback=$version
  done
  [[ -n $fallback ]] || return 1
  rm -rf ./*
  apt-get source -qq --download-only "$name=$fallback" >/dev/null 2>&1 || true
}

# Source packages that come with the project (the release's source archive
# carries the ones whose licence asks for it) are built instead of apt's.
project_sources=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/debian-sources

# A source package's identity: its version and its .dsc's SHA-256 (a package
# changed and rebuilt with dpkg-source keeps its version but not its .dsc).
dsc_identity() {
  echo "$(sed -n 's/^Version: //p' "$1") $(sha256sum <"$1" | cut -d' ' -f1)"
}

# What a dependency is built from: the package that comes with the project,
# else the newest version apt lists (a security update, say).
source_origin() {
  local dsc
  dsc=$(ls "$project_sources/$1"/*.dsc 2>/dev/null | head -n 1)
  if [[ -n $dsc ]]; then
    dsc_identity "$dsc"
    return
  fi
  ensure_deb_src
  apt-cache showsrc "$1" | awk -v name="$1" '
    /^Package: / { ours = $2 == name }
    /^Version: / { version = $2 }
    /^Checksums-Sha256:/ { sums = 1; next }
    sums && /^ / { if (ours && $3 ~ /\.dsc$/) print version, $1; next }
    { sums = 0 }' | sort -k1,1Vr | head -n 1
}

# Unpacks Debian's source package NAME into $deps/src/NAME/tree with Debian's
# patches applied. apt checks the files' hashes; an upstream signature file
# that the mirror lacks is not needed for the build, so only the tarballs count.
fetch_source() {
  local name=$1 dir=$deps/src/$1
  rm -rf "$dir" && mkdir -p "$dir"
  if [[ -d $project_sources/$name ]]; then
    find "$project_sources/$name" -maxdepth 1 -type f -exec cp -t "$dir" {} +
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
# caller's build_NAME; a stamp in $prefix says what it was built from (the
# package's version and .dsc) and how (build_NAME and the CFLAGS, CXXFLAGS
# and LDFLAGS it builds with), so that a newer package (a Debian security
# update), a changed one in debian-sources/ or a changed recipe is built again.
# TAG starts the lines.
build_dependencies() {
  local tag=$1 name stamp started recipe built
  shift
  mkdir -p "$deps" "$prefix"
  for name in "$@"; do
    stamp=$prefix/.built-$name
    recipe=$({
      declare -f "build_$name"
      echo "${CFLAGS:-}|${CXXFLAGS:-}|${LDFLAGS:-}"
    } | sha256sum | cut -c1-16)
    if [[ -f $stamp && $(cat "$stamp") == "$(source_origin "$name") $recipe" ]]; then
      continue
    fi
    started=$SECONDS
    fetch_source "$name"
    built="$(dsc_identity "$deps/src/$name"/*.dsc) $recipe"
    # The newest version a mirror serves may be older than the one it lists.
    if [[ -f $stamp && $(cat "$stamp") == "$built" ]]; then
      continue
    fi
    rm -rf "$deps/build/$name"
    "build_${name}"
    echo "$built" >"$stamp"
    echo "$tag: $name ${built%% *} built in $((SECONDS - started)) s"
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

# Every file that the compilers' dependency files in the build folders given
# name (the sources compiled and the headers they included), as real paths.
included_files() {
  local dir
  for dir in "$@"; do
    find "$dir" \( -name '*.d' -o -name '*.Plo' \) -exec cat {} + | tr ' \\' '\n\n' |
      sed 's/:$//; /^$/d' | (cd "$dir" && xargs -r realpath -m --)
  done | sort -u
}

# The files of dependency NAME's source package that its build compiled, as
# the notices' "files:" parts (a header the build copied counts as its
# source). Paths are matched by what follows src/NAME/tree/ or build/NAME/:
# a build folder copied from elsewhere names the folders it was built in.
compiled_parts() {
  local name=$1 file part
  included_files "$deps/build/$name" | while read -r file; do
    case $file in
      */src/"$name"/tree/*) part=${file##*/src/"$name"/tree/} ;;
      */build/"$name"/*) part=${file##*/build/"$name"/} ;;
      *) continue ;;
    esac
    if [[ -f $deps/src/$name/tree/$part ]]; then echo "files:$part"; fi
  done | sort -u | paste -sd ' '
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
