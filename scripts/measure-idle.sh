#!/usr/bin/env bash
# Measures the program at rest on an X server: its resident memory a few seconds after start and
# the CPU time it uses over the following 60 seconds while nothing happens (idle, no tomato).
# Usage: scripts/measure-idle.sh [build directory]   (default build/release, built when missing)
# Runs under xvfb-run when there is no DISPLAY. Prints the two figures; changes nothing but a
# temporary directory.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/release}
seconds=${MEASURE_SECONDS:-60}

if [ -z "${MEASURE_INSIDE_X:-}" ]; then
    if [ ! -x "$build/bin/tomatoclock" ]; then
        cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTOMATO_BUILD_TESTS=OFF -DTOMATO_BUILD_BENCHMARKS=OFF >/dev/null
        cmake --build "$build" -j "$(nproc)" >/dev/null
    fi
    export MEASURE_INSIDE_X=1
    if [ -z "${DISPLAY:-}" ]; then
        exec xvfb-run -a -s "-screen 0 1280x800x24" bash "$0" "$build"
    fi
    exec bash "$0" "$build"
fi

unset QT_QPA_PLATFORM
work=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT

# A copy in a fresh directory, so the measurement starts from a new database and touches no other.
cp "$build/bin/tomatoclock" "$work/"
if [ -f "$build/bin/update.so" ]; then
    cp "$build/bin/update.so" "$work/"
else
    echo "note: $build/bin/update.so is missing; the program will sit in its missing-library box" >&2
fi

(cd / && exec "$work/tomatoclock") >"$work/out.log" 2>&1 &
pid=$!

for _ in $(seq 200); do
    xdotool search --onlyvisible --pid "$pid" --name "Tavik tomato" >/dev/null 2>&1 && break
    kill -0 "$pid" 2>/dev/null || { echo "the program ended early:" >&2; cat "$work/out.log" >&2; exit 1; }
    sleep 0.1
done
sleep 3  # start-up work done, first activation handled

ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
hz=$(getconf CLK_TCK)
rss_kib=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
before=$(ticks)
sleep "$seconds"
kill -0 "$pid" 2>/dev/null || { echo "the program ended during the measurement" >&2; exit 1; }
after=$(ticks)

awk -v rss="$rss_kib" -v d=$((after - before)) -v hz="$hz" -v s="$seconds" 'BEGIN {
    cpu = d / hz
    printf "resident memory after start: %.1f MiB (%d KiB)\n", rss / 1024, rss
    printf "CPU time while idle over %d s: %.2f s (%.2f %% of one core)\n", s, cpu, 100 * cpu / s
}'
