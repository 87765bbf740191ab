#!/usr/bin/env bash
# Builds the station if needed, makes the reading log if it is missing, starts the meter simulator
# on port 1 (unless --no-sim) and starts the station.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

use_sim=1
for arg in "$@"; do
    case "$arg" in
        --no-sim) use_sim=0 ;;
        -h|--help) echo "usage: ./run.sh [--no-sim]"; exit 0 ;;
        *) echo "run.sh: unknown argument '$arg' (usage: ./run.sh [--no-sim])" >&2; exit 2 ;;
    esac
done

vx310_ensure_packages
vx310_build default

bin=build/bin
"$bin/vx310-initdb" --if-missing

sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT INT TERM

if [ "$use_sim" -eq 1 ]; then
    "$bin/vx310-meter-sim" --port 1 >/dev/null &
    sim_pid=$!
    data=${XDG_DATA_HOME:-$HOME/.local/share}
    for _ in $(seq 50); do
        [ -e "$data/modbus485/com1" ] && break
        sleep 0.1
    done
    echo "Meter simulator on port 1 ($data/modbus485/com1), address 1, 9600 baud, no parity."
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: running the station on the offscreen platform."
    export QT_QPA_PLATFORM=offscreen
fi

"$bin/vx310"
