#!/usr/bin/env bash
# The real program on an Xvfb of its own, driven with xdotool as a person
# drives it: it opens a picture, narrows it by Left, opens and closes the File
# menu with Esc, narrows it again, steps the Reuse box with Up, heightens the
# picture by Up once the picture is clicked, and captures a window of another
# program through Capture Window. What it did is read back from the BMP files
# it saves with Ctrl+S.
#
#   program_e2e.sh PROGRAM TESTWINDOW
set -euo pipefail

program=$1
testwindow=$2
work=$(mktemp -d)
pids=()

cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*" >&2
    if [ -n "${DISPLAY:-}" ]; then
        xdotool search --name . getwindowname %@ 2>/dev/null >&2 || true
    fi
    [ -f "$work/program.log" ] && cat "$work/program.log" >&2
    exit 1
}

# Waits up to 20 s for a command to succeed.
wait_for() {
    local i
    for ((i = 0; i < 100; i++)); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.2
    done
    return 1
}

# The bytes given as numbers, formatted by one printf: a subshell per byte
# made writing a small picture take a minute.
bytes() {
    local masked=() escaped b
    for b in "$@"; do
        masked+=($((b & 255)))
    done
    printf -v escaped '\\x%02x' "${masked[@]}"
    printf '%b' "$escaped"
}
le16() { bytes $(($1)) $(($1 >> 8)); }
le32() { bytes $(($1)) $(($1 >> 8)) $(($1 >> 16)) $(($1 >> 24)); }

# A 24-bit BMP of WIDTH x HEIGHT whose pixels differ from their neighbours.
write_bmp() {
    local file=$1 width=$2 height=$3 x y row
    local pad=$(((width * 3 + 3) / 4 * 4 - width * 3))
    {
        printf 'BM'
        le32 $((54 + (width * 3 + pad) * height)); le32 0; le32 54
        le32 40; le32 "$width"; le32 "$height"; le16 1; le16 24
        le32 0; le32 $(((width * 3 + pad) * height)); le32 2835; le32 2835; le32 0; le32 0
        for ((y = 0; y < height; y++)); do
            row=()
            for ((x = 0; x < width; x++)); do
                row+=($((x * 37 + y * 11)) $((x * 5 + y * 53)) $((x * y)))
            done
            for ((x = 0; x < pad; x++)); do row+=(0); done
            bytes "${row[@]}"
        done
    } >"$file"
}

# "WIDTH HEIGHT" of a BMP file.
bmp_size() { od -An -t d4 -j 18 -N 8 "$1" | awk '{print $1, $2 < 0 ? -$2 : $2}'; }

# The first pixel of the bottom row of a 24-bit BMP as RRGGBB.
bmp_corner() { od -An -t x1 -j "$(od -An -t u4 -j 10 -N 4 "$1")" -N 3 "$1" | awk '{print $3 $2 $1}'; }

# KEYS open the dialog named TITLE, whose box is answered with TEXT and Enter.
# Keys typed before the dialog has the focus go to the main window; on a busy
# machine the focus comes some time after the dialog shows.
answer_dialog() {
    xdotool key "$1"
    wait_for sh -c "xdotool getwindowfocus getwindowname | grep -qx '$2'" || fail "no focused $2 dialog"
    sleep 0.3
    xdotool key ctrl+a
    xdotool type --delay 10 "$3"
    xdotool key Return
}

# Ctrl+S, then the save dialog answered with FILE.
save_as() {
    answer_dialog ctrl+s Save "$1"
    wait_for test -s "$1" || fail "$1 not written"
    sleep 0.3
}

# ---- An X server of its own ----
Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp >"$work/display" 2>/dev/null &
pids+=($!)
wait_for grep -q . "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"
export QT_QPA_PLATFORM=xcb
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"

# ---- Another program's window: green, with a magenta child 80 x 60 ----
"$testwindow" 1080 40 180 150 00ff00 child 20 30 80 60 ff00ff >"$work/testwindow" &
pids+=($!)
wait_for grep -q '^child' "$work/testwindow" || fail "the test window did not show"

