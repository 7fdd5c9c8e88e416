#!/usr/bin/env bash
# The demo executable end to end: it opens its full-screen window, runs, a tap
# of the C key switches the 16-colour palette on and off, a tap of Escape
# quits with exit code 0 and nothing unexpected is logged, even when the tap
# is shorter than the frame it lands in; a build whose embedded archive is
# damaged refuses to start with exit code 1.
set -uo pipefail
source "$(dirname "$0")/lib.sh"
in_xvfb "$@"

demo=$1
corrupt=$2
palette_share=$3
mask=${QUEX_SOURCE_DIR}/assets/textures/overlay.png
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A sound device that accepts everything, so audio starts without hardware.
export SDL_AUDIODRIVER=dummy

"$demo" 2>"$work/stderr" &
pid=$!
window=$(wait_for_window "$pid") || fail "no window appeared"
read -r width height < <(xdotool getwindowgeometry --shell "$window" |
  awk -F= '/WIDTH/{w=$2} /HEIGHT/{h=$2} END{print w, h}')
[[ "$width" == 1280 && "$height" == 720 ]] || fail "window is ${width}x${height}, not full-screen"
echo "ok: full-screen window ${width}x${height}"

# The opening smoke scene takes a second or more a frame here: a tap of C
# now starts and ends inside one frame.
sleep 2
tap_key c
# The road scene starts at 8.35 s of demo time (a real-time clock), with
# colours well away from the palette's. On a busy machine the last smoke
# frame can take seconds, so the road is waited for, up to 20 s.
sleep 8
kill -0 "$pid" 2>/dev/null || fail "the demo ended by itself"
share() {
  import -window root "$work/shot.png" || fail "no screenshot"
  read -r _ value _ lit < <("$palette_share" "$work/shot.png" "$mask")
  echo "$value $lit"
}
for ((i = 0; i < 10; ++i)); do
  read -r on lit < <(share)
  ((lit > 20000)) && break
  sleep 1
done
((lit > 20000)) || fail "the picture is still dark after 20 s ($lit lit pixels)"
awk -v s="$on" 'BEGIN { exit !(s >= 0.97) }' || fail "a tap of C in a slow frame did not quantise: share $on"
tap_key c
sleep 0.5
read -r off _ < <(share)
awk -v s="$off" 'BEGIN { exit !(s < 0.9) }' || fail "C again did not switch back: share $off"
echo "ok: palette share after a tap of C in a slow frame $on, after another $off"

quit_with_escape "$pid"
[[ "$EXIT_CODE" == 0 ]] || fail "exit code $EXIT_CODE after Escape"
if [[ -s "$work/stderr" ]]; then
  cat "$work/stderr" >&2
  fail "unexpected log lines"
fi
echo "ok: Escape quit with 0, no log lines"

# A tap of Escape in the middle of a slow smoke frame.
"$demo" 2>"$work/stderr" &
pid=$!
wait_for_window "$pid" >/dev/null || fail "no window appeared"
sleep 3
quit_with_escape "$pid" 20
[[ "$EXIT_CODE" == 0 ]] || fail "a tap of Escape in a slow frame: exit code $EXIT_CODE"
echo "ok: a tap of Escape in a slow frame quit"

"$corrupt" 2>"$work/corrupt_stderr"
code=$?
[[ "$code" == 1 ]] || fail "damaged archive: exit code $code"
grep -qx "\[Engine\] failed to unpack embedded assets" "$work/corrupt_stderr" ||
  fail "damaged archive: message missing: $(cat "$work/corrupt_stderr")"
echo "ok: damaged archive refused with exit code 1"
