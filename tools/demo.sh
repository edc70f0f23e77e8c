#!/usr/bin/env bash
# Runs a panel against the projector simulator on a pseudo-terminal. With a display the
# panel opens for the operator; without one a scripted tour runs headless and leaves a
# picture of the window after each step in BUILD_DIR/demo, and pictures of the same projector
# in projectord's web remote at a phone's size and a desktop's.
#   tools/demo.sh BUILD_DIR PROGRAM MODEL
set -euo pipefail
build_dir=$(cd "$1" && pwd) program=$2 model=$3
work=$(mktemp -d)
sim_pid=
cleanup() {
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$build_dir/tools/projector-sim/projector-sim" --model "$model" --link "$work/projector" \
    --log "$work/projector.log" </dev/null >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do [ -e "$work/projector" ] && break; sleep 0.05; done
[ -e "$work/projector" ] || { echo "the projector simulator did not start" >&2; exit 1; }
echo "Projector simulator ($model) on $(readlink "$work/projector")"
export PROJECTOR_COM1="$work/projector"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "Opening $program; the lines it exchanges follow."
    # The follower ends with this script, however the panel ends.
    tail -n +1 -F --pid=$$ "$work/projector.log" 2>/dev/null | grep --line-buffered -E ' (RX|TX) ' &
    "$build_dir/app/$program" || true
else
    out="$build_dir/demo"
    rm -rf "$out" && mkdir -p "$out"
    echo "No display: a short tour of $program, headless."
    "$build_dir/tools/demo-tour/demo-tour" "$model" "$out" "$work/projector.log" 2>/dev/null
    # The same projector in a browser, through projectord's web remote.
    node "$(dirname "$0")/web-remote-screenshots.js" "$build_dir/gateway/projectord" \
        "$work/projector" "$model" "$out"
    echo
    echo "Pictures of the window after each step, and of the web remote: $out"
fi
