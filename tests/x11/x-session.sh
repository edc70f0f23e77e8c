# Sourced by the X checks: a private X server, optionally a window manager, and helpers.
# Expects `set -euo pipefail`. Everything started here is ended, and its work folder removed,
# when the sourcing script exits.
#   x_tools TOOL...        exit 77 (skipped) unless every tool is installed
#   start_x                Xvfb on a free display; exports DISPLAY
#   start_wm               openbox, once it has announced itself
#   fail MESSAGE           print MESSAGE and what everything started here printed; exit 1
#   wait_for SECONDS CMD   poll CMD every 50 ms; false after SECONDS
#   window_named NAME      set `window` to the mapped window of that name
#   start_simulator SIMULATOR MODEL
#                          a projector on a pseudo-terminal at $work/projector; sets `device`
#   start_program PROGRAM  PROGRAM on X with COM1 on that projector; sets `program_pid`
#   device_open            true while the program holds `device` open
# Logs go to $work/NAME.log; a script adds its own programs' logs there and their PIDs to pids.

x_tools() {
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
    done
}

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    for log in "$work"/*.log; do
        [ -s "$log" ] && { echo "--- $(basename "$log" .log) said:"; cat "$log"; } >&2
    done
    if [ -n "${window:-}" ]; then
        { echo "--- the window:"; xwininfo -id "$window"; xprop -id "$window"; } >&2 2>&1 || true
    fi
    exit 1
}

wait_for() {
    local seconds=$1
    shift
    for _ in $(seq $((seconds * 20))); do "$@" && return 0; sleep 0.05; done
    return 1
}

# Xvfb picks a free display and writes its number once it accepts clients; -noreset keeps it
# from resetting between clients. The first start on a fresh machine can take many seconds
# (cold disk, keymaps compiled), so the waits are generous and end early.
start_x() {
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" \
        >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    xvfb_pid=$!
    wait_for 60 display_ready || fail "Xvfb did not accept clients within 60 s"
    export DISPLAY=":$(cat "$work/display")"
    unset QT_QPA_PLATFORM
}
display_ready() {
    kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb ended"
    grep -qE '^[0-9]+$' "$work/display"
}

# The window manager is up once it has announced itself on the root window.
start_wm() {
    openbox >"$work/openbox.log" 2>&1 &
    pids+=($!)
    openbox_pid=$!
    wait_for 60 wm_ready || fail "openbox did not announce itself within 60 s"
}
wm_ready() {
    kill -0 "$openbox_pid" 2>/dev/null || fail "openbox ended"
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'
}

# window_named NAME: sets `window` to the first window on screen (mapped) of that exact
# name; false if there is none.
window_named() {
    local id
    for id in $(xwininfo -root -tree 2>/dev/null | grep -F "\"$1\"" | awk '{print $1}' || true); do
        if xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'; then
            window=$id
            return 0
        fi
    done
    return 1
}

start_simulator() {
    "$1" --model "$2" --link "$work/projector" </dev/null >"$work/sim.log" 2>&1 &
    pids+=($!)
    wait_for 30 test -e "$work/projector" || fail "the simulator did not start"
    device=$(readlink "$work/projector")
}

start_program() {
    PROJECTOR_COM1="$work/projector" QT_QPA_PLATFORM=xcb "$1" >"$work/program.log" 2>&1 &
    pids+=($!)
    program_pid=$!
}

device_open() { ls -l "/proc/$program_pid/fd" 2>/dev/null | grep -qF -- "-> $device"; }
