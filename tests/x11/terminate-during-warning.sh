#!/usr/bin/env bash
# A program whose COM1 cannot be opened shows its warning box and goes on; a termination
# signal while the box is up still ends it cleanly.
#   terminate-during-warning.sh PROGRAM
# Exits 77 (skipped) where Xvfb or the X utilities are missing.
set -euo pipefail
program=$1
. "$(dirname "$0")/x-session.sh"
x_tools Xvfb xwininfo
start_x

PROJECTOR_COM1=/nonexistent/projector QT_QPA_PLATFORM=xcb "$program" >"$work/program.log" 2>&1 &
pids+=($!)
program_pid=$!
# The box is titled with the program's name.
box_up() {
    kill -0 "$program_pid" 2>/dev/null || fail "the program ended"
    window_named "$(basename "$program")"
}
wait_for 60 box_up || fail "no warning box within 60 s"

kill -TERM "$program_pid"
program_ended() { ! kill -0 "$program_pid" 2>/dev/null; }
wait_for 30 program_ended || fail "the program did not end on SIGTERM while its warning box was up"
wait "$program_pid" || fail "exit status $?"
echo "warning box up, ended cleanly on SIGTERM"
