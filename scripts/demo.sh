#!/usr/bin/env bash
# Installs what the build needs, builds the demo (Release) and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQUEX_TESTS=OFF
cmake --build build -j"$(nproc)" --target quex_invi
exec ./build/quex_invi
