#!/usr/bin/env bash
# Smoke run of the real program on an X server (CTest runs it under xvfb-run with openbox started
# here). Usage: smoke_test.sh <tomatoclock binary> <stand-in update.so> <output directory>
#
# 1. Library missing: a copy of the program in a directory without update.so shows its main
#    window, the first activation shows the missing-library box, and after the box is dismissed
#    the process ends with exit code -1 (255).
# 2. Stand-in library beside a copy in a folder named in Chinese with a blank: the main window
#    shows its components at their design places (a screenshot is saved), the database file lies
#    in that folder, the program keeps running, and a close request ends it with exit code 0.
# 3. A folder whose name is not UTF-8: the file cannot be named there, so the program says it
#    cannot create its database and ends with exit code 0, leaving no file anywhere.
# 4. A folder named in Chinese whose path is nearly as long as the system takes: the program runs,
#    its database lies in that folder, and a close request ends it with exit code 0.
# 5. A folder deeper than the system can name, started from a parent folder: the program cannot
#    tell its directory, says it cannot create its database, ends with exit code 0 and leaves no
#    file anywhere (not in the current directory either).
set -uo pipefail

program=$1
standin=$2
out=$3
mkdir -p "$out"

work=$(mktemp -d)
source "$(dirname "$0")/../../private_home.sh"
source "$(dirname "$0")/../../wm_ready.sh"
private_home "$work"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    import -window root "$out/smoke-failure.png" 2>/dev/null && echo "screen saved to $out/smoke-failure.png" >&2
    exit 1
}

# The tests' offscreen platform must not reach the program: it needs the X server.
unset QT_QPA_PLATFORM
# In a sanitizer build: leaks of the X and Qt libraries at exit would replace the exit code this
# test checks (the unit tests look for leaks), and the X keyboard library trips strict string
# checks. Later options win over earlier ones.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0:strict_string_checks=0"

openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
wm_ready openbox "$!" "$work/openbox.log" "$work"

# Starts a copy of the program in its own directory; sets $pid.
start_copy() {
    local dir=$1
    mkdir -p "$dir"
    cp "$program" "$dir/tomatoclock"
    (cd / && exec "$dir/tomatoclock") >"$dir/out.log" 2>&1 &
    pid=$!
    pids+=("$pid")
}

