#!/usr/bin/env bash
# The live preview end to end, in one run on a script file of its own: a
# saved edit changes the picture within a second; a broken or missing file,
# or one naming a missing image, keeps the last good script; a save without a
# change says nothing; a seek moves the music (SDL's disk driver) by what it
# moves the demo time; Escape quits with 0 and every log line is tagged.
set -uo pipefail
source "$(dirname "$0")/lib.sh"
in_xvfb "$@"

use_preview "$1"
script=$work/demo.txt
out=$work/out.raw

# The same scene line with two palettes that the road and dblobs scenes show
# as a red and a blue picture. Neither carries a simulation, so the edit's
# picture does not wait for steps from the entry's start.
red() {
  printf 'fps 60\nscroll off\nscene road 0 12000 0 0 %s\n' \
    "(1.00,0.00,0.00) (1.00,0.00,0.00) (1.00,0.00,0.00)"
}
blue() {
  printf 'fps 60\nscroll off\nscene dblobs 0 12000 0 0 %s\n' \
    "(0.00,0.00,1.00) (0.00,0.00,1.00) (0.00,0.00,1.00)"
}
# The red script with an image that cannot be loaded.
red_missing() {
  red
  printf 'overlay assets/textures/missing.png 0.0 0.0 0 12000 0 0\n'
}
# Saved as most editors save: a new file renamed over the old one.
save() {
  "$@" >"$work/.demo.txt.tmp" && mv "$work/.demo.txt.tmp" "$script"
}
now() { date +%s.%N; }
title() { xdotool getwindowname "$window"; }
# "red", "blue" or "other" from the picture's mean colour.
hue() {
  import -window "$window" "$work/shot.png" 2>/dev/null || return 1
  convert "$work/shot.png" -scale '1x1!' -format '%[fx:int(255*r)] %[fx:int(255*b)]' info: |
    awk '{ print ($1 > 2 * $2 + 20) ? "red" : ($2 > 2 * $1 + 20) ? "blue" : "other" }'
}
wait_until() { # seconds, then a command that must succeed
  local limit=$1
  shift
  for _ in $(seq 1 $((limit * 10))); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
is_hue() { [[ "$(hue)" == "$1" ]]; }
title_has() { [[ "$(title)" == *"$1"* ]]; }

save red
SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$out "$preview" "$script" --at 20 --size 640x360 \
  2>"$work/stderr" &
pid=$!
window=$(wait_for_window "$pid" '^quex_preview') || fail "no window appeared: $(cat "$work/stderr")"
wait_until 20 title_has "road 1.00" || fail "title without the scene: $(title)"
wait_until 10 is_hue red || fail "the road scene is not red: $(hue)"
echo "ok: playing, title \"$(title)\""

# --- An edit while it runs.
start=$(now)
save blue
wait_until 5 is_hue blue || fail "the edit did not change the picture"
latency=$(awk -v a="$start" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }')
limit=1.5
! sanitized "$preview" || limit=5
awk -v l="$latency" -v m="$limit" 'BEGIN { exit !(l <= m) }' || fail "the picture changed after $latency s"
# The title follows four times a second, the picture every frame.
wait_until 1 title_has "dblobs 1.00" || fail "title after the edit: $(title)"
grep -q "^\[Preview\] reloaded $script: 0 added, 1 changed, 0 removed$" "$work/stderr" ||
  fail "no reload line: $(cat "$work/stderr")"
echo "ok: a scene swapped in the script shows within $latency s"

# --- Broken, then missing: the last good script stays; fixed, it follows again.
save printf 'fps 60\nscroll off\nscene road 0 12000\n'
wait_until 5 grep -q "1 line refused; keeping the last good script" "$work/stderr" ||
  fail "no message for a broken script"
grep -q '^\[Script\] bad scene line: scene road 0 12000$' "$work/stderr" ||
  fail "the parser's own line is missing"
rm "$script"
wait_until 5 grep -q "cannot read $script: No such file or directory; keeping" "$work/stderr" ||
  fail "no message for a missing script"
sleep 0.5
is_hue blue && title_has "dblobs 1.00" || fail "the last good script was not kept: $(title)"
save red
wait_until 5 is_hue red || fail "no reload after the file came back"
echo "ok: a broken and a missing script keep the last good one"

# --- A touch, or a save that changes nothing, says nothing; a missing image
# is refused in one line instead of a line every frame.
lines=$(grep -c '^\[Preview\]' "$work/stderr")
touch "$script"
save red
sleep 1
[[ "$(grep -c '^\[Preview\]' "$work/stderr")" == "$lines" ]] ||
  fail "a save without a change printed: $(tail -n 2 "$work/stderr")"
save red_missing
wait_until 5 grep -q "cannot load assets/textures/missing.png; keeping the last good script" \
  "$work/stderr" || fail "no line for the missing image"
sleep 1
is_hue red || fail "the last good script was not kept"
[[ "$(grep -c -v '^\[Reload\]\|^\[Preview\]\|^\[Script\]\|^\[Audio\] SDL' "$work/stderr")" == 0 ]] ||
  fail "other lines: $(grep -v '^\[Reload\]\|^\[Preview\]\|^\[Script\]\|^\[Audio\] SDL' "$work/stderr" | head -n 3)"
echo "ok: a touch says nothing, a missing image is refused in one line"

# --- Seek while paused: the demo time moves by exactly 5 s and the music resumes there.
xdotool key --window "$window" space
wait_until 5 title_has paused || fail "Space did not pause"
sleep 1
before=$(title | awk '{ print $2 }')
xdotool key --window "$window" shift+Right
wait_until 5 bash -c "[[ \"\$(xdotool getwindowname $window | awk '{ print \$2 }')\" != $before ]]" ||
  fail "Shift+Right did not move the demo time"
after=$(title | awk '{ print $2 }')
xdotool key --window "$window" space
wait_until 5 bash -c "! xdotool getwindowname $window | grep -q paused" || fail "Space did not resume"
sleep 1.5
quit_with_escape "$pid" 20
[[ "$EXIT_CODE" == 0 ]] || fail "exit code $EXIT_CODE after Escape"
! grep -q -v '^\[' "$work/stderr" || fail "untagged log lines: $(cat "$work/stderr")"

# The last two stretches of music: the one the pause cut, and the one after.
# Where the first one ended is where the disk device had got to, which lags
# the clock when the machine is busy; the music must resume at the new time.
read -r a_out_end a_end b_out b_start < <("$segments" "$out" | tail -n 2 |
  awk 'NR == 1 { e = $2; t = $4 } NR == 2 { print e, t, $1, $3 }')
[[ -n "${b_start:-}" ]] || fail "no music after the seek in the output"
echo "demo time $before -> $after; music $a_end -> $b_start (silent for $a_out_end..$b_out s of output)"
awk -v d0="$before" -v d1="$after" -v m0="$a_end" -v m1="$b_start" -v g0="$a_out_end" -v g1="$b_out" '
  BEGIN {
    if (d1 - d0 < 4.999 || d1 - d0 > 5.001) { print "demo time moved " d1 - d0; exit 1 }
    # Ahead by what is played before it is heard: a period and a half here.
    if (m1 - d1 > 0.11 || m1 - d1 < -0.05) { print "music resumed at " m1 " not " d1; exit 1 }
    if (g1 - g0 < 0.5) { print "the music did not stop while paused"; exit 1 }
  }' || fail "seek out of step"
echo "ok: paused, Shift+Right moved the demo time and the music by 5 s"
