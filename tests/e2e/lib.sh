# Helpers for end-to-end tests of the demo in a virtual X server.
# Frames can take seconds on a software renderer; the demo latches every key
# press, so a tap far shorter than a frame must still act.

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Runs the rest of the calling script inside Xvfb (once).
in_xvfb() {
  if [[ -z "${QUEX_IN_XVFB:-}" ]]; then
    export QUEX_IN_XVFB=1
    # -noreset: the server must not restart when one demo run ends and the next starts.
    exec xvfb-run -a -s "-screen 0 1280x720x24 -noreset" bash "$0" "$@"
  fi
}

# Waits until a window of process $1 named by pattern $2 (quex_invi) is
# mapped; prints its id.
wait_for_window() {
  local pid=$1 name=${2:-'^quex_invi$'} id=""
  for _ in $(seq 1 120); do
    id=$(xdotool search --onlyvisible --name "$name" 2>/dev/null | head -n 1)
    [[ -n "$id" ]] && break
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.25
  done
  [[ -n "$id" ]] || return 1
  echo "$id"
}

# Samples that are not exactly zero between two byte offsets ($2, $3) of a
# recording $1 (32-bit float stereo at 48 kHz).
loud() {
  tail -c +$(($2 + 1)) "$1" | head -c $(($3 - $2)) | od -An -v -tx4 |
    tr -s ' \n' '\n' | grep -c -v -E '^(0{8})?$'
}

# A tap: press and release a few milliseconds apart.
tap_key() {
  xdotool key "$1"
}

# Waits for a process to end within a limit; sets EXIT_CODE ("timeout" when
# it had to be killed). No command substitution: only this shell can wait.
wait_exit() {
  local pid=$1 limit=${2:-30}
  EXIT_CODE=timeout
  for _ in $(seq 1 $((limit * 4))); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      EXIT_CODE=$?
      return 0
    fi
    sleep 0.25
  done
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}

# One tap of Escape, then waits for the process to end; sets EXIT_CODE.
quit_with_escape() {
  local pid=$1 limit=${2:-30}
  tap_key Escape
  wait_exit "$pid" "$limit"
}

# The leak check runs in the unit tests; the demo unloads the GL driver at
# exit, after which what the driver keeps can no longer be attributed to it.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

# Wine for a prefix, silent (Debian installs wine64 outside PATH); sets WINE
# and WINESERVER.
use_wine() {
  export WINEPREFIX
  WINEPREFIX=$(realpath -m "$1")
  export WINEDEBUG=-all
  WINE=$(dpkg -L wine64 | grep -m 1 '/wine64$') || fail "wine64 is not installed"
  WINESERVER=$(dirname "$WINE")/wineserver
}

# Whether a program is built with a sanitizer: its timing is judged in the
# Release build only.
sanitized() {
  ldd "$1" 2>/dev/null | grep -q 'lib[at]san'
}

# The live preview and the recording reader of the build the demo ($1) is in,
# and a scratch folder $work removed at exit.
use_preview() {
  build=$(dirname "$(realpath "$1")")
  preview=$build/tools/quex_preview
  segments=$build/tests/music_segments
  [[ -x "$preview" ]] || fail "no $preview (tools not built)"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
}

# A private PulseAudio server for the rest of the script, in $work: its own
# runtime folder and home and no session bus, so nothing of the machine's
# sound set-up is used or touched; clients find it through XDG_RUNTIME_DIR.
# Its one sink is a null sink named "heard", whose monitor is what a
# listener would hear. Needs $segments (use_preview); sets $recorder.
start_sound_server() {
  recorder=$(dirname "$segments")/heard_and_seen
  [[ -x "$recorder" ]] || fail "no $recorder"
  command -v pulseaudio >/dev/null || fail "pulseaudio is not installed"
  mkdir -p "$work/run" "$work/home"
  chmod 700 "$work/run"
  export XDG_RUNTIME_DIR=$work/run HOME=$work/home DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus
  unset PULSE_SERVER PULSE_SINK PULSE_LATENCY_MSEC SDL_AUDIODRIVER
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --system=no \
    -L module-native-protocol-unix \
    -L "module-null-sink sink_name=heard format=float32le rate=48000 channels=2" \
    --log-target=file:"$work/pulse.log" &
  sound_server=$!
  for _ in $(seq 1 100); do
    pactl info >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  fail "the sound server did not start: $(cat "$work/pulse.log")"
}

# For the EXIT trap: every process the script started (the server, a
# recording, a demo), then $work.
stop_sound_server() {
  kill $(jobs -p) 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}

# Records what is heard into $work/$1.raw, its moments into $work/$1.heard.
# An idle null sink runs up to 2 s ahead of its clock, and a stream that
# starts then waits that long; the recording asks for a short latency, and
# once the sink runs that close the demo may start.
listen() {
  "$recorder" heard heard.monitor "$work/$1.raw" >"$work/$1.heard" 2>"$work/$1.recorder" &
  recording=$!
  local latency=""
  for _ in $(seq 1 60); do
    latency=$(pactl list sinks | sed -n 's/^\s*Latency: \([0-9]*\) usec.*/\1/p')
    ((${latency:-999999} < 50000)) && return 0
    sleep 0.1
  done
  fail "the null sink stays ${latency} us ahead"
}

# Ends the recording; where in the track it came from goes to $work/$1.segments.
stop_listening() {
  kill -INT "$recording"
  wait "$recording" || fail "the recording failed: $(cat "$work/$1.recorder")"
  recording=""
  timeout 120 "$segments" "$work/$1.raw" >"$work/$1.segments" ||
    fail "the recording could not be read"
}

# Once the recording $work/$1.raw holds music (within $2 seconds), ten taps
# of P 1.5 s apart, then 2 s more.
tap_p_ten_times() {
  local size
  for _ in $(seq 1 $(($2 * 4))); do
    size=$(stat -c %s "$work/$1.raw")
    ((size > 96000)) && (($(loud "$work/$1.raw" $((size - 96000)) "$size") > 0)) && break
    sleep 0.25
  done
  for _ in $(seq 1 10); do
    tap_key p
    sleep 1.5
  done
  sleep 2
}

# Fails when a stretch of the track in $work/$1.segments was heard twice
# (one that begins before the furthest point already heard, by more than a
# sample), or none was heard.
heard_once() {
  awk '
    { if (NR > 1 && $3 < far - 1 / 48000) {
        printf "%.1f ms heard twice at %.3f s of the track\n", (far - $3) * 1000, $3; twice++ }
      if ($4 > far) far = $4 }
    END {
      printf "%d stretches heard, up to %.3f s of the track\n", NR, far
      exit NR == 0 || twice > 0
    }' \
    "$work/$1.segments"
}
