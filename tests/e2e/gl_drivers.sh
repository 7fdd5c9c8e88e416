#!/usr/bin/env bash
# What keeps the demo right on OpenGL 3.3 drivers other than ours, each scene
# driven through the demo's own frame code by gl_check:
#   - no GL error on llvmpipe (through EGL_EXT_platform_device, the headless
#     route of other vendors' EGL), on zink (GL on Vulkan) and on softpipe
#     (strictly GL 3.3 and GLSL 3.30; slow, so one frame a scene);
#   - zink's canvases within a mean of TOLERANCE levels of llvmpipe's;
#   - every stage source, as the code assembles it, passes glslangValidator
#     as desktop GLSL 330 and, with the browser build's version swap, ES 300;
#   - a trace of the demo's own window context calls only GL 3.3 core entry
#     points and asks for a 3.3 core, forward-compatible context.
#
#   bash tests/e2e/gl_drivers.sh GL_CHECK
set -uo pipefail
source "$(dirname "$0")/lib.sh"
in_xvfb "$@"

check=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# lavapipe wants a runtime directory; Xvfb gives none.
export XDG_RUNTIME_DIR=$work
# Canvases may differ by this mean (levels of 255) between drivers. Every scene
# agrees with llvmpipe to within 0.01 on zink after 30 frames, except rd2: its
# seed noise is a float hash whose last bits follow the driver's rounding, and
# the reaction-diffusion grows them into another pattern of the same look
# (2.6 levels apart). A broken pass is tens of levels off.
tolerance=0.1
rd2_tolerance=4
failed=0

# Runs gl_check as NAME with the environment and arguments given; passes when
# it exits 0 and neither it nor Mesa (which names the call that raised a GL
# error) logs anything but the context's line.
run_check() {
  local name=$1
  shift
  local started=$SECONDS
  env MESA_DEBUG=1 "$@" >"$work/$name.out" 2>"$work/$name.err"
  local code=$?
  cat "$work/$name.out"
  if grep -v '^\[Headless\]' "$work/$name.err" | grep -qE '^\[|^Mesa: User error'; then
    code=1
  fi
  # All of it when something is wrong: a compile log's lines carry no tag.
  if ((code)); then cat "$work/$name.err"; else grep '^\[Headless\]' "$work/$name.err"; fi
  echo "($name: $((SECONDS - started)) s)"
  return "$code"
}

guard() {
  local what=$1
  shift
  echo
  echo "--- $what"
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAIL: $what"
    failed=$((failed + 1))
  fi
}

llvmpipe_device() {
  run_check llvmpipe "$check" --route device --expect-renderer llvmpipe --frames 30 \
    --shaders "$work/shaders" --canvases "$work/llvmpipe" &&
    grep -q '^\[Headless\] EGL device' "$work/llvmpipe.err"
}

glslang_stages() {
  local count=0 bad=0 file want
  for file in "$work"/shaders/*.vert "$work"/shaders/*.frag; do
    [[ -f $file ]] || continue
    count=$((count + 1))
    # The desktop hands every driver GLSL 3.30, which each 3.3 driver takes;
    # the browser build the same source with its first lines swapped.
    want="#version 330 core"
    [[ $file == *.es.* ]] && want="#version 300 es"
    if [[ $(grep -m1 '^#version' "$file") != "$want" ]]; then
      echo "$(basename "$file") declares $(grep -m1 '^#version' "$file")"
      bad=$((bad + 1))
    fi
    if ! glslangValidator "$file" >"$work/glslang.log" 2>&1; then
      echo "$(basename "$file"):"
      grep 'ERROR' "$work/glslang.log"
      bad=$((bad + 1))
    fi
  done
  echo "$count stage sources (GLSL 330 core and ES 300), $bad faults"
  ((count > 0 && bad == 0))
}

zink_against_llvmpipe() {
  run_check zink LIBGL_ALWAYS_SOFTWARE=1 GALLIUM_DRIVER=zink "$check" --expect-renderer zink \
    --frames 30 --compare "$work/llvmpipe" --tolerance "$tolerance" --tolerance "rd2=$rd2_tolerance"
}

softpipe() {
  run_check softpipe GALLIUM_DRIVER=softpipe "$check" --expect-renderer softpipe --frames 1 \
    --smoke-frames 1
}

# GL_VERSION_1_0 to GL_VERSION_3_3 of the core header.
core33_entry_points() {
  awk '/^#ifndef GL_VERSION_1_0/ { on = 1 } /^#ifndef GL_VERSION_4_0/ { on = 0 }
       on && /^GLAPI/ { match($0, /gl[A-Za-z0-9_]+ *\(/); name = substr($0, RSTART, RLENGTH)
                        sub(/ *\($/, "", name); print name }' /usr/include/GL/glcorearb.h | sort -u
}

traced_window_context() {
  apitrace trace -o "$work/window.trace" "$check" --route window --frames 1 \
    >"$work/trace.log" 2>&1 || { cat "$work/trace.log"; return 1; }
  apitrace dump --call-nos=no --color=never "$work/window.trace" >"$work/window.dump" || return 1
  core33_entry_points >"$work/core33"
  local allowed called beyond contexts
  allowed=$(wc -l <"$work/core33")
  grep -oE '^gl[A-Z][A-Za-z0-9]*' "$work/window.dump" | grep -v '^glX' | sort -u >"$work/called"
  called=$(wc -l <"$work/called")
  beyond=$(comm -23 "$work/called" "$work/core33")
  echo "$called distinct GL entry points called, of the $allowed of GL 3.3 core"
  [[ -z $beyond ]] || echo "beyond GL 3.3 core:" $beyond
  contexts=$(grep -E '^(glX|egl)Create[A-Za-z]*Context' "$work/window.dump")
  echo "$contexts" | sed -E 's/^([A-Za-z]+)\(.*attrib_list = (\{[^}]*\}).*/\1 \2/'
  if [[ $(echo "$contexts" | wc -l) != 1 ]] ||
    ! grep -qE 'MAJOR_VERSION_ARB, 3, GLX_CONTEXT_MINOR_VERSION_ARB, 3,' <<<"$contexts" ||
    ! grep -q 'GLX_CONTEXT_CORE_PROFILE_BIT_ARB' <<<"$contexts" ||
    ! grep -q 'GLX_CONTEXT_FORWARD_COMPATIBLE_BIT_ARB' <<<"$contexts"; then
    echo "the context asked for is not one 3.3 core forward-compatible context"
    return 1
  fi
  ((allowed == 345)) && [[ -z $beyond ]]
}

guard "every scene, no GL error on llvmpipe through an EGL device" llvmpipe_device
guard "every stage source passes glslangValidator as GLSL 330 core and as ES 300" glslang_stages
guard "every scene on zink, no GL error, canvases within $tolerance of llvmpipe's (rd2 $rd2_tolerance)" \
  zink_against_llvmpipe
guard "every scene on softpipe, no GL error" softpipe
guard "only GL 3.3 core calls and a 3.3 core forward-compatible window context" \
  traced_window_context

echo
((failed == 0)) || fail "$failed of the driver guards failed"
echo "all driver guards passed"
