#!/usr/bin/env bash
# The picture against the music a listener hears through a real sound server:
# a private PulseAudio server with a null sink, whose monitor is what a
# listener would hear. The live preview (the demo's clock) plays the road
# from 10 s, with the server's default latency and with PULSE_LATENCY_MSEC=200
# (a Bluetooth headset's); each time shown in its title is judged against the
# music heard at that moment: the median within one frame, nine in ten within
# two. Then the demo itself, in its slow opening frames, is paused and resumed
# with ten taps of P, and no stretch of the track may be heard twice. Where
# SDL_AUDIODRIVER names another driver, SDL plays, server or not.
set -uo pipefail
source "$(dirname "$0")/lib.sh"
in_xvfb "$@"

use_preview "$1"
demo=$(realpath "$1")

# Judged in full in the Release build, three times as loosely in a sanitized one.
loose=1
! sanitized "$preview" || loose=3

trap stop_sound_server EXIT
start_sound_server

# A driver named for SDL is kept while a server runs (the other tests' disk
# and dummy devices).
SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$work/disk.raw "$demo" 2>"$work/disk.stderr" &
pid=$!
wait_for_window "$pid" >/dev/null || fail "no window appeared: $(cat "$work/disk.stderr")"
for _ in $(seq 1 120); do
  [[ -s "$work/disk.raw" ]] && break
  sleep 0.25
done
quit_with_escape "$pid"
[[ -s "$work/disk.raw" ]] || fail "SDL_AUDIODRIVER=disk was not kept beside a sound server"
echo "ok: SDL_AUDIODRIVER=disk is kept beside a sound server"

# The preview from 10 s (the road: every frame is quick) for 10 s, with the
# given PULSE_LATENCY_MSEC (empty: the server's default).
judge_picture() {
  local name=$1 latency=$2
  listen "$name"
  env ${latency:+PULSE_LATENCY_MSEC=$latency} "$preview" --at 10 --size 320x180 \
    2>"$work/$name.stderr" &
  local pid=$! window
  window=$(wait_for_window "$pid" '^quex_preview') ||
    fail "no window appeared: $(cat "$work/$name.stderr")"
  "$recorder" seen "$window" >"$work/$name.seen" &
  local watching=$!
  sleep 10
  kill -INT "$watching"
  wait "$watching"
  stop_listening "$name"
  xdotool key --window "$window" Escape
  wait_exit "$pid" 20
  [[ "$EXIT_CODE" == 0 ]] || fail "exit code $EXIT_CODE ($name)"
  ! grep -q -v '^\[' "$work/$name.stderr" || fail "untagged log lines: $(cat "$work/$name.stderr")"
  # Each title from 1.5 s after the first (the start settles) against the
  # music heard as it was taken: the recording's frame then, from the
  # nearest moment before, placed in the track. The title changes on the
  # first frame 0.25 s after the last; one that came 50 ms later than that
  # follows a frame loop the machine held up, and is not judged.
  awk -v name="$name" -v loose="$loose" -v verbose="${VERBOSE:-}" '
    FILENAME ~ /segments$/ { o0[++n] = $1; o1[n] = $2; s0[n] = $3; next }
    $1 == "heard" { hf[++nh] = $2; hm[nh] = $3; next }
    $1 == "seen" && $0 !~ /paused|rebuilding/ { sm[++ns] = $2; sp[ns] = $4 }
    END {
      c = 1
      for (k = 1; k <= ns; k++) {
        if (sm[k] < sm[1] + 1500) continue
        if (sm[k] - sm[k - 1] > 250 + 50 * loose) { held++; continue }
        while (c < nh && hm[c + 1] <= sm[k]) c++
        heard = (hf[c] + (sm[k] - hm[c]) * 48) / 48000; music = -1
        for (i = 1; i <= n; i++) if (heard >= o0[i] && heard < o1[i]) music = s0[i] + heard - o0[i]
        if (music < 0) continue
        d[++m] = (sp[k] - music) * 1000
        shown = shown sprintf(" %.3f:%+.0f", sp[k], d[m])
      }
      if (m < 20) { printf "%s: only %d frames matched (%d after a hold)\n", name, m, held; exit 1 }
      for (i = 1; i <= m; i++) for (j = i + 1; j <= m; j++) if (d[j] < d[i]) { x = d[i]; d[i] = d[j]; d[j] = x }
      for (i = 1; i <= m; i++) a[i] = d[i] < 0 ? -d[i] : d[i]
      for (i = 1; i <= m; i++) for (j = i + 1; j <= m; j++) if (a[j] < a[i]) { x = a[i]; a[i] = a[j]; a[j] = x }
      median = d[int((m + 1) / 2)]; p90 = a[int(0.9 * m + 0.5)]
      printf "%s: picture minus music heard over %d frames (%d after a hold left out): " \
        "median %+.1f ms, 90th percentile %.1f ms\n", name, m, held, median, p90
      bad = median > 1000 / 60 * loose || median < -1000 / 60 * loose || p90 > 2000 / 60 * loose
      if (bad || verbose) print "  picture time:ms off" shown
      exit bad
    }' "$work/$name.segments" "$work/$name.heard" "$work/$name.seen" ||
    fail "the picture is not with the music heard ($name)"
}

judge_picture "default latency" ""
judge_picture "PULSE_LATENCY_MSEC=200" 200
echo "ok: the picture is with the music heard through the server, at its default latency and at 200 ms"

# The demo from its start, where a smoke frame takes a second or more here:
# ten taps of P, 1.5 s apart, once the music is heard.
listen pauses
"$demo" 2>"$work/pauses.stderr" &
pid=$!
wait_for_window "$pid" >/dev/null || fail "no window appeared: $(cat "$work/pauses.stderr")"
tap_p_ten_times pauses 30
quit_with_escape "$pid"
[[ "$EXIT_CODE" == 0 ]] || fail "exit code $EXIT_CODE after the pauses"
stop_listening pauses
heard_once pauses || fail "ten taps of P played music twice"
echo "ok: ten taps of P in slow frames leave nothing heard twice"
