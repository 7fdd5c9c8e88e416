#!/usr/bin/env python3
"""The browser build end to end in headless Chromium: the start screen, the
click that starts the demo with its sound, frames in the smoke and road
scenes, P, Escape and a second start, the road's colours against a native
capture, and nothing in the console but tagged log lines and no WebGL error.

    tests/web/page_test.py SITE_DIR QUEX_CAPTURE
"""

import math
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from page import Browser, Server  # noqa: E402

failures = []


def check(ok, what):
    print("%s %s" % ("ok  " if ok else "FAIL", what))
    if not ok:
        failures.append(what)
    return ok


def small(path):
    """The picture as 16 x 9 RGB bytes."""
    return subprocess.run(["convert", path, "-resize", "16x9!", "-depth", "8", "rgb:-"],
                          check=True, capture_output=True).stdout


def distance(a, b):
    return sum(abs(x - y) for x, y in zip(small(a), small(b))) / (16 * 9 * 3)


START_SCREEN = ("document.getElementById('message').textContent === 'click to start'"
                " && !document.body.classList.contains('running')")
FRAMES = "Module._quex_frames()"
TIME = "Module._quex_demo_time()"


def offset(browser):
    """How far the picture is ahead of the music heard: the last frame's demo
    time against the music handed to the device, less what is queued there."""
    offsets = []
    for _ in range(10):
        demo, music, latency = browser.js(
            "[%s, Module._quex_music_position(), Module.quexSound.queuedSeconds + "
            "Module.quexSound.context.baseLatency + "
            "(Module.quexSound.context.outputLatency || 0)]" % TIME)
        offsets.append(demo - (music - latency))
        time.sleep(0.2)
    print("picture ahead of the heard music by %.0f ms (median of %d, spread %.0f ms)" %
          (1000 * statistics.median(offsets), len(offsets),
           1000 * (max(offsets) - min(offsets))))


def wrap_offsets(browser, url):
    """Picture minus music heard before and after the wrap, from 185 s: the
    demo time read just after a frame, against the music handed to the device
    less what is queued there and the context's latency."""
    start(browser, url + "index.html?start=185", "wrap")
    before, after, last = [], [], browser.js(FRAMES)
    ends = time.monotonic() + 150
    while time.monotonic() < ends and len(after) < 15:
        frames, demo, music, latency = browser.js(
            "[%s, %s, Module._quex_music_position(), Module.quexSound.queuedSeconds + "
            "Module.quexSound.context.baseLatency + "
            "(Module.quexSound.context.outputLatency || 0)]" % (FRAMES, TIME))
        if frames != last:
            offset = math.remainder(demo - (music - latency), 193.0 - 53.0)
            (before if 186.0 <= demo < 192.8 else after if 53.2 <= demo < 60 else []).append(offset)
            last = frames
        time.sleep(0.01)
    ok = len(before) >= 5 and len(after) >= 5
    b = statistics.median(before) if ok else float("nan")
    a = statistics.median(after) if ok else float("nan")
    check(ok and abs(b - a) <= 1 / 60,
          "the picture is as far from the music heard before the wrap as after it "
          "(%.0f ms of %d frames, %.0f ms of %d)" % (1000 * b, len(before), 1000 * a, len(after)))


def start(browser, url, label):
    browser.open(url)
    check(browser.wait_for(START_SCREEN, 60) is not None, label + ": the start screen")
    clicked = time.monotonic()
    browser.click(400, 300)
    first = browser.wait_for("window.__frames > 0", 180)
    return time.monotonic() - clicked if first else None


