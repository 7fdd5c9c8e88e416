#!/usr/bin/env bash
# Seeks in the live preview show what a viewer sees: into the fluid, forward
# into the tornado and back into the fluid, the canvas of every frame a seek
# lands on (--stills) equals quex_capture's at the same frame, whose scenes
# are simulated from 0. A seek undone before its rebuild ends leaves nothing
# to wait for.
set -uo pipefail
source "$(dirname "$0")/lib.sh"
in_xvfb "$@"

use_preview "$1"
capture=$build/tools/quex_capture
[[ -x "$capture" ]] || fail "no $capture"
stills=$work/stills
mkdir -p "$stills"

# Frames (at 60 per second) of the stills written so far, in order of writing.
frames() { ls -tr "$stills" | sed -n 's/^canvas_0*\([0-9][0-9]*\)\.png$/\1/p'; }
# True when a still was written in the scene entry from frame $1 to $2 other
# than frame $3.
still_in() { frames | awk -v a="$1" -v b="$2" -v not="${3:-}" '$1 >= a && $1 <= b && $1 != not { f = 1 } END { exit !f }'; }
wait_until() {
  local limit=$1
  shift
  for _ in $(seq 1 $((limit * 4))); do
    "$@" && return 0
    kill -0 "$pid" 2>/dev/null || fail "the preview ended: $(cat "$work/stderr")"
    sleep 0.25
  done
  return 1
}

SDL_AUDIODRIVER=dummy "$preview" --at 25 --size 320x180 --stills "$stills" 2>"$work/stderr" &
pid=$!
window=$(wait_for_window "$pid" '^quex_preview') || fail "no window appeared: $(cat "$work/stderr")"

# The fluid runs from frame 1338 to 2294, the tornado from 3180 to 4148.
wait_until 120 still_in 1500 1510 || fail "no still after --at 25"
first=$(frames | head -n 1)
xdotool key --window "$window" l
wait_until 30 still_in 3180 3190 || fail "no still after L"
xdotool key --window "$window" Right
wait_until 60 still_in 3200 4148 || fail "no still in the tornado"
xdotool key --window "$window" shift+Left shift+Left shift+Left shift+Left shift+Left shift+Left
wait_until 120 still_in 1338 2294 "$first" || fail "no still back in the fluid"

# Paused, a seek into a long rebuild and, before it ends, back to the frame on
# screen: nothing is left to wait for, so the preview says paused at once and
# plays on with Space.
title() { xdotool getwindowname "$window"; }
title_has() { title | grep -q "$1"; }
title_time() { title | sed -n 's/^quex_preview  \([0-9.]*\) s .*/\1/p'; }
title_moved() { [[ "$(title_time)" != "$1" ]] && ! title_has rebuilding; }
xdotool key --window "$window" space
wait_until 10 title_has paused || fail "Space did not pause: $(title)"
xdotool key --window "$window" shift+Right
sleep 0.5
xdotool key --window "$window" shift+Left
wait_until 5 title_has '  paused$' || fail "still waiting after going back: $(title)"
paused_at=$(title_time)
xdotool key --window "$window" space
wait_until 10 title_moved "$paused_at" || fail "Space did not play on from $paused_at: $(title)"
quit_with_escape "$pid" 30
[[ "$EXIT_CODE" == 0 ]] || fail "exit code $EXIT_CODE after Escape"
grep -q '^\[Preview\] 25.000 s rebuilt in ' "$work/stderr" || fail "no rebuild line: $(cat "$work/stderr")"

times=$(frames | awk '{ printf "%s%.6f", (NR > 1 ? "," : ""), $1 / 60 }')
"$capture" --quiet --at "$times" --size 320x180 --canvas --out "$work/capture" 2>/dev/null ||
  fail "quex_capture --at $times failed"
# The same driver gives the same bytes; another one may round a level apart.
for frame in $(frames); do
  name=$(printf 'canvas_%06d.png' "$frame")
  error=$(compare -metric PAE "$stills/$name" "$work/capture/$name" null: 2>&1 | awk '{ print $1 }')
  awk -v e="$error" 'BEGIN { exit !(e <= 2 * 257) }' ||
    fail "frame $frame: the preview's canvas is up to $error/65535 off quex_capture's"
  echo "ok: frame $frame ($(awk -v f="$frame" 'BEGIN { printf "%.3f", f / 60 }') s) as quex_capture draws it"
done
