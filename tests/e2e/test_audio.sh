#!/usr/bin/env bash
# Music in the running demo: it plays at start-up, P pauses and resumes it,
# Escape quits; without a sound device it runs silently and says so; stderr
# never carries the sound libraries' own chatter.
set -u
demo=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0

check() { # message, then a command that must succeed
    local message=$1
    shift
    if "$@"; then
        echo "ok: $message"
    else
        echo "FAIL: $message"
        fail=1
    fi
}

hold() { # a key held for a few frames, so the per-frame poll sees it
    xdotool keydown "$1"
    sleep 0.2
    xdotool keyup "$1"
}

size() { stat -c %s "$1" 2>/dev/null || echo 0; }

# Samples that are not exactly zero between two byte offsets of the raw output.
loud() {
    tail -c +$(($2 + 1)) "$1" | head -c $(($3 - $2)) | od -An -v -tx4 |
        tr -s ' \n' '\n' | grep -c -v -E '^(0{8})?$'
}

only_tagged() { ! grep -q -v '^\[' "$1"; }

# Runs the demo in a virtual X server with the given script of actions on it.
run_demo() { # stderr file, actions function
    xvfb-run -a -s "-screen 0 1280x720x24" bash -c "
        \"$demo\" 2>\"$1\" & pid=\$!
        $(declare -f hold size loud "$2")
        $2 \"$work\"
        wait \$pid
        echo \$? >\"$work/exit\"
    "
}

# --- Playing through SDL's disk driver, paced in real time.
play_pause_resume() {
    local out=$1/out.raw
    sleep 3
    size "$out" >"$1/s0"
    hold p
    sleep 0.5
    size "$out" >"$1/s1"
    sleep 1
    size "$out" >"$1/s2"
    hold p
    sleep 0.5
    size "$out" >"$1/s3"
    sleep 0.8
    size "$out" >"$1/s4"
    hold Escape
}
SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/out.raw" run_demo "$work/err1" play_pause_resume
read -r s0 <"$work/s0"; read -r s1 <"$work/s1"; read -r s2 <"$work/s2"
read -r s3 <"$work/s3"; read -r s4 <"$work/s4"
check "demo exits 0" [ "$(cat "$work/exit")" = 0 ]
check "music plays from start-up" [ "$(loud "$work/out.raw" 0 "$s0")" -gt 0 ]
check "device keeps running while paused" [ "$s2" -gt "$s1" ]
check "P pauses the music" [ "$(loud "$work/out.raw" "$s1" "$s2")" -eq 0 ]
check "P again resumes it" [ "$(loud "$work/out.raw" "$s3" "$s4")" -gt 0 ]
check "stderr holds only tagged lines (disk)" only_tagged "$work/err1"

# --- No sound device.
quit_later() {
    sleep 2
    hold Escape
}
SDL_AUDIODRIVER=no_such_driver run_demo "$work/err2" quit_later
check "runs without audio and exits 0" [ "$(cat "$work/exit")" = 0 ]
check "engine init failure logged" grep -qx '\[Audio\] engine init failed' "$work/err2"
check "running without audio logged" grep -qx '\[Engine\] running without audio' "$work/err2"
check "stderr holds only tagged lines (no device)" only_tagged "$work/err2"

# --- This machine's own driver (ALSA without a card prints chatter of its own).
env -u SDL_AUDIODRIVER bash -c "$(declare -f run_demo hold size loud quit_later); demo=\"$demo\" work=\"$work\" run_demo \"$work/err3\" quit_later"
check "exits 0 on the default driver" [ "$(cat "$work/exit")" = 0 ]
check "stderr holds only tagged lines (default driver)" only_tagged "$work/err3"

for f in err1 err2 err3; do
    if [ $fail -ne 0 ]; then
        echo "--- $f"
        cat "$work/$f"
    fi
done
exit $fail
