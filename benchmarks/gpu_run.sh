#!/usr/bin/env bash
# One measurement on a machine with a real GPU that reaches no package
# registry, in two halves:
#
#   bash benchmarks/gpu_run.sh prepare [BUILD]   # here: build/gpu_kit, the tools
#                                                # and every library they load
#                                                # but the C library, from the
#                                                # Debian packages installed here
#   OUT=DIR bash benchmarks/gpu_run.sh run       # there, with build/gpu_kit
#                                                # carried along
#   SOFTWARE=1 OUT=DIR bash ... run              # the same on a software
#                                                # renderer: 5 bench frames,
#                                                # 0.25 s of preroll, no limits
#
# `run` writes to $OUT (default out/gpu_run): bench.json (quex_bench at
# 1920x1080), stills/ (quex_capture at one time inside every scene, the final
# picture and the canvas, each after 2 s of preroll), timed_capture.txt (10 s
# of the demo captured frame by frame at 1920x1080, with its two end frames),
# seeks.txt (bench_seek: time to the exact picture after a seek, cold and back)
# and summary.txt. Each step has a time limit, so the whole run stays within
# 5 minutes and a step that hangs leaves the others' results.
set -uo pipefail
cd "$(dirname "$0")/.."
kit=build/gpu_kit
tools=(quex_bench quex_capture)
# Measuring programs from the build's top folder.
benches=(bench_seek)
# Inside the first entry of each scene: smoke, road, fluid, dblobs, tornado,
# rd2, blood cells.
still_times=(4 15 30 45 61 77 175)

# The package that owns a library file, whichever of /lib and /usr/lib the
# loader found it under.
owner() {
  local file=$1
  dpkg -S "$file" 2>/dev/null || dpkg -S "/usr$file" 2>/dev/null || dpkg -S "${file#/usr}" 2>/dev/null
}

