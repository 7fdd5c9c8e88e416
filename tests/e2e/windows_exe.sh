#!/usr/bin/env bash
# The Windows executable end to end under Wine in a virtual X server: it opens
# its full-screen window, renders, runs on silently without a sound device,
# logs only tagged lines and quits with 0 on Escape; it carries its icon and
# version information; the damaged-archive build refuses to start with 1 and
# shows its stderr lines in a message box.
#
#   bash tests/e2e/windows_exe.sh QUEX_INVI.EXE QUEX_INVI_CORRUPT.EXE WINEPREFIX
set -uo pipefail
source "$(dirname "$0")/lib.sh"
in_xvfb "$@"

demo=$1
corrupt=$2
use_wine "$3"
work=$(mktemp -d)
trap '"$WINESERVER" -k 2>/dev/null; rm -rf "$work"' EXIT

# A prepared prefix, made once and kept: creating one prints Wine's own
# progress, and the Mono and Gecko installers are not wanted. No audio driver
# stands for a machine without a sound device.
if [[ ! -f $WINEPREFIX/.quex-ready ]]; then
  echo "preparing the Wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  WINEDLLOVERRIDES="mscoree,mshtml=" "$WINE" wineboot -i >"$work/prefix.log" 2>&1
  "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d '' /f >>"$work/prefix.log" 2>&1 ||
    { cat "$work/prefix.log"; fail "cannot prepare the Wine prefix"; }
  "$WINESERVER" -w
  touch "$WINEPREFIX/.quex-ready"
fi

# The icon (its images and their group) and the version information that
# Explorer shows, as resource types 3, 14 and 16.
types=$(x86_64-w64-mingw32-objdump -p "$demo" |
  sed -n 's/^[0-9a-f]\{3\}   Entry: ID: 0x0000\(..\),.*/\1/p' | paste -sd ' ')
[[ "$types" == "03 0e 10" ]] || fail "resource types $types, not icon, icon group and version"
version=$(sed -n 's/^project(quex_invi VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")
strings -el "$demo" | grep -A1 -x ProductVersion | grep -qx "$version" ||
  fail "the version resource does not give version $version"
echo "ok: icon and version $version in the resources"

"$WINE" "$demo" 2>"$work/stderr" &
pid=$!
window=$(wait_for_window "$pid") || fail "no window appeared: $(cat "$work/stderr")"
read -r width height < <(xdotool getwindowgeometry --shell "$window" |
  awk -F= '/WIDTH/{w=$2} /HEIGHT/{h=$2} END{print w, h}')
[[ "$width" == 1280 && "$height" == 720 ]] || fail "window is ${width}x${height}, not full-screen"
echo "ok: full-screen window ${width}x${height}"

# Two pictures a few seconds apart: lit, and different, so frames are drawn.
sleep 6
import -window root "$work/first.png" || fail "no screenshot"
sleep 4
import -window root "$work/second.png" || fail "no screenshot"
kill -0 "$pid" 2>/dev/null || fail "the demo ended by itself: $(cat "$work/stderr")"
lit=$(convert "$work/second.png" -colorspace gray -threshold 10% -format '%[fx:int(mean*w*h)]' info:)
changed=$(compare -metric AE -fuzz 5% "$work/first.png" "$work/second.png" null: 2>&1)
((lit > 20000)) || fail "the picture is dark ($lit lit pixels)"
((${changed%% *} > 1000)) || fail "the picture did not change ($changed pixels)"
echo "ok: frames rendered ($lit lit pixels, $changed changed)"

quit_with_escape "$pid"
[[ "$EXIT_CODE" == 0 ]] || fail "exit code $EXIT_CODE after Escape"
# stderr is a text stream on Windows: its lines end in CR LF there.
sed -i 's/\r$//' "$work/stderr"
grep -qx "\[Audio\] engine init failed" "$work/stderr" || fail "no silent-run audio line"
grep -qx "\[Engine\] running without audio" "$work/stderr" || fail "no silent-run engine line"
if grep -vqE '^\[[A-Za-z0-9]+\] ' "$work/stderr"; then
  cat "$work/stderr" >&2
  fail "untagged lines on stderr"
fi
echo "ok: Escape quit with 0; stderr: $(paste -sd '|' "$work/stderr")"

# The damaged build shows its stderr lines in a message box, which blocks
# until it is dismissed. Wine's msgbox trace gives the box's text.
WINEDEBUG=-all,trace+msgbox "$WINE" "$corrupt" 2>"$work/corrupt_stderr" &
pid=$!
box=""
for _ in $(seq 1 120); do
  for id in $(xdotool search --onlyvisible --name '^quex_invi$' 2>/dev/null); do
    width=$(xdotool getwindowgeometry --shell "$id" | sed -n 's/^WIDTH=//p')
    ((width < 1280)) && box=$id
  done
  [[ -n "$box" ]] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.25
done
[[ -n "$box" ]] || fail "damaged archive: no message box: $(cat "$work/corrupt_stderr")"
xdotool mousemove --window "$box" 10 10 click 1
sleep 0.5
tap_key Return
wait_exit "$pid" 30
code=$EXIT_CODE
sed -i 's/\r$//' "$work/corrupt_stderr"
box_text=$(sed -n 's/^[0-9a-f]*:trace:msgbox:MSGBOX_OnInit L"\(.*\)"$/\1/p' "$work/corrupt_stderr")
sed -i '/^[0-9a-f]*:trace:msgbox:/d' "$work/corrupt_stderr"
[[ "$code" == 1 ]] || fail "damaged archive: exit code $code"
grep -qx "\[Engine\] failed to unpack embedded assets" "$work/corrupt_stderr" ||
  fail "damaged archive: message missing: $(cat "$work/corrupt_stderr")"
if grep -vqE '^\[[A-Za-z0-9]+\] ' "$work/corrupt_stderr"; then
  fail "damaged archive: untagged lines: $(cat "$work/corrupt_stderr")"
fi
expected="quex_invi could not start:\\n\\n$(sed 's/$/\\n/' "$work/corrupt_stderr" | tr -d '\n')"
[[ "$box_text" == "$expected" ]] ||
  fail "damaged archive: the message box says \"$box_text\", not \"$expected\""
echo "ok: damaged archive refused with exit code 1; message box: $box_text"
