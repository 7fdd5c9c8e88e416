"use strict";
// The page around the demo: the download of its program with its progress,
// the music downloaded beside it and handed to the program as it arrives, a
// start screen, one click (or Enter, or Space on the Start button) to start it
// full screen with sound (browsers allow both only after a gesture), and the
// start screen again when the run ends. Whatever goes wrong is said on the
// page in plain words and, with its detail, in the console as a [Page] line; a
// failure that ends what the page can do is said through fail() and stays.
// ?start=SECONDS starts at that demo time (tests).
(function () {
  const el = (id) => document.getElementById(id);
  const start = el("start");
  const play = el("play");
  const progress = el("progress");
  const bar = el("bar");
  const message = el("message");
  const note = el("note");
  const notice = el("notice");
  const canvas = el("canvas");
  // What the build wrote into the page: its version (for the files' names
  // in the caches), the program's size, the music's file and size.
  const build = document.body.dataset;
  const version = "?v=" + encodeURIComponent(build.version || "");
  const touchOnly = matchMedia("(pointer: coarse)").matches;
  // A download that gets nothing for this long, headers or bytes, stalled.
  const kStallMs = 15000;
  let programReady = false;
  let ready = false;
  let running = false;
  let failed = false;
  let contextLost = false;
  let waitingForMusic = false;
  let lastLogError = "";

  el("stuck").remove();

  function show(text) {
    // Nothing written later covers a failure.
    if (!failed) {
      message.textContent = text;
    }
  }

  function detailOf(detail) {
    return detail ? " (" + (detail.message || detail) + ")" : "";
  }

  // A failure that ends what the page can do: said once, the first one wins,
  // and it stays.
  function fail(text, detail) {
    console.error("[Page] " + text + detailOf(detail));
    if (failed) {
      return;
    }
    show(text);
    failed = true;
    ready = false;
    progress.hidden = true;
    play.hidden = true;
    message.classList.add("failed");
    message.setAttribute("role", "alert");
    if (running) {
      endBroken();
    }
    leaveFullscreen();
    start.classList.add("waiting");
  }

  function PageError(text, detail) {
    this.text = text;
    this.detail = detail;
  }

  function failWith(error, text) {
    if (error instanceof PageError) {
      fail(error.text, error.detail);
    } else {
      fail(text, error);
    }
  }

  // A run whose program can no longer be trusted: its music is closed here.
  function endBroken() {
    running = false;
    try {
      Module._quex_stop();
    } catch (error) {
      const sound = Module.quexSound;
      if (sound && sound.context.state !== "closed") {
        sound.context.close();
      }
    }
    document.body.classList.remove("running");
  }

  // Something the viewer should know about the run: over the picture for a
  // while, and on the start screen when the run ends. Said once a run.
  let told = new Set();
  function tell(text, detail) {
    if (told.has(text)) {
      return;
    }
    told.add(text);
    console.warn("[Page] " + text + detailOf(detail));
    notice.textContent = text;
    notice.classList.add("shown");
    clearTimeout(tell.timer);
    tell.timer = setTimeout(() => {
      if (!waitingForMusic) {
        notice.classList.remove("shown");
      }
    }, 12000);
    note.textContent = text;
    note.hidden = false;
  }

  // What no start mends (the music lost): told again at every start.
  const standing = [];

  // Everything the page itself (or a policy) blocks is said; what the demo
  // cannot run without fails it.
  document.addEventListener("securitypolicyviolation", (event) => {
    const what = event.blockedURI || "an inline script or style";
    const text = "The web server's Content-Security-Policy blocks part of the demo (" +
        (event.effectiveDirective || event.violatedDirective) + ": " + what +
        "). The demo's README gives the policy it needs.";
    if (what === "wasm-eval" || /quex_invi\.(js|wasm)/.test(what) || what === "inline") {
      fail(text);
    } else {
      tell(text);
    }
  });

  function megabytes(bytes) {
    return (bytes / 1e6).toFixed(1) + " MB";
  }

  function showProgress(received, length) {
    const known = length > 0 && received <= length;
    progress.hidden = !known || failed;
    if (known) {
      const share = 100 * received / length;
      bar.style.width = share.toFixed(1) + "%";
      progress.setAttribute("aria-valuenow", Math.floor(share));
      show("loading\u2026 " + megabytes(received) + " of " + megabytes(length) + " (" +
           Math.floor(share) + "%)");
    } else {
      show("loading\u2026 " + megabytes(received));
    }
  }

  // A response's body, piece by piece to `onChunk` with the time each came.
  // A server that sends nothing for kStallMs, no headers or no bytes, ends
  // it. `onHeaders` sees the response first. Resolves with the response.
  async function download(url, name, lead, {headers, onHeaders, onChunk}) {
    const controller = new AbortController();
    let stalled = false;
    let timer = 0;
    const arm = () => {
      clearTimeout(timer);
      timer = setTimeout(() => {
        stalled = true;
        controller.abort();
      }, kStallMs);
    };
    arm();
    let response;
    let received = 0;
    try {
      try {
        response = await fetch(url, {credentials: "same-origin", signal: controller.signal,
                                     headers: headers});
      } catch (error) {
        throw new PageError(stalled ?
            lead + ": the server sent nothing for " + name + " in " + kStallMs / 1000 + " s." :
            location.protocol === "file:" ?
            "The demo cannot run from a page opened as a file: browsers do not let it read " +
            "its program from disk. Serve the folder with a web server (see the README)." :
            lead + ": the connection failed.", error);
      }
      if (!response.ok) {
        throw new PageError(lead + ": the server has no " + name + " (" + response.status +
                            " " + response.statusText + ").");
      }
      if (onHeaders) {
        onHeaders(response);
      }
      const reader = response.body.getReader();
      for (;;) {
        const {done, value} = await reader.read();
        if (done) {
          break;
        }
        arm();
        received += value.length;
        onChunk(value, performance.now());
      }
    } catch (error) {
      controller.abort();
      if (error instanceof PageError) {
        throw error;
      }
      throw new PageError(stalled ?
          "The download of " + name + " stalled: nothing came for " + kStallMs / 1000 +
          " s after " + megabytes(received) + "." :
          "The download of " + name + " broke off after " + megabytes(received) + ".", error);
    } finally {
      clearTimeout(timer);
    }
    return response;
  }

  // The response's length where it counts the bytes read (not compressed).
  function plainLength(response) {
    const encoding = response.headers.get("Content-Encoding");
    return encoding && encoding !== "identity" ? 0 :
        Number(response.headers.get("Content-Length")) || 0;
  }

  // The program, with its progress against the size the build wrote into the
  // page, which holds also where the server compresses it.
  let lastProgramByte = performance.now();
  async function downloadProgram() {
    const expected = Number(build.wasmBytes) || 0;
    const chunks = [];
    let received = 0;
    let length = 0;
    await download("quex_invi.wasm" + version, "quex_invi.wasm",
                   "The demo could not be downloaded", {
      onHeaders: (response) => {
        length = plainLength(response);
      },
      onChunk: (chunk) => {
        chunks.push(chunk);
        received += chunk.length;
        lastProgramByte = performance.now();
        showProgress(received, expected || length);
      },
    });
    if (length > 0 && received !== length) {
      throw new PageError("The download of quex_invi.wasm broke off after " +
                          megabytes(received) + " of " + megabytes(length) + ".");
    }
    if (expected > 0 && received !== expected) {
      throw new PageError("The server's quex_invi.wasm is not the one this page belongs to (" +
                          received + " bytes where " + expected + " were expected): an " +
                          "upload cut short, or files from two builds.");
    }
    const bytes = new Uint8Array(received);
    let at = 0;
    for (const chunk of chunks) {
      bytes.set(chunk, at);
      at += chunk.length;
    }
    return bytes;
  }

  // The music: fetched once the program is in (so the two do not share the
  // line), handed to the program as it arrives, which plays it as far as it
  // has come. A download that breaks off goes on from where it stopped.
  const music = {total: Number(build.musicBytes) || 0, received: 0, pending: [], begun: false,
                 playable: false, gone: "", late: false, staging: 0};

  function musicPiece(chunk, at) {
    if (!programReady) {
      music.pending.push([chunk, at]);
      return;
    }
    if (!music.begun) {
      music.begun = true;
      music.staging = Module._malloc(65536);
      if (!music.staging || !Module._quex_music_begin(music.total)) {
        musicGone("The music does not fit in this browser's memory.");
        return;
      }
    }
    for (let from = 0; from < chunk.length && !music.gone; from += 65536) {
      const part = chunk.subarray(from, from + 65536);
      Module.HEAPU8.set(part, music.staging);
      const answer = Module._quex_music_add(music.staging, part.length, at);
      if (answer === 1 && !music.playable) {
        music.playable = true;
        becomeReady();
      } else if (answer === -1) {
        musicGone("The music file on the server is damaged.");
      }
    }
  }

  function musicGone(text, detail) {
    if (music.gone) {
      return;
    }
    music.gone = text;
    if (programReady && music.begun) {
      Module._quex_music_failed();
    }
    const said = text + " The demo plays without it; reloading the page may bring it.";
    standing.push(said);
    tell(said, detail);
    becomeReady();
  }

  async function downloadMusic() {
    if (!build.music || !(music.total > 0)) {
      musicGone("The page does not say where its music is.");
      return;
    }
    let tries = 0;
    while (music.received < music.total && !music.gone && !failed) {
      let skip = 0;
      try {
        await download(build.music, build.music, "The music could not be downloaded", {
          headers: music.received > 0 ? {Range: "bytes=" + music.received + "-"} : undefined,
          onHeaders: (response) => {
            // A server that ignores the range sends it all again.
            skip = response.status === 206 ? 0 : music.received;
            const length = plainLength(response);
            if (response.status === 200 && length > 0 && length !== music.total) {
              throw new PageError("The music file on the server is not this page's (" + length +
                                  " bytes where " + music.total + " were expected).");
            }
          },
          onChunk: (chunk, at) => {
            if (skip >= chunk.length) {
              skip -= chunk.length;
              return;
            }
            chunk = chunk.subarray(skip, skip + music.total - music.received);
            skip = 0;
            music.received += chunk.length;
            tries = 0;
            musicPiece(chunk, at);
          },
        });
        if (music.received < music.total) {
          throw new PageError("The music's download ended early, after " +
                              megabytes(music.received) + " of " + megabytes(music.total) + ".");
        }
      } catch (error) {
        const missing = error instanceof PageError && /has no|not this page/.test(error.text);
        if (missing || ++tries > 3) {
          musicGone(error instanceof PageError ? error.text : "The music could not be downloaded.",
                    error.detail || error);
          return;
        }
        console.warn("[Page] the music's download stopped after " + megabytes(music.received) +
                     "; trying again" + detailOf(error.detail || error.text));
        if (running) {
          tell("The music's download stalled; the page is trying again.");
        } else if (!music.playable && !music.late) {
          // No one waits at the start screen for it: a start plays without it.
          music.late = true;
          tell("The music has not come yet (its download stalled); the demo can start without " +
               "it, and a later start may have it.");
          becomeReady();
        }
        await new Promise((resolve) => setTimeout(resolve, 1000 * tries));
      }
    }
  }

  // What the demo needs beyond plain WebGL 2: rendering into half-float targets.
  function missingFeature() {
    const gl = document.createElement("canvas").getContext("webgl2");
    if (!gl) {
      return "This browser has no WebGL 2, which the demo needs.";
    }
    const missing = gl.getExtension("EXT_color_buffer_float") ? "" :
        "This browser's WebGL 2 cannot render into floating-point textures " +
        "(EXT_color_buffer_float), which the demo needs.";
    const lose = gl.getExtension("WEBGL_lose_context");
    if (lose) {
      lose.loseContext();
    }
    return missing;
  }

  // Full screen comes with a run: asked for on its click, left when it ends
  // (also when the answer comes after the end). Leaving it ends only a run
  // that went full screen: the exit that ended the run before can land after
  // the next click, so a request waits for the exit before it.
  let wentFullscreen = false;
  let fullscreenAsked = null;
  let fullscreenLeft = Promise.resolve();
  function enterFullscreen() {
    wentFullscreen = false;
    const root = document.documentElement;
    if (!root.requestFullscreen) {
      return;
    }
    // The click's permission lasts a few seconds: an exit slower than that
    // (a busy software renderer) leaves the run in the window, not asking in
    // vain.
    const permitted = () => !navigator.userActivation || navigator.userActivation.isActive;
    const asked = fullscreenAsked = fullscreenLeft.then(() => {
      return document.fullscreenElement || !permitted() ? null : root.requestFullscreen();
    }).then(() => {
      if (asked === fullscreenAsked && running) {
        wentFullscreen = Boolean(document.fullscreenElement);
      } else if (!fullscreenAsked) {
        leaveFullscreen();  // the run ended before the answer came
      }
    }, () => {});
  }
  function leaveFullscreen() {
    wentFullscreen = false;
    fullscreenAsked = null;
    if (document.fullscreenElement && document.exitFullscreen) {
      fullscreenLeft = document.exitFullscreen().catch(() => {});
    }
  }

  function showStartScreen() {
    running = false;
    waitingForMusic = false;
    document.body.classList.remove("running");
    notice.classList.remove("shown");
    leaveFullscreen();
    if (failed) {
      return;
    }
    if (contextLost) {
      play.hidden = true;
      show("The graphics were lost (the browser or the system reset the GPU), which " +
           "ended the demo. It can start again when they are back; if they do not come " +
           "back, reloading the page may help.");
      return;
    }
    show(touchOnly ? "tap to start" : "click to start");
    play.hidden = false;
    start.classList.remove("waiting");
    el("keys").hidden = touchOnly;
    el("touch").hidden = navigator.maxTouchPoints === 0;
    play.focus();
  }

  // The program runs and the music can be played from (or is gone, or late):
  // a start plays at once.
  function becomeReady() {
    if (ready || failed || !programReady || !(music.playable || music.gone || music.late)) {
      return;
    }
    ready = true;
    if (!running) {
      showStartScreen();
    }
  }

  function begin() {
    if (!ready || running || contextLost) {
      return;
    }
    enterFullscreen();
    running = true;
    note.hidden = true;
    told = new Set();
    slowFrames = 0;
    document.body.classList.add("running");
    canvas.focus();
    const at = Number(new URLSearchParams(location.search).get("start")) || 0;
    let started = false;
    lastLogError = "";
    try {
      started = Module._quex_start(at);
    } catch (error) {
      fail("The demo failed while starting.", error);
      return;
    }
    if (!started) {
      showStartScreen();
      show("The demo could not start" + (lastLogError ? ": " + lastLogError : ".") +
           " Click to try again.");
      return;
    }
    standing.forEach((text) => tell(text));
  }

  document.addEventListener("fullscreenchange", () => {
    if (!document.fullscreenElement && running && wentFullscreen) {
      wentFullscreen = false;
      Module._quex_stop();
    }
  });
  // F1 is the demo's (inert) editor key, not the browser's help.
  window.addEventListener("keydown", (event) => {
    if (event.key === "F1") {
      event.preventDefault();
    }
  });
  play.addEventListener("click", begin);
  // A click anywhere on the start screen starts too.
  start.addEventListener("click", (event) => {
    if (event.target !== play) {
      begin();
    }
  });

  // Touch: a tap pauses, a tap with two fingers ends the run.
  let touch = null;
  canvas.addEventListener("touchstart", (event) => {
    event.preventDefault();
    const first = event.touches[0];
    if (!touch) {
      touch = {fingers: 0, at: event.timeStamp, x: first.clientX, y: first.clientY,
               moved: false};
    }
    touch.fingers = Math.max(touch.fingers, event.touches.length);
  }, {passive: false});
  canvas.addEventListener("touchmove", (event) => {
    event.preventDefault();
    const first = event.touches[0];
    if (touch && Math.hypot(first.clientX - touch.x, first.clientY - touch.y) > 30) {
      touch.moved = true;
    }
  }, {passive: false});
  canvas.addEventListener("touchend", (event) => {
    event.preventDefault();
    if (!touch || event.touches.length > 0) {
      return;
    }
    const tap = !touch.moved && event.timeStamp - touch.at < 600;
    const fingers = touch.fingers;
    touch = null;
    if (running && tap) {
      if (fingers >= 2) {
        Module._quex_stop();
      } else {
        Module._quex_toggle_pause();
      }
    }
  }, {passive: false});
  canvas.addEventListener("touchcancel", () => {
    touch = null;
  });

  // A lost context ends the run, music too; the next start, once the context
  // is back, builds everything afresh as every start does.
  canvas.addEventListener("webglcontextlost", (event) => {
    event.preventDefault();  // without it the context never comes back
    contextLost = true;
    console.error("[Page] the WebGL context was lost");
    if (running) {
      Module._quex_stop();
    } else {
      showStartScreen();
    }
  });
  canvas.addEventListener("webglcontextrestored", () => {
    contextLost = false;
    console.log("[Page] the WebGL context is back");
    if (!running) {
      note.textContent = "The graphics were lost, which ended the last run; they are back now.";
      note.hidden = false;
      showStartScreen();
    }
  });

  // Frames far apart mean the browser draws without a GPU. A gap that spans a
  // hidden tab says nothing; the first one may be start-up work.
  let slowFrames = 0;
  let toldSlow = false;
  let visibilityChanged = 0;
  document.addEventListener("visibilitychange", () => {
    visibilityChanged = performance.now();
    // Switching tabs leaves full screen, which ends the run, but a browser may
    // tell a hidden page only when it is shown again: the music must stop now.
    if (document.hidden && running && wentFullscreen) {
      wentFullscreen = false;
      Module._quex_stop();
    }
  });
  function slowFrame(gapMs) {
    if (performance.now() - gapMs <= visibilityChanged || ++slowFrames < 2 || toldSlow) {
      return;
    }
    toldSlow = true;
    const gl = Module.ctx;
    const info = gl && gl.getExtension("WEBGL_debug_renderer_info");
    const renderer = info ? gl.getParameter(info.UNMASKED_RENDERER_WEBGL) : "unknown";
    tell("This browser draws without a graphics card (software rendering), so a frame takes " +
         (gapMs / 1000).toFixed(1) + " s: the picture jumps, the music keeps its time.",
         "renderer " + renderer);
  }

  // The run waits for the music's download (seconds: how long, about; below 0:
  // no longer), over the picture for as long as it lasts.
  function musicWait(seconds) {
    if (seconds < 0) {
      waitingForMusic = false;
      notice.classList.remove("shown");
      console.log("[Page] the music has caught up; the demo plays on");
      return;
    }
    if (!waitingForMusic) {
      console.log("[Page] waiting for the music's download");
    }
    waitingForMusic = true;
    notice.textContent = "Waiting for the music: the network brings it more slowly than it " +
        "plays" + (isFinite(seconds) ? ", about " + Math.ceil(seconds) + " s more." :
        "; nothing has come for a while.");
    notice.classList.add("shown");
  }

  // Faults after the program is running: an abort, an exception in a frame;
  // before, an error in quex_invi.js is a file that is damaged or cut short.
  window.addEventListener("error", (event) => {
    if (!programReady && /quex_invi\.js/.test(event.filename || "")) {
      fail("The demo's quex_invi.js is damaged or incomplete (an upload or a download cut " +
           "short, or files from two builds).", event.message);
    } else {
      fail("The demo stopped on an internal error.", event.message);
    }
  });
  // A promise left unhandled (a sound context's resume on a closed context)
  // ends nothing: the page's own promises all end in fail().
  window.addEventListener("unhandledrejection", (event) => {
    console.error("[Page] unhandled: " + event.reason);
  });

  if (getComputedStyle(start).position !== "fixed") {
    fail("The page's style sheet (page.css) did not load: the server does not have it, or its " +
         "Content-Security-Policy blocks it (the demo's README gives the policy it needs).");
    return;
  }
  const problem = missingFeature();
  if (problem) {
    fail(problem);
    return;
  }
  const program = downloadProgram();
  program.then(downloadMusic, (error) => failWith(error, "The demo could not be downloaded."));
  let instantiating = false;
  // The functions of the program the page calls: missing ones mean a
  // quex_invi.js from another build.
  const calls = ["_quex_start", "_quex_stop", "_quex_toggle_pause", "_quex_music_begin",
                 "_quex_music_add", "_quex_music_failed", "_malloc"];
  window.Module = {
    canvas: canvas,
    quexWorklet: "worklet.js" + version,
    print: (text) => console.log(text),
    printErr: (text) => {
      console.log(text);
      lastLogError = text.replace(/^\[[A-Za-z0-9]+\] /, "");
    },
    onDemoEnd: showStartScreen,
    onSlowFrame: slowFrame,
    onSoundLost: tell,
    onMusicWait: musicWait,
    onMusicCut: (seconds) => tell("The music stops at " + Math.floor(seconds / 60) + ":" +
                                  String(Math.floor(seconds % 60)).padStart(2, "0") +
                                  ", where its download broke off; the demo goes on without it."),
    onAbort: (what) => fail("The demo stopped on an internal error.", what),
    instantiateWasm: (imports, receive) => {
      instantiating = true;
      program.then((bytes) => {
        progress.hidden = true;
        show("preparing\u2026");
        return WebAssembly.instantiate(bytes, imports).catch((error) => {
          const text = String(error && error.message);
          throw new PageError(/Content.Security.Policy|wasm-eval/i.test(text) ?
              "The web server's Content-Security-Policy does not let the demo's program run " +
              "(it needs 'wasm-unsafe-eval'; the demo's README gives the policy it needs)." :
              error instanceof WebAssembly.LinkError || /\bimport\b/i.test(text) ?
              "The demo's files do not belong together (quex_invi.js and quex_invi.wasm " +
              "are from different builds)." :
              "The demo's program is damaged, or this browser cannot run it.", error);
        });
      }).then((result) => receive(result.instance, result.module),
              (error) => failWith(error, "The demo could not be prepared."));
      return {};
    },
    onRuntimeInitialized: () => {
      if (failed) {
        return;
      }
      const absent = calls.filter((name) => typeof Module[name] !== "function");
      if (absent.length > 0) {
        fail("The demo's files do not belong together (quex_invi.js is from another build " +
             "than this page).", "missing " + absent.join(", "));
        return;
      }
      programReady = true;
      music.pending.splice(0).forEach(([chunk, at]) => musicPiece(chunk, at));
      if (music.gone && music.begun) {
        Module._quex_music_failed();
      }
      becomeReady();
      if (!ready) {
        show("loading\u2026 the music");
      }
    },
  };
  // The program's script: a server that sends nothing for it is a stall like
  // any other, counted from the program's last byte (both come together).
  const script = document.createElement("script");
  const requested = performance.now();
  let scriptDone = false;
  const watch = setInterval(() => {
    if (scriptDone || failed) {
      clearInterval(watch);
    } else if (performance.now() - Math.max(requested, lastProgramByte) > kStallMs) {
      fail("The demo could not be downloaded: the server sent nothing for quex_invi.js in " +
           kStallMs / 1000 + " s.");
    }
  }, 1000);
  script.src = "quex_invi.js" + version;
  script.onload = () => {
    scriptDone = true;
    if (!instantiating) {
      fail("The demo's quex_invi.js is damaged or incomplete (an upload or a download cut " +
           "short, or files from two builds).");
    }
  };
  script.onerror = () => {
    scriptDone = true;
    // A policy that blocked it says so first.
    setTimeout(() => fail("The demo could not be downloaded: the server has no quex_invi.js, " +
                          "or the connection failed."), 0);
  };
  document.body.appendChild(script);
})();
