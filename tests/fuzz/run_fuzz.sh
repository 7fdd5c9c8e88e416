#!/usr/bin/env bash
# Builds the script parser's fuzz target into the given directory and runs it
# for a fixed number of inputs; any crash or sanitizer report fails the run.
# Usage: run_fuzz.sh <builddir> [runs]
set -euo pipefail

if [ $# -lt 1 ]; then
    echo "usage: $0 <builddir> [runs]" >&2
    exit 2
fi

here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
out="$(mkdir -p "$1" && cd "$1" && pwd)/fuzz"
runs="${2:-200000}"
cxx="${FUZZ_CXX:-}"
if [ -z "$cxx" ]; then
    for candidate in clang++ clang++-14; do
        if command -v "$candidate" >/dev/null 2>&1; then
            cxx="$candidate"
            break
        fi
    done
fi
if [ -z "$cxx" ]; then
    echo "run_fuzz: no clang++ found" >&2
    exit 1
fi

mkdir -p "$out/corpus"
"$cxx" -std=c++20 -g -O1 -fno-omit-frame-pointer \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I "$root/src" \
    "$here/fuzz_script.cpp" "$root/src/script/script.cpp" "$root/src/base/log.cpp" \
    "$root/src/base/regular_file.cpp" \
    -o "$out/fuzz_script"

# The parser logs every rejected line; fd 2 is closed for the target while
# libFuzzer and the sanitizers keep reporting on a copy of it.
export ASAN_OPTIONS="abort_on_error=0:detect_leaks=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"
cd "$out"
"$out/fuzz_script" -runs="$runs" -seed=1 -max_len=4096 -max_total_time=100 \
    -close_fd_mask=2 -print_final_stats=1 -dict="$here/script.dict" \
    -artifact_prefix="$out/" "$out/corpus" "$here/corpus"
echo "run_fuzz: $runs inputs, no findings"
