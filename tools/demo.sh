#!/usr/bin/env bash
# Runs a panel against the projector simulator on a pseudo-terminal.
#   tools/demo.sh BUILD_DIR PROGRAM MODEL
set -euo pipefail
build_dir=$1 program=$2 model=$3
work=$(mktemp -d)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

mkfifo "$work/control"
"$build_dir/tools/projector-sim/projector-sim" --model "$model" --link "$work/projector" \
    --log "$work/projector.log" <"$work/control" >"$work/sim.out" &
sim_pid=$!
exec 3>"$work/control"
for _ in $(seq 50); do [ -e "$work/projector" ] && break; sleep 0.1; done
echo "Projector simulator ($model) on $(readlink "$work/projector")"
export PROJECTOR_COM1="$work/projector"
tail -n +1 -f "$work/projector.log" 2>/dev/null &
tail_pid=$!
"$build_dir/app/$program" || true
kill "$tail_pid" 2>/dev/null || true
