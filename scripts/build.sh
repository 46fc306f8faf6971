#!/usr/bin/env bash
# Builds everything (host, win32, win64, sanitizer build) into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
if [ -x scripts/sample.sh ]; then
  scripts/sample.sh build
fi