# Waits up to $2 seconds for a visible window of process $1 whose name matches $3; prints its id.
wait_window() {
    local p=$1 seconds=$2 name=$3 w
    for _ in $(seq $((seconds * 10))); do
        # --all: by default a window that matches either the process or the name would do.
        w=$(xdotool search --all --onlyvisible --pid "$p" --name "$name" 2>/dev/null | head -1)
        if [ -n "$w" ]; then echo "$w"; return 0; fi
        kill -0 "$p" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# Waits up to $2 seconds for process $1, a child of this shell, to end; sets $code to its exit
# code. Not run in a command substitution: only this shell can collect its child's status.
wait_exit() {
    local p=$1 seconds=$2
    for _ in $(seq $((seconds * 10))); do
        if ! kill -0 "$p" 2>/dev/null; then
            wait "$p"
            code=$?
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# Asks the main window $1 of process $pid to close, as the user's alt+F4 does, and fails unless the
# program then ends with exit code 0.
close_expecting_zero() {
    xdotool windowactivate --sync "$1" 2>/dev/null
    xdotool key --clearmodifiers alt+F4
    wait_exit "$pid" 20 || fail "the program did not end after the close request"
    [ "$code" = 0 ] || fail "exit code $code after the close request, expected 0"
}

# The standard deviation of the screen's pixels in a rectangle of the main window's client area.
region_spread() {
    local shot=$1 x=$2 y=$3 w=$4 h=$5
    convert "$shot" -crop "${w}x${h}+$((origin_x + x))+$((origin_y + y))" +repage -colorspace Gray \
        -format '%[fx:standard_deviation*1000]' info:
}

caption="Tavik tomato"

echo "== library missing"
start_copy "$work/missing"
main=$(wait_window "$pid" 20 "$caption") || fail "main window did not appear (log: $(cat "$work/missing/out.log"))"
box=""
for _ in $(seq 100); do
    for w in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
        [ "$w" != "$main" ] && box=$w
    done
    [ -n "$box" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
[ -n "$box" ] || fail "no missing-library box appeared"
import -window root "$out/smoke-missing-library.png"
kill -0 "$pid" 2>/dev/null || fail "the program ended before its box was answered"
xdotool windowactivate --sync "$box" 2>/dev/null
xdotool key --clearmodifiers Return
wait_exit "$pid" 20 || fail "the program did not end after the missing-library box"
[ "$code" = 255 ] || fail "exit code $code after the missing-library box, expected -1 (255)"
[ -f "$work/missing/db.razezuzivu" ] || fail "no database file was created beside the program"
echo "missing-library box shown, exit code -1"

echo "== stand-in library, folder named in Chinese"
folder="$work/下载/番茄 钟"
mkdir -p "$folder"
cp "$standin" "$folder/update.so"
start_copy "$folder"
main=$(wait_window "$pid" 20 "$caption") || fail "main window did not appear (log: $(cat "$folder/out.log"))"
[ -f "$folder/db.razezuzivu" ] || fail "no database file in $folder"
sleep 2  # first activation, the stand-in's answer, a few ticks
kill -0 "$pid" 2>/dev/null || fail "the program ended after the stand-in's answer"
extra=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | grep -vx "$main" | head -1)
[ -z "$extra" ] || fail "an unexpected window $extra is open beside the main window"

eval "$(xwininfo -id "$main" | awk -F: '
    /Absolute upper-left X/ {gsub(/ /,"",$2); print "origin_x=" $2}
    /Absolute upper-left Y/ {gsub(/ /,"",$2); print "origin_y=" $2}
    /Width/ {gsub(/ /,"",$2); print "width=" $2}
    /Height/ {gsub(/ /,"",$2); print "height=" $2}')"

# The design's 884 x 541 at 50,50 is the whole window, frame included: the client area (above) is
# what the frame the window manager reports leaves of it.
read -r fl fr ft fb < <(xprop -id "$main" _NET_FRAME_EXTENTS | sed -n 's/.*= *//p' | tr -d ,)
[ -n "$fb" ] || fail "the window manager reports no frame for the main window"
outer="$((width + fl + fr))x$((height + ft + fb)) at $((origin_x - fl)),$((origin_y - ft))"
echo "main window: client ${width}x${height} at $origin_x,$origin_y, frame $fl,$fr,$ft,$fb, outer $outer"
[ "$outer" = "884x541 at 50,50" ] || fail "main window is $outer outside, expected 884x541 at 50,50"
shot="$out/smoke-main-window.png"
import -window root "$shot"
echo "screenshot: $shot (client area at $origin_x,$origin_y)"

# Each designed component that draws something must show more than one colour at its place;
# the strip between the chart and the memo frame has nothing designed and must be plain.
bad=""
while read -r name x y w h; do
    spread=$(region_spread "$shot" "$x" "$y" "$w" "$h")
    printf '  %-16s %4d,%-4d %4dx%-4d spread %s\n' "$name" "$x" "$y" "$w" "$h" "$spread"
    awk -v s="$spread" 'BEGIN { exit !(s > 1) }' || bad="$bad $name"
done <<'EOF'
StartButton     5   7   112 24
CategoryCombo   125 9   83  20
TickSoundCheck  216 12  60  16
AlertSoundCheck 280 12  96  16
ShowBarCheck    355 12  93  16
ResetBarButton  447 10  84  19
SponsorButton   539 10  84  19
ClockLabel      684 5   189 29
StatusLabel     688 42  185 18
StatsLabel      5   42  671 18
DailyChart      5   65  867 328
NoteGroup       4   408 867 96
NoteEdit        12  424 848 72
EOF
[ -z "$bad" ] || fail "nothing drawn at the design places of:$bad"
gap=$(region_spread "$shot" 10 396 850 10)
awk -v s="$gap" 'BEGIN { exit !(s < 1) }' || fail "the empty strip under the chart is not plain (spread $gap)"

close_expecting_zero "$main"
echo "program ran on with the stand-in library, closed with exit code 0"

echo "== folder name that is not UTF-8"
databases_before=$(find "$work" -name 'db.razezuzivu*' | sort)
start_copy "$work/bad-"$'\xe9'"-name"
box=$(wait_window "$pid" 20 "出错") || fail "no error box appeared (log: $(cat "$work/bad-"$'\xe9'"-name/out.log"))"
[ "$(xdotool getwindowname "$box")" = "出错！" ] || fail "window \"$(xdotool getwindowname "$box")\" instead of the error box"
[ "$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | wc -l)" = 1 ] || fail "a window besides the error box appeared"
import -window root "$out/smoke-unnamed-folder.png"
xdotool windowactivate --sync "$box" 2>/dev/null
xdotool key --clearmodifiers Return
wait_exit "$pid" 20 || fail "the program did not end after the error box"
[ "$code" = 0 ] || fail "exit code $code after the error box, expected 0"
[ "$(find "$work" -name 'db.razezuzivu*' | sort)" = "$databases_before" ] || fail "a database file appeared"
echo "error box shown, exit code 0, no file created"

# A folder name of 180 bytes (番茄钟 twenty times).
component=$(printf '番茄钟%.0s' $(seq 20))

echo "== folder path nearly as long as the system takes"
long="$work/long"
while [ "$(printf %s "$long/$component/tomatoclock" | wc -c)" -lt 4090 ]; do long="$long/$component"; done
mkdir -p "$long"
cp "$standin" "$long/update.so"
start_copy "$long"
echo "program path: $(printf %s "$long/tomatoclock" | wc -c) bytes"
main=$(wait_window "$pid" 20 "$caption") || fail "main window did not appear (log: $(cat "$long/out.log"))"
[ -f "$long/db.razezuzivu" ] || fail "no database file in the long folder"
close_expecting_zero "$main"
echo "program ran in the long folder, its database beside it, closed with exit code 0"

echo "== folder deeper than the system can name"
databases_before=$(find "$work" -name 'db.*' | sort)
# Started from a parent folder through a relative path, each short enough to be used, together
# longer than the system names.
parent="$work/deep/$component/$component"
mkdir -p "$parent"
relative=$(printf "$component/%.0s" $(seq 22))
mkdir -p "$parent/$relative"
echo "program path: $(printf %s "$parent/${relative}tomatoclock" | wc -c) bytes"
# env hands the relative path to the system as it is; bash would make it absolute first.
(cd "$parent" && cp "$program" "${relative}tomatoclock" && exec env "./${relative}tomatoclock") >"$work/deep.log" 2>&1 &
pid=$!
pids+=("$pid")
box=$(wait_window "$pid" 20 "出错") || fail "no error box appeared (log: $(cat "$work/deep.log"))"
import -window root "$out/smoke-deep-folder.png"
xdotool windowactivate --sync "$box" 2>/dev/null
xdotool key --clearmodifiers Return
wait_exit "$pid" 20 || fail "the program did not end after the error box"
[ "$code" = 0 ] || fail "exit code $code after the error box, expected 0"
databases_after=$(find "$work" -name 'db.*' | sort)
[ "$databases_after" = "$databases_before" ] || fail "a database file appeared: $databases_after"
echo "error box shown, exit code 0, no file created"
echo "PASS"
