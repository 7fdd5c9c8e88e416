#!/usr/bin/env bash
# Installs what the build and the tests need, then builds and runs the whole
# suite: the Release build, the same tests under ASan + UBSan, the audio tests
# under ThreadSanitizer, the Windows executable under Wine, its relink from
# the release's source archive, the script parser's fuzz target and the
# browser build in headless Chromium.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh --test || exit 1

jobs=$(nproc)
passed=0
failed=0
failures=()

stage() {
  local name=$1
  shift
  echo
  echo "=== ${name} ==="
  local started=$SECONDS
  if "$@"; then
    passed=$((passed + 1))
    echo "=== ${name}: ok ($((SECONDS - started)) s) ==="
  else
    failed=$((failed + 1))
    failures+=("$name")
    echo "=== ${name}: FAILED ($((SECONDS - started)) s) ==="
  fi
}

build_and_test() {
  local dir=$1
  shift
  cmake -S . -B "$dir" "$@" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
  cmake --build "$dir" -j"$jobs" || return 1
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 900
}

# Mesa, X11 and SDL keep some allocations for the life of the process; those
# are not ours to report.
export LSAN_OPTIONS="suppressions=${root}/tests/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="detect_odr_violation=0:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

mkdir -p build
stage "release" build_and_test build/release -DCMAKE_BUILD_TYPE=Release
stage "asan-ubsan" build_and_test build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUEX_SANITIZE=address,undefined

tsan_audio() {
  cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUEX_SANITIZE=thread \
    -DQUEX_TOOLS=OFF >build/tsan.configure.log 2>&1 || { cat build/tsan.configure.log; return 1; }
  cmake --build build/tsan -j"$jobs" --target test_audio || return 1
  TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" ./build/tsan/tests/test_audio
}
if [[ -d tests/audio ]]; then
  stage "tsan-audio" tsan_audio
fi

windows_exe() {
  bash scripts/build-windows.sh build/windows || return 1
  bash tests/e2e/windows_exe.sh build/windows/exe/quex_invi.exe \
    build/windows/exe/quex_invi_corrupt.exe build/windows/wine || return 1
  # Through Wine's PulseAudio driver into a private server, recorded by the
  # Release build's helpers.
  bash tests/e2e/windows_sound_server.sh build/windows/exe/quex_invi.exe build/windows/wine \
    build/release
}
stage "windows" windows_exe

# The release's source archive, made from a clone with an untracked source
# file: the README's steps relink quex_invi.exe with a changed mpg123.
stage "relink" bash tests/e2e/relink_mpg123.sh build/windows

# The Debian package from the Release build: lintian-clean, with its manual
# pages, desktop entry and icons.
stage "package" bash tests/e2e/package_lint.sh build/release

if [[ -f tests/fuzz/run_fuzz.sh ]]; then
  stage "fuzz-script" bash tests/fuzz/run_fuzz.sh build/fuzz
fi

# Every scene on llvmpipe, zink and softpipe, the shader sources through
# glslangValidator and an apitrace of the GL calls (tests/e2e/gl_drivers.sh).
gl_drivers() {
  cmake --build build/release -j"$jobs" --target gl_check || return 1
  bash tests/e2e/gl_drivers.sh build/release/tests/gl_check
}
stage "gl-drivers" gl_drivers

# The browser build in headless Chromium; the road is compared with a capture
# by the Release build's quex_capture.
web_page() {
  bash scripts/build-web.sh build/web || return 1
  python3 tests/web/page_test.py build/web/site build/release/tools/quex_capture
}
stage "web" web_page

echo
if ((failed)); then
  echo "failed stages: ${failures[*]}"
fi
echo "stages: ${passed} passed, ${failed} failed"
((failed == 0))
