#!/usr/bin/env bash
# The X server goes away under a running program (the operator's session ends): the program
# ends, and the lock file of its open port goes with it.
#   x-server-gone.sh PROGRAM SIMULATOR MODEL
# Exits 77 (skipped) where Xvfb or the X utilities are missing.
set -euo pipefail
program=$1 simulator=$2 model=$3
. "$(dirname "$0")/x-session.sh"
x_tools Xvfb xwininfo
start_x

start_simulator "$simulator" "$model"
start_program "$program"

# The port's lock file names the process that holds it on its first line.
lock_file() {
    local dir file
    for dir in /var/lock /tmp; do
        for file in "$dir"/LCK..*; do
            [ -f "$file" ] && [ "$(head -n 1 "$file" 2>/dev/null)" = "$program_pid" ] &&
                { echo "$file"; return 0; }
        done
    done
    return 1
}
wait_for 60 device_open || fail "$device is not open"
lock=$(lock_file) || fail "no lock file holds the program's PID"

kill -TERM "$xvfb_pid"
program_ended() { ! kill -0 "$program_pid" 2>/dev/null; }
wait_for 30 program_ended || fail "the program did not end when the X server went away"
wait "$program_pid" || true  # Qt ends it with a status of its own
[ ! -e "$lock" ] || fail "the lock file $lock outlived the program"
echo "ended with the X server; $lock removed"
