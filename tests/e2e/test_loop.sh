#!/usr/bin/env bash
# The loop in real time, as a viewer hears it: the live preview (the same
# frame loop as the demo) on a script that loops the last 3 s of the music,
# on SDL's disk driver paced 10 % slow and 10 % fast against the system
# timer. Every wrap of the recording must go from the track's very end to the
# loop point, with nothing cut, repeated or silent between.
set -uo pipefail
source "$(dirname "$0")/lib.sh"
in_xvfb "$@"

use_preview "$1"
printf 'fps 60\nscroll off\nloop 11400\n' >"$work/demo.txt" # 190 s

# Plays from 186 s for about 14 s, three wraps or more; prints the recording's
# stretches.
play() {
  local delay=$1 out=$work/out_$1.raw
  SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$out SDL_DISKAUDIODELAY=$delay \
    "$preview" "$work/demo.txt" --at 186 --size 320x180 2>"$work/stderr_$delay" &
  local pid=$! window=""
  for _ in $(seq 1 120); do
    window=$(xdotool search --onlyvisible --name '^quex_preview' 2>/dev/null | head -n 1)
    [[ -n "$window" ]] && break
    kill -0 "$pid" 2>/dev/null || fail "the preview ended: $(cat "$work/stderr_$delay")"
    sleep 0.25
  done
  [[ -n "$window" ]] || fail "no window appeared"
  sleep 14
  xdotool key --window "$window" Escape
  wait_exit "$pid" 20
  [[ "$EXIT_CODE" == 0 ]] || fail "exit code $EXIT_CODE"
  "$segments" "$out"
}

for delay in 44 36; do
  play "$delay" >"$work/segments_$delay" || exit 1
  # Every boundary between stretches is a wrap, but the seek to 186 s if the
  # device played anything before it.
  awk -v delay="$delay" '
    { out0[NR] = $1; out1[NR] = $2; t0[NR] = $3; t1[NR] = $4; if ($4 > end) end = $4 }
    END {
      wraps = 0
      for (i = 2; i <= NR; i++) {
        if (t0[i] > 185.9 && t0[i] < 186.1) continue
        cut = (end - t1[i - 1]) * 1000; lands = (t0[i] - 190) * 1000; gap = (out0[i] - out1[i - 1]) * 1000
        printf "delay %s ms, wrap at %.3f s of output: cut %.1f ms, goes on at %.3f s, silence %.1f ms\n",
          delay, out0[i], cut, t0[i], gap
        if (cut > 0.5 || lands < -0.5 || lands > 0.5 || gap > 0.5) bad = 1
        wraps++
      }
      if (wraps < 2) { print "only " wraps " wraps recorded"; exit 1 }
      exit bad
    }' "$work/segments_$delay" || fail "a wrap was not seamless (SDL_DISKAUDIODELAY=$delay)"
  ! grep -q -v '^\[' "$work/stderr_$delay" || fail "untagged log lines: $(cat "$work/stderr_$delay")"
done
echo "ok: on a device 10 % slow and 10 % fast, every wrap is seamless"
