#!/bin/bash
# The game at scale 1 and at scale 2: on the title screen the same click on the cities' up arrow
# (the middle of its game pixel, times the scale) raises the count, and both windows show the
# same picture, pixel for pixel, before and after it.
# Usage: scale_game_test.sh VANTOR
source "$(dirname "$0")/x_session.sh"
vantor=$1

# Runs the game on a screen of size $1, expecting scale $2; leaves title-before.png and
# title-after.png, shrunk to the game's size, in $SMOKE_TMP/$2.
title_click() {
    local screen_size=$1 s=$2 dir="$SMOKE_TMP/$2" id
    mkdir -p "$dir"
    start_xvfb "$screen_size"
    start_app "$vantor"
    id=$(wait_for_window Vantor) || fail "no window at scale $s; output: $(cat "$SMOKE_TMP/out")"
    [[ $(client_size "$id") == "$((600 * s))x$((460 * s))" ]] || fail "the window is $(client_size "$id"), not scale $s"

    # Clicks leave the intro once it has run out (two seconds). The title's lettering, at game
    # (300, 60), is no control. The start control's red, at (330, 350), is below every intro line.
    local shown=
    for _ in $(seq 40); do
        xdotool mousemove --window "$id" $((300 * s)) $((60 * s)) click 1
        sleep 0.25
        [[ $(pixel "$id" $((330 * s)) $((350 * s))) != '#000000' ]] && shown=1 && break
    done
    [[ -n $shown ]] || fail "the title screen did not open at scale $s"
    sleep 0.3
    screenshot "$id" "$dir/full-before.png"
    xdotool mousemove --window "$id" $((270 * s + s / 2)) $((250 * s + s / 2)) click 1
    sleep 0.5
    screenshot "$id" "$dir/full-after.png"
    for shot in before after; do
        convert "$dir/full-$shot.png" -sample 600x460! "$dir/title-$shot.png"
    done
    stop "$APP_PID"
    APP_PID=
    stop "$XVFB_PID"
    XVFB_PID=
}

title_click 1024x768 1
title_click 1920x1200 2

one="$SMOKE_TMP/1"
two="$SMOKE_TMP/2"
changed=$(pixels_differing "$one/title-before.png" "$one/title-after.png")
((changed > 0)) || fail "the click on the cities' up arrow changed nothing at scale 1"
for shot in before after; do
    differing=$(pixels_differing "$one/title-$shot.png" "$two/title-$shot.png")
    [[ $differing == 0 ]] || fail "the title $shot the click differs in $differing pixels between scale 1 and scale 2"
done
# Only the count changed: the cities' box at (243, 245), 14 x 16 game pixels.
outside=$(convert "$one/title-after.png" -fill black -draw "rectangle 243,245 256,260" "$one/masked.png" &&
    convert "$one/title-before.png" -fill black -draw "rectangle 243,245 256,260" "$one/masked-before.png" &&
    pixels_differing "$one/masked-before.png" "$one/masked.png")
[[ $outside == 0 ]] || fail "the click changed $outside pixels outside the cities' count"
echo "PASS (the click changed $changed pixels of the cities' count, the same at both scales)"
