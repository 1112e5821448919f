#!/bin/sh
# Runs one test program on a private X server (Xvfb, 24-bit colour) under the openbox window
# manager, and stops both afterwards. Fails when either is missing: scripts/install-deps.sh
# installs them, and a test that did not run must not count as passed.
set -u

if ! command -v Xvfb >/dev/null 2>&1 || ! command -v openbox >/dev/null 2>&1 ||
   ! command -v xprop >/dev/null 2>&1; then
  echo "Xvfb, openbox or xprop is not installed (scripts/install-deps.sh installs them)" >&2
  exit 1
fi

work=$(mktemp -d)
. "$(dirname "$0")/../../private_home.sh"
private_home "$work"
xvfb_pid=
wm_pid=
cleanup() {
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

# -displayfd lets the server pick a free display itself, so parallel runs never collide.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
i=0
while [ ! -s "$work/display" ]; do
  i=$((i + 1))
  if [ $i -gt 200 ] || ! kill -0 "$xvfb_pid" 2>/dev/null; then
    echo "Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2
    exit 1
  fi
  sleep 0.05
done
DISPLAY=":$(head -n 1 "$work/display")"
export DISPLAY

# The default configuration only, whatever the user running the tests has set up: the home is
# the private one.
openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm_pid=$!
i=0
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; do
  i=$((i + 1))
  if [ $i -gt 200 ] || ! kill -0 "$wm_pid" 2>/dev/null; then
    echo "openbox did not start:" >&2; cat "$work/openbox.log" >&2
    exit 1
  fi
  sleep 0.05
done

# The X keymap library (libxkbcommon-x11, called by Qt's X11 platform at start) hands strndup()
# names that are not NUL-terminated, which is valid but trips the sanitizer's strict string
# checks; everything else of the sanitizer settings stays.
if [ -n "${ASAN_OPTIONS:-}" ]; then
  ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"
  export ASAN_OPTIONS
fi
# No session bus: without one, the X server would be asked to start one (and its reader thread
# leaks in libdbus, which the sanitizer build reports).
DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-session-bus" QT_QPA_PLATFORM=xcb "$@"
rc=$?
exit $rc
