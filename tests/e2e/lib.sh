# Helpers for end-to-end tests of the demo in a virtual X server.
# Frames can take a second on a software renderer, and keys are polled once a
# frame, so a key is held down long enough to span a frame or two.

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Runs the rest of the calling script inside Xvfb (once).
in_xvfb() {
  if [[ -z "${QUEX_IN_XVFB:-}" ]]; then
    export QUEX_IN_XVFB=1
    exec xvfb-run -a -s "-screen 0 1280x720x24" bash "$0" "$@"
  fi
}

# Waits until a window named quex_invi is mapped; prints its id.
wait_for_window() {
  local pid=$1 id=""
  for _ in $(seq 1 120); do
    id=$(xdotool search --onlyvisible --name '^quex_invi$' 2>/dev/null | head -n 1)
    [[ -n "$id" ]] && break
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.25
  done
  [[ -n "$id" ]] || return 1
  echo "$id"
}

hold_key() {
  local key=$1 seconds=${2:-1.5}
  xdotool keydown "$key"
  sleep "$seconds"
  xdotool keyup "$key"
}

# Waits for a process to end within a limit; prints its exit code.
wait_exit() {
  local pid=$1 limit=${2:-30}
  for _ in $(seq 1 $((limit * 4))); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      echo $?
      return 0
    fi
    sleep 0.25
  done
  kill -9 "$pid" 2>/dev/null
  echo "timeout"
}

# A screenshot of the whole screen as text: "x,y: (r,g,b)" of one pixel.
pixel_at() {
  local x=$1 y=$2
  import -window root -crop "1x1+${x}+${y}" -depth 8 txt:- 2>/dev/null | tail -n 1
}
