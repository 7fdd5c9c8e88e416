#!/usr/bin/env python3
"""Frames per second of the browser build in headless Chromium (SwiftShader)
per scene, against the native build's frame cost on the same machine
(quex_bench: the scene and the final pass at the same size, on Mesa).

    benchmarks/web_fps.py SITE_DIR QUEX_BENCH [SECONDS [SCENE...]]

Each scene is started from the page at a demo time well inside it (after a
warm-up of its first frames); the native rate is 1000 / quex_bench's
milliseconds per frame, capped at the demo's 60. Scenes named after SECONDS
are the only ones measured.
"""

import json
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
from page import Browser, Server  # noqa: E402

# Demo seconds inside each scene, after its fade-in.
SCENES = [("smoke", 7.5), ("road", 12.0), ("fluid", 26.0), ("dblobs", 42.0),
          ("blittertornado", 56.0), ("rd2", 72.0), ("bloodcells", 173.0)]
WIDTH, HEIGHT = 1280, 720


def browser_fps(browser, url, at, seconds):
    browser.open("%sindex.html?start=%g" % (url, at))
    browser.wait_for("document.getElementById('message').textContent === 'click to start'", 60)
    clicked = time.monotonic()
    browser.click(WIDTH / 2, HEIGHT / 2)
    browser.wait_for("Module._quex_frames() > %d" % int(at * 60 + 3), 300)
    first = time.monotonic() - clicked
    frames, began = browser.js("Module._quex_frames()"), time.monotonic()
    time.sleep(seconds)
    frames, spent = browser.js("Module._quex_frames()") - frames, time.monotonic() - began
    browser.key("Escape", "Escape", 27)
    return frames / spent, first


def main():
    site, bench = sys.argv[1], sys.argv[2]
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 8.0
    only = sys.argv[4:]
    scenes = [s for s in SCENES if not only or s[0] in only]
    native = json.loads(subprocess.run(
        [bench, "--json", "--size", "%dx%d" % (WIDTH, HEIGHT), "--frames", "30"] +
        [arg for name, _ in scenes for arg in ("--scene", name)],
        check=True, capture_output=True, text=True).stdout)
    native = {r["scene"]: r for r in (native if isinstance(native, list) else native["scenes"])}
    server = Server(site)
    browser = Browser(WIDTH, HEIGHT)
    try:
        browser.call("Emulation.setDeviceMetricsOverride",
                     {"width": WIDTH, "height": HEIGHT, "deviceScaleFactor": 1, "mobile": False})
        print("%-15s %10s %12s %8s %14s" % ("scene", "native fps", "browser fps", "ratio",
                                            "click to 4th"))
        for name, at in scenes:
            web, first = browser_fps(browser, server.url, at, seconds)
            ms = native[name]["cpu_ms"]
            nat = min(60.0, 1000.0 / ms) if ms > 0 else 0.0
            print("%-15s %10.1f %12.1f %8.2f %12.1f s" % (name, nat, web, web / nat, first))
    finally:
        browser.close()
        server.close()


if __name__ == "__main__":
    main()
