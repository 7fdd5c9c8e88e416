#!/usr/bin/env python3
"""The browser build end to end in headless Chromium, every page served under
the Content-Security-Policy the README gives: the start screen, the click
that starts the demo with its sound, frames in the smoke and road scenes, P,
Escape and a second start, the road's colours against a native capture, and
nothing in the console but tagged log lines and no WebGL error; then the
page's failures, each said on the page and kept (a missing, damaged or
truncated program or quex_invi.js, a server that sends nothing, a policy that
blocks the program, no music, no WebGL 2); then its troubles: five starts
from the keyboard that leave nothing behind, a suspended sound, a lost WebGL
context, a failed start, a run ended in a hidden tab, a portrait viewport,
and music that arrives more slowly than it plays.

    tests/web/page_test.py SITE_DIR QUEX_CAPTURE [PART...]

PART picks some of: demo, failures, troubles (all by default).
"""

import math
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from page import POLICY, Browser, Server  # noqa: E402

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


SPAN = 193.0 - 53.0


def ahead(sample):
    """How far a frame's picture is ahead of the music heard as it began."""
    demo, music = sample
    return math.remainder(demo - music, SPAN)


def offset(browser):
    """The picture against the music heard over two seconds of frames."""
    browser.js("window.__sync = []")
    browser.pump(2.0)
    offsets = [ahead(s) for s in browser.js("window.__sync")]
    browser.js("window.__sync = null")
    if offsets:
        print("picture ahead of the heard music by %.0f ms (median of %d frames, spread %.0f ms)" %
              (1000 * statistics.median(offsets), len(offsets),
               1000 * (max(offsets) - min(offsets))))


def wrap_offsets(browser, url):
    """Picture minus music heard at every frame before and after the wrap,
    from 185 s."""
    start(browser, url + "index.html?start=185", "wrap")
    browser.js("window.__sync = []")
    before, after = [], []
    ends = time.monotonic() + 150
    while time.monotonic() < ends and len(after) < 40:
        browser.pump(0.5)
        samples = browser.js("window.__sync.splice(0)")
        before += [ahead(s) for s in samples if 186.0 <= s[0] < 192.8]
        after += [ahead(s) for s in samples if 53.2 <= s[0] < 62.0]
        if samples and 62.0 <= samples[-1][0] < 100.0:
            break
    browser.js("window.__sync = null")
    ok = len(before) >= 5 and len(after) >= 5
    b = statistics.median(before) if ok else float("nan")
    a = statistics.median(after) if ok else float("nan")
    check(ok and abs(b - a) <= 1 / 60,
          "the picture is as far from the music heard before the wrap as after it "
          "(%.0f ms of %d frames, %.0f ms of %d)" % (1000 * b, len(before), 1000 * a, len(after)))


def start(browser, url, label):
    browser.open(url)
    if not check(browser.wait_for(START_SCREEN, 60) is not None, label + ": the start screen"):
        print("the page says:", browser.js("document.getElementById('start').innerText"))
    # This machine renders without a GPU: the page says so over the picture,
    # which would spoil the comparisons of pictures.
    browser.js("document.getElementById('notice').style.visibility = 'hidden'")
    clicked = time.monotonic()
    browser.click(*browser.js("[innerWidth / 2, innerHeight / 2]"))
    first = browser.wait_for("window.__frames > 0", 180)
    return time.monotonic() - clicked if first else None


def drop_pictures(work):
    """The pictures of a run stay for a look when something failed."""
    if failures or os.environ.get("QUEX_KEEP"):
        print("pictures kept in", work)
    else:
        shutil.rmtree(work, ignore_errors=True)


def demo(site, capture):
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
        drop_pictures(work)


FAILED = "document.getElementById('message').classList.contains('failed') && " \
         "document.getElementById('message').textContent"


def music_file(site):
    return next(f for f in os.listdir(site) if f.startswith("tune.") and f.endswith(".mp3"))