# ---- The program, focused by a click into it ----
write_bmp "$work/photo.bmp" 60 40
"$program" >"$work/program.log" 2>&1 &
pids+=($!)
wait_for xdotool search --onlyvisible --name '^Corvanith$' || fail "the program did not show"
main=$(xdotool search --onlyvisible --name '^Corvanith$' | head -n1)
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove $((X + 400)) $((Y + 400)) click 1
sleep 0.3

# ---- Open, Left, File menu closed with Esc, Left ----
answer_dialog ctrl+o Open "$work/photo.bmp"
wait_for xdotool search --name '^photo.bmp - Corvanith$' || fail "the picture did not open"
sleep 0.3
xdotool key Left
sleep 0.3
xdotool mousemove $((X + 18)) $((Y + 9)) click 1
sleep 0.5
xdotool key Escape
sleep 0.3
xdotool key Left
sleep 0.3
save_as "$work/narrowed.bmp"
size=$(bmp_size "$work/narrowed.bmp")
[ "$size" = "58 40" ] || fail "after Left, File menu, Esc and Left the picture is $size, not 58 40"
grep -q "Ambiguous shortcut" "$work/program.log" && fail "ambiguous shortcuts"

# ---- Up in the Reuse box steps the box only; Up after a click into the picture heightens it ----
xdotool mousemove $((X + 385)) $((Y + 38)) click 1
sleep 0.3
for _ in 1 2 3; do
    xdotool key Up
    sleep 0.2
done
xdotool mousemove $((X + 400)) $((Y + 400)) click 1
sleep 0.3
xdotool key Up
sleep 0.3
save_as "$work/heightened.bmp"
size=$(bmp_size "$work/heightened.bmp")
[ "$size" = "58 41" ] || fail "after Up three times in the Reuse box and once in the picture it is $size, not 58 41"

# ---- Capture Window, picking the other program's child window ----
# The closed dialog leaves no window focused without a window manager.
xdotool mousemove $((X + 400)) $((Y + HEIGHT - 8)) click 1
sleep 0.3
xdotool key alt+f
sleep 0.3
xdotool key a
sleep 0.3
xdotool key w
wait_for xdotool search --onlyvisible --name '^Capture Window$' || fail "the window picker did not start"
sleep 0.5
xdotool mousemove 1100 100
sleep 0.3
xdotool mousemove 1140 110
sleep 0.3
xdotool click 1
wait_for sh -c "xdotool search --name ' - Corvanith$' getwindowname %@ | grep -qv photo.bmp" ||
    fail "the captured window did not open"
sleep 0.5
save_as "$work/captured.bmp"
size=$(bmp_size "$work/captured.bmp")
[ "$size" = "80 60" ] || fail "the captured window is $size, not 80 60"
corner=$(bmp_corner "$work/captured.bmp")
[ "$corner" = "ff00ff" ] || fail "the captured window shows $corner, not ff00ff"

# ---- Open URL: the beginning of an earlier URL and one Enter open it ----
python3 -u -m http.server --bind 127.0.0.1 --directory "$work" 0 >"$work/http" 2>"$work/http.log" &
pids+=($!)
wait_for grep -q ' port ' "$work/http" || fail "the HTTP server did not start"
url="http://127.0.0.1:$(sed -n 's/.* port \([0-9]*\).*/\1/p' "$work/http")/photo.bmp"
gets() { grep -c 'GET /photo.bmp' "$work/http.log" || true; }
for typed in "$url" "${url%to.bmp}"; do
    xdotool mousemove $((X + 400)) $((Y + HEIGHT - 8)) click 1
    sleep 0.3
    answer_dialog ctrl+u "Open URL" "$typed"
    wait_for sh -c "! xdotool search --onlyvisible --name '^Open URL\$'" || fail "one Enter did not open $typed"
    sleep 0.5
done
[ "$(gets)" = 2 ] || fail "$(gets) downloads of $url, not 2"

echo "1 passed, 0 failed"
