#!/usr/bin/env bash
# Starts a program under a real X server with a window manager, against the projector
# simulator, and checks what the operator gets: the exact caption, an outer height of 5350
# twips (357 pixels, caption bar and borders included), and COM1 open at 19200 8N1 on the
# device that PROJECTOR_COM1 names.
#   start-under-x.sh PROGRAM SIMULATOR MODEL "CAPTION"
# Exits 77 (skipped) where Xvfb, openbox or the X utilities are missing.
set -euo pipefail
program=$1 simulator=$2 model=$3 caption=$4
for tool in Xvfb openbox xwininfo xprop stty; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# A free display number.
display=
for n in $(seq 90 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { display=":$n"; break; }
done
[ -n "$display" ] || fail "no free X display"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 100); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.05; done
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
# The window manager is up once it has announced itself on the root window.
for _ in $(seq 200); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
done

"$simulator" --model "$model" --link "$work/projector" </dev/null >"$work/sim.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -e "$work/projector" ] && break; sleep 0.05; done
[ -e "$work/projector" ] || fail "the simulator did not start"
device=$(readlink "$work/projector")

unset QT_QPA_PLATFORM
PROJECTOR_COM1="$work/projector" QT_QPA_PLATFORM=xcb "$program" >"$work/program.log" 2>&1 &
pids+=($!)
program_pid=$!

window=
for _ in $(seq 200); do
    window=$(xwininfo -root -tree 2>/dev/null | grep -F "\"$caption\"" | awk '{print $1}' | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.05
done
[ -n "$window" ] || fail "no window captioned \"$caption\"; the program said: $(cat "$work/program.log")"

# The window manager decorates the window after it is mapped; the panel then sets its height.
outer=
for _ in $(seq 100); do
    extents=$(xprop -id "$window" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= //p' | tr -d ' ')
    height=$(xwininfo -id "$window" | awk '/Height:/ {print $2}')
    if [ -n "$extents" ]; then
        IFS=, read -r left right top bottom <<<"$extents"
        outer=$((height + top + bottom))
        [ "$outer" -eq 357 ] && [ "$((top + bottom))" -gt 0 ] && break
    fi
    sleep 0.05
done
[ "${outer:-0}" -eq 357 ] || fail "outer height $outer pixels (frame $extents), want 357 (5350 twips)"
# Centred by the design size (9495 x 8730 twips of client area plus the frame), then cut.
x=$(xwininfo -id "$window" | awk '/Absolute upper-left X:/ {print $4}')
y=$(xwininfo -id "$window" | awk '/Absolute upper-left Y:/ {print $4}')
want_x=$(((1280 - (633 + left + right)) / 2 + left))
want_y=$(((1024 - (582 + top + bottom)) / 2 + top))
[ "$x,$y" = "$want_x,$want_y" ] || fail "client area at $x,$y, want $want_x,$want_y"
echo "caption \"$caption\", outer height $outer pixels, frame $extents, centred at $x,$y"

# The device is open, raw at 19200 8N1.
open=
for _ in $(seq 100); do
    if ls -l "/proc/$program_pid/fd" 2>/dev/null | grep -qF -- "-> $device"; then open=1; break; fi
    sleep 0.05
done
[ -n "$open" ] || fail "$device is not open"
settings=$(stty -F "$device" -a)
grep -q "speed 19200 baud" <<<"$settings" || fail "not at 19200: $settings"
grep -qw -- "-parenb" <<<"$settings" || fail "parity on: $settings"
grep -qw -- "cs8" <<<"$settings" || fail "not 8 data bits: $settings"
grep -qw -- "-cstopb" <<<"$settings" || fail "not 1 stop bit: $settings"
echo "$device open at 19200 8N1"

# A termination signal ends the program cleanly, the port released.
kill -TERM "$program_pid"
for _ in $(seq 100); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.05; done
kill -0 "$program_pid" 2>/dev/null && fail "the program did not end on SIGTERM"
wait "$program_pid" || fail "the program ended with status $?"
echo "ended cleanly on SIGTERM"
