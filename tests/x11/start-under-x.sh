#!/usr/bin/env bash
# Starts a program under a real X server with a window manager, against the projector
# simulator, and checks what the operator gets: the exact caption, an outer height of 5350
# twips (357 pixels, caption bar and borders included), and COM1 open at 19200 8N1 on the
# device that PROJECTOR_COM1 names.
#   start-under-x.sh PROGRAM SIMULATOR MODEL "CAPTION"
# Exits 77 (skipped) where Xvfb, openbox or the X utilities are missing.
set -euo pipefail
program=$1 simulator=$2 model=$3 caption=$4
. "$(dirname "$0")/x-session.sh"
x_tools Xvfb openbox xwininfo xprop stty
start_x
# The window manager runs before the panel starts, as on a desktop.
start_wm

start_simulator "$simulator" "$model"
start_program "$program"

window=
find_window() {
    kill -0 "$program_pid" 2>/dev/null || fail "the program ended"
    window_named "$caption"
}
wait_for 60 find_window || fail "no window captioned \"$caption\" within 60 s"

# The window manager decorates the window after it is mapped; the panel then sets its height.
outer= extents=
outer_height_set() {
    extents=$(xprop -id "$window" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= //p' | tr -d ' ')
    local height
    height=$(xwininfo -id "$window" | awk '/Height:/ {print $2}')
    [ -n "$extents" ] || return 1
    IFS=, read -r left right top bottom <<<"$extents"
    outer=$((height + top + bottom))
    [ "$outer" -eq 357 ] && [ "$((top + bottom))" -gt 0 ]
}
wait_for 30 outer_height_set ||
    fail "outer height $outer pixels (frame $extents), want 357 (5350 twips)"
# Centred by the design size (9495 x 8730 twips of client area plus the frame), then cut.
x=$(xwininfo -id "$window" | awk '/Absolute upper-left X:/ {print $4}')
y=$(xwininfo -id "$window" | awk '/Absolute upper-left Y:/ {print $4}')
want_x=$(((1280 - (633 + left + right)) / 2 + left))
want_y=$(((1024 - (582 + top + bottom)) / 2 + top))
[ "$x,$y" = "$want_x,$want_y" ] || fail "client area at $x,$y, want $want_x,$want_y"
echo "caption \"$caption\", outer height $outer pixels, frame $extents, centred at $x,$y"

# The device is open, raw at 19200 8N1.
wait_for 30 device_open || fail "$device is not open"
settings=$(stty -F "$device" -a)
grep -q "speed 19200 baud" <<<"$settings" || fail "not at 19200: $settings"
grep -qw -- "-parenb" <<<"$settings" || fail "parity on: $settings"
grep -qw -- "cs8" <<<"$settings" || fail "not 8 data bits: $settings"
grep -qw -- "-cstopb" <<<"$settings" || fail "not 1 stop bit: $settings"
echo "$device open at 19200 8N1"

# A termination signal ends the program cleanly, the port released.
kill -TERM "$program_pid"
program_ended() { ! kill -0 "$program_pid" 2>/dev/null; }
wait_for 30 program_ended || fail "the program did not end on SIGTERM"
wait "$program_pid" || fail "the program ended with status $?"
echo "ended cleanly on SIGTERM"
