#!/bin/sh
# Runs one test program on a private X server (Xvfb, 24-bit colour) under a window manager, and
# stops both afterwards:  run_with_wm.sh [--wm openbox|xfwm4|kwin_x11|mutter|metacity|none] PROGRAM
# [ARGS] (openbox when none is named; "none" runs the program on the bare X server). The program
# finds the server in DISPLAY and the manager's name, as given here, in TOMATO_TEST_WM. Fails when
# something is missing: scripts/install-deps.sh installs them, and a test that did not run must not
# count as passed.
set -u

wm=openbox
if [ "${1:-}" = "--wm" ]; then
  wm=$2
  shift 2
fi
case "$wm" in
  openbox|xfwm4|kwin_x11|mutter|metacity|none) ;;
  *) echo "unknown window manager: $wm" >&2; exit 2 ;;
esac
tools="Xvfb xprop xmessage"
[ "$wm" = none ] || tools="$tools $wm"
for tool in $tools; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "$tool is not installed (scripts/install-deps.sh installs it)" >&2
    exit 1
  fi
done

work=$(mktemp -d)
. "$(dirname "$0")/../../private_home.sh"
. "$(dirname "$0")/../../wm_ready.sh"
private_home "$work"
xvfb_pid=
wm_pid=
bus_pid=
cleanup() {
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
  [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

# -displayfd lets the server pick a free display itself, so parallel runs never collide.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
wait_for Xvfb "$xvfb_pid" "$work/xvfb.log" test -s "$work/display"
DISPLAY=":$(head -n 1 "$work/display")"
export DISPLAY

# Each manager with its default configuration (the home is the private one), no session manager,
# no session bus, and no compositing where it can be turned off.
wm_bus="unix:path=$work/no-session-bus"
if [ "$wm" = xfwm4 ]; then
  # xfwm4 reads its settings through a bus service and will not run without it: a private bus,
  # which takes the service it starts along when it goes.
  wm_bus="unix:path=$work/wm-bus"
  dbus-daemon --session --fork --address="$wm_bus" --print-pid=3 3>"$work/bus.pid" || exit 1
  bus_pid=$(cat "$work/bus.pid")
fi
if [ "$wm" != none ]; then
  (
    DBUS_SESSION_BUS_ADDRESS=$wm_bus
    NO_AT_BRIDGE=1  # no accessibility bus of GTK's
    export DBUS_SESSION_BUS_ADDRESS NO_AT_BRIDGE
    case "$wm" in
      openbox) exec openbox --sm-disable ;;
      xfwm4) exec xfwm4 --compositor=off --sm-client-disable ;;
      kwin_x11) KWIN_COMPOSE=N QT_QPA_PLATFORM=xcb exec kwin_x11 ;;
      mutter) exec mutter --x11 --sm-disable ;;  # always composites on X11
      metacity) exec metacity --sm-disable --no-composite ;;
    esac
  ) >"$work/wm.log" 2>&1 &
  wm_pid=$!
  wm_ready "$wm" "$wm_pid" "$work/wm.log" "$work"
fi

# The X keymap library (libxkbcommon-x11, called by Qt's X11 platform at start) hands strndup()
# names that are not NUL-terminated, which is valid but trips the sanitizer's strict string
# checks; everything else of the sanitizer settings stays.
if [ -n "${ASAN_OPTIONS:-}" ]; then
  ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"
  export ASAN_OPTIONS
fi
# No session bus: without one, the X server would be asked to start one (and its reader thread
# leaks in libdbus, which the sanitizer build reports).
DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-session-bus" QT_QPA_PLATFORM=xcb TOMATO_TEST_WM=$wm "$@"
rc=$?
if [ $rc -ne 0 ] && [ "$wm" != none ]; then
  echo "--- $wm's output:" >&2; tail -n 20 "$work/wm.log" >&2
fi
exit $rc
