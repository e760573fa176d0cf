#!/usr/bin/env bash
# Builds the libFuzzer targets (clang) and runs each for a short, fixed time,
# starting from the seed corpus in fuzz/corpus/<target>. Prints the number
# of executions per target. FUZZ_SECONDS sets the time per target; see the
# README for longer runs.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/require-tools.sh
require_tools fuzz-short "apt-get install clang libclang-rt-14-dev" clang clang++
build=${FUZZ_BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-20}
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBUILD_FUZZERS=ON -DBUILD_TESTING=OFF > /dev/null
cmake --build "$build" -j 2 --target fuzz_spillet_archive fuzz_command_line fuzz_unsafe_name
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for target in spillet_archive command_line unsafe_name; do
  mkdir -p "$scratch/$target"
  # New inputs go to the scratch folder; the repository's seeds are only read.
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=512 \
    -malloc_limit_mb=64 -max_len=4096 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$scratch/" "$scratch/$target" "fuzz/corpus/$target" \
    > "$scratch/$target.log" 2>&1 || {
    cat "$scratch/$target.log"
    echo "fuzz_$target: FAILED" >&2
    exit 1
  }
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/$target.log")
  echo "fuzz_$target: $runs executions in ${seconds} s, no failure"
done
