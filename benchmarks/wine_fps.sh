#!/usr/bin/env bash
# Frames per second of the Windows executable under Wine against the native
# build, on the same scenes, in the same virtual X server on this machine.
# Mesa's HUD dumps every frame's rate to a file without drawing anything
# (GALLIUM_HUD_DUMP_DIR), for both builds alike; the frames' durations add up
# to the demo's clock, so each scene's frames are picked by that time.
# Usage: benchmarks/wine_fps.sh DEMO DEMO.EXE WINEPREFIX [RUNS]
set -uo pipefail
source "$(dirname "$0")/../tests/e2e/lib.sh"
in_xvfb "$@"
native=$1
exe=$2
use_wine "$3"
runs=${4:-1}
export SDL_AUDIODRIVER=dummy
[[ -f $WINEPREFIX/.quex-ready ]] || fail "no prepared Wine prefix (tests/e2e/windows_exe.sh makes one)"
work=$(mktemp -d)
trap '"$WINESERVER" -k 2>/dev/null; rm -rf "$work"' EXIT

# Seconds of demo time: well inside each scene, after its fade-in.
scenes=("road 10.5 21.5" "fluid 24.0 37.0" "dblobs 39.0 51.0")
duration=52

# Runs one build for the scenes' span; its per-frame rates land in DIR/fps.
record() {
  local dir=$1
  shift
  mkdir -p "$dir"
  GALLIUM_HUD=simple,fps GALLIUM_HUD_PERIOD=0 GALLIUM_HUD_VISIBLE=false \
    GALLIUM_HUD_DUMP_DIR=$dir "$@" 2>"$dir/stderr" &
  local pid=$!
  wait_for_window "$pid" >/dev/null || fail "no window appeared: $(cat "$dir/stderr")"
  sleep "$duration"
  quit_with_escape "$pid" 60
  [[ "$EXIT_CODE" == 0 ]] || fail "$* ended with $EXIT_CODE"
  [[ -s $dir/fps ]] || fail "Mesa's HUD wrote no frame rates for $*"
}

# Frames per second between two demo times of one recorded run.
rate() {
  awk -v from="$2" -v to="$3" '
    $1 > 0 { t += 1 / $1; if (t >= from && t < to) { n++; spent += 1 / $1 } }
    END { if (n) printf "%.1f", n / spent; else printf "-" }' "$1/fps"
}

printf '%-8s %12s %12s %8s\n' scene "native fps" "Wine fps" ratio
for run in $(seq 1 "$runs"); do
  record "$work/native$run" "$native"
  record "$work/wine$run" "$WINE" "$exe"
  for scene in "${scenes[@]}"; do
    read -r name from to <<<"$scene"
    n=$(rate "$work/native$run" "$from" "$to")
    w=$(rate "$work/wine$run" "$from" "$to")
    ratio=$(awk -v n="$n" -v w="$w" 'BEGIN { if (n > 0) printf "%.2f", w / n; else printf "-" }')
    printf '%-8s %12s %12s %8s\n' "$name" "$n" "$w" "$ratio"
  done
done
