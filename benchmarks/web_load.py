#!/usr/bin/env python3
"""How long the browser build's page takes to reach its start screen on a
throttled connection (DevTools' network emulation), in headless Chromium with
an empty cache, and what the page showed on the way.

    benchmarks/web_load.py SITE_DIR [MBIT_PER_SECOND] [RUNS]     (default 10, 3)
"""

import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
from page import Browser, Server  # noqa: E402

MESSAGE = "document.getElementById('message').textContent"


def load(url, mbit):
    browser = Browser(width=800, height=600)
    try:
        browser.call("Network.enable")
        browser.call("Network.setCacheDisabled", {"cacheDisabled": True})
        browser.call("Network.emulateNetworkConditions",
                     {"offline": False, "latency": 40, "downloadThroughput": mbit * 1e6 / 8,
                      "uploadThroughput": mbit * 1e6 / 8})
        began = time.monotonic()
        browser.open(url)
        seen = []
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
            if text == "click to start" or browser.js("document.getElementById('message')"
                                                      ".classList.contains('failed')"):
                break
            time.sleep(0.05)
        return time.monotonic() - began, seen
    finally:
        browser.close()


def main():
    site = sys.argv[1]
    mbit = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    server = Server(site)
    try:
        for _ in range(runs):
            total, seen = load(server.url + "index.html", mbit)
            print("%.1f s to the start screen at %g Mbit/s:" % (total, mbit))
            for at, text in sorted(set(seen)):
                print("  %5.1f s  %s" % (at, text))
    finally:
        server.close()


if __name__ == "__main__":
    main()
