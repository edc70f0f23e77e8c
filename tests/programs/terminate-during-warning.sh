#!/usr/bin/env bash
# A program whose COM1 cannot be opened shows its warning box and goes on; a termination
# signal while the box is up, before the main event loop runs, still ends it cleanly.
#   terminate-during-warning.sh PROGRAM
set -euo pipefail
program=$1
PROJECTOR_COM1=/nonexistent/projector QT_QPA_PLATFORM=offscreen "$program" >/dev/null 2>&1 &
pid=$!
sleep 1.5
kill -0 "$pid" 2>/dev/null || { echo "FAIL: the program did not go on after the failed open"; exit 1; }
kill -TERM "$pid"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid"
    echo "FAIL: the program did not end on SIGTERM while its warning box was up"
    exit 1
fi
wait "$pid" || { echo "FAIL: exit status $?"; exit 1; }
echo "ended cleanly"
