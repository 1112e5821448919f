#!/usr/bin/env bash
# The real program in a Wayland session with XWayland beside it: a headless weston that offers an
# X server. Usage: xwayland_test.sh <tomatoclock binary>
#
# 1. Nothing chosen by the user: Qt runs on X11, and the main window is an X window on XWayland's
#    display, though the session says Wayland (WAYLAND_DISPLAY, XDG_SESSION_TYPE).
# 2. QT_QPA_PLATFORM=wayland set by the user: the program runs on Wayland as asked.
# 3. DISPLAY names an X server that is not there: the program falls back to Wayland and runs.
# Fails when weston or Xwayland is missing (scripts/install-deps.sh installs them): a test that
# did not run must not count as passed.
set -uo pipefail

program=$1

for tool in weston Xwayland xdotool xprop; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "$tool is not installed (scripts/install-deps.sh installs it)" >&2
        exit 1
    fi
done

work=$(mktemp -d)
source "$(dirname "$0")/../../private_home.sh"
private_home "$work"
weston_pid=
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    # weston ends XWayland and its own helpers with it.
    [ -n "$weston_pid" ] && kill "$weston_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

fail() {
    echo "FAIL: $*" >&2
    for log in "$work"/*.log; do
        echo "--- $log" >&2
        cat "$log" >&2
    done
    exit 1
}

# What a Wayland session has, and nothing the test runner set for other tests.
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
export XDG_SESSION_TYPE=wayland
XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
export XDG_RUNTIME_DIR
# No session bus: without one, Qt would ask the X server to start one.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-session-bus"
# In a sanitizer build: the X keyboard library trips strict string checks (third-party code).
# The program is stopped by a signal, so no leak check runs at its end.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}strict_string_checks=0"
# Qt names the platform it loaded.
export QT_LOGGING_RULES="qt.qpa.plugin=true"

# The socket lies in the private runtime folder, so parallel runs never collide; weston picks a
# free X display number itself and names it in its log. XWayland starts at the first X client.
socket=wayland-test
weston --backend=headless-backend.so --xwayland --socket="$socket" --no-config --idle-time=0 \
    --log="$work/weston.log" >"$work/weston-output.log" 2>&1 &
weston_pid=$!
display=
for _ in $(seq 100); do
    display=$(sed -n 's/.*xserver listening on display \(:[0-9][0-9]*\).*/\1/p' "$work/weston.log" 2>/dev/null)
    [ -n "$display" ] && [ -S "$XDG_RUNTIME_DIR/$socket" ] && break
    kill -0 "$weston_pid" 2>/dev/null || fail "weston ended at its start"
    sleep 0.1
done
[ -n "$display" ] || fail "weston offered no X server within 10 s"
echo "weston: Wayland socket $socket, XWayland display $display"

mkdir -p "$work/program"
cp "$program" "$work/program/tomatoclock"

# Starts the program with the given environment assignments; sets $pid and $log.
start() {
    log="$work/program-$1.log"
    shift
    (cd / && exec env "$@" "$work/program/tomatoclock") >"$log" 2>&1 &
    pid=$!
}

# Waits up to 20 s for Qt to name the platform it loaded; prints it.
loaded_platform() {
    local name
    for _ in $(seq 200); do
        name=$(sed -n 's/.*Successfully loaded Qt platform plugin "\([^"]*\)".*/\1/p' "$log" | head -n 1)
        if [ -n "$name" ]; then echo "$name"; return 0; fi
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# The X windows on XWayland's display whose title names the main window and whose owner is $pid.
main_windows_on_x() {
    local w
    for w in $(DISPLAY=$display xdotool search --name "Tavik tomato" 2>/dev/null); do
        DISPLAY=$display xprop -id "$w" _NET_WM_PID 2>/dev/null | grep -qx "_NET_WM_PID(CARDINAL) = $pid" && echo "$w"
    done
}

stop() {
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    pid=
}

echo "== Wayland session with XWayland, no platform chosen"
start xwayland DISPLAY="$display" WAYLAND_DISPLAY="$socket"
platform=$(loaded_platform) || fail "Qt loaded no platform"
[ "$platform" = xcb ] || fail "Qt loaded the platform \"$platform\", expected \"xcb\""
window=
for _ in $(seq 200); do
    window=$(main_windows_on_x | head -n 1)
    [ -n "$window" ] && break
    kill -0 "$pid" 2>/dev/null || fail "the program ended"
    sleep 0.1
done
[ -n "$window" ] || fail "no X window of the program titled as the main window on $display within 20 s"
title=$(DISPLAY=$display xdotool getwindowname "$window")
echo "platform $platform; X window $window \"$title\" on $display"
stop

echo "== the user's choice: QT_QPA_PLATFORM=wayland"
start wayland DISPLAY="$display" WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland
platform=$(loaded_platform) || fail "Qt loaded no platform"
[ "$platform" = wayland ] || fail "Qt loaded the platform \"$platform\", expected the user's \"wayland\""
grep -q 'pluginNamesWithArguments "wayland"' "$log" || fail "the runtime overrode the user's choice of platform"
sleep 1
kill -0 "$pid" 2>/dev/null || fail "the program ended on Wayland"
[ -z "$(main_windows_on_x)" ] || fail "the program showed an X window though the user chose Wayland"
echo "platform $platform, no X window of the program"
stop

echo "== an X server named that is not there"
missing=$((${display#:} + 100))
while [ -e "/tmp/.X11-unix/X$missing" ] || [ -e "/tmp/.X$missing-lock" ]; do missing=$((missing + 1)); done
start fallback DISPLAY=":$missing" WAYLAND_DISPLAY="$socket"
platform=$(loaded_platform) || fail "Qt loaded no platform"
[ "$platform" = wayland ] || fail "Qt loaded the platform \"$platform\", expected the fallback \"wayland\""
sleep 1
kill -0 "$pid" 2>/dev/null || fail "the program ended on Wayland"
echo "platform $platform after X display :$missing could not be reached"
stop
echo "PASS"
