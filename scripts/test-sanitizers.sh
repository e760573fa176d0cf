#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer
# (clang) in its own build folder and runs every test there: any memory
# fault or undefined behaviour ends the test that met it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/require-tools.sh
require_tools test-sanitizers "apt-get install clang libclang-rt-14-dev" clang clang++
build=${SANITIZER_BUILD_DIR:-build-sanitizers}
flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
werror=OFF
if [ "${CI:-}" = "true" ]; then werror=ON; fi
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DWARNINGS_AS_ERRORS="$werror" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags"
cmake --build "$build" -j 2
# The programs ask for memory that may be refused and report it: the
# sanitizer's allocator must answer as the system's does, with nothing.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# With every file descriptor taken, the sanitizer's own memory checks (they
# need a pipe) fail and it blames the program; that one test runs in the
# normal build only.
ctest --test-dir "$build" --output-on-failure -j 2 -E 'WhenNoFileCanBeOpenedBesideTheArchive'

