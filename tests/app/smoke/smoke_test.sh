#!/usr/bin/env bash
# Smoke run of the real program on an X server, with or without a window manager (CTest runs it
# under each through run_with_wm.sh). Usage: smoke_test.sh <tomatoclock binary> <stand-in update.so>
# <close_request helper> <output directory>; the screenshots go into a folder of the directory
# named after the manager (TOMATO_TEST_WM).
#
# A close request is what a manager sends when the user closes a window (WM_DELETE_WINDOW), sent
# here directly: not every manager binds a key to it (kwin_x11 without its shortcut service), and a
# bare X server has none. A box is answered with Return once it has the keyboard focus, which the
# manager is asked for, or which is set directly on a bare server.
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
# 6. A FIFO under the database's name: the program says it cannot open its database, ends with
#    exit code 0 after the box and leaves the FIFO as it was.
# 7. Files that first builds which died left beside the program: the program removes them as it
#    starts, but not the file that another copy, building at that moment, holds.
set -uo pipefail

program=$1
standin=$2
close_request=$3
out=$4/${TOMATO_TEST_WM:-unknown}
mkdir -p "$out"

for tool in xdotool xprop xwininfo xwd convert; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "$tool is not installed (scripts/install-deps.sh installs it)" >&2
        exit 1
    fi
done

work=$(mktemp -d)
source "$(dirname "$0")/../../private_home.sh"
private_home "$work"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

# Saves what the screen shows into the PNG file $1. (ImageMagick's import takes seconds for it
# under a compositing manager.)
screenshot() {
    xwd -root -silent | convert xwd:- "$1"
}

fail() {
    echo "FAIL: $*" >&2
    for w in $(xdotool search --onlyvisible --pid "${pid:-0}" 2>/dev/null); do
        echo "  the program's window $w: $(xdotool getwindowname "$w" 2>/dev/null)" >&2
    done
    screenshot "$out/smoke-failure.png" 2>/dev/null && echo "screen saved to $out/smoke-failure.png" >&2
    exit 1
}

# The tests' offscreen platform must not reach the program: it needs the X server.
unset QT_QPA_PLATFORM
[ -n "${DISPLAY:-}" ] || { echo "no DISPLAY: run this through run_with_wm.sh" >&2; exit 1; }
# In a sanitizer build: leaks of the X and Qt libraries at exit would replace the exit code this
# test checks (the unit tests look for leaks), and the X keyboard library trips strict string
# checks. Later options win over earlier ones.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0:strict_string_checks=0"

# Whether a window manager runs on the server (EWMH: it names its check window).
managed=""
xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && managed=yes
echo "window manager: ${TOMATO_TEST_WM:-unknown}${managed:+ (running)}"

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

# Gives window $1 the keyboard focus, as the user's click would, and waits until it has it: the
# manager is asked to activate the window, or without one the focus is set directly. Asked again
# each second: a request that comes before the manager has taken the window over may be dropped.
focus_window() {
    local w=$1 focus="" i
    for i in $(seq 0 399); do
        if [ $((i % 20)) = 0 ]; then
            if [ -n "$managed" ]; then
                xdotool windowactivate "$w" 2>/dev/null
            else
                xdotool windowfocus "$w" 2>/dev/null
            fi
        fi
        focus=$(xdotool getwindowfocus 2>/dev/null)
        [ "$focus" = "$w" ] && return 0
        sleep 0.05
    done
    fail "window $w never got the keyboard focus (it is on ${focus:-nothing})"
}

# Answers box $1 with Return, the key of its default button.
answer_box() {
    focus_window "$1"
    xdotool key --clearmodifiers Return
}

# Asks the main window $1 of process $pid to close, as the user does through the window manager,
# and fails unless the program then ends with exit code 0.
close_expecting_zero() {
    "$close_request" "$1" || fail "the close request could not be sent to window $1"
    wait_exit "$pid" 20 || fail "the program did not end after the close request"
    [ "$code" = 0 ] || fail "exit code $code after the close request, expected 0"
}

