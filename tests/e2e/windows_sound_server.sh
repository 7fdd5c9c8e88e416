#!/usr/bin/env bash
# The Windows executable under Wine, playing through Wine's PulseAudio driver
# into a private PulseAudio server (the one test_sound_server.sh uses): the
# music reaches the server's sink through the demo's WASAPI stream, and ten
# taps of P in the slow opening frames leave no stretch of the track heard
# twice. The picture is not judged here: the demo shows no time, and Wine's
# WASAPI clock tells where Wine handed the music to the server, not what is
# heard (see the README).
#
#   bash tests/e2e/windows_sound_server.sh QUEX_INVI.EXE WINEPREFIX LINUX_BUILD
#
# LINUX_BUILD holds the recording helpers (tests/heard_and_seen,
# tests/music_segments) of a Linux build.
set -uo pipefail
source "$(dirname "$0")/lib.sh"
in_xvfb "$@"

demo=$1
use_wine "$2"
segments=$(realpath "$3")/tests/music_segments
[[ -x "$segments" ]] || fail "no $segments (the Linux build's tests)"
[[ -f $WINEPREFIX/.quex-ready ]] || fail "no prepared Wine prefix (tests/e2e/windows_exe.sh makes it)"
work=$(mktemp -d)

# The prefix has no audio driver (a machine without a sound device); for this
# run it has Wine's PulseAudio driver, and gets none back at the end.
drivers='HKCU\Software\Wine\Drivers'
finish() {
  "$WINESERVER" -k 2>/dev/null
  "$WINE" reg add "$drivers" /v Audio /d '' /f >/dev/null 2>&1
  "$WINESERVER" -w
  stop_sound_server
}
trap finish EXIT
start_sound_server
"$WINE" reg add "$drivers" /v Audio /d pulse /f >"$work/reg.log" 2>&1 ||
  fail "cannot choose Wine's PulseAudio driver: $(cat "$work/reg.log")"

listen windows
"$WINE" "$demo" 2>"$work/stderr" &
pid=$!
wait_for_window "$pid" >/dev/null || fail "no window appeared: $(cat "$work/stderr")"
tap_p_ten_times windows 60
pactl list sink-inputs | grep -q 'application.process.binary = "wine' ||
  fail "no Wine stream reached the server: $(cat "$work/stderr")"
echo "ok: the Windows build plays through Wine's PulseAudio driver into the server"
quit_with_escape "$pid"
[[ "$EXIT_CODE" == 0 ]] || fail "exit code $EXIT_CODE after the pauses"
stop_listening windows
heard_once windows || fail "ten taps of P played music twice (Windows)"
echo "ok: ten taps of P in slow frames leave nothing heard twice (Windows)"
