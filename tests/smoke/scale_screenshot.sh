#!/bin/bash
# Takes a picture of the game at scale 2: on a 1920 x 1200 Xvfb screen, through the intro and the
# title to a game on the default map once every unit is placed.
# Usage: scale_screenshot.sh VANTOR OUT.png
source "$(dirname "$0")/x_session.sh"
vantor=$(readlink -f "$1")
out=$2

start_xvfb 1920x1200
start_app "$vantor"
id=$(wait_for_window Vantor) || fail "no window; output: $(cat "$SMOKE_TMP/out")"
[[ $(client_size "$id") == 1200x920 ]] || fail "the window is $(client_size "$id"), not at scale 2"
sleep 2
for _ in $(seq 40); do
    xdotool mousemove --window "$id" 600 120 click 1
    sleep 0.25
    [[ $(pixel "$id" 660 700) != '#000000' ]] && break
done
# The start control; then the panel's close-up shows the first side's unit once placement is over.
xdotool mousemove --window "$id" 760 684 click 1
for _ in $(seq 100); do
    [[ $(pixel "$id" 110 860) != '#000000' ]] && break
    sleep 0.1
done
sleep 0.5
screenshot "$id" "$out"
echo "wrote $out"
