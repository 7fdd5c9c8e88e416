#!/usr/bin/env bash
# Counts the taps of Escape that a demo executable acts on when each lands in
# a slow frame (the opening smoke scene, seconds a frame on a software
# renderer): one run per tap, 3 s after the window appears.
# Usage: benchmarks/key_taps.sh DEMO [TAPS]
set -uo pipefail
source "$(dirname "$0")/../tests/e2e/lib.sh"
in_xvfb "$@"
demo=$1
taps=${2:-5}
acted=0
for _ in $(seq 1 "$taps"); do
  SDL_AUDIODRIVER=dummy "$demo" 2>/dev/null &
  pid=$!
  wait_for_window "$pid" >/dev/null || fail "no window appeared"
  sleep 3
  tap_key Escape
  wait_exit "$pid" 15
  [[ "$EXIT_CODE" == 0 ]] && acted=$((acted + 1))
done
echo "taps acted on: ${acted} of ${taps}"
