#!/bin/sh
# What the real program costs while it waits. Builds tavimor, sets it up in a
# temporary directory with a settings file of 30 links (2-month interval,
# pointing at a loopback port where nothing listens), starts it on a virtual
# X display (Xvfb, no window manager) and, with bench/idle_probe.py, reports:
#   - the start-up time from exec to the mapped window (best of five), and the
#     memory then;
#   - processor time, context switches (wake-ups) per thread and memory over
#     SECONDS with the queue stopped, again with the text caret in the link
#     field, and again with the queue of 30 links started by a real click on
#     "Start!" and Return on the question;
#   - that it quits with code 0 after the close request and Return on the
#     question, with all 30 links saved as "Trying".
# The goal is no processor use and no wake-ups while nothing falls due.
#   bench/idle_cost.sh [build-dir] [seconds]     (defaults: build, 60)
# Needs Xvfb and the system's python3 with Xlib (python3-xlib), as the
# end-to-end test does; PYTHON names another interpreter that has it.
set -eu
python=${PYTHON:-/usr/bin/python3}
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${2:-60}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" --target tavimor >/dev/null

work=$(mktemp -d /tmp/tavimor-idle-XXXXXX)
xvfb_pid=""
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# A port nobody listens on: bound for a moment, then let go.
dead_port=$("$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir "$work/downloads"
mkdir -m 700 "$work/xdg"
export XDG_RUNTIME_DIR="$work/xdg"
cp "$build/app/tavimor" "$work/tavimor"
"$python" bench/idle_settings.py "$work/downloads/" "$dead_port" > "$work/Tavimor.ini"

display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
done
Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
i=0
until [ -e "/tmp/.X11-unix/X$display" ]; do
    i=$((i + 1))
    [ "$i" -lt 100 ] || { echo "Xvfb :$display did not start" >&2; exit 1; }
    sleep 0.1
done

echo "idle cost of $(git rev-parse --short HEAD 2>/dev/null || echo tavimor), $seconds s per phase, 30 links"
DISPLAY=":$display" "$python" bench/idle_probe.py "$work/tavimor" "$work" "$seconds"
trying=$("$python" -c 'import sys; print(open(sys.argv[1], "rb").read().count(b"\xa4Trying\xa4"))' "$work/Tavimor.ini")
echo "saved at the end: $trying of 30 links Trying"
[ "$trying" -eq 30 ]
