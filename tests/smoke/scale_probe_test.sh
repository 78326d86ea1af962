#!/bin/bash
# The window's scale on a screen of a given size, through the stand-in game that logs its messages
# and draws known colours: the window's size, clicks mapped back to the game's pixels, and each
# game pixel shown as a square block of screen pixels, sharp at its edges. On a 16-bit screen the
# colours come back rounded, so they only have to be near the ones drawn.
# Usage: scale_probe_test.sh WINDOW_PROBE SCREEN_SIZE SCALE [DEPTH]
source "$(dirname "$0")/x_session.sh"
probe=$1
screen_size=$2
s=$3
depth=${4:-24}
log="$SMOKE_TMP/out"
tolerance=0
[[ $depth == 24 ]] || tolerance=16

wait_for_line() {
    for _ in $(seq 50); do
        grep -q -x "$1" "$log" && return 0
        sleep 0.1
    done
    fail "no line '$1' in the log: $(tr '\n' ' ' <"$log")"
}

# Whether colours #RRGGBB $1 and $2 differ by at most $tolerance in each channel.
near() {
    local i a b
    for i in 1 3 5; do
        a=$((16#${1:i:2}))
        b=$((16#${2:i:2}))
        (((a > b ? a - b : b - a) <= tolerance)) || return 1
    done
}

# Game pixel (x, y) must show colour $3 on every screen pixel of its block; $4 says what it is.
expect_block() {
    local x=$(($1 * s)) y=$(($2 * s)) got
    for point in "$x $y" "$((x + s - 1)) $((y + s - 1))"; do
        got=$(pixel "$id" $point)
        near "$got" "$3" || fail "screen pixel ($point) of game pixel ($1, $2) is $got, not $3 ($4)"
    done
}

start_xvfb "$screen_size" "$depth"
start_app "$probe"
id=$(wait_for_window "Vantor probe") || fail "no probe window; output: $(cat "$log")"
size=$(client_size "$id")
[[ $size == "$((600 * s))x$((460 * s))" ]] || fail "on a $screen_size screen the client area is $size, not scale $s"
wait_for_line PAINT

# The probe's 10 x 10 square at the origin and the paint's square at the bottom right.
expect_block 0 0 '#996633' "the first square"
expect_block 9 9 '#996633' "the first square's last pixel"
expect_block 10 10 '#000000' "beside the first square"
expect_block 595 455 '#00C000' "drawn by the paint"
expect_block 599 459 '#00C000' "the last pixel of the window"

# A click on the last screen pixel of game pixel (200, 150), and one on the pixel before its first.
xdotool mousemove --window "$id" $((200 * s + s - 1)) $((150 * s + s - 1)) click 1
wait_for_line "DOWN 200 150"
wait_for_line "UP 200 150"
xdotool mousemove --window "$id" $((300 * s - 1)) $((100 * s - 1)) click 1
wait_for_line "DOWN 299 99"

# The probe draws 11 x 11 game pixels around each click: only the rectangle it drew changes.
sleep 0.3
expect_block 195 145 '#4080C0' "the click's square, top left"
expect_block 205 155 '#4080C0' "the click's square, bottom right"
expect_block 194 150 '#000000' "left of the click's square"
expect_block 206 150 '#000000' "right of the click's square"

# Every s x s block of the window holds one colour: shrunk to the game's size and enlarged again by
# repeating pixels, the picture is unchanged.
screenshot "$id" "$SMOKE_TMP/shot.png"
convert "$SMOKE_TMP/shot.png" -sample 600x460! -sample "$((600 * s))x$((460 * s))!" "$SMOKE_TMP/blocks.png"
differing=$(pixels_differing "$SMOKE_TMP/shot.png" "$SMOKE_TMP/blocks.png")
[[ $differing == 0 ]] || fail "$differing screen pixels differ from their block: the picture is smoothed or shifted"

# Hidden and shown again, the whole picture comes back at the same scale.
xdotool windowunmap --sync "$id"
xdotool windowmap --sync "$id"
sleep 0.5
expect_block 200 150 '#4080C0' "the click's square after the window was shown again"
expect_block 0 0 '#996633' "the first square after the window was shown again"
echo "PASS (screen $screen_size at $depth bits, scale $s)"