# Prints where window $1 lies on the screen and its size (border not counted): "x y width height".
window_geometry() {
    xwininfo -id "$1" 2>/dev/null | awk -F: '
        /Absolute upper-left X/ {x = $2} /Absolute upper-left Y/ {y = $2}
        /Width/ {w = $2} /Height/ {h = $2} END {print x + 0, y + 0, w + 0, h + 0}'
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
screenshot "$out/smoke-missing-library.png"
kill -0 "$pid" 2>/dev/null || fail "the program ended before its box was answered"
answer_box "$box"
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
# The first activation binds the stand-in library, which then stays mapped into the process.
for _ in $(seq 200); do
    grep -qF "$folder/update.so" "/proc/$pid/maps" 2>/dev/null && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
grep -qF "$folder/update.so" "/proc/$pid/maps" 2>/dev/null || fail "the first activation did not bind the stand-in library"
sleep 1  # the stand-in has answered at once; a few of the main window's ticks, from which nothing may come
kill -0 "$pid" 2>/dev/null || fail "the program ended after the stand-in's answer"
extra=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | grep -vx "$main" | head -1)
[ -z "$extra" ] || fail "an unexpected window $extra is open beside the main window"

# The components that draw something, at their design places on the client area; they include the
# rightmost and the lowest of the window.
components='StartButton     5   7   112 24
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
NoteEdit        12  424 848 72'
read -r need_width need_height < <(awk '
    $2 + $4 > w { w = $2 + $4 } $3 + $5 > h { h = $3 + $5 } END { print w, h }' <<<"$components")

# The design's 884 x 541 at 50,50 is the whole window, frame included: the frame the window manager
# reports (_NET_FRAME_EXTENTS, none on a bare server) takes its part of that, unless it is so thick
# that the components would be cut: then the window grows by what they lack. Waited for: the
# manager frames and places the window after it has appeared.
placed=""
for _ in $(seq 200); do
    read -r origin_x origin_y width height < <(window_geometry "$main")
    read -r fl fr ft fb < <(xprop -id "$main" _NET_FRAME_EXTENTS | sed -n 's/.*= *//p' | tr -d ,)
    [ -z "$fb" ] && [ -z "$managed" ] && { fl=0; fr=0; ft=0; fb=0; }
    if [ -n "$fb" ]; then
        outer="$((width + fl + fr))x$((height + ft + fb)) at $((origin_x - fl)),$((origin_y - ft))"
        wanted_width=$((need_width + fl + fr > 884 ? need_width + fl + fr : 884))
        wanted_height=$((need_height + ft + fb > 541 ? need_height + ft + fb : 541))
        wanted="${wanted_width}x${wanted_height} at 50,50"
        # A manager gives the window a title bar.
        [ "$outer" = "$wanted" ] && { [ "$ft" -gt 0 ] || [ -z "$managed" ]; } && placed=yes && break
    fi
    sleep 0.05
done
[ -n "$fb" ] || fail "the window manager reports no frame for the main window"
echo "main window: client ${width}x${height} at $origin_x,$origin_y, frame $fl,$fr,$ft,$fb, outer $outer"
[ -n "$placed" ] || fail "main window is $outer outside with a title bar of $ft, expected $wanted"
# The content needs less than the design's width leaves under the managers of the common desktops.
[ "$wanted_width" = 884 ] || fail "the frame's sides ($fl, $fr) leave the components too little room"

# Each designed component that draws something must show more than one colour at its place; the
# strip between the chart and the memo frame has nothing designed and must be plain. Taken again
# until it holds: a window just framed or resized is painted a moment later.
shot="$out/smoke-main-window.png"
for attempt in $(seq 20); do
    screenshot "$shot"
    bad=""
    report=""
    while read -r name x y w h; do
        spread=$(region_spread "$shot" "$x" "$y" "$w" "$h")
        report+=$(printf '  %-16s %4d,%-4d %4dx%-4d spread %s' "$name" "$x" "$y" "$w" "$h" "$spread")$'\n'
        awk -v s="$spread" 'BEGIN { exit !(s > 1) }' || bad="$bad $name"
    done <<<"$components"
    gap=$(region_spread "$shot" 10 396 850 10)
    [ -z "$bad" ] && awk -v s="$gap" 'BEGIN { exit !(s < 1) }' && break
    sleep 0.2
done
echo "screenshot: $shot (client area at $origin_x,$origin_y, taken $attempt times)"
printf %s "$report"
[ -z "$bad" ] || fail "nothing drawn at the design places of:$bad"
awk -v s="$gap" 'BEGIN { exit !(s < 1) }' || fail "the empty strip under the chart is not plain (spread $gap)"

close_expecting_zero "$main"
echo "program ran on with the stand-in library, closed with exit code 0"

echo "== folder name that is not UTF-8"
databases_before=$(find "$work" -name 'db.razezuzivu*' | sort)
start_copy "$work/bad-"$'\xe9'"-name"
box=$(wait_window "$pid" 20 "出错") || fail "no error box appeared (log: $(cat "$work/bad-"$'\xe9'"-name/out.log"))"
[ "$(xdotool getwindowname "$box")" = "出错！" ] || fail "window \"$(xdotool getwindowname "$box")\" instead of the error box"
[ "$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | wc -l)" = 1 ] || fail "a window besides the error box appeared"
screenshot "$out/smoke-unnamed-folder.png"
answer_box "$box"
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
screenshot "$out/smoke-deep-folder.png"
answer_box "$box"
wait_exit "$pid" 20 || fail "the program did not end after the error box"
[ "$code" = 0 ] || fail "exit code $code after the error box, expected 0"
databases_after=$(find "$work" -name 'db.*' | sort)
[ "$databases_after" = "$databases_before" ] || fail "a database file appeared: $databases_after"
echo "error box shown, exit code 0, no file created"

echo "== a FIFO under the database's name"
fifo_dir="$work/fifo"
mkdir -p "$fifo_dir"
mkfifo "$fifo_dir/db.razezuzivu"
start_copy "$fifo_dir"
box=$(wait_window "$pid" 20 "出错") || fail "no error box appeared (log: $(cat "$fifo_dir/out.log"))"
[ "$(xdotool getwindowname "$box")" = "出错！" ] || fail "window \"$(xdotool getwindowname "$box")\" instead of the error box"
screenshot "$out/smoke-fifo.png"
answer_box "$box"
wait_exit "$pid" 20 || fail "the program did not end after the error box"
[ "$code" = 0 ] || fail "exit code $code after the error box, expected 0"
[ -p "$fifo_dir/db.razezuzivu" ] || fail "the FIFO was not left as it was"
[ "$(ls -A "$fifo_dir" | tr '\n' ' ')" = "db.razezuzivu out.log tomatoclock " ] || fail "files appeared: $(ls -A "$fifo_dir")"
echo "error box shown, exit code 0, the FIFO left as it was"

echo "== files that dead first builds left"
left="$work/left"
mkdir -p "$left"
cp "$standin" "$left/update.so"
printf 'half a database' >"$left/db.new-dead01"
printf 'its journal' >"$left/db.new-dead01-journal"
printf 'a journal whose file went' >"$left/db.new-gone02-journal"
# Another copy building at this moment holds its file.
: >"$left/db.new-busy03"
(exec 9<"$left/db.new-busy03" && flock 9 && exec sleep 300) >/dev/null 2>&1 &
holder=$!
pids+=("$holder")
for _ in $(seq 100); do flock -n "$left/db.new-busy03" true || break; sleep 0.05; done
flock -n "$left/db.new-busy03" true && fail "the other copy's file could not be held"
start_copy "$left"
main=$(wait_window "$pid" 20 "$caption") || fail "main window did not appear (log: $(cat "$left/out.log"))"
found=$(ls -A "$left" | tr '\n' ' ')
[ "$found" = "db.new-busy03 db.razezuzivu out.log tomatoclock update.so " ] || fail "the folder holds $found"
close_expecting_zero "$main"
kill "$holder"
echo "left files removed, the held one kept, closed with exit code 0"
echo "PASS"