prepare() {
  local build=${1:-build/release} tool package programs=()
  rm -rf "$kit"
  mkdir -p "$kit/bin" "$kit/debs" "$kit/root" "$kit/lib"
  for tool in "${tools[@]}"; do programs+=("$build/tools/$tool"); done
  for tool in "${benches[@]}"; do programs+=("$build/$tool"); done
  for tool in "${programs[@]}"; do
    [[ -x $tool ]] || { echo "gpu_run: build $tool first" >&2; return 1; }
    strip -o "$kit/bin/$(basename "$tool")" "$tool"
  done
  # The archive the tools share.
  strip -o "$kit/lib/libquex_archive.so" "$build/libquex_archive.so"
  # The versions the tools were linked against where the archive still has
  # them, else the suite's current ones; glibc stays the host's.
  local packages=()
  mapfile -t packages < <(
    for tool in "${programs[@]}"; do ldd "$tool"; done |
      awk '$3 ~ /^\// { print $3 }' | sort -u |
      while read -r lib; do owner "$(readlink -f "$lib")" || owner "$lib"; done |
      cut -d: -f1 | sort -u | grep -vx 'libc6'
  )
  local available wanted=() version
  available=$(apt-cache madison "${packages[@]}")
  for package in "${packages[@]}"; do
    version=$(dpkg-query -W -f='${Version}' "$package")
    if awk -F'|' -v p="$package" -v v="$version" '{ gsub(/ /, "") } $1 == p && $2 == v { found = 1 }
                                                  END { exit !found }' <<<"$available"; then
      wanted+=("$package=$version")
    else
      echo "gpu_run: $package $version is gone from the archive; taking its current version"
      wanted+=("$package")
    fi
  done
  (cd "$kit/debs" && apt-get download -q "${wanted[@]}" 2>&1 | { grep -vE '^Get:|unsandboxed' || true; }) || return 1
  local deb
  for deb in "$kit"/debs/*.deb; do
    dpkg-deb -x "$deb" "$kit/root"
  done
  # Only the shared libraries travel; the packages' names are kept for the record.
  find "$kit/root" -name '*.so*' \( -type f -o -type l \) -path '*x86_64-linux-gnu*' \
    -not -path '*/dri/*' -exec cp -a {} "$kit/lib/" \;
  ls "$kit/debs" >"$kit/packages.txt"
  rm -rf "$kit/debs" "$kit/root"
  echo "gpu_run: $kit is ready ($(du -sh "$kit" | cut -f1), ${#packages[@]} packages)"
}

# Runs a step under a time limit and records its wall time.
step() {
  local name=$1 limit=$2
  shift 2
  local began=$SECONDS
  timeout "$((limit * scale))" "$@"
  local code=$?
  echo "$name: exit $code, $((SECONDS - began)) s" | tee -a "$OUT/summary.txt"
  return "$code"
}

run() {
  OUT=${OUT:-out/gpu_run}
  local bench_frames=(--frames 120 --warmup 10) preroll=2 scale=1
  if [[ -n ${SOFTWARE:-} ]]; then
    bench_frames=(--frames 5 --warmup 1)
    preroll=0.25
    scale=0 # timeout 0: none
  fi
  [[ -x $kit/bin/quex_bench ]] || { echo "gpu_run: no $kit; run prepare first" >&2; return 1; }
  mkdir -p "$OUT/stills"
  export LD_LIBRARY_PATH=$PWD/$kit/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
  : >"$OUT/summary.txt"
  # Where the GPU's own EGL is installed beside Mesa's, only it is offered:
  # Mesa's surfaceless platform would otherwise win with a software renderer.
  local vendor
  vendor=$(ls /usr/share/glvnd/egl_vendor.d/*nvidia*.json /etc/glvnd/egl_vendor.d/*nvidia*.json \
    2>/dev/null | head -n 1)
  if [[ -n $vendor ]]; then
    export __EGL_VENDOR_LIBRARY_FILENAMES=$vendor
  fi
  {
    echo "host: $(uname -srm), $(nproc) cores; EGL vendor: ${vendor:-any installed}"
    command -v nvidia-smi >/dev/null &&
      nvidia-smi --query-gpu=name,driver_version --format=csv,noheader
    ldd "$kit/bin/quex_bench" | grep 'not found'
  } | tee -a "$OUT/summary.txt"

  step bench 50 "$kit/bin/quex_bench" --size 1920x1080 --json "${bench_frames[@]}" \
    >"$OUT/bench.json" 2>"$OUT/bench.err"
  grep -m1 '^\[Headless\]' "$OUT/bench.err" | tee -a "$OUT/summary.txt"
  cat "$OUT/bench.json"

  local t
  for t in "${still_times[@]}"; do
    step "still at $t s" 20 "$kit/bin/quex_capture" --quiet --at "$t" --preroll "$preroll" \
      --size 1920x1080 --canvas --out "$OUT/stills" 2>>"$OUT/stills.err"
  done

  # Every frame of 53 to 63 s, written as the tool writes them; only the
  # ends are kept.
  local frames
  frames=$(mktemp -d)
  step "timed capture of 53 to 63 s (601 frames)" 90 "$kit/bin/quex_capture" --quiet \
    --from 53 --to 63 --preroll none --size 1920x1080 --out "$frames" 2>"$OUT/timed_capture.err"
  cp "$frames/frame_003180.png" "$frames/frame_003780.png" "$OUT/" 2>/dev/null
  echo "$(ls "$frames" | wc -l) frames written" | tee -a "$OUT/summary.txt"
  rm -rf "$frames"
  tail -n 2 "$OUT/summary.txt" >"$OUT/timed_capture.txt"

  # Seeks to the exact picture, cold and back (see README, Benchmarks).
  step "seeks to 30, 75, 120 and 180 s" 40 "$kit/bin/bench_seek" 30 75 120 180 31.98 \
    >"$OUT/seeks.txt" 2>"$OUT/seeks.err"
  cat "$OUT/seeks.txt"
}

case ${1:-} in
  prepare) shift; prepare "$@" ;;
  run) run ;;
  *) echo "usage: bash benchmarks/gpu_run.sh prepare [BUILD] | run" >&2; exit 2 ;;
esac
