#!/usr/bin/env bash
# Installs what is missing, builds build/release and starts the program.
# On a machine without a display the program runs under Xvfb instead: once its main window is up,
# a screenshot of that window is saved (the path is printed) and the program is stopped again.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

build=build/release
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTOMATO_BUILD_TESTS=OFF -DTOMATO_BUILD_BENCHMARKS=OFF
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 4)"
program="$PWD/$build/bin/tomatoclock"

if [ -n "${DISPLAY:-}" ] && [ -z "${START_HEADLESS_INSIDE:-}" ]; then
    exec "$program"
fi

if [ -z "${START_HEADLESS_INSIDE:-}" ]; then
    export START_HEADLESS_INSIDE=1
    exec xvfb-run -a -s "-screen 0 1280x800x24" bash "$0"
fi

# Here on the virtual display: a window manager, the program, the screenshot, the close.
unset QT_QPA_PLATFORM
shot="$PWD/$build/tomatoclock-main-window.png"
openbox >/dev/null 2>&1 &
wm=$!
sleep 1
"$program" &
pid=$!
window=""
for _ in $(seq 300); do
    window=$(xdotool search --onlyvisible --pid "$pid" --name "Tavik tomato" 2>/dev/null | head -1) || true
    [ -n "$window" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$window" ]; then
    echo "the main window did not appear" >&2
    kill "$pid" "$wm" 2>/dev/null || true
    exit 1
fi
sleep 2  # let it paint its chart and statistics
import -window "$window" "$shot"
echo "screenshot of the main window: $shot"

# A close request as the user's, then the hard way if it is still there.
xdotool windowactivate --sync "$window" 2>/dev/null || true
xdotool key --clearmodifiers alt+F4 || true
for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
kill "$wm" 2>/dev/null || true
echo "program stopped"