def failures_said(site):
    """No failure leaves the page at "loading...": each is said in words, in
    the console as a [Page] line, and stays said."""
    work = tempfile.mkdtemp(prefix="quex-web-")
    wasm = os.path.join(work, "quex_invi.wasm")
    script = os.path.join(work, "quex_invi.js")

    def cut(path):
        with open(path, "rb") as f:
            data = f.read()
        with open(path, "wb") as f:
            f.write(data[:len(data) // 2])

    def write(path, data):
        with open(path, "wb") as f:
            f.write(data)

    # (case, damage, server faults, what the message must name, seconds allowed)
    cases = (
        ("a missing program", lambda: os.remove(wasm), {}, "quex_invi.wasm", 10),
        ("a damaged program", lambda: write(wasm, b"\0asm\1\0\0\0" + b"\7" * 999), {}, "", 10),
        ("a program cut short", lambda: cut(wasm), {}, "quex_invi.wasm", 10),
        ("a quex_invi.js cut short", lambda: cut(script), {}, "quex_invi.js", 10),
        # The program still arriving when the .js is found missing: the
        # failure is not written over.
        ("a missing quex_invi.js", lambda: os.remove(script),
         {"slow": {"quex_invi.wasm": 400000}}, "quex_invi.js", 10),
        ("a server that sends nothing", None, {"silent": ["quex_invi.wasm"]}, "nothing", 20),
        ("a policy without 'wasm-unsafe-eval'", None,
         {"policy": POLICY.replace(" 'wasm-unsafe-eval'", "")}, "Content-Security-Policy", 10),
    )
    browser = Browser(width=640, height=360)
    try:
        for case, damage, faults, names, seconds in cases:
            for name in os.listdir(site):
                shutil.copy(os.path.join(site, name), work)
            if damage:
                damage()
            server = Server(work, **faults)
            try:
                browser.console.clear()
                browser.open(server.url + "index.html")
                said = browser.wait_for(FAILED, seconds)
                if faults.get("slow"):
                    # Kept when the program has come in the meantime.
                    time.sleep(3)
                    said = browser.js(FAILED)
                logged = [line for line in browser.console if line.startswith("[Page] ")]
                check(bool(said) and names in said and logged,
                      "%s is said on the page and logged (%s; %s)" % (case, said, logged[:1]))
            finally:
                server.close()

        # The policy these tests serve the page under is the one the README
        # gives hosts.
        readme = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                              "README.md")
        with open(readme, encoding="utf-8") as f:
            check(POLICY in f.read(), "the README gives the policy the page is tested under")

        # Without its music the demo starts, and says it plays without it.
        os.remove(os.path.join(work, music_file(site)))
        server = Server(work)
        try:
            browser.open(server.url + "index.html")
            said = browser.wait_for(START_SCREEN + " && document.getElementById('note')"
                                    ".textContent", 20)
            check(said is not None and "music" in said, "a missing music is said (%s)" % said)
        finally:
            server.close()
    finally:
        browser.close()
        shutil.rmtree(work)
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


# What a run may leave behind in the page: blob URLs, audio contexts, WebGL
# objects, the GLFW layer's resize listeners and the GL layer's context records.
LEFT_BEHIND = ("JSON.stringify([__live.blobs, __live.audioContexts, __live.glObjects,"
               " Browser.resizeListeners.length, GL.contexts.filter(Boolean).length])")


def starts(browser, url):
    """Five runs started from the keyboard leave nothing behind."""
    browser.open(url + "index.html?start=10")
    check(browser.wait_for(START_SCREEN, 60) is not None, "keys: the start screen")
    check(browser.js("[document.activeElement.id, document.getElementById('message').role,"
                     " document.getElementById('progress').role].join()") ==
          "play,status,progressbar",
          "the Start button has the focus, the message is a live region, the bar a progress bar")
    census = []
    for key in ("Enter", "Space", "Enter", "Space", "Enter"):
        if key == "Enter":
            browser.key("Enter", "Enter", 13, "\r")
        else:
            browser.key(" ", "Space", 32, " ")
        ran = browser.wait_for("document.body.classList.contains('running') && %s > 2" % FRAMES,
                               120)
        browser.key("Escape", "Escape", 27)
        ended = browser.wait_for(START_SCREEN + " && !Module.quexSound", 10)
        census.append(browser.js(LEFT_BEHIND) if ran and ended else "no run (%s)" % key)
    check(len(set(census)) == 1, "five starts by Enter and Space leave nothing behind "
          "(blob URLs, audio contexts, GL objects, resize listeners, GL contexts: %s)" %
          ", ".join(census))


def slow_music(site):
    """A start far into music still on its way: the run waits for it, says
    so, then plays on."""
    server = Server(site, slow={music_file(site): 400000})
    browser = Browser(width=640, height=360)
    try:
        start(browser, server.url + "index.html?start=90", "slow music")
        browser.js("document.getElementById('notice').style.visibility = ''")
        said = browser.wait_for("document.getElementById('notice').textContent"
                                ".startsWith('Waiting for the music') && %s" % TIME, 10)
        held = said is not None and browser.js(TIME) == said
        check(held and said < 90.1, "the run waits for the music and says so (at %s)" % said)
        played = browser.wait_for("!document.getElementById('notice').classList"
                                  ".contains('shown') && %s > 90.5 && %s" % (TIME, TIME), 40)
        check(played is not None, "then it plays on (at %s)" % played)
    finally:
        browser.close()
        server.close()


def troubles(site):
    """A portrait viewport, a run ended in a hidden tab, a lost context, a
    suspended sound, starts from the keyboard, music arriving slowly."""
    work = tempfile.mkdtemp(prefix="quex-web-")
    server = Server(site)
    browser = Browser(width=640, height=360)
    try:
        starts(browser, server.url)
        check(start(browser, server.url + "index.html?start=10", "troubles") is not None,
              "troubles: frames after the click")
        # A sound context the browser suspends is resumed.
        browser.js("Module.quexSound.context.suspend()")
        check(browser.wait_for("Module.quexSound.context.state === 'running'", 5) is not None,
              "a suspended sound context is resumed")
        # One the browser will not resume is said.
        browser.js("const context = Module.quexSound.context;"
                   " context.resume = () => Promise.resolve(); context.suspend()")
        check(browser.wait_for("document.getElementById('notice').textContent"
                               ".includes('stopped the demo\\'s sound')", 5) is not None,
              "a sound context that stays suspended is said")
        browser.js("delete Module.quexSound.context.resume; Module.quexSound.context.resume()")
        # Portrait: the picture keeps 16:9 between black bars above and below.
        browser.call("Emulation.setDeviceMetricsOverride",
                     {"width": 360, "height": 640, "deviceScaleFactor": 1, "mobile": False})
        box = browser.wait_for("Module.canvas.width === 360 && (() => {"
                               " const r = Module.canvas.getBoundingClientRect();"
                               " return [r.left, r.top, r.width, r.height,"
                               " Module.canvas.height]; })()", 30)
        browser.pump(1.0)
        shot = os.path.join(work, "portrait.png")
        browser.screenshot(shot)
        bars = [subprocess.run(["convert", shot, "-crop", "360x200+0+%d" % y, "-format",
                                "%[fx:maxima]", "info:"], capture_output=True,
                               text=True).stdout for y in (0, 440)]
        middle = subprocess.run(["convert", shot, "-crop", "360x200+0+220", "-format",
                                 "%[fx:mean]", "info:"], capture_output=True, text=True).stdout
        check(box is not None and abs(box[2] / box[3] - 16 / 9) < 0.01 and box[0] == 0 and
              abs(box[1] - (640 - box[3]) / 2) < 1 and abs(box[4] - 360 * 9 / 16) < 1 and
              bars == ["0", "0"] and float(middle or 0) > 0.02,
              "portrait: 16:9 between black bars (box %s, bars %s, picture %s)" %
              (box, bars, middle))

        # Touch: a tap pauses, another resumes, a tap with two fingers ends.
        browser.tap([(180, 320)])
        browser.pump(0.5)
        frozen = browser.js(TIME)
        browser.pump(1.0)
        paused = browser.js(TIME) == frozen
        browser.tap([(180, 320)])
        browser.pump(1.0)
        check(paused and browser.js(TIME) > frozen, "a tap pauses and resumes")
        browser.tap([(150, 320), (210, 320)])
        check(browser.wait_for(START_SCREEN, 10) is not None, "a two-finger tap ends the run")
        # A start that fails leaves full screen, and the next one goes full
        # screen and is ended by leaving it as a first start is.
        browser.js("window.__start = Module._quex_start; Module._quex_start = () => 0")
        browser.click(*browser.js("[innerWidth / 2, innerHeight / 2]"))
        said = browser.wait_for("!document.fullscreenElement && document.getElementById("
                                "'message').textContent.includes('could not start')", 5)
        browser.js("Module._quex_start = window.__start")
        check(said is not None, "a failed start leaves full screen and says so")
        browser.click(*browser.js("[innerWidth / 2, innerHeight / 2]"))
        browser.wait_for("%s > 2" % FRAMES, 120)

        # Switching tabs leaves full screen and so ends the run: its sound
        # closes at once, though a hidden tab gets no animation frame.
        check(browser.js("document.fullscreenElement !== null"), "the run is full screen")
        browser.hide()
        check(browser.wait_for("document.visibilityState === 'hidden'", 10) is not None,
              "the tab is hidden")
        time.sleep(0.5)
        check(browser.js("!Module.quexSound && !document.body.classList.contains('running')"),
              "a run ended by hiding its tab closes its sound")
        browser.hide(False)

        # A lost context ends the run and says so; once back, a start works.
        browser.call("Emulation.setDeviceMetricsOverride",
                     {"width": 640, "height": 360, "deviceScaleFactor": 1, "mobile": False})
        check(browser.wait_for(START_SCREEN, 10) is not None, "the start screen again")
        browser.click(*browser.js("[innerWidth / 2, innerHeight / 2]"))
        browser.wait_for("%s > 2" % FRAMES, 120)
        browser.js("window.__lose = Module.ctx.getExtension('WEBGL_lose_context');"
                   "__lose.loseContext()")
        said = browser.wait_for("!Module.quexSound && !document.body.classList."
                                "contains('running') && document.getElementById('message')"
                                ".textContent.includes('graphics were lost')", 10)
        check(said is not None, "a lost context ends the run and says so")
        browser.js("__lose.restoreContext()")
        check(browser.wait_for(START_SCREEN, 10) is not None, "its return brings the start screen")
        browser.click(*browser.js("[innerWidth / 2, innerHeight / 2]"))
        browser.wait_for("%s > 2" % FRAMES, 120)
        browser.pump(1.0)
        browser.screenshot(shot)
        mean = subprocess.run(["convert", shot, "-format", "%[fx:mean]", "info:"],
                              capture_output=True, text=True).stdout
        check(float(mean or 0) > 0.02, "a start after it draws the road (mean %s)" % mean)
    finally:
        browser.close()
        server.close()
        drop_pictures(work)


def main():
    site, capture = sys.argv[1], sys.argv[2]
    parts = sys.argv[3:] or ["demo", "failures", "troubles"]
    if "demo" in parts:
        demo(site, capture)
    if "failures" in parts:
        failures_said(site)
    if "troubles" in parts:
        troubles(site)
        slow_music(site)
    print("web: %d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
