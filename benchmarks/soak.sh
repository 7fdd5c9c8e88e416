#!/usr/bin/env bash
# A long run of the real demo under Xvfb on SDL's disk driver, paced in real
# time, to see that nothing grows or drifts over many loops. Reports, for each
# wrap, the resident memory and the seam as played (what was cut, where the
# music went on, any silence), and the frame rate of a fast scene (the
# tornado, 55-67 s) in its first and last pass.
#
# Usage: benchmarks/soak.sh DEMO MUSIC_SEGMENTS [MINUTES] [WORKDIR]
#   DEMO            build/release/quex_invi
#   MUSIC_SEGMENTS  build/release/tests/music_segments
#   MINUTES         how long to run (default 32: thirteen wraps)
# The machine's other load shows in the frame rates: run it alone to compare.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/e2e/lib.sh"
in_xvfb "$@"
demo=$(realpath "$1")
segments=$(realpath "$2")
minutes=${3:-32}
work=${4:-$(mktemp -d)}
mkdir -p "$work"
cd "$work" || fail "no $work"
rm -f out.raw swaps.log samples.log
cc -shared -fPIC -O2 -o swap_times.so "$here/swap_times.c" -ldl || fail "cannot build swap_times.so"

uptime_now() { cut -d ' ' -f 1 /proc/uptime; }
started=$(uptime_now)
QUEX_SWAP_LOG=$work/swaps.log LD_PRELOAD=$work/swap_times.so SDL_AUDIODRIVER=disk \
  SDL_DISKAUDIOFILE=$work/out.raw "$demo" 2>stderr.log &
pid=$!
wait_for_window "$pid" >/dev/null || fail "no window appeared: $(cat stderr.log)"
# Every 2 s: boot-clock seconds, resident kB, bytes of sound written.
end=$((SECONDS + minutes * 60))
while ((SECONDS < end)) && kill -0 "$pid" 2>/dev/null; do
  echo "$(uptime_now) $(awk '/^VmRSS/ { print $2 }' /proc/$pid/status) $(stat -c %s out.raw 2>/dev/null || echo 0)" >>samples.log
  sleep 2
done
quit_with_escape "$pid" 60
[[ "$EXIT_CODE" == 0 ]] || fail "the demo ended with $EXIT_CODE: $(tail -n 5 stderr.log)"
"$segments" out.raw >segments.txt || fail "music_segments failed"

python3 - "$started" <<'PY'
import bisect, sys
started = float(sys.argv[1])
samples = [tuple(map(float, l.split())) for l in open("samples.log") if len(l.split()) == 3]
swaps = [float(l) for l in open("swaps.log") if l.strip()]
segs = [tuple(map(float, l.split())) for l in open("segments.txt")]
rate_bytes = 48000 * 8

def wall_at(out_seconds):
    """Boot-clock time at which the device had written this much output."""
    want = out_seconds * rate_bytes
    for (t0, _, s0), (t1, _, s1) in zip(samples, samples[1:]):
        if s0 <= want <= s1:
            return t0 + (t1 - t0) * ((want - s0) / (s1 - s0) if s1 > s0 else 0.0)
    return None

def rss_at(t):
    best = min(samples, key=lambda s: abs(s[0] - t))
    return best[1] / 1024.0

def fps(a, b):
    return (bisect.bisect_left(swaps, b) - bisect.bisect_left(swaps, a)) / (b - a)

track_end = max(s[3] for s in segs)
print(f"run: {(samples[-1][0] - started) / 60:.1f} min, {len(swaps)} frames, "
      f"{samples[-1][2] / rate_bytes:.1f} s of sound written; track ends at {track_end:.3f} s")
print(f"resident memory at start-up: {samples[0][1] / 1024:.1f} MiB")
print("wrap  output(s)  wall(s)  RSS(MiB)  cut(ms)  goes on at(s)  silence(ms)")
wraps = []
for n, (prev, nxt) in enumerate(zip(segs, segs[1:]), 1):
    wall = wall_at(nxt[0])
    wraps.append(wall)
    print(f"{n:4d} {nxt[0]:10.3f} {wall - started if wall else float('nan'):8.1f} "
          f"{rss_at(wall) if wall else float('nan'):9.1f} {(track_end - prev[3]) * 1000:8.1f} "
          f"{nxt[2]:14.3f} {(nxt[0] - prev[1]) * 1000:12.1f}")
print(f"resident memory at the end: {samples[-1][1] / 1024:.1f} MiB, "
      f"highest {max(s[1] for s in samples) / 1024:.1f} MiB")
first = swaps[0]
print(f"tornado 55-67 s, first pass: {fps(first + 55, first + 67):.1f} fps")
last = [w for w in wraps if w is not None and w + 14 < swaps[-1]]
if last:
    print(f"tornado 55-67 s, last pass (wrap {len(last)}): "
          f"{fps(last[-1] + 2, last[-1] + 14):.1f} fps")
PY
