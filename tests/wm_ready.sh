# Sourced by the tests' shell scripts that start an X server or a window manager of their own
# (sh or bash; "local" is in both).

# wait_for WHAT PID LOG COMMAND...: polls COMMAND every 50 ms until it succeeds; after 10 s, or
# once process PID has ended, says that WHAT did not start, shows LOG and ends the script.
wait_for() {
  local what=$1 pid=$2 log=$3 i=0
  shift 3
  until "$@"; do
    i=$((i + 1))
    if [ $i -gt 200 ] || ! kill -0 "$pid" 2>/dev/null; then
      echo "$what did not start:" >&2; cat "$log" >&2
      exit 1
    fi
    sleep 0.05
  done
}

# wm_ready NAME PID LOG DIR: waits until the window manager NAME (process PID, its output in LOG)
# manages windows, and the screen is empty again; ends the script when it does not. DIR holds
# the probe's output.
#
# A manager announces itself (EWMH) once it has taken the screen over, but a window mapped in its
# first moments may stay unmanaged for good (seen with openbox). So a probe window that takes no
# focus is mapped anew until the manager lists it, and then goes again.
wm_ready() {
  local wm=$1 wm_pid=$2 wm_log=$3 probe_log="$4/probe.log" probed= attempt probe_pid i
  wait_for "$wm" "$wm_pid" "$wm_log" sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"'
  for attempt in 1 2 3 4 5; do
    xmessage -name wm-probe -xrm '*input: false' probe >"$probe_log" 2>&1 &
    probe_pid=$!
    i=0
    until [ -n "$probed" ] || [ $i -ge 40 ]; do
      xprop -root _NET_CLIENT_LIST 2>/dev/null | grep -q "0x" && probed=yes
      i=$((i + 1))
      sleep 0.05
    done
    kill "$probe_pid"
    wait "$probe_pid" 2>/dev/null
    [ -n "$probed" ] && break
  done
  if [ -z "$probed" ]; then
    echo "$wm manages no window:" >&2; cat "$wm_log" "$probe_log" >&2
    exit 1
  fi
  wait_for "$wm (letting a window go)" "$wm_pid" "$wm_log" \
    sh -c '! xprop -root _NET_CLIENT_LIST 2>/dev/null | grep -q "0x"'
}
