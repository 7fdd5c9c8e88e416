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
