#!/bin/sh
# Builds the fuzzers with clang in build-fuzz and runs them for the given total number of
# seconds (default 30), split between the command engine, the Telnet / RFC 2217 codec, the
# gateway's client framing with PJLink's line parser, and the HTTP port's request framing and
# routes. Each corpus is kept in build-fuzz/<target>-corpus between runs; a crash leaves its
# input in build-fuzz/ and makes the script fail; keep that input in the target's regressions
# folder (fuzz/regressions for the engine, fuzz/rfc2217-regressions for the codec,
# fuzz/gateway-regressions for the gateway's framing and PJLink, fuzz/http-regressions for the
# HTTP port), where the tests replay it.
set -eu

seconds=${1:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"

CC=clang CXX=clang++ cmake -G Ninja -S "$root" -B "$build" \
    -DPANEL_BUILD_FUZZ=ON -DPANEL_BUILD_TESTS=OFF -DPANEL_BUILD_BENCH=OFF
cmake --build "$build" --target engine_fuzz rfc2217_fuzz gateway_fuzz http_fuzz

codec_seconds=$((seconds / 4))
gateway_seconds=$((seconds / 4))
http_seconds=$((seconds / 4))
engine_seconds=$((seconds - codec_seconds - gateway_seconds - http_seconds))

mkdir -p "$build/engine-corpus" "$build/rfc2217-corpus" "$build/gateway-corpus" "$build/http-corpus"
"$build/fuzz/engine_fuzz" -max_total_time="$engine_seconds" -print_final_stats=1 \
    -artifact_prefix="$build/engine-" "$build/engine-corpus" "$root/fuzz/regressions"
# -max_len: longer than PJLink's longest line with its digest, so that the fuzzer reaches the
# overlong lines.
"$build/fuzz/gateway_fuzz" -max_total_time="$gateway_seconds" -print_final_stats=1 \
    -max_len=1024 -artifact_prefix="$build/gateway-" "$build/gateway-corpus" \
    "$root/fuzz/gateway-regressions"
# -max_len: beyond the fuzzer's own head bound (512 bytes), so that it reaches the refusal.
"$build/fuzz/http_fuzz" -max_total_time="$http_seconds" -print_final_stats=1 \
    -max_len=1024 -dict="$root/fuzz/http.dict" \
    -artifact_prefix="$build/http-" "$build/http-corpus" "$root/fuzz/http-regressions"
# -max_len: longer than the subnegotiation bound, so that the fuzzer reaches its overflow.
exec "$build/fuzz/rfc2217_fuzz" -max_total_time="$codec_seconds" -print_final_stats=1 \
    -max_len=1024 -dict="$root/fuzz/rfc2217.dict" \
    -artifact_prefix="$build/rfc2217-" "$build/rfc2217-corpus" "$root/fuzz/rfc2217-regressions"
