#!/usr/bin/env bash
# Starts the program from a build folder, with the virtual robot orvik-sim on the other end
# of COM1. When ORVIK_COM1 already names a device (a real robot: ORVIK_COM1=/dev/ttyUSB0),
# the program starts alone and uses it.
set -euo pipefail
build=${1:-build}

# QT_QPA_PLATFORM names a display of Qt's own (offscreen, vnc): the windows go there.
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} && -z ${QT_QPA_PLATFORM:-} ]]; then
    echo "make run: no display to show the windows on; try: xvfb-run ./run.sh" >&2
    exit 1
fi

if [[ -n ${ORVIK_COM1:-} ]]; then
    exec "$build/orvik"
fi

folder=
sim_pid=
app_pid=

# Stops both programs and removes the folder. Nothing may cut it short: a second Ctrl+C or
# TERM that arrives meanwhile is ignored, and running it again finds nothing left to do.
stop_all() {
    trap '' INT TERM HUP
    local pid
    for pid in $app_pid $sim_pid; do
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    app_pid=
    sim_pid=
    if [[ -n $folder ]]; then
        rm -rf "$folder"
    fi
}
# A signal ignores the next ones before anything else: an exit from a trap that ran inside
# stop_all would leave the programs and the folder behind.
finish() {
    trap '' INT TERM HUP
    stop_all
    exit "$1"
}
trap stop_all EXIT
trap 'finish 130' INT
trap 'finish 143' TERM
trap 'finish 129' HUP

# A folder of this run's own, so that two runs never share a robot.
folder=$(mktemp -d "${XDG_RUNTIME_DIR:-${TMPDIR:-/tmp}}/orvik-run.XXXXXX")
link=$folder/robot

# The terminal stays the program's: the robot reads its commands from nowhere, and the end
# of that input does not stop it; it stops when the program does.
"$build/sim/orvik-sim" --link "$link" </dev/null >/dev/null &
sim_pid=$!

for _ in $(seq 100); do
    [[ -L $link ]] && break
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        sim_pid=
        echo "make run: the virtual robot did not start" >&2
        exit 1
    fi
    sleep 0.1
done
if [[ ! -L $link ]]; then
    echo "make run: the virtual robot's line $link did not appear" >&2
    exit 1
fi

echo "Virtual robot on $(readlink "$link"), as COM1. In the program: Serial > Serial Setup, then APPLY."
export ORVIK_COM1=$link
# In the background and waited for, so that a signal to this script is acted on at once
# (bash holds its traps while a command runs in the foreground). A background command of a
# script starts with Ctrl+C (SIGINT) and Ctrl+\ (SIGQUIT) ignored; the program gets them
# back, so that it stops at Ctrl+C as a program started from the terminal does.
(
    trap - INT QUIT
    exec "$build/orvik"
) &
app_pid=$!
status=0
wait "$app_pid" || status=$?
app_pid=
exit "$status"
