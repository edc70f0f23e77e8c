#!/bin/sh
# Builds the fuzzers with clang in build-fuzz and runs them for the given total number of
# seconds (default 30), split between the command engine, the Telnet / RFC 2217 codec and the
# gateway's client framing with PJLink's line parser. Each corpus is kept in
# build-fuzz/<target>-corpus between runs; a crash leaves its input in build-fuzz/ and makes
# the script fail; keep that input in the target's regressions folder (fuzz/regressions for
# the engine, fuzz/rfc2217-regressions for the codec, fuzz/gateway-regressions for the
# gateway), where the tests replay it.
set -eu

seconds=${1:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"

CC=clang CXX=clang++ cmake -G Ninja -S "$root" -B "$build" \
    -DPANEL_BUILD_FUZZ=ON -DPANEL_BUILD_TESTS=OFF -DPANEL_BUILD_BENCH=OFF
cmake --build "$build" --target engine_fuzz rfc2217_fuzz gateway_fuzz

codec_seconds=$((seconds / 3))
gateway_seconds=$((seconds / 3))
engine_seconds=$((seconds - codec_seconds - gateway_seconds))

mkdir -p "$build/engine-corpus" "$build/rfc2217-corpus" "$build/gateway-corpus"
"$build/fuzz/engine_fuzz" -max_total_time="$engine_seconds" -print_final_stats=1 \
    -artifact_prefix="$build/engine-" "$build/engine-corpus" "$root/fuzz/regressions"
# -max_len: longer than PJLink's longest line with its digest, so that the fuzzer reaches the
# overlong lines.
"$build/fuzz/gateway_fuzz" -max_total_time="$gateway_seconds" -print_final_stats=1 \
    -max_len=1024 -artifact_prefix="$build/gateway-" "$build/gateway-corpus" \
    "$root/fuzz/gateway-regressions"
# -max_len: longer than the subnegotiation bound, so that the fuzzer reaches its overflow.
exec "$build/fuzz/rfc2217_fuzz" -max_total_time="$codec_seconds" -print_final_stats=1 \
    -max_len=1024 -dict="$root/fuzz/rfc2217.dict" \
    -artifact_prefix="$build/rfc2217-" "$build/rfc2217-corpus" "$root/fuzz/rfc2217-regressions"
