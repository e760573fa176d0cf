#!/usr/bin/env bash
# Builds everything and runs every test. In CI, compiler warnings are errors.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
werror=OFF
if [ "${CI:-}" = "true" ]; then werror=ON; fi
cmake -S . -B "$build" -DWARNINGS_AS_ERRORS="$werror"
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
BUILD_DIR="$build" bash scripts/test-windows.sh
BUILD_DIR="$build" bash scripts/test-packages.sh
bash scripts/test-sanitizers.sh
bash scripts/fuzz-short.sh
