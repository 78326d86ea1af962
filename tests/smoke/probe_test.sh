#!/bin/bash
# The SDL window backend under a private X server, driven through a stand-in game that logs its
# messages and draws known colours: clicks, paints, pixels on screen, ticks and the close.
# Usage: probe_test.sh WINDOW_PROBE X_CLOSE_WINDOW
source "$(dirname "$0")/x_session.sh"
probe=$1
close_window=$2
log="$SMOKE_TMP/out"

# Waits up to 5 s for a line in the probe's log.
wait_for_line() {
    for _ in $(seq 50); do
        grep -q -x "$1" "$log" && return 0
        sleep 0.1
    done
    fail "no line '$1' in the log: $(tr '\n' ' ' <"$log")"
}

expect_pixel() {
    local got
    got=$(pixel "$id" "$1" "$2")
    [[ ${got,,} == "${3,,}" ]] || fail "pixel ($1, $2) is $got, not $3 ($4)"
}

start_xvfb
start_app "$probe"
id=$(wait_for_window "Vantor probe") || fail "no probe window; output: $(cat "$log")"
[[ $(client_size "$id") == 600x460 ]] || fail "the client area is $(client_size "$id")"

# Drawn before the loop, and by the paint that the first exposure brings.
wait_for_line PAINT
expect_pixel 5 5 '#996633' "drawn before the loop, 0x00336699"
expect_pixel 595 455 '#00C000' "drawn by the paint"

# A left click arrives with its client coordinates and what it draws is on screen at once.
xdotool mousemove --window "$id" 200 150 click 1
wait_for_line "DOWN 200 150"
wait_for_line "UP 200 150"
expect_pixel 200 150 '#4080C0' "drawn around the click"

# Other buttons are not the game's business.
xdotool mousemove --window "$id" 300 300 click 3 click 2
sleep 0.5
grep -q "300 300" "$log" && fail "a right or middle click reached the game"

# Hidden and shown again, the window gets a paint and shows its whole picture again.
paints=$(grep -c -x PAINT "$log")
xdotool windowunmap --sync "$id"
xdotool windowmap --sync "$id"
for _ in $(seq 50); do
    (($(grep -c -x PAINT "$log") > paints)) && break
    sleep 0.1
done
(($(grep -c -x PAINT "$log") > paints)) || fail "no paint after the window was shown again"
sleep 0.2
expect_pixel 200 150 '#4080C0' "the click's square after the window was shown again"
expect_pixel 5 5 '#996633' "the first square after the window was shown again"

# Ten ticks a second, never in bursts.
before=$(grep -c "^TIMER 1$" "$log")
sleep 2
ticks=$(($(grep -c "^TIMER 1$" "$log") - before))
((ticks >= 10 && ticks <= 22)) || fail "$ticks ticks in 2 s"

# Closing goes through WM_DESTROY, and the loop ends with the code the probe posts.
"$close_window" "$id" || fail "could not ask the window to close"
rc=0
wait_for_exit 15 || rc=$?
grep -q -x DESTROY "$log" || fail "no WM_DESTROY; log: $(tail -n 5 "$log")"
[[ $rc == 7 ]] || fail "exit code $rc, not the quit code 7; log: $(tail -n 5 "$log")"
echo "PASS"
