#!/usr/bin/env bash
# Set-up and everyday commands of the projector panel.
#   ./go demo [TR27KRSC|TR52]   install what is missing, build, run the panel against the
#                                built-in projector simulator
#   ./go test                   install what is missing, build, run every test headless
#   ./go build                  install what is missing and build
set -euo pipefail
cd "$(dirname "$0")"

BUILD_DIR=${BUILD_DIR:-build}
PACKAGES=(build-essential cmake ninja-build pkg-config qt6-base-dev qt6-serialport-dev
          libgtest-dev libgmock-dev libbenchmark-dev fonts-ipafont-gothic clang
          xvfb xauth openbox)

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
}

build() {
    install_missing
    if [ ! -f "$BUILD_DIR/build.ninja" ]; then
        cmake -G Ninja -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    fi
    cmake --build "$BUILD_DIR" -j "$(nproc)"
}

run_tests() {
    build
    export QT_QPA_PLATFORM=offscreen
    ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)" --timeout 300
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
    *) echo "usage: ./go demo [TR27KRSC|TR52] | ./go test | ./go build" >&2; exit 2 ;;
esac