def main():
    site, capture = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="quex-web-")
    server = Server(site)
    browser = Browser()
    try:
        browser.call("Emulation.setDeviceMetricsOverride",
                     {"width": 800, "height": 600, "deviceScaleFactor": 1, "mobile": False})
        # From demo time 0: the smoke scene, the sound and the analysis.
        waited = start(browser, server.url + "index.html", "smoke")
        check(waited is not None, "smoke: frames after the click (%.2f s to the first)" %
              (waited or -1))
        check(browser.js("Module.quexSound && Module.quexSound.context.state") == "running",
              "the sound context is running")
        # The music starts where the clock is, however long the first frame took.
        began = browser.js(FRAMES)
        first = browser.wait_for("Module._quex_music_position() > 0 && "
                                 "Module._quex_music_position()", 60) or 0.0
        music, bass = first, 0.0
        while music - first < 20.0 and bass <= 0.1:
            music, bass = browser.js("[Module._quex_music_position(), Module._quex_bass()]")
            time.sleep(0.1)
        check(bass > 0.1, "bass above 0.1 within 20 s of music (%.2f after %.1f s)" %
              (bass, music - first))
        check(browser.js(FRAMES) - began >= 3, "smoke: frames keep coming")

        # Escape ends the run; the next click plays from the start again.
        browser.key("Escape", "Escape", 27)
        check(browser.wait_for(START_SCREEN + " && !Module.quexSound", 10) is not None,
              "Escape brings back the start screen")
        browser.click(400, 300)
        check(browser.wait_for("%s > 0 && %s < 5" % (FRAMES, TIME), 180) is not None,
              "a second click plays from 0")

        # The road scene, against a native capture at the same demo time.
        waited = start(browser, server.url + "index.html?start=10", "road")
        check(waited is not None, "road: frames after the click")
        browser.pump(2.0)
        offset(browser)
        # P freezes the clock and the picture, but for the colour split, which
        # follows the bass as it decays; P again lets them go on.
        shots = [os.path.join(work, "p%d.png" % i) for i in range(4)]
        browser.screenshot(shots[0])
        browser.pump(1.0)
        browser.screenshot(shots[1])
        browser.key("p", "KeyP", 80)
        browser.pump(0.5)
        frozen = browser.js(TIME)
        browser.screenshot(shots[2])
        browser.pump(1.0)
        browser.screenshot(shots[3])
        playing, paused = distance(shots[0], shots[1]), distance(shots[2], shots[3])
        check(browser.js(TIME) == frozen and paused < playing / 3,
              "P freezes the picture (%.2f paused, %.2f playing)" % (paused, playing))
        browser.key("p", "KeyP", 80)
        browser.pump(1.0)
        check(browser.js(TIME) > frozen, "P again resumes")

        # The canvas follows the page's size in device pixels.
        browser.call("Emulation.setDeviceMetricsOverride",
                     {"width": 640, "height": 360, "deviceScaleFactor": 2, "mobile": False})
        check(browser.wait_for("Module.canvas.width === 1280 && Module.canvas.height === 720",
                               30) is not None, "the canvas follows a resize")
        browser.call("Emulation.setDeviceMetricsOverride",
                     {"width": 800, "height": 600, "deviceScaleFactor": 1, "mobile": False})
        browser.wait_for("Module.canvas.width === 800", 30)
        browser.pump(1.0)
        shot = os.path.join(work, "road_web.png")
        before = browser.js(TIME)
        browser.screenshot(shot)
        at = (before + browser.js(TIME)) / 2
        for name, t in (("road", at), ("fluid", 30.0)):
            subprocess.run([capture, "--at", "%.3f" % t, "--size", "800x600", "--preroll", "2",
                            "--quiet", "--out", os.path.join(work, name)],
                           check=True, capture_output=True)
        native = {name: next(os.path.join(work, name, f)
                             for f in os.listdir(os.path.join(work, name)) if f.endswith(".png"))
                  for name in ("road", "fluid")}
        road, fluid = distance(shot, native["road"]), distance(shot, native["fluid"])
        check(road < 25 and road < fluid / 2,
              "the road has the road's colours (%.1f from native, %.1f from the fluid)" %
              (road, fluid))

        wrap_offsets(browser, server.url)

        errors = browser.js("window.__glErrors")
        check(not errors, "no WebGL error after any frame (%s)" % errors)
        untagged = browser.untagged()
        check(not untagged, "only tagged lines in the console %s" % untagged)
        print("console:", *browser.console, sep="\n  ")
    finally:
        browser.close()
        server.close()
        if failures or os.environ.get("QUEX_KEEP"):
            print("pictures kept in", work)
        else:
            subprocess.run(["rm", "-rf", work])
    # Without WebGL 2 the page says so instead of showing a black canvas.
    server = Server(site)
    browser = Browser(flags=["--disable-webgl2"])
    try:
        browser.open(server.url + "index.html")
        check(browser.wait_for("document.getElementById('message').textContent"
                               ".includes('no WebGL 2')", 30) is not None,
              "without WebGL 2 the page says so")
    finally:
        browser.close()
        server.close()
    print("web: %d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
