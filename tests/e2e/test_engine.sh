#!/usr/bin/env bash
# The demo executable end to end: it opens its full-screen window, runs, the
# C key switches the 16-colour palette on and off, Escape quits with exit
# code 0 and nothing unexpected is logged; a build whose embedded archive is
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

# The road scene starts at 8.35 s of demo time (a real-time clock), with
# colours well away from the palette's.
sleep 12
kill -0 "$pid" 2>/dev/null || fail "the demo ended by itself"
share() {
  import -window root "$work/shot.png" || fail "no screenshot"
  read -r _ value _ lit < <("$palette_share" "$work/shot.png" "$mask")
  echo "$value $lit"
}
read -r before lit < <(share)
((lit > 20000)) || fail "the picture is still dark at 12 s ($lit lit pixels)"
awk -v s="$before" 'BEGIN { exit !(s < 0.9) }' || fail "palette colours before C: share $before"
hold_key c 1.5
sleep 0.5
read -r on _ < <(share)
awk -v s="$on" 'BEGIN { exit !(s >= 0.97) }' || fail "C did not quantise: share $on"
hold_key c 1.5
sleep 0.5
read -r off _ < <(share)
awk -v s="$off" 'BEGIN { exit !(s < 0.9) }' || fail "C again did not switch back: share $off"
echo "ok: palette share $before, after C $on, after C again $off"

quit_with_escape "$pid"
[[ "$EXIT_CODE" == 0 ]] || fail "exit code $EXIT_CODE after Escape"
if [[ -s "$work/stderr" ]]; then
  cat "$work/stderr" >&2
  fail "unexpected log lines"
fi
echo "ok: Escape quit with 0, no log lines"

"$corrupt" 2>"$work/corrupt_stderr"
code=$?
[[ "$code" == 1 ]] || fail "damaged archive: exit code $code"
grep -qx "\[Engine\] failed to unpack embedded assets" "$work/corrupt_stderr" ||
  fail "damaged archive: message missing: $(cat "$work/corrupt_stderr")"
echo "ok: damaged archive refused with exit code 1"
