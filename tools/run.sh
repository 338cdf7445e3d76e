#!/usr/bin/env bash
# Starts the program from a build folder.
set -euo pipefail
build=${1:-build}

if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
    echo "make run: no display to show the windows on; try: xvfb-run make run" >&2
    exit 1
fi
exec "$build/orvik"
