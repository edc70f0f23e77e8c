#!/usr/bin/env bash
# bench_startup under X as a desktop has it: a private Xvfb with openbox, the programs on xcb.
#   bench/startup/under-x.sh BUILD_DIR [bench_startup options]
set -euo pipefail
build=$(realpath "$1")
shift
source "$(dirname "$0")/../../tests/x11/x-session.sh"
x_tools Xvfb openbox xprop
start_x
start_wm
QT_QPA_PLATFORM=xcb "$build/bench/bench_startup" "$@"
