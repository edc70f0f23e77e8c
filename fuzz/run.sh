#!/bin/sh
# Builds the engine fuzzer with clang in build-fuzz and runs it for the given number of
# seconds (default 30). The corpus is kept in build-fuzz/engine-corpus between runs; a crash
# leaves its input in build-fuzz/ and makes the script fail; keep that input in fuzz/regressions,
# where the tests replay it.
set -eu

seconds=${1:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"

CC=clang CXX=clang++ cmake -G Ninja -S "$root" -B "$build" \
    -DPANEL_BUILD_FUZZ=ON -DPANEL_BUILD_TESTS=OFF -DPANEL_BUILD_BENCH=OFF
cmake --build "$build" --target engine_fuzz

mkdir -p "$build/engine-corpus"
exec "$build/fuzz/engine_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$build/" "$build/engine-corpus" "$root/fuzz/regressions"
