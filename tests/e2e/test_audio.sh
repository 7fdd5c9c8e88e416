#!/usr/bin/env bash
# Music in the running demo: it plays at start-up, P pauses and resumes it,
# Escape quits; without a sound device it runs silently and says so; stderr
# never carries the sound libraries' own chatter.
set -u
source "$(dirname "$0")/lib.sh"
in_xvfb "$@"
demo=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
errors=0

check() { # message, then a command that must succeed
    local message=$1
    shift
    if "$@"; then
        echo "ok: $message"
    else
        echo "FAIL: $message"
        errors=1
    fi
}

size() { stat -c %s "$1" 2>/dev/null || echo 0; }

only_tagged() { ! grep -q -v '^\[' "$1"; }

# Waits up to $2 seconds for half a second of output that is silent ($3 = 0)
# or holds sound ($3 = 1), starting from the current end of the file.
wait_for() {
    local out=$1 limit=$2 want=$3 from to n
    for _ in $(seq 1 $((limit * 2))); do
        from=$(size "$out")
        sleep 0.5
        to=$(size "$out")
        ((to - from < 96000)) && continue # under a quarter second written
        n=$(loud "$out" "$from" "$to")
        if { [ "$want" = 0 ] && [ "$n" -eq 0 ]; } || { [ "$want" = 1 ] && [ "$n" -gt 0 ]; }; then
            return 0
        fi
    done
    return 1
}

# --- Playing through SDL's disk driver, paced in real time.
out=$work/out.raw
SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$out "$demo" 2>"$work/err1" &
pid=$!
check "music plays from start-up" wait_for "$out" 60 1
# Still in the opening smoke scene, a second or more a frame here: each tap
# starts and ends inside one frame.
tap_key p
check "a tap of P pauses the music while the device runs on" wait_for "$out" 30 0
tap_key p
check "another tap of P resumes it" wait_for "$out" 30 1
quit_with_escape $pid
check "demo exits 0" [ "$EXIT_CODE" = 0 ]
check "stderr holds only tagged lines (disk)" only_tagged "$work/err1"

# --- No sound device.
SDL_AUDIODRIVER=no_such_driver "$demo" 2>"$work/err2" &
pid=$!
wait_for_window $pid >/dev/null
sleep 1
quit_with_escape $pid
check "runs without audio and exits 0" [ "$EXIT_CODE" = 0 ]
check "engine init failure logged" grep -qx '\[Audio\] engine init failed' "$work/err2"
check "running without audio logged" grep -qx '\[Engine\] running without audio' "$work/err2"
check "stderr holds only tagged lines (no device)" only_tagged "$work/err2"

# --- This machine's own driver (ALSA without a card prints chatter of its own).
env -u SDL_AUDIODRIVER "$demo" 2>"$work/err3" &
pid=$!
wait_for_window $pid >/dev/null
sleep 1
quit_with_escape $pid
check "exits 0 on this machine's driver" [ "$EXIT_CODE" = 0 ]
check "stderr holds only tagged lines (this machine's driver)" only_tagged "$work/err3"

if ((errors)); then
    for f in err1 err2 err3; do
        echo "--- stderr $f"
        cat "$work/$f"
    done
fi
exit $errors
