#!/bin/sh
# make soak: the program's main window, offscreen, against orvik-sim with faults on the line,
# the sensor poll on and a looping script playing, for SOAK_MINUTES (default 10).
# Usage: tools/soak.sh [BUILD_FOLDER]   (SOAK_SEED repeats a run's faults)
set -eu
build=${1:-build}
minutes=${SOAK_MINUTES:-10}
cmake --build "$build" --target soak orvik-sim
set -- --sim "$build/sim/orvik-sim" --minutes "$minutes"
if [ -n "${SOAK_SEED:-}" ]; then
    set -- "$@" --seed "$SOAK_SEED"
fi
exec env QT_QPA_PLATFORM=offscreen "$build/bench/soak" "$@"
