"""Headless Chromium driving the browser build's page over the DevTools
protocol (a pipe, so nothing but the standard library is needed), with the
site served by a local server on 127.0.0.1."""

import base64
import functools
import http.server
import json
import os
import re
import shutil
import subprocess
import tempfile
import threading
import time

# Every console line the page may print: the demo's tagged log lines.
TAGGED = re.compile(r"^\[[A-Za-z0-9]+\] ")

# Wraps every animation frame so that a WebGL error raised during it is kept:
# the error flags are read, and so cleared, after each frame. While
# `__sync` is a list, each frame adds its demo time and the music heard as it
# began: the music handed to the worklet less what is still queued there and
# the context's own latency.
WATCH_GL_ERRORS = """
window.__glErrors = [];
window.__frames = 0;
window.__sync = null;
const heard = () => {
  const sound = window.Module && Module.quexSound;
  if (!window.__sync || !sound || !Module._quex_music_position) {
    return null;
  }
  return Module._quex_music_position() - sound.heldSeconds() -
         sound.context.baseLatency - (sound.context.outputLatency || 0);
};
// What a run may leave behind, counted live: blob URLs, audio contexts not
// closed, WebGL objects not deleted.
window.__live = {blobs: 0, audioContexts: 0, glObjects: 0};
const createURL = URL.createObjectURL.bind(URL);
const revokeURL = URL.revokeObjectURL.bind(URL);
URL.createObjectURL = (object) => (window.__live.blobs++, createURL(object));
URL.revokeObjectURL = (url) => (window.__live.blobs--, revokeURL(url));
const NativeAudioContext = window.AudioContext;
window.AudioContext = class extends NativeAudioContext {
  constructor(...args) {
    super(...args);
    window.__live.audioContexts++;
  }
  close() {
    if (!this.__closed) {
      this.__closed = true;
      window.__live.audioContexts--;
    }
    return super.close();
  }
};
const glKinds = /^(Buffer|Texture|Framebuffer|Renderbuffer|Program|Shader|VertexArray|Query|Sampler|TransformFeedback)$/;
for (const name of Object.getOwnPropertyNames(WebGL2RenderingContext.prototype)) {
  const kind = /^(create|delete)(.*)$/.exec(name);
  if (!kind || !glKinds.test(kind[2])) {
    continue;
  }
  const native = WebGL2RenderingContext.prototype[name];
  WebGL2RenderingContext.prototype[name] = function (...args) {
    const result = native.apply(this, args);
    if (kind[1] === "create" ? result : args[0]) {
      window.__live.glObjects += kind[1] === "create" ? 1 : -1;
    }
    return result;
  };
}
const raf = window.requestAnimationFrame.bind(window);
window.requestAnimationFrame = (callback) => raf((time) => {
  const music = heard();
  callback(time);
  if (music !== null && window.__sync) {
    window.__sync.push([Module._quex_demo_time(), music]);
  }
  const gl = window.Module && window.Module.ctx;
  if (gl) {
    window.__frames++;
    for (let e = gl.getError(); e !== gl.NO_ERROR; e = gl.getError()) {
      window.__glErrors.push(e);
    }
  }
});
"""


