#!/usr/bin/env bash
# Set-up and everyday commands of the projector panel.
#   ./go demo [TR27KRSC|TR52]   install what is missing, build, run the panel against the
#                                built-in projector simulator
#   ./go test                   install what is missing, build, run every test headless
#   ./go build                  install what is missing and build
#   ./go test-sanitized         the whole suite built with AddressSanitizer and
#                                UndefinedBehaviorSanitizer, in build-asan
#   ./go fuzz [SECONDS]         run the fuzzers of the engine, the RFC 2217 codec and the
#                                gateway's client framing with PJLink's line parser, the
#                                time split between them (default 300 s)
#   ./go package                install what is missing, build the Debian package in
#                                build-package and print its path
set -euo pipefail
cd "$(dirname "$0")"

BUILD_DIR=${BUILD_DIR:-build}
# clang's compiler runtime (libclang-rt-14-dev) is only a recommendation of clang, and the
# packages are installed without recommendations: libFuzzer and the sanitizers link it.
# python3-pyatspi and at-spi2-core stand in for a screen reader in the benchmarks with
# assistive technology (bench/atspi_listener.py). valgrind, cutecom and gtkterm are for
# bench_startup: its instruction counts, and the serial terminals it measures the panels against.
# systemd's systemd-analyze measures projectord.service's exposure in the install check.
PACKAGES=(build-essential cmake ninja-build pkg-config qt6-base-dev qt6-serialport-dev
          libgtest-dev libgmock-dev libbenchmark-dev fonts-ipafont-gothic clang libclang-rt-14-dev
          libxcb1-dev xvfb xauth openbox x11-utils lintian desktop-file-utils appstream ser2net
          qt6-websockets-dev libmosquitto-dev mosquitto mosquitto-clients
          prometheus chromium nodejs python3-jinja2 openssl python3-pyatspi at-spi2-core
          valgrind cutecom gtkterm systemd)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        as_root apt-get update -qq
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
    # Where nodejs brings its own npm, Debian's npm conflicts with it.
    if ! command -v npm >/dev/null; then
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends npm
    fi
    # The real clients the end-to-end tests drive (a PJLink client, the browser driver, the
    # accessibility checker), at the versions of tests/node/package-lock.json.
    if [ ! -f tests/node/node_modules/.package-lock.json ] ||
       [ tests/node/package-lock.json -nt tests/node/node_modules/.package-lock.json ]; then
        (cd tests/node && npm ci --no-audit --no-fund --loglevel=error)
    fi
}

# build [DIR [CMAKE OPTIONS...]]
build() {
    local dir=${1:-$BUILD_DIR}
    shift || true
    install_missing
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -G Ninja -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    fi
    cmake --build "$dir" -j "$(nproc)"
}

run_tests() {
    build
    export QT_QPA_PLATFORM=offscreen
    ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)" --timeout 300
    echo "Fuzzing the engine, the RFC 2217 codec and the gateway's framing for ${FUZZ_SECONDS:-30} s"
    fuzz/run.sh "${FUZZ_SECONDS:-30}" >build-fuzz.log 2>&1 || { tail -n 40 build-fuzz.log; exit 1; }
    grep -E 'stat::number_of_executed_units|Done' build-fuzz.log | tail -n 6
    tests/install/check-package.sh
}

run_sanitized_tests() {
    build build-asan -DCMAKE_BUILD_TYPE=Debug -DPANEL_SANITIZE=ON -DPANEL_BUILD_BENCH=OFF
    export QT_QPA_PLATFORM=offscreen
    export ASAN_OPTIONS=detect_leaks=1
    export LSAN_OPTIONS=suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    ctest --test-dir build-asan --output-on-failure -j "$(nproc)" --timeout 300
}

demo() {
    local program=${1:-TR27KRSC}
    case "$program" in
        TR27KRSC|TR27K) program=TR27KRSC; model=TR27K ;;
        TR52) model=TR52 ;;
        *) echo "usage: ./go demo [TR27KRSC|TR52]" >&2; exit 2 ;;
    esac
    build
    exec tools/demo.sh "$BUILD_DIR" "$program" "$model"
}

case "${1:-}" in
    demo) shift; demo "$@" ;;
    test) run_tests ;;
    build) build ;;
    test-sanitized) run_sanitized_tests ;;
    fuzz) install_missing; exec fuzz/run.sh "${2:-300}" ;;
    package) install_missing >&2; exec packaging/build-package.sh "${PACKAGE_BUILD_DIR:-build-package}" ;;
    *) echo "usage: ./go demo [TR27KRSC|TR52] | ./go test | ./go build | ./go package | ./go test-sanitized | ./go fuzz [SECONDS]" >&2; exit 2 ;;
esac
