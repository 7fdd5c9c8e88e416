#!/usr/bin/env python3
"""How long the browser build's page takes to reach its start screen on a
throttled connection (DevTools' network emulation), in headless Chromium with
an empty cache, what the page showed on the way and the bytes on the wire
until then; then, after a click, how long until the first frame and until the
music plays.

    benchmarks/web_load.py SITE_DIR [MBIT_PER_SECOND] [RUNS] [QUERY]     (default 10, 3, none)

QUERY is added to the page's address (?start=10 starts in the road scene,
whose frames come quickly even without a GPU; from 0 the smoke's do not).
"""

import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
from page import Browser, Server  # noqa: E402

MESSAGE = "document.getElementById('message').textContent"
FAILED = "document.getElementById('message').classList.contains('failed')"
PLAYING = ("window.Module && Module.quexSound && Module.quexSound.context.state === 'running'"
           " && Module._quex_music_position() > 0.05")


def load(url, mbit):
    browser = Browser(width=800, height=600)
    wire = {"bytes": 0}

    def count(method, params):
        if method == "Network.dataReceived":
            wire["bytes"] += params.get("encodedDataLength", 0)
        elif method == "Network.responseReceived":
            # Headers, counted where the response arrives.
            wire["bytes"] += params["response"].get("encodedDataLength", 0)

    browser.on_event = count
    try:
        browser.call("Network.enable")
        browser.call("Network.setCacheDisabled", {"cacheDisabled": True})
        browser.call("Network.emulateNetworkConditions",
                     {"offline": False, "latency": 40, "downloadThroughput": mbit * 1e6 / 8,
                      "uploadThroughput": mbit * 1e6 / 8})
        began = time.monotonic()
        browser.open(url)
        seen = []
        ready = None
        while time.monotonic() - began < 300:
            try:
                text = browser.js(MESSAGE)
            except RuntimeError:
                continue  # the page is still loading
            # The first and the last text of each phase (loading, preparing, ...).
            if text and (not seen or seen[-1][1].split(" ")[0] != text.split(" ")[0]):
                seen.append((time.monotonic() - began, text))
                seen.append(seen[-1])
            elif text:
                seen[-1] = (time.monotonic() - began, text)
            if text == "click to start":
                ready = time.monotonic() - began
                break
            if browser.js(FAILED):
                break
            time.sleep(0.02)
        at_ready = wire["bytes"]
        lit = playing = None
        if ready is not None:
            browser.click(400, 300)
            clicked = time.monotonic()
            if browser.wait_for("window.__frames > 0", 60, step=0.02):
                lit = time.monotonic() - clicked
            if browser.wait_for(PLAYING, 60, step=0.02):
                playing = time.monotonic() - clicked
        return ready, seen, at_ready, lit, playing
    finally:
        browser.close()


def main():
    site = sys.argv[1]
    mbit = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    query = sys.argv[4] if len(sys.argv) > 4 else ""
    server = Server(site)
    try:
        for _ in range(runs):
            ready, seen, wire, lit, playing = load(server.url + "index.html" + query, mbit)
            print("%s s to the start screen at %g Mbit/s, %d bytes on the wire by then; "
                  "after the click: first frame %s s, music playing %s s" %
                  ("%.2f" % ready if ready else "never", mbit, wire,
                   "%.2f" % lit if lit else "-", "%.2f" % playing if playing else "-"))
            for at, text in sorted(set(seen)):
                print("  %5.2f s  %s" % (at, text))
    finally:
        server.close()


if __name__ == "__main__":
    main()