# The Content-Security-Policy that the page needs, and nothing more; the
# README gives the same line to hosts. Every page test runs under it.
POLICY = ("default-src 'none'; script-src 'self' 'wasm-unsafe-eval'; style-src 'self'; "
          "connect-src 'self'; img-src data:; base-uri 'none'; form-action 'none'")


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    """Serves the site under the policy, with the server's faults (below)."""

    def log_message(self, *args):
        pass

    def end_headers(self):
        self.send_header("Content-Security-Policy", self.server.policy)
        super().end_headers()

    def _name(self):
        return os.path.basename(self.path.split("?")[0])

    def do_GET(self):
        if self._name() in self.server.silent:
            # Takes the request and sends nothing, not even headers.
            self.server.closing.wait()
            return
        super().do_GET()

    def copyfile(self, source, target):
        rate = self.server.slow.get(self._name())
        try:
            if not rate:
                return super().copyfile(source, target)
            while not self.server.closing.is_set():
                chunk = source.read(max(1, rate // 10))
                if not chunk:
                    return
                target.write(chunk)
                target.flush()
                time.sleep(0.1)
        except ConnectionError:
            pass  # the browser went away, or stopped the download


class Server:
    """The site on 127.0.0.1. Faults: `slow` maps file names to the bytes a
    second they are sent at; `silent` names files for which the server sends
    nothing; `policy` replaces the Content-Security-Policy."""

    def __init__(self, root, slow=None, silent=(), policy=POLICY):
        handler = functools.partial(QuietHandler, directory=root)
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.httpd.slow = dict(slow or {})
        self.httpd.silent = set(silent)
        self.httpd.policy = policy
        self.httpd.closing = threading.Event()
        self.url = "http://127.0.0.1:%d/" % self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def close(self):
        self.httpd.closing.set()
        self.httpd.shutdown()
        self.httpd.server_close()


class Browser:
    def __init__(self, width=1280, height=720, flags=()):
        self.profile = tempfile.mkdtemp(prefix="quex-chromium-")
        to_chrome, self.out = os.pipe()
        self.inp, from_chrome = os.pipe()

        def pipes():
            os.dup2(to_chrome, 3)
            os.dup2(from_chrome, 4)

        args = [
            "chromium", "--headless=new", "--remote-debugging-pipe",
            "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
            "--autoplay-policy=no-user-gesture-required", "--no-first-run",
            "--no-default-browser-check", "--disable-extensions",
            "--window-size=%d,%d" % (width, height), "--user-data-dir=" + self.profile,
        ]
        args += flags
        if os.geteuid() == 0:
            args.append("--no-sandbox")
        self.proc = subprocess.Popen(args, preexec_fn=pipes, pass_fds=(3, 4),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_chrome)
        os.close(from_chrome)
        self.buffer = b""
        self.next_id = 0
        self.session = None
        self.console = []
        self.exceptions = []
        # Called with (method, params) for every event, for a caller's own use.
        self.on_event = None
        self.target = self.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        self.session = self.call("Target.attachToTarget",
                                 {"targetId": self.target, "flatten": True})["sessionId"]
        self.call("Runtime.enable")
        self.call("Log.enable")
        self.call("Page.enable")
        self.call("Page.addScriptToEvaluateOnNewDocument", {"source": WATCH_GL_ERRORS})

    def close(self):
        # Asked to quit, the browser ends its helper processes too, so none
        # is still writing to the profile as it is removed.
        try:
            os.write(self.out, json.dumps({"id": 0, "method": "Browser.close"}).encode() + b"\0")
            self.proc.wait(timeout=10)
        except (OSError, subprocess.TimeoutExpired):
            self.proc.kill()
            self.proc.wait()
        os.close(self.out)
        os.close(self.inp)
        shutil.rmtree(self.profile, ignore_errors=True)

    def _read(self):
        while b"\0" not in self.buffer:
            chunk = os.read(self.inp, 1 << 20)
            if not chunk:
                raise RuntimeError("chromium went away")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def _event(self, message):
        method, params = message.get("method"), message.get("params", {})
        if self.on_event:
            self.on_event(method, params)
        if method == "Runtime.consoleAPICalled":
            text = " ".join(str(a.get("value", a.get("description", ""))) for a in params["args"])
            self.console.append(text)
        elif method == "Runtime.exceptionThrown":
            self.exceptions.append(params["exceptionDetails"].get("text", "") + " " +
                                   str(params["exceptionDetails"].get("exception", {})
                                       .get("description", "")))
        elif method == "Log.entryAdded":
            self.console.append("%s: %s" % (params["entry"]["source"], params["entry"]["text"]))

    def call(self, method, params=None):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if self.session:
            message["sessionId"] = self.session
        os.write(self.out, json.dumps(message).encode() + b"\0")
        while True:
            reply = self._read()
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError("%s: %s" % (method, reply["error"]))
                return reply.get("result", {})
            self._event(reply)

    def pump(self, seconds):
        """Lets the page run while collecting its events."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self.js("0")
            time.sleep(0.05)

    def js(self, expression, gesture=False):
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True,
                                                "awaitPromise": True, "userGesture": gesture})
        if "exceptionDetails" in result:
            raise RuntimeError("%s: %s" % (expression, result["exceptionDetails"]))
        return result["result"].get("value")

    def wait_for(self, expression, timeout, step=0.05):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            try:
                value = self.js(expression)
            except RuntimeError:
                value = None  # the page is still loading
            if value:
                return value
            time.sleep(step)
        return None

    def open(self, url):
        self.call("Page.navigate", {"url": url})

    def click(self, x, y):
        for kind in ("mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent",
                      {"type": kind, "x": x, "y": y, "button": "left", "clickCount": 1})

    def key(self, key, code, key_code, text=None):
        for kind in ("keyDown", "keyUp"):
            event = {"type": kind, "key": key, "code": code, "windowsVirtualKeyCode": key_code}
            if text and kind == "keyDown":
                event["text"] = text
            self.call("Input.dispatchKeyEvent", event)

    def tap(self, points):
        """A tap with one finger at each (x, y)."""
        touches = [{"x": x, "y": y, "id": i} for i, (x, y) in enumerate(points)]
        self.call("Input.dispatchTouchEvent", {"type": "touchStart", "touchPoints": touches})
        self.call("Input.dispatchTouchEvent", {"type": "touchEnd", "touchPoints": []})

    def hide(self, hidden=True):
        """Hides the page behind another tab, or shows it again."""
        session, self.session = self.session, None
        try:
            if hidden:
                other = self.call("Target.createTarget", {"url": "about:blank"})["targetId"]
                self.call("Target.activateTarget", {"targetId": other})
            else:
                self.call("Target.activateTarget", {"targetId": self.target})
        finally:
            self.session = session

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", {"format": "png"})["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def untagged(self):
        return [line for line in self.console if not TAGGED.match(line)] + self.exceptions
